// SPDX-License-Identifier: MIT
// SHA-256 of a file's bytes, so that a trace names exactly which driver
// image made it (`sha256sum` gives the same digest).
#pragma once

#include <string>

namespace torvic::sim {

// The digest in lowercase hex; empty when the file cannot be read.
std::string sha256_of_file(const std::string &path);

}  // namespace torvic::sim
