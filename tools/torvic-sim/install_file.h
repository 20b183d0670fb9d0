// SPDX-License-Identifier: MIT
// The Windows 2000 install file nt/torvic.inf, as built into torvic-sim.
#pragma once

namespace torvic::sim {

extern const char *const kBuiltInInstallFile;

}  // namespace torvic::sim
