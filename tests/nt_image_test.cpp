// SPDX-License-Identifier: MIT
// The NT image as the 32-bit host loads it: what the loader refuses, where
// the image lands, and the residency of the reset path proved by running it
// with the pageable section paged out.
#if defined(__i386__)

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/image/pe_image.h"
#include "test_support.h"

namespace torvic::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> read_bytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t u32(const std::vector<uint8_t> &b, size_t at) {
  uint32_t v = 0;
  memcpy(&v, b.data() + at, 4);
  return v;
}

// torvic.sys as a file to patch: offsets of the headers, and of any RVA.
struct NtFile {
  std::vector<uint8_t> bytes = read_bytes(host::DriverImage::default_path());
  size_t pe = u32(bytes, 0x3C);
  size_t optional = pe + 24;

  size_t file_offset(uint32_t rva) const {
    const uint16_t sections = static_cast<uint16_t>(bytes[pe + 6] | bytes[pe + 7] << 8);
    const size_t table = optional + (bytes[pe + 20] | bytes[pe + 21] << 8);
    for (uint16_t i = 0; i < sections; i++) {
      const size_t s = table + 40u * i;
      const uint32_t va = u32(bytes, s + 12), raw_size = u32(bytes, s + 16);
      if (rva >= va && rva < va + raw_size) return u32(bytes, s + 20) + (rva - va);
    }
    ADD_FAILURE() << "RVA " << hex(rva) << " is not in the file";
    return 0;
  }
  size_t directory(int index) const { return file_offset(u32(bytes, optional + 96 + 8 * index)); }
  size_t find(const std::string &text) const {
    const auto it = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
    EXPECT_NE(it, bytes.end()) << text;
    return static_cast<size_t>(it - bytes.begin());
  }
  // Loads the patched bytes; the loader's message, or "" when it loads.
  std::string load() const {
    const fs::path path = fs::temp_directory_path() /
                          ("torvic-patched-" + std::to_string(getpid()) + ".sys");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::string message;
    try {
      host::DriverImage image(path.string());
    } catch (const host::ImageRefused &refused) {
      message = refused.what();
    }
    fs::remove(path);
    return message;
  }
};

TEST(NtImage, RunsAwayFromTheBaseItWasLinkedFor) {
  Machine m(host::default_machine());
  ASSERT_EQ(m.image().kind(), host::DriverImage::Kind::Pe);
  const auto &image = dynamic_cast<const host::PeImage &>(m.image().loaded());
  EXPECT_NE(reinterpret_cast<uintptr_t>(image.base()), image.preferred_base());
  ASSERT_EQ(m.boot(), NO_ERROR);
  EXPECT_EQ(m.adapters().size(), 2u);
  // Names come from the unstripped image the build leaves beside it.
  EXPECT_EQ(image.routine_at(reinterpret_cast<const void *>(m.registration().HwResetHw)),
            "Torvic_ResetHw+0x0");
}

TEST(NtImage, LoaderRefusesWhatNtWouldNotRunAndSaysWhy) {
  EXPECT_EQ(NtFile().load(), "");

  struct Case {
    const char *what;
    std::function<void(NtFile &)> patch;
    const char *message;
  } cases[] = {
      {"another machine",
       [](NtFile &f) {
         f.bytes[f.pe + 4] = 0x64;
         f.bytes[f.pe + 5] = 0x86;
       },
       "machine 0x8664 is not i386"},
      {"a Windows program", [](NtFile &f) { f.bytes[f.optional + 68] = 2; },
       "subsystem 2 is not native (1): not a driver"},
      {"an import from another module",
       [](NtFile &f) { memcpy(&f.bytes[f.find("videoprt.sys")], "ntoskrnl.exe", 12); },
       "it imports from ntoskrnl.exe; a miniport imports from videoprt.sys only"},
      {"an import the port does not provide",
       [](NtFile &f) { f.bytes[f.find(std::string("VideoPortInt10\0", 15)) + 13] = '6'; },
       "it imports VideoPortInt16 from videoprt.sys, which the host video port does not provide"},
      {"an import by ordinal",
       [](NtFile &f) {
         const uint32_t lookup = u32(f.bytes, f.directory(1));
         f.bytes[f.file_offset(lookup) + 3] = 0x80;
       },
       "it imports ordinal"},
      {"a relocation an i386 image cannot have",
       [](NtFile &f) { f.bytes[f.directory(5) + 9] = 0xA0; },
       "relocation type 10"},
      {"a cut-off file", [](NtFile &f) { f.bytes.resize(0x2000); }, "runs past the end of the file"},
  };
  for (const Case &c : cases) {
    NtFile f;
    c.patch(f);
    EXPECT_THAT(f.load(), ::testing::HasSubstr(c.message)) << c.what;
  }
}

// The verifier's message when the reset stops the run, or "" when it does not.
std::string reset_stop_message(Machine &m) {
  try {
    m.reset_hardware();
  } catch (const host::VerifierStop &stop) {
    return stop.what();
  }
  return "";
}

// NT pages the driver's PAGE section out whenever it likes; only the reset
// callback, which NT may call at raised IRQL, cannot take the page fault.
TEST(NtImage, PageableSectionIsAbsentExactlyWhileTheResetCallbackRuns) {
  Machine m(host::default_machine());
  m.boot();
  m.open(0);
  const auto *driver_entry = reinterpret_cast<const volatile uint8_t *>(
      reinterpret_cast<uintptr_t>(m.image().entry()));
  EXPECT_TRUE(m.image().loaded().pageable(const_cast<const uint8_t *>(driver_entry)));
  (void)*driver_entry;  // present outside the reset

  m.on_service = [&](Machine &, const host::TraceEvent &) { (void)*driver_entry; };
  EXPECT_THAT(reset_stop_message(m),
              ::testing::MatchesRegex("HwResetHw touched pageable memory at 0x[0-9a-f]+ "
                                      "\\(DriverEntry\\+0x0\\): NT may call it at raised IRQL, .*"));
}

TEST(NtImage, ResetPathInPageableCodeStopsTheRunNamingTheRoutine) {
  const fs::path faulty = fs::path(TORVIC_NT_TEST_IMAGES) / "torvic-dac-paged.sys";
  Machine m(host::default_machine(), faulty.string());
  ASSERT_EQ(m.boot(), NO_ERROR);
  // At the lowest IRQL the moved routines page in as usual: a mode set,
  // which programs the memory clock and the DAC, works.
  EXPECT_EQ(DisplayClient(m, 0).set_mode(0), NO_ERROR);
  EXPECT_THAT(reset_stop_message(m),
              ::testing::ContainsRegex("^HwResetHw touched pageable memory at 0x[0-9a-f]+ "
                                       "\\(Torvic_set_mclock\\+0x0\\)"));
}

}  // namespace
}  // namespace torvic::test

#endif  // __i386__
