// SPDX-License-Identifier: MIT
// The host video port itself: the driver image it loads, the verifier that
// stops a run on any misuse of a service, the trace and the virtual clock.
// Why this file is long: one verifier rule a test, and the rules share the
// machines and helpers at the top.
#include <nlohmann/json.hpp>

#include <dlfcn.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

#include "host/board/monitor.h"
#include "host/display/test_pattern.h"
#include "host/image/driver_image.h"
#include "miniport/board_registers.h"
#include "torvic/requests.h"
#include "test_support.h"

namespace torvic::test {
namespace {

std::string run_command(const std::string &command) {
  std::string out;
  // NOLINTNEXTLINE(cert-env33-c): the test's own command line (nm, objdump), with no outside input
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
  std::array<char, 512> buffer{};
  while (pipe && fgets(buffer.data(), buffer.size(), pipe.get())) out += buffer.data();
  return out;
}

TEST(ElfImage, ImportsOnlyVideoPortServices) {
#ifdef TORVIC_SANITIZED
  GTEST_SKIP() << "a sanitizer build links its runtime into the image";
#endif
  const std::set<std::string> services = {
      "VideoPortInitialize", "VideoPortZeroMemory", "VideoPortGetBusData",
      "VideoPortSetBusData", "VideoPortGetAccessRanges", "VideoPortGetDeviceBase",
      "VideoPortMapMemory", "VideoPortUnmapMemory", "VideoPortReadPortUlong",
      "VideoPortWritePortUlong", "VideoPortReadRegisterUlong", "VideoPortWriteRegisterUlong",
      "VideoPortWriteRegisterUchar", "VideoPortZeroDeviceMemory", "VideoPortStallExecution",
      "VideoPortSetRegistryParameters", "VideoPortInt10", "VideoPortFreeDeviceBase", "memset",
      "memcpy"};
  const std::string image = host::DriverImage::default_path();
  const std::string undefined =
      run_command(std::string(TORVIC_NM) + " -D --undefined-only --format=just-symbols " + image);
  ASSERT_FALSE(undefined.empty());
  size_t start = 0;
  while (start < undefined.size()) {
    const size_t end = undefined.find('\n', start);
    const std::string symbol = undefined.substr(start, end - start);
    if (!symbol.empty()) {
      EXPECT_TRUE(services.count(symbol)) << "imports " << symbol;
    }
    start = end == std::string::npos ? undefined.size() : end + 1;
  }
  const std::string exported =
      run_command(std::string(TORVIC_NM) + " -D --defined-only --format=just-symbols " + image);
  EXPECT_EQ(exported, "DriverEntry\n");
}

TEST(ElfImage, HasNoStaticConstructors) {
#ifdef TORVIC_SANITIZED
  GTEST_SKIP() << "a sanitizer build instruments the image with constructors of its own";
#endif
  const std::string sections =
      run_command(std::string(TORVIC_OBJDUMP) + " -h " + host::DriverImage::default_path());
  ASSERT_NE(sections.find(".text"), std::string::npos);
  EXPECT_EQ(sections.find(".init_array"), std::string::npos);
  EXPECT_EQ(sections.find(".ctors"), std::string::npos);
}

TEST(DriverImage, EveryMachineStartsFromAFreshImage) {
  Machine first(machine({board(3, 0, 4 * kMiB, 0), board(9, 0, 4 * kMiB, 1)}));
  first.boot();
  Machine second(machine({board(3)}));
  second.boot();
  // The second image scans from slot 0 again and starts a chain of its own.
  ASSERT_EQ(second.adapters().size(), 1u);
  EXPECT_EQ(second.adapters()[0].slot, 3);
  EXPECT_EQ(extension_of(second, 0).next_extension, nullptr);
  EXPECT_EQ(extension_of(first, 0).next_extension, &extension_of(first, 1));
}

// TORVIC_DRIVER may name any file: what is not a driver image is refused
// with a message that names the file and why, before anything runs.
TEST(DriverImage, AFileThatIsNoDriverImageIsRefusedWithItsReason) {
  char scratch[] = "/tmp/torvic-image-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string dir = scratch;
  auto write = [&](const std::string &name, const std::string &bytes) {
    FILE *f = fopen((dir + "/" + name).c_str(), "wb");
    (void)fwrite(bytes.data(), 1, bytes.size(), f);
    (void)fclose(f);
    return dir + "/" + name;
  };
  auto refusal = [](const std::string &path) {
    try {
      host::DriverImage image(path);
    } catch (const host::ImageRefused &refused) {
      return std::string(refused.what());
    }
    return std::string("loaded");
  };
  EXPECT_EQ(refusal(dir + "/absent.so"), "cannot read the driver image " + dir + "/absent.so");
  EXPECT_EQ(refusal(write("text.sys", "not an image")),
            dir + "/text.sys is neither a driver image for this host (ELF) nor an NT image (PE32)");
  EXPECT_THAT(refusal(write("broken.so", std::string("\x7F" "ELF") + std::string(60, '\0'))),
              ::testing::StartsWith("cannot load the driver image " + dir + "/broken.so: "));
  // A shared object of another program: it loads, but has no entry point.
  Dl_info libm{};
  ASSERT_NE(dladdr(reinterpret_cast<void *>(static_cast<double (*)(double)>(&::cbrt)), &libm), 0);
  std::ifstream in(libm.dli_fname, std::ios::binary);
  const std::string library((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(refusal(write("libm.so", library)), "the driver image " + dir + "/libm.so has no DriverEntry");
  std::filesystem::remove_all(dir);
}

// A machine's description must be one the PCI bus and the board can be.
TEST(MachineConfig, TwoBoardsInOneSlotOrABarSizeNotAPowerOfTwoAreRefused) {
  auto refusal = [](const MachineConfig &c) {
    try {
      Machine m(c);
    } catch (const std::invalid_argument &refused) {
      return std::string(refused.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refusal(machine({board(3), board(3, 0, 4 * kMiB, 1)})), "two boards in slot 3");
  BoardConfig odd = board(3);
  odd.bars[host::kRegisterBar].size = 0x6000;
  EXPECT_EQ(refusal(machine({odd})), "BAR4 size must be a power of two");
}

// What the driver never reads of the configuration header still reads as a
// PCI display device's: a class code, zero where nothing is implemented, and
// an expansion ROM that decodes once enabled.
TEST(BoardModel, ConfigurationHeaderReadsAsAPciDisplayDevice) {
  host::Board hw(board(3));
  EXPECT_EQ(hw.config_read(0x08) >> 8, 0x030000u);  // display controller, VGA compatible
  EXPECT_EQ(hw.config_read(0x3C), 0u);
  hw.config_write(0x04, 0x2);  // memory decoding on
  EXPECT_EQ(hw.decoded_base(host::kRomBar), std::nullopt);
  hw.config_write(0x30, 0xC6000000u | 1u);
  EXPECT_EQ(hw.decoded_base(host::kRomBar), std::optional<uint64_t>(0xC6000000u));
  EXPECT_EQ(hw.config_read(0x28), 0u);  // past the last base address register
  hw.config_write(0x04, 0x0);
  EXPECT_EQ(hw.decoded_base(host::kRomBar), std::nullopt);
}

// NT calls the reset callback at any IRQL: there the driver may only reach
// registers and ports and stall. A service allowed only at the lowest level,
// called from inside it, stops the run.
TEST(VerifierIrql, PassiveOnlyServicesStopTheRunFromTheResetCallback) {
  const auto stop_from_reset = [](const std::function<void(HW_DEVICE_EXTENSION &)> &act) {
    Machine m(machine({board(3)}));
    m.boot();
    m.open(0);
    HW_DEVICE_EXTENSION &ext = extension_of(m, 0);
    bool acted = false;
    m.on_service = [&](Machine &, const host::TraceEvent &e) {
      if (acted || e.service != "VideoPortWriteRegisterUlong") return;
      acted = true;
      act(ext);
    };
    try {
      m.reset_hardware();
    } catch (const host::VerifierStop &stop) {
      return std::string(stop.what());
    }
    return std::string();
  };
  EXPECT_EQ(stop_from_reset([](HW_DEVICE_EXTENSION &) { VideoPortStallExecution(10); }), "");
  EXPECT_EQ(stop_from_reset([](HW_DEVICE_EXTENSION &ext) {
              VideoPortReadPortUlong(reinterpret_cast<PULONG>(ext.io_base + 0x18));
            }),
            "");
  EXPECT_THAT(stop_from_reset([](HW_DEVICE_EXTENSION &ext) {
                VIDEO_X86_BIOS_ARGUMENTS bios{};
                bios.Eax = 3;
                VideoPortInt10(&ext, &bios);
              }),
              ::testing::StartsWith("VideoPortInt10 called from HwResetHw at raised IRQL: NT "
                                    "allows it only at PASSIVE_LEVEL"));
  EXPECT_THAT(stop_from_reset([](HW_DEVICE_EXTENSION &ext) {
                ULONG v = 0;
                VideoPortGetBusData(&ext, PCIConfiguration, 3, &v, 0, 4);
              }),
              ::testing::StartsWith("VideoPortGetBusData called from HwResetHw at raised IRQL"));
  EXPECT_THAT(stop_from_reset([](HW_DEVICE_EXTENSION &ext) {
                static char16_t name[] = u"X";
                ULONG v = 0;
                VideoPortSetRegistryParameters(&ext, reinterpret_cast<PWSTR>(name), &v, 4);
              }),
              ::testing::StartsWith("VideoPortSetRegistryParameters called from HwResetHw"));
}

// The stop a misuse causes on a fresh one-board machine when it happens
// while the driver maps its frame buffer, the register and I/O blocks
// already mapped.
std::string stop_in_find_adapter(const std::function<void(Machine &, HW_DEVICE_EXTENSION &)> &act) {
  Machine m(machine({board(3)}));
  return stop_message_when(m, "VideoPortGetDeviceBase", 3, [&](Machine &machine) {
    act(machine, *static_cast<HW_DEVICE_EXTENSION *>(machine.last_extension()));
  });
}

// Each rule of the verifier, made to fire from inside a driver call: the
// misuse happens while the driver maps its frame buffer, when the register
// and I/O blocks are already mapped.
class Verifier : public ::testing::Test {
 protected:
  std::string stop_when(const std::function<void(Machine &, HW_DEVICE_EXTENSION &)> &act) {
    return stop_message_when(m, "VideoPortGetDeviceBase", 3, [&](Machine &machine) {
      act(machine, *static_cast<HW_DEVICE_EXTENSION *>(machine.last_extension()));
    });
  }
  Machine m{machine({board(3)})};
};

TEST_F(Verifier, StopsRegisterAccessOutsideTheMappedBlocks) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &) {
                VideoPortReadRegisterUlong(reinterpret_cast<PULONG>(uintptr_t{0x1000}));
              }),
              ::testing::HasSubstr("outside every block mapped"));
  EXPECT_TRUE(m.stopped());
}

TEST_F(Verifier, StopsAnAccessOfTheWrongWidth) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortWriteRegisterUchar(ext.reg_base + CRTC_CONTROL, 1);
              }),
              ::testing::HasSubstr("CRTC_CONTROL does not take an 8-bit write"));
}

TEST_F(Verifier, StopsAPortAccessToTheRegisterBlock) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortReadPortUlong(reinterpret_cast<PULONG>(ext.reg_base + CRTC_CONTROL));
              }),
              ::testing::HasSubstr("it takes register accesses"));
}

TEST_F(Verifier, StopsDeviceAccessWhileDecodingIsOff) {
  EXPECT_THAT(stop_when([](Machine &machine, HW_DEVICE_EXTENSION &ext) {
                machine.board(3).config_write(0x04, 0);
                VideoPortReadPortUlong(reinterpret_cast<PULONG>(ext.io_base + CONFIG1));
              }),
              ::testing::HasSubstr("has its I/O decoding off"));
}

TEST_F(Verifier, StopsBusDataCallsOtherThanOneDwordOfPciConfiguration) {
  ULONG value = 0;
  EXPECT_THAT(stop_when([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortGetBusData(&ext, Cmos, 0, &value, 0, 4);
              }),
              ::testing::HasSubstr("bus data type 0"));
  Machine slot_machine(machine({board(3)}));
  EXPECT_THAT(stop_message_when(slot_machine, "VideoPortGetDeviceBase", 1,
                                [&](Machine &machine) {
                                  VideoPortSetBusData(machine.last_extension(), PCIConfiguration,
                                                      32, &value, 0, 4);
                                }),
              ::testing::HasSubstr("slot 32 above 31"));
  Machine length_machine(machine({board(3)}));
  EXPECT_THAT(stop_message_when(length_machine, "VideoPortGetDeviceBase", 1,
                                [&](Machine &machine) {
                                  VideoPortGetBusData(machine.last_extension(), PCIConfiguration,
                                                      3, &value, 0, 2);
                                }),
              ::testing::HasSubstr("length 2"));
}

TEST_F(Verifier, StopsMappingARangeThatWasNotClaimed) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                PHYSICAL_ADDRESS address{};
                address.QuadPart = 0xA0000;
                VideoPortGetDeviceBase(&ext, address, 0x20000, 0);
              }),
              ::testing::HasSubstr("was not claimed by this board"));
}

TEST_F(Verifier, StopsUnmappingAnAddressThatIsNotMapped) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortUnmapMemory(&ext, ext.reg_base, nullptr);
              }),
              ::testing::HasSubstr("is not mapped for the display driver"));
}

TEST_F(Verifier, StopsAStallAboveFiftyMicroseconds) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &) { VideoPortStallExecution(51); }),
              ::testing::HasSubstr("may not exceed 50"));
}

TEST_F(Verifier, StopsZeroingBytesAtANullDestinationButNotZeroingNone) {
  // No bytes at a null destination is no misuse, and the port touches nothing
  // (memset may not be handed a null pointer, whatever the length).
  EXPECT_EQ(stop_when([](Machine &, HW_DEVICE_EXTENSION &) { VideoPortZeroMemory(nullptr, 0); }), "");
  EXPECT_THAT(stop_in_find_adapter([](Machine &, HW_DEVICE_EXTENSION &) { VideoPortZeroMemory(nullptr, 4); }),
              ::testing::HasSubstr("VideoPortZeroMemory: null destination"));
}

TEST_F(Verifier, StopsARegistryNameWithoutItsTerminator) {
  std::u16string unterminated(300, u'A');
  ULONG value = 0;
  EXPECT_THAT(stop_when([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortSetRegistryParameters(&ext, unterminated.data(), &value, 4);
              }),
              ::testing::HasSubstr("not NUL-terminated"));
}

TEST_F(Verifier, StopsARegistryStringWhoseLengthDoesNotMatch) {
  char16_t name[] = u"HardwareInformation.ChipType";
  char16_t data[] = u"Chip";
  EXPECT_THAT(stop_when([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortSetRegistryParameters(&ext, name, data, 8);  // NUL left out
              }),
              ::testing::HasSubstr("2 x (characters + 1)"));
}

TEST_F(Verifier, StopsACallbackEnteredWhileAnotherRuns) {
  EXPECT_THAT(stop_when([](Machine &machine, HW_DEVICE_EXTENSION &) { machine.reset_hardware(); }),
              ::testing::HasSubstr("HwResetHw entered while HwFindAdapter runs"));
}

TEST_F(Verifier, StopsADacHighIndexOtherThanZero) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortWriteRegisterUchar(ext.reg_base + DAC_INDEX_HIGH, 1);
              }),
              ::testing::HasSubstr("high index other than 0"));
}

TEST_F(Verifier, StopsDirectAccessToMappedRegisters) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                (void)*reinterpret_cast<volatile ULONG *>(ext.reg_base + CRTC_CONTROL);
              }),
              ::testing::HasSubstr("direct access"));
}

TEST_F(Verifier, StopsAnAccessToAnOffsetWithoutARegister) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortWriteRegisterUlong(reinterpret_cast<PULONG>(ext.reg_base + 0x100), 0);
              }),
              ::testing::HasSubstr("the board has no register at reg offset 0x100"));
  EXPECT_THAT(stop_in_find_adapter([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortReadPortUlong(reinterpret_cast<PULONG>(ext.io_base + 0x40));
              }),
              ::testing::HasSubstr("the board has no register at io offset 0x40"));
  // Video memory is reached through the mapping, never as a register.
  EXPECT_THAT(stop_in_find_adapter([](Machine &, HW_DEVICE_EXTENSION &ext) {
                const VIDEO_ACCESS_RANGE &fb = ext.access_ranges[RANGE_FRAME_BUFFER];
                VideoPortReadRegisterUlong(
                    static_cast<PULONG>(VideoPortGetDeviceBase(&ext, fb.RangeStart, 0x1000, FALSE)));
              }),
              ::testing::HasSubstr("the board has no register at fb offset 0x0"));
}

TEST_F(Verifier, StopsAReadOfAWriteOnlyRegister) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortReadRegisterUlong(reinterpret_cast<PULONG>(ext.reg_base + MW0_CTRL));
              }),
              ::testing::HasSubstr("MW0_CTRL does not take a 32-bit read"));
}

TEST_F(Verifier, StopsRegisterAccessThroughARangeWithoutRegisters) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                const VIDEO_ACCESS_RANGE &xy = ext.access_ranges[RANGE_XY_WINDOW];
                auto *window = static_cast<PUCHAR>(
                    VideoPortGetDeviceBase(&ext, xy.RangeStart, xy.RangeLength, FALSE));
                VideoPortReadRegisterUlong(reinterpret_cast<PULONG>(window));
              }),
              ::testing::HasSubstr("reaches BAR2 of slot 3, which has no registers"));
}

TEST_F(Verifier, StopsAnAccessWhereTheBoardNoLongerDecodes) {
  // The register block moved after it was mapped: its old addresses answer nothing.
  EXPECT_THAT(stop_when([](Machine &machine, HW_DEVICE_EXTENSION &ext) {
                host::Board &hw = machine.board(3);
                hw.config_write(0x10 + 4 * host::kRegisterBar, hw.bar_register(host::kRegisterBar) + 0x100000);
                VideoPortReadRegisterUlong(reinterpret_cast<PULONG>(ext.reg_base + CRTC_CONTROL));
              }),
              ::testing::HasSubstr("no register of slot 3 decodes physical"));
}

TEST_F(Verifier, StopsZeroingDeviceMemoryOutsideVideoMemory) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortZeroDeviceMemory(ext.reg_base + CRTC_CONTROL, 4);
              }),
              ::testing::HasSubstr("is not video memory"));
  EXPECT_THAT(stop_in_find_adapter([](Machine &, HW_DEVICE_EXTENSION &ext) {
                const VIDEO_ACCESS_RANGE &fb = ext.access_ranges[RANGE_FRAME_BUFFER];
                auto *frame = static_cast<PUCHAR>(
                    VideoPortGetDeviceBase(&ext, fb.RangeStart, fb.RangeLength, FALSE));
                VideoPortZeroDeviceMemory(frame + fb.RangeLength - 4, 8);
              }),
              ::testing::HasSubstr("8 bytes from frame-buffer offset 0x1FFFFFC run past the aperture"));
}

TEST_F(Verifier, StopsMappingForTheDisplayDriverARangeThatWasNotClaimed) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                PHYSICAL_ADDRESS address{};
                address.QuadPart = 0xA0000;
                ULONG length = 0x20000;
                ULONG in_io_space = 0;
                PVOID virt = nullptr;
                VideoPortMapMemory(&ext, address, &length, &in_io_space, &virt);
              }),
              ::testing::HasSubstr("memory range 0xA0000 length 0x20000 was not claimed by this board"));
}

// Arguments NT would take as garbage: a null where the service writes or
// reads, a configuration offset that is no dword of the header.
TEST(VerifierArguments, StopsNullPointersAndOffsetsOutsideTheHeader) {
  ULONG value = 0;
  EXPECT_THAT(stop_in_find_adapter([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortGetBusData(&ext, PCIConfiguration, 3, &value, 0x100, 4);
              }),
              ::testing::HasSubstr("offset 0x100 is not a dword of the header"));
  EXPECT_THAT(stop_in_find_adapter([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortGetBusData(&ext, PCIConfiguration, 3, nullptr, 0, 4);
              }),
              ::testing::HasSubstr("VideoPortGetBusData: null buffer"));
  EXPECT_THAT(stop_in_find_adapter([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                VIDEO_ACCESS_RANGE ranges[1]{};
                USHORT vendor = host::BoardConfig{}.vendor_id, device = host::BoardConfig{}.device_id;
                ULONG slot = 3;
                VideoPortGetAccessRanges(&ext, 2, nullptr, 1, ranges, &vendor, &device, &slot);
              }),
              ::testing::HasSubstr("2 descriptors but a null list"));
  EXPECT_THAT(stop_in_find_adapter([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                PHYSICAL_ADDRESS address = ext.access_ranges[RANGE_FRAME_BUFFER].RangeStart;
                ULONG in_io_space = 0;
                PVOID virt = nullptr;
                VideoPortMapMemory(&ext, address, nullptr, &in_io_space, &virt);
              }),
              ::testing::HasSubstr("null length, in-I/O-space or address pointer"));
  EXPECT_THAT(stop_in_find_adapter([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortSetRegistryParameters(&ext, nullptr, &value, 4);
              }),
              ::testing::HasSubstr("null value name"));
  EXPECT_THAT(stop_in_find_adapter([](Machine &, HW_DEVICE_EXTENSION &ext) { VideoPortInt10(&ext, nullptr); }),
              ::testing::HasSubstr("VideoPortInt10: null arguments"));
  EXPECT_THAT(stop_in_find_adapter([&](Machine &, HW_DEVICE_EXTENSION &ext) {
                USHORT vendor = host::BoardConfig{}.vendor_id, device = host::BoardConfig{}.device_id;
                ULONG slot = 3;
                VideoPortGetAccessRanges(&ext, 0, nullptr, 6, nullptr, &vendor, &device, &slot);
              }),
              ::testing::HasSubstr("6 access ranges but a null array"));
  EXPECT_THAT(stop_in_find_adapter([](Machine &, HW_DEVICE_EXTENSION &ext) {
                char16_t name[] = u"HardwareInformation.MemorySize";
                VideoPortSetRegistryParameters(&ext, name, nullptr, 4);
              }),
              ::testing::HasSubstr("null data for 4 bytes"));
}

TEST_F(Verifier, StopsSizingARegisterWhileTheBoardDecodesIt) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                ULONG ones = 0xFFFFFFFF;
                VideoPortSetBusData(&ext, PCIConfiguration, 3, &ones, 0x14, 4);
              }),
              ::testing::HasSubstr("all ones written to BAR1 of slot 3 while its memory "
                                   "decoding is on"));
}

TEST_F(Verifier, StopsABoardLeftDecodingWhereNothingWasClaimedForIt) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                ULONG elsewhere = 0x10000000;
                VideoPortSetBusData(&ext, PCIConfiguration, 3, &elsewhere, 0x14, 4);
              }),
              ::testing::HasSubstr("after HwFindAdapter call 1: slot 3 decodes BAR1 memory "
                                   "0x10000000 +0x2000000, which no live claim"));
}

// Two boards the firmware placed alike, the second left decoding there: the
// first must not be handed the place the second still answers at.
TEST(Arbiter, NeverHandsOutWhatAnotherBoardStillDecodes) {
  MachineConfig c = machine({board(3, 0, 4 * kMiB, 0), board(9, 0, 4 * kMiB, 0)});
  c.boards[1].command_power_on = 0x0003;
  Machine m(c);
  ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
  ASSERT_EQ(m.adapters().size(), 2u);
  EXPECT_NE(m.board(3).bar_register(0), m.board(9).bar_register(0));
}

// NT copies a request's system buffer back only for a success or a warning,
// and then only as many bytes as Information says.
TEST(RequestReply, ReachesTheCallerOnlyOnSuccessAndOnlyForInformationBytes) {
  Machine m(machine({board(3)}));
  m.boot();
  const RequestResult ok = m.request(0, IOCTL_TORVIC_QUERY_NUM_BOARDS, {}, 8);
  ASSERT_EQ(ok.status, NO_ERROR);
  EXPECT_EQ(ok.output, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ok.system_buffer[4], Machine::kBufferFill);

  const RequestResult short_reply = m.request(0, IOCTL_TORVIC_QUERY_NUM_BOARDS, {}, 3);
  EXPECT_EQ(short_reply.status, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(short_reply.output, std::vector<uint8_t>(3, 0));
  EXPECT_TRUE(host::reply_reaches_caller(ERROR_MORE_DATA));
}

TEST_F(Verifier, StopsAMappingOfNoBytes) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortGetDeviceBase(&ext, ext.access_ranges[4].RangeStart, 0, FALSE);
              }),
              ::testing::HasSubstr("VideoPortGetDeviceBase: a mapping of no bytes"));
}

TEST_F(Verifier, StopsFreeingADeviceBaseThisBoardNeverMapped) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                VideoPortFreeDeviceBase(&ext, ext.access_ranges);
              }),
              ::testing::HasSubstr("is not a device base mapped for this board"));
}

TEST_F(Verifier, StopsAServiceGivenAnExtensionItDidNotHandOut) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &) {
                HW_DEVICE_EXTENSION own{};
                ULONG value = 0;
                VideoPortGetBusData(&own, PCIConfiguration, 3, &value, 0, 4);
              }),
              ::testing::HasSubstr("is not a device extension the video port handed out"));
}

TEST_F(Verifier, StopsAWriteOutsideTheDeviceExtension) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                reinterpret_cast<volatile uint8_t *>(&ext)[sizeof(HW_DEVICE_EXTENSION)] = 0;
              }),
              ::testing::HasSubstr("wrote outside the device extension of slot 3"));
}

TEST_F(Verifier, StopsAnAccessToMemoryNobodyHandedOut) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &) {
                (void)*reinterpret_cast<volatile ULONG *>(uintptr_t{0x10});
              }),
              ::testing::HasSubstr("invalid memory access at 0x10"));
}

TEST_F(Verifier, StopsAClaimOfAResourceOtherThanPortsAndMemory) {
  EXPECT_THAT(stop_when([](Machine &, HW_DEVICE_EXTENSION &ext) {
                IO_RESOURCE_DESCRIPTOR interrupt{};
                interrupt.Type = CmResourceTypeInterrupt;
                VIDEO_ACCESS_RANGE ranges[1]{};
                USHORT vendor = host::BoardConfig{}.vendor_id;
                USHORT device = host::BoardConfig{}.device_id;
                ULONG slot = 3;
                VideoPortGetAccessRanges(&ext, 1, &interrupt, 1, ranges, &vendor, &device, &slot);
              }),
              ::testing::HasSubstr("descriptor of resource type 2"));
}

TEST_F(Verifier, AnswersAClaimForAnEmptySlotOrAnotherBoardThatNoDeviceIsThere) {
  std::vector<VP_STATUS> statuses;
  EXPECT_EQ(stop_when([&](Machine &, HW_DEVICE_EXTENSION &ext) {
              VIDEO_ACCESS_RANGE ranges[TORVIC_NUM_ACCESS_RANGES]{};
              USHORT vendor = host::BoardConfig{}.vendor_id;
              for (ULONG slot : {4u, 3u}) {
                USHORT device = slot == 3 ? USHORT{0x1234} : USHORT{0};
                statuses.push_back(VideoPortGetAccessRanges(&ext, 0, nullptr, TORVIC_NUM_ACCESS_RANGES,
                                                            ranges, &vendor, &device, &slot));
              }
            }),
            "");
  EXPECT_EQ(statuses, (std::vector<VP_STATUS>{ERROR_DEV_NOT_EXIST, ERROR_DEV_NOT_EXIST}));
}

VP_STATUS NTAPI finds_nothing(PVOID, PVOID, PWSTR, PVIDEO_PORT_CONFIG_INFO, PUCHAR) {
  return ERROR_DEV_NOT_EXIST;
}
BOOLEAN NTAPI initializes(PVOID) { return TRUE; }
BOOLEAN NTAPI starts_io(PVOID, PVIDEO_REQUEST_PACKET) { return TRUE; }

// VideoPortInitialize is DriverEntry's, once, with a registration record the
// port can use.
TEST(VerifierInitialize, StopsARegistrationFromElsewhereOrThatCannotBeUsed) {
  auto stop_with = [](const char *service,
                      const std::function<void(VIDEO_HW_INITIALIZATION_DATA &)> &change) {
    Machine m(machine({board(3)}));
    return stop_message_when(m, service, 1, [&](Machine &) {
      VIDEO_HW_INITIALIZATION_DATA data{};
      data.HwInitDataSize = sizeof data;
      data.HwFindAdapter = &finds_nothing;
      data.HwInitialize = &initializes;
      data.HwStartIO = &starts_io;
      data.HwDeviceExtensionSize = 16;
      change(data);
      VideoPortInitialize(nullptr, nullptr, &data, nullptr);
    });
  };
  {
    Machine m(machine({board(3)}));
    EXPECT_THAT(stop_message_when(m, "VideoPortZeroMemory", 1,
                                  [](Machine &) { VideoPortInitialize(nullptr, nullptr, nullptr, nullptr); }),
                ::testing::HasSubstr("VideoPortInitialize: null registration record"));
  }
  EXPECT_THAT(stop_with("VideoPortGetBusData", [](VIDEO_HW_INITIALIZATION_DATA &) {}),
              ::testing::HasSubstr("VideoPortInitialize called from HwFindAdapter instead of DriverEntry"));
  EXPECT_THAT(stop_with("VideoPortZeroMemory", [](VIDEO_HW_INITIALIZATION_DATA &d) { d.HwInitDataSize = 8; }),
              ::testing::HasSubstr("HwInitDataSize 8 is not between"));
  EXPECT_THAT(stop_with("VideoPortZeroMemory", [](VIDEO_HW_INITIALIZATION_DATA &d) { d.HwStartIO = nullptr; }),
              ::testing::HasSubstr("the find-adapter, initialize and start-I/O callbacks are required"));
  EXPECT_THAT(stop_with("VideoPortZeroMemory",
                        [](VIDEO_HW_INITIALIZATION_DATA &d) { d.HwDeviceExtensionSize = 0; }),
              ::testing::HasSubstr("HwDeviceExtensionSize is 0"));
}

TEST(VerifierOutsideDiscovery, StopsAccessToTheExtensionOfAFailedCall) {
  Machine m(second_board_cannot_be_mapped());
  m.boot();
  ASSERT_EQ(m.find_calls().size(), 2u);
  const void *freed = m.find_calls()[1].extension;
  m.on_service = [freed](Machine &, const host::TraceEvent &e) {
    if (e.reg == "CONFIG1") (void)static_cast<const volatile HW_DEVICE_EXTENSION *>(freed)->dac_type;
  };
  try {
    m.initialize(0);
    ADD_FAILURE() << "the run went on";
  } catch (const host::VerifierStop &stop) {
    EXPECT_THAT(stop.what(), ::testing::HasSubstr("failed find-adapter call"));
  }
}

TEST(VerifierOutsideDiscovery, StopsAServiceGivenTheExtensionOfAFailedCall) {
  Machine m(second_board_cannot_be_mapped());
  m.boot();
  ASSERT_EQ(m.find_calls().size(), 2u);
  void *freed = const_cast<void *>(m.find_calls()[1].extension);
  m.on_service = [freed](Machine &, const host::TraceEvent &e) {
    if (e.reg != "CONFIG1") return;
    ULONG value = 0;
    VideoPortGetBusData(freed, PCIConfiguration, 9, &value, 0, 4);
  };
  try {
    m.initialize(0);
    ADD_FAILURE() << "the run went on";
  } catch (const host::VerifierStop &stop) {
    EXPECT_THAT(stop.what(), ::testing::HasSubstr("belongs to a failed find-adapter call"));
  }
}

TEST(VerifierOutsideDiscovery, StopsAccessPastTheRequestBufferAndWritesBeforeIt) {
  const std::vector<uint8_t> fifty = {50, 0, 0, 0};
  for (const int reach : {0, -1}) {
    Machine m(machine({board(3)}));
    m.boot();
    // A stall request calls a service midway, from where the buffer is reached.
    m.on_service = [reach](Machine &machine, const host::TraceEvent &e) {
      uint8_t *buffer = machine.request_buffer();
      if (e.service != "VideoPortStallExecution" || buffer == nullptr) return;
      if (reach == 0)
        (void)*reinterpret_cast<volatile uint8_t *>(buffer + 4 + host::GuardedBlock::kAlignment);
      else
        buffer[reach] = 0;
    };
    try {
      m.request(0, IOCTL_TORVIC_STALL, fifty, 0);
      ADD_FAILURE() << "the run went on";
    } catch (const host::VerifierStop &stop) {
      EXPECT_THAT(stop.what(), ::testing::HasSubstr(reach == 0 ? "past the end of the request buffer"
                                                               : "wrote outside its buffer"));
    }
  }
}

// With no callback running there is no machine to stop and no driver to
// blame: the program ends at once.
TEST(VerifierDeathTest, AServiceCalledOutsideEveryCallbackEndsTheProgram) {
  EXPECT_DEATH(VideoPortStallExecution(1), "a video port service was called outside any callback");
}

TEST_F(Verifier, AStoppedMachineRunsNoMoreCallbacks) {
  stop_when([](Machine &, HW_DEVICE_EXTENSION &) { VideoPortStallExecution(51); });
  EXPECT_THROW(m.reset_hardware(), host::VerifierStop);
}

// A stall or a zeroing names no board; the trace files it under the board
// the driver is programming, which in the reset callback that walks the
// chain of boards is not the callback's own.
TEST(Trace, CallsThatNameNoBoardBelongToTheBoardBeingProgrammed) {
  Machine m(host::default_machine());
  m.boot();
  std::vector<int> zeroing;
  for (const auto &e : m.trace())
    if (e.service == "VideoPortZeroMemory") zeroing.push_back(e.slot);
  // DriverEntry's own zeroing is for no board; each find-adapter call's, for the board it finds.
  EXPECT_THAT(zeroing, ::testing::ElementsAre(-1, 3, 3, 9, 9));

  m.open(0);
  m.open(1);
  m.clear_trace();
  // A stall after the callback's last access belongs to the board touched last.
  m.on_service = [](Machine &, const host::TraceEvent &e) {
    if (e.slot == 9 && e.arg("dac_register") == "DAC_CURSOR_CONTROL") VideoPortStallExecution(10);
  };
  m.reset_hardware(0);
  std::vector<std::string> stalls;
  for (const auto &e : m.trace())
    if (e.service == "VideoPortStallExecution") stalls.push_back("slot " + std::to_string(e.slot) + " " + e.brief());
  EXPECT_THAT(stalls, ::testing::ElementsAre("slot 3 stall 50", "slot 3 stall 50 (x 50)", "slot 9 stall 50",
                                             "slot 9 stall 50 (x 50)", "slot 9 stall 10"));

  // A callback that touches no board stalls for its own, whatever the one
  // before touched last (slot 9).
  m.clear_trace();
  m.request(0, IOCTL_TORVIC_STALL, {20, 0, 0, 0}, 0);
  EXPECT_EQ(briefs(m.trace()), std::vector<std::string>{"stall 20"});
  EXPECT_EQ(m.trace().at(1).slot, 3);
}

TEST(Trace, EventsNameTheirRegistersInTextAndJson) {
  Machine m(machine({board(3)}));
  m.on_service = [](Machine &, const host::TraceEvent &e) {
    if (e.service != "VideoPortGetDeviceBase" || e.detail.find(" io") == std::string::npos) return;
    VideoPortStallExecution(50);
    VideoPortStallExecution(20);
  };
  m.boot();
  EXPECT_EQ(m.now_us(), 70u);
  std::vector<const host::TraceEvent *> stalls;
  for (const auto &e : m.trace())
    if (e.service == "VideoPortStallExecution") stalls.push_back(&e);
  ASSERT_EQ(stalls.size(), 2u);
  EXPECT_EQ(stalls[1]->brief(), "stall 20");
  EXPECT_EQ(stalls[1]->time_us, 50u);  // the clock stands at the start of the call

  const host::TraceEvent *command = nullptr;
  for (const auto &e : m.trace())
    if (e.reg == "COMMAND" && !e.is_read) command = &e;
  ASSERT_NE(command, nullptr);
  EXPECT_THAT(command->text(), ::testing::MatchesRegex("#[0-9]+ +[0-9]+ us  slot 3  VideoPortSetBusData +"
                                                       "cfg\\+0x4 +COMMAND +<- 0x2000003"));
  // Made between two accesses to the board in slot 3, the stall waits for it.
  EXPECT_THAT(stalls[1]->text(), ::testing::MatchesRegex("#[0-9]+ +50 us  slot 3  VideoPortStallExecution +20 us"));
  const auto j = nlohmann::json::parse(command->json());
  EXPECT_EQ(j["service"], "VideoPortSetBusData");
  EXPECT_EQ(j["register"], "COMMAND");
  EXPECT_EQ(j["access"], "write");
  EXPECT_EQ(j["value"], 0x2000003);
  EXPECT_EQ(j["slot"], 3);
}

// The monitor reads video memory through the pixel format, the palette and
// the pixel mask; what it shows of each drawn pattern must be the colours the
// pattern asked for, exactly where a depth can show them exactly, and a
// single changed byte must show.
TEST(Monitor, ShowsEveryPatternAsDrawnAtEveryDepthAndASingleChangedByte) {
  Machine m(machine({board(3, 0, 4 * kMiB)}));
  m.boot();
  DisplayClient client(m, 0);
  for (ULONG bits : {8u, 16u, 32u}) {
    VIDEO_MODE_INFORMATION mode{};
    for (const auto &candidate : client.modes())
      if (candidate.VisScreenWidth == 800 && candidate.BitsPerPlane == bits) mode = candidate;
    ASSERT_EQ(client.set_mode(mode.ModeIndex), NO_ERROR);
    const auto memory = client.map_video_memory();
    ASSERT_EQ(memory.status, NO_ERROR);
    if (bits == 8) client.set_palette(0, host::pattern_palette());
    for (const auto pattern : {host::Pattern::Bars, host::Pattern::Gradient, host::Pattern::Checker,
                               host::Pattern::Grid}) {
      SCOPED_TRACE(std::to_string(bits) + " bpp, pattern " + std::to_string(int(pattern)));
      const host::PatternImage image(pattern, mode);
      image.draw(memory.frame, mode.ScreenStride);
      const host::MonitorTiming timing = host::decode_monitor(m.board(3));
      const host::Picture picture = host::render_frame(m.board(3), timing);
      ASSERT_EQ(picture.width, 800u);
      ASSERT_EQ(picture.height, 600u);
      EXPECT_EQ(picture.rgb, host::expected_picture(pattern, mode));
      using host::Rgb;
      switch (pattern) {
        case host::Pattern::Bars:
          EXPECT_EQ(picture.at(0, 0), (Rgb{255, 255, 255}));
          EXPECT_EQ(picture.at(799, 0), (Rgb{0, 0, 0}));
          EXPECT_EQ(picture.at(0, 599), (Rgb{0, 0, 0}));  // the grey ramp begins black
          break;
        case host::Pattern::Gradient:
          if (bits == 32) {
            EXPECT_EQ(picture.at(0, 0), (Rgb{0, 0, 128}));
            EXPECT_EQ(picture.at(799, 599), (Rgb{255, 255, 128}));
            EXPECT_EQ(picture.at(400, 300), (Rgb{128, 127, 128}));
          }
          EXPECT_NE(picture.at(0, 0), picture.at(0, 599));  // green follows the row
          break;
        case host::Pattern::Checker:
          EXPECT_EQ(picture.at(0, 0), (Rgb{0, 0, 0}));
          EXPECT_EQ(picture.at(8, 0), (Rgb{255, 255, 255}));
          EXPECT_EQ(picture.at(8, 8), (Rgb{0, 0, 0}));
          break;
        case host::Pattern::Grid:
          EXPECT_EQ(picture.at(0, 300), (Rgb{255, 0, 0}));
          EXPECT_EQ(picture.at(799, 599), (Rgb{255, 0, 0}));
          EXPECT_EQ(picture.at(32, 300), (Rgb{255, 255, 255}));
          EXPECT_EQ(picture.at(33, 64), (Rgb{255, 255, 255}));
          break;
      }
      // The last pixel of the last visible row, its first byte changed, shows
      // there alone.
      uint8_t &last = memory.frame[size_t(599) * mode.ScreenStride + 799 * bits / 8];
      last ^= 0x80;
      std::vector<uint8_t> row(size_t{800} * 3);
      host::render_row(m.board(3), timing, 598, row.data());
      EXPECT_EQ(0, memcmp(row.data(), image.shown_row(598), row.size()));
      host::render_row(m.board(3), timing, 599, row.data());
      EXPECT_NE(0, memcmp(row.data(), image.shown_row(599), row.size()));
      EXPECT_EQ(0, memcmp(row.data(), image.shown_row(599), row.size() - 3));
      last ^= 0x80;
    }
    client.unmap_video_memory(memory.ram);
  }
}

// The driver can program any active size; the monitor's picture is held
// whole, so one too large to hold is refused rather than allocated short.
TEST(Monitor, RefusesAPictureTooLargeToHold) {
  host::Board hw(board(3));
  hw.write(host::Block::Io, 0x30, 0, 32);             // VGA_CTRL: the VGA core lets go
  hw.write(host::Block::Registers, 0x5C, 0x100, 32);  // CRTC_CONTROL: graphics
  hw.write(host::Block::Registers, 0x10, 0x0A, 8);    // DAC_INDEX_LOW: DAC_PIXEL_FORMAT
  hw.write(host::Block::Registers, 0x18, 3, 8);       // 8 bpp, 8 pixels a word
  // 0xFFFA2B58 x 0x555746EE pixels of 3 bytes: 2^64 + 201584 bytes.
  hw.write(host::Block::Registers, 0x30, 0x1FFF456B, 32);
  hw.write(host::Block::Registers, 0x40, 0x555746EE, 32);
  const host::MonitorTiming timing = host::decode_monitor(hw);
  ASSERT_EQ(timing.width, 0xFFFA2B58u);
  EXPECT_THROW(host::render_frame(hw, timing), std::length_error);
}

}  // namespace
}  // namespace torvic::test
