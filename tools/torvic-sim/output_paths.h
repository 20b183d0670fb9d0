// SPDX-License-Identifier: MIT
// Where torvic-sim writes its files, checked before anything runs.
#pragma once

#include <string>

namespace torvic::sim {

// Refuses, before anything runs, an output path that cannot be written: an
// empty one, a folder, or one in a folder that does not exist.
void check_output_path(const std::string &option, const std::string &path);
// The demo's picture folder, made if missing; OutputError when it cannot be.
void make_out_dir(const std::string &out_dir);
// Where the demo writes the picture of the board in a slot.
std::string picture_path(const std::string &out_dir, int slot);

}  // namespace torvic::sim
