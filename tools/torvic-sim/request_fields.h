// SPDX-License-Identifier: MIT
// A request's input given by its fields rather than in hex: a mode by name,
// a palette, an address.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/video_port_interface.h"

namespace torvic::sim {

// The VIDEO_CLUT of SET_COLOR_REGISTERS from "ramp" (256 greys from black to
// white) or a file of lines "R G B", each 0 to 255 (# starts a comment), at
// most 256, loaded from entry 0. InputError naming the line otherwise.
std::vector<uint8_t> palette_input(const std::string &palette);
// The VIDEO_MEMORY of MAP_VIDEO_MEMORY and UNMAP_VIDEO_MEMORY: the address in
// hex ("0x200005400000") or decimal, as wide as a pointer of this build.
std::vector<uint8_t> address_input(const std::string &address);
// The VIDEO_MODE of SET_CURRENT_MODE for a mode index.
std::vector<uint8_t> mode_input(ULONG index);

}  // namespace torvic::sim
