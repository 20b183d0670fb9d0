// SPDX-License-Identifier: MIT
// The addresses a request asks the driver to give back, checked against what
// the run handed out: a display driver returns only what it was given, so an
// address never mapped is the user's mistake, not the driver's.
#pragma once

#include <cstdint>
#include <vector>

#include "session.h"

namespace torvic::sim {

// InputError when the input of UNMAP_VIDEO_MEMORY, UNSHARE_VIDEO_MEMORY or
// FREE_PUBLIC_ACCESS_RANGES names an address the board has not mapped (for
// that process) in this run, or names one twice; the message lists what is
// mapped. Inputs too short for their record are left for the driver to refuse.
void check_addresses_to_release(const Machine &m, size_t board, ULONG code, const std::vector<uint8_t> &input);

}  // namespace torvic::sim
