// SPDX-License-Identifier: MIT
// The names torvic-sim prints for a board variant, a mode and a status.
#pragma once

#include <cstdint>
#include <string>

#include "host/port/request_names.h"
#include "platform/video_port_interface.h"

namespace torvic::sim {

using host::status_name;
std::string variant_name(uint16_t code);
std::string mode_label(const VIDEO_MODE_INFORMATION &m);

}  // namespace torvic::sim
