// SPDX-License-Identifier: MIT
// What torvic-sim reads: machine files, driver images, install files,
// scripts and request bytes, each checked before anything runs.
#pragma once

#include <cstddef>
#include <string>

namespace torvic::sim {

// Refuses, with an InputError naming the option and the system's reason, a
// path that is not a readable regular file or pipe: a folder, a missing file,
// one without read permission. "-" is standard input, which must be open.
void check_input_file(const std::string &option, const std::string &path);
// The bytes of an input file, checked as above; at most `most` bytes are
// read, so a caller with a bound sees that the file goes beyond it.
std::string read_input_file(const std::string &option, const std::string &path,
                            size_t most = static_cast<size_t>(-1));

}  // namespace torvic::sim
