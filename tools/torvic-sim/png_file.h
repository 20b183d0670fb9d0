// SPDX-License-Identifier: MIT
// Writing the monitor's picture as a PNG file.
#pragma once

#include <string>

#include "host/board/monitor.h"

namespace torvic::sim {

// Throws std::runtime_error when the file cannot be written.
void write_png(const std::string &path, const host::Picture &picture);

}  // namespace torvic::sim
