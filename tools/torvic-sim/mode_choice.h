// SPDX-License-Identifier: MIT
// The mode a subcommand shows: one named on the command line, or the demo's.
#pragma once

#include <string>
#include <vector>

#include "host/display/test_pattern.h"
#include "platform/video_port_interface.h"

namespace torvic::sim {

// InputError for text that names no mode in either way, before any board is asked.
void check_mode_text(const std::string &text);
// A mode by name (1024x768x16@60, the rate optional) or index; InputError
// naming the nearest offered modes when there is none.
const VIDEO_MODE_INFORMATION &find_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes,
                                        const std::string &text);
// The demo's mode for a board: the one it prefers, or, where the board does
// not offer it (a DRAM board, a small memory), the widest offered mode of the
// same depth, or the first one offered; the lowest rate in each case.
struct DemoMode {
  VIDEO_MODE_INFORMATION mode;
  std::string fallback;  // why another mode was taken; empty when none was
};
DemoMode demo_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes, const std::string &preferred);

// What the demo shows on each board: an 8-bit mode through the palette on
// the first, a 32-bit mode on the second, and 16 bits on any further board.
struct DemoChoice {
  const char *mode;
  host::Pattern pattern;
};
const DemoChoice &demo_choice(size_t board);

}  // namespace torvic::sim
