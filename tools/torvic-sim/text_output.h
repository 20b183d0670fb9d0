// SPDX-License-Identifier: MIT
// What torvic-sim prints for people: the board reports, the boards passed
// over and the mode summary.
#pragma once

#include <vector>

#include "json_output.h"

namespace torvic::sim {

// A board's report (board_report) as lines of text.
void print_board_report(const ordered_json &b);
// The boards of the family the driver passed over, and why; nothing when none.
void print_passed_over(const ordered_json &passed_over);
// The modes grouped by resolution, as a person scans them.
void print_mode_summary(const std::vector<VIDEO_MODE_INFORMATION> &modes);

}  // namespace torvic::sim
