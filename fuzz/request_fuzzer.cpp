// SPDX-License-Identifier: MIT
// Feeds the driver arbitrary video requests, as a faulty or hostile display
// driver could send them: any code, any lengths, any bytes. The host video
// port's guards turn every access outside a buffer, every misuse of a
// service and every stray pointer into a stop, which ends the run here.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/input_reader.h"
#include "host/display/display_client.h"
#include "host/port/machine.h"
#include "torvic/requests.h"

namespace {

using torvic::host::Machine;

const ULONG kCodes[] = {
    IOCTL_VIDEO_QUERY_AVAIL_MODES,       IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES,
    IOCTL_VIDEO_QUERY_CURRENT_MODE,      IOCTL_VIDEO_SET_CURRENT_MODE,
    IOCTL_VIDEO_RESET_DEVICE,            IOCTL_VIDEO_SET_COLOR_REGISTERS,
    IOCTL_VIDEO_MAP_VIDEO_MEMORY,        IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES,
    IOCTL_VIDEO_SHARE_VIDEO_MEMORY,      IOCTL_TORVIC_STALL,
    IOCTL_TORVIC_QUERY_NUM_BOARDS,       IOCTL_VIDEO_SET_POINTER_POSITION,
};

[[noreturn]] void fail(const std::string &why) {
  (void)fprintf(stderr, "request fuzzer: %s\n", why.c_str());
  abort();
}

// What a mapping request handed out, and the request that gives it back.
struct Handed {
  ULONG release;
  std::vector<uint8_t> input;
};

std::vector<uint8_t> released_by(ULONG code, const std::vector<uint8_t> &request,
                                 const std::vector<uint8_t> &reply, ULONG *release) {
  if (code == IOCTL_VIDEO_MAP_VIDEO_MEMORY) {
    *release = IOCTL_VIDEO_UNMAP_VIDEO_MEMORY;
    const auto info = torvic::host::record_at<VIDEO_MEMORY_INFORMATION>(reply);
    return torvic::host::bytes_of(VIDEO_MEMORY{info.VideoRamBase});
  }
  if (code == IOCTL_VIDEO_SHARE_VIDEO_MEMORY) {
    *release = IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY;
    const auto info = torvic::host::record_at<VIDEO_SHARE_MEMORY_INFORMATION>(reply);
    const auto share = torvic::host::record_at<VIDEO_SHARE_MEMORY>(request);
    return torvic::host::bytes_of(VIDEO_SHARE_MEMORY{share.ProcessHandle, 0, 0, info.VirtualAddress});
  }
  *release = IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES;
  return {reply.begin(), reply.begin() + 7 * sizeof(VIDEO_PUBLIC_ACCESS_RANGES)};
}

// One machine per board shape, kept for the life of the process: the driver
// image stays loaded (a fuzzing engine keeps its coverage counters), and
// every input leaves the machine as it found it but for the mode set.
Machine &machine_for(uint32_t shape) {
  static std::unique_ptr<Machine> machines[9];
  static const uint16_t variants[] = {0, 10, 8};
  auto &m = machines[shape % 9];
  if (!m) {
    const uint32_t memory = (2u << (shape % 3)) * torvic::host::kMiB;
    m = std::make_unique<Machine>(torvic::host::machine_with(
        {torvic::host::default_board(4, variants[(shape / 3) % 3], memory)}));
    m->boot();
  }
  return *m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Reader in{data, size};
  Machine &m = machine_for(in.take(1));
  m.clear_trace();
  std::vector<Handed> handed;
  try {
    for (int n = 0; n < 16 && in.size > 0; n++) {
      const uint32_t pick = in.take(1);
      const ULONG out_length = in.take(2) % 1200;
      ULONG code = kCodes[pick % std::size(kCodes)];
      std::vector<uint8_t> input(in.take(2) % 1200);
      for (auto &b : input) b = static_cast<uint8_t>(in.take(1));
      if (pick >= 0xF0 && !handed.empty()) {
        // Hand the last mapping back, or a request one to three bytes short
        // of it, which must release nothing.
        code = handed.back().release;
        input = handed.back().input;
        input.resize(input.size() - std::min<size_t>(input.size(), pick & 3));
        if ((pick & 3) == 0) handed.pop_back();
      } else if (pick == 0xEF) {
        code = in.take(4);  // any code at all, but a release of something never handed out
        if (code == IOCTL_VIDEO_UNMAP_VIDEO_MEMORY || code == IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES ||
            code == IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY)
          code = IOCTL_VIDEO_RESET_DEVICE;
      }
      // A display driver maps video memory into its own process, the only
      // place UNMAP_VIDEO_MEMORY can release it from.
      if (code == IOCTL_VIDEO_MAP_VIDEO_MEMORY)
        memset(input.data(), 0, std::min(input.size(), sizeof(PVOID)));
      const auto r = m.request(0, code, input, out_length);
      if (!r.returned) fail("start-I/O returned FALSE");
      if (r.status == NO_ERROR && (code == IOCTL_VIDEO_MAP_VIDEO_MEMORY ||
                                   code == IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES ||
                                   code == IOCTL_VIDEO_SHARE_VIDEO_MEMORY)) {
        Handed h;
        h.input = released_by(code, input, r.output, &h.release);
        handed.push_back(h);
      }
      // Every byte a successful reply reports is the driver's.
      if (r.status == NO_ERROR && r.information_written)
        for (size_t i = 0; i + 4 <= r.information && i + 4 <= r.output.size(); i += 4)
          if (!memcmp(&r.output[i], "\xCD\xCD\xCD\xCD", 4))
            fail("a successful reply reports bytes the driver never wrote");
    }
    // Give back whatever is still mapped, so that the next input starts clean.
    for (auto it = handed.rbegin(); it != handed.rend(); ++it)
      m.request(0, it->release, it->input, 0);
  } catch (const torvic::host::VerifierStop &stop) {
    fail(stop.what());
  }
  return 0;
}
