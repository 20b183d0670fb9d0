// SPDX-License-Identifier: MIT
// The names torvic-sim prints for a board variant and a mode.
#include "labels.h"

namespace torvic::sim {

std::string variant_name(uint16_t code) {
  if (code == 10 || code == 11) return "RGB528 video-RAM board";
  if (code < 8) return "RGB526 video-RAM board";
  if (code < 10) return "DRAM board with an RGB526";
  return "unknown variant";
}

std::string mode_label(const VIDEO_MODE_INFORMATION &m) {
  return std::to_string(m.VisScreenWidth) + "x" + std::to_string(m.VisScreenHeight) + "x" +
         std::to_string(m.BitsPerPlane) + "@" + std::to_string(m.Frequency);
}

}  // namespace torvic::sim
