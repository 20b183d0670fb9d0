// SPDX-License-Identifier: MIT
// A picture shown as a display driver shows it, and compared with the one drawn.
#include "picture_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "host/display/display_client.h"
#include "labels.h"

namespace torvic::sim {

using host::DisplayClient;

std::string first_picture_difference(const host::Board &board, const host::MonitorTiming &timing,
                                     const host::PatternImage &image) {
  std::vector<uint8_t> row(size_t(timing.width) * 3);
  for (uint32_t y = 0; y < timing.height; y++) {
    host::render_row(board, timing, y, row.data());
    const uint8_t *expected = image.shown_row(y);
    if (memcmp(row.data(), expected, row.size()) == 0) continue;
    const auto differ = std::mismatch(row.begin(), row.end(), expected);
    return "(" + std::to_string((differ.first - row.begin()) / 3) + ", " + std::to_string(y) + ")";
  }
  return "";
}

Shown draw_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode, const host::PatternImage &image,
                bool exercise_public_ranges) {
  DisplayClient client(m, adapter);
  Shown shown;
  if (VP_STATUS s = client.set_mode(mode.ModeIndex); s != NO_ERROR) {
    shown.error = "set mode " + mode_label(mode) + ": " + status_name(s);
    return shown;
  }
  const auto memory = client.map_video_memory();
  if (memory.status != NO_ERROR) {
    shown.error = "map video memory: " + status_name(memory.status);
    return shown;
  }
  if (mode.BitsPerPlane == 8) client.set_palette(0, host::pattern_palette());
  if (!client.frame_fits(memory, mode))
    shown.error = "the frame of " + mode_label(mode) + " does not fit the mapped frame buffer";
  else
    image.draw(memory.frame, mode.ScreenStride);
  if (exercise_public_ranges) {
    const auto ranges = client.query_public_ranges();
    if (ranges.status == NO_ERROR) client.free_public_ranges(ranges.bytes);
  }
  client.unmap_video_memory(memory.ram);
  shown.timing = host::decode_monitor(m.adapter_board(adapter));
  return shown;
}

Shown show_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode,
                host::Pattern pattern, bool exercise_public_ranges) {
  Shown shown = draw_mode(m, adapter, mode, host::PatternImage(pattern, mode), exercise_public_ranges);
  shown.picture = host::render_frame(m.adapter_board(adapter), shown.timing);
  return shown;
}

}  // namespace torvic::sim
