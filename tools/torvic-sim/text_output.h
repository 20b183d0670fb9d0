// SPDX-License-Identifier: MIT
// What torvic-sim prints for people: the board reports, the boards passed
// over and the mode lists.
#pragma once

#include <string>
#include <vector>

#include "json_output.h"

namespace torvic::sim {

// A board's report (board_report) as lines of text.
void print_board_report(const ordered_json &b);
// The boards of the family the driver passed over, and why; nothing when none.
void print_passed_over(const ordered_json &passed_over);

// The modes one board offers.
struct BoardModes {
  size_t board;
  int slot;
  std::vector<VIDEO_MODE_INFORMATION> modes;
};
// Each board's modes, grouped by resolution; boards that offer the same
// modes share one list.
void print_offered_modes(const std::vector<BoardModes> &boards);

}  // namespace torvic::sim
