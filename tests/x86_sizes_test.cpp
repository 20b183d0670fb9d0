// SPDX-License-Identifier: MIT
// The memory-mapping requests measured against the record sizes a 32-bit x86
// display driver uses. A display driver built for NT sends its buffers at
// these byte counts, so the driver's length tests and the sizes it reports in
// Information must be exactly these figures, not merely its own sizeof.
// Pointer-carrying records are larger on a 64-bit host: only the 32-bit
// builds run these.
#include <functional>
#include <vector>

#include "host/display/display_client.h"
#include "test_support.h"

#if defined(__i386__)

namespace torvic::test {
namespace {

using host::bytes_of;
using host::DisplayClient;
using host::RequestResult;

const HANDLE kProcess = reinterpret_cast<HANDLE>(0x4D0);

struct ShortBuffer {
  const char *name;
  ULONG code;
  // The request's input, made on the machine (a release needs a mapping).
  std::function<std::vector<uint8_t>(DisplayClient &)> input;
  ULONG output;
  // The size reported back in Information, or 0 when Information must stay
  // untouched.
  ULONG reported;
};

TEST(X86RecordSizes, MappingRequestsRefuseBuffersOneByteShortOfTheX86Records) {
  const auto first = [](std::vector<uint8_t> bytes, size_t n) {
    bytes.resize(n);
    return bytes;
  };
  const ShortBuffer cases[] = {
      {"MAP_VIDEO_MEMORY, 15-byte output", IOCTL_VIDEO_MAP_VIDEO_MEMORY,
       [](DisplayClient &) { return bytes_of(VIDEO_MEMORY{nullptr}); }, 15, 16},
      {"QUERY_PUBLIC_ACCESS_RANGES, 83-byte output", IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES,
       [](DisplayClient &) { return std::vector<uint8_t>{}; }, 83, 84},
      {"SHARE_VIDEO_MEMORY, 11-byte output", IOCTL_VIDEO_SHARE_VIDEO_MEMORY,
       [](DisplayClient &) { return bytes_of(VIDEO_SHARE_MEMORY{kProcess, 0, 0x1000, nullptr}); },
       11, 0},
      {"SHARE_VIDEO_MEMORY, 15-byte input", IOCTL_VIDEO_SHARE_VIDEO_MEMORY,
       [&](DisplayClient &) {
         return first(bytes_of(VIDEO_SHARE_MEMORY{kProcess, 0, 0x1000, nullptr}), 15);
       },
       12, 0},
      {"FREE_PUBLIC_ACCESS_RANGES, 83-byte input", IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES,
       [&](DisplayClient &c) { return first(c.query_public_ranges().bytes, 83); }, 0, 0},
      {"UNSHARE_VIDEO_MEMORY, 15-byte input", IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY,
       [&](DisplayClient &c) {
         const auto view = c.share_video_memory(kProcess, 0, 0x1000);
         return first(bytes_of(VIDEO_SHARE_MEMORY{kProcess, 0, 0, view.info.VirtualAddress}), 15);
       },
       0, 0},
  };
  for (const ShortBuffer &c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(machine({board(3)}));
    ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
    m.open(0);
    DisplayClient client(m, 0);
    const std::vector<uint8_t> input = c.input(client);
    const size_t open_mappings = m.client_mappings().size();

    const RequestResult r = m.request(0, c.code, input, c.output);
    EXPECT_EQ(r.status, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(r.information_written, c.reported != 0);
    if (c.reported != 0) {
      EXPECT_EQ(r.information, c.reported);
    }
    // Nothing mapped or released, and no byte of the reply written.
    EXPECT_EQ(m.client_mappings().size(), open_mappings);
    std::vector<uint8_t> untouched = input;
    untouched.resize(c.output, Machine::kBufferFill);
    EXPECT_EQ(r.system_buffer, untouched);
  }
}

}  // namespace
}  // namespace torvic::test

#endif  // __i386__
