// SPDX-License-Identifier: MIT
// A display driver's view of one board: the video requests it sends, with
// their records packed and unpacked. Tests and torvic-sim talk to the
// driver through it.
#pragma once

#include <cstring>
#include <optional>
#include <vector>

#include "host/common/records.h"
#include "host/port/machine.h"
#include "torvic/requests.h"

namespace torvic::host {

class DisplayClient {
 public:
  DisplayClient(Machine &machine, size_t adapter) : machine_(machine), adapter_(adapter) {}

  RequestResult request(ULONG code, const std::vector<uint8_t> &input = {},
                        ULONG output_length = 0) {
    return machine_.request(adapter_, code, input, output_length);
  }

  // The available modes, as QUERY_NUM_AVAIL_MODES and QUERY_AVAIL_MODES give them.
  ULONG num_modes();  // 0 when the driver refuses the question
  std::vector<VIDEO_MODE_INFORMATION> modes();
  std::optional<VIDEO_MODE_INFORMATION> current_mode();
  VP_STATUS set_mode(ULONG index);
  VP_STATUS set_palette(USHORT first, const std::vector<VIDEO_CLUTDATA> &entries);
  VP_STATUS reset_device();
  ULONG num_boards();

  struct VideoMemory {
    VP_STATUS status = NO_ERROR;
    uint8_t *ram = nullptr;
    ULONG ram_length = 0;
    uint8_t *frame = nullptr;
    ULONG frame_length = 0;
  };
  VideoMemory map_video_memory(void *requested = nullptr);
  VP_STATUS unmap_video_memory(void *address);
  // Whether a frame of the mode drawn at memory.frame stays inside the frame
  // buffer the driver reported and inside the view of video memory the
  // machine really mapped there. A client draws nothing that does not: the
  // driver may report more than it mapped, or a mode larger than its memory.
  bool frame_fits(const VideoMemory &memory, const VIDEO_MODE_INFORMATION &mode) const;

  struct PublicRanges {
    VP_STATUS status = NO_ERROR;
    std::vector<uint8_t> bytes;  // the whole reply, to hand back for release
    std::vector<VIDEO_PUBLIC_ACCESS_RANGES> records;
  };
  // The reply holds one record for each of the board's seven ranges.
  static constexpr ULONG kPublicRangesLength =
      static_cast<ULONG>(kNumBars * sizeof(VIDEO_PUBLIC_ACCESS_RANGES));
  PublicRanges query_public_ranges();
  VP_STATUS free_public_ranges(const std::vector<uint8_t> &bytes);

  struct SharedView {
    VP_STATUS status = NO_ERROR;
    VIDEO_SHARE_MEMORY_INFORMATION info{};
  };
  SharedView share_video_memory(HANDLE process, ULONG offset, ULONG size);
  VP_STATUS unshare_video_memory(HANDLE process, void *address);

 private:
  Machine &machine_;
  size_t adapter_;
};

}  // namespace torvic::host
