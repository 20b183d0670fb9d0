// SPDX-License-Identifier: MIT
// Where torvic-sim writes its files, checked before anything runs.
#pragma once

#include <string>

namespace torvic::sim {

// Refuses, before anything runs, an output file that cannot be written: an
// empty name, a folder, one in a folder that does not exist, or one the
// system would not let this user write (with the system's reason).
void check_output_path(const std::string &option, const std::string &path);
// The same for a folder the pictures go into: it must exist and be writable.
void check_output_folder(const std::string &option, const std::string &folder);
// Where the demo writes the picture of the board in a slot.
std::string picture_path(const std::string &out_dir, int slot);

}  // namespace torvic::sim
