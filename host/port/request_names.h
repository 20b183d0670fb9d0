// SPDX-License-Identifier: MIT
// The names of the video requests the driver serves and of the statuses it
// returns, as traces and torvic-sim show them.
#pragma once

#include <map>
#include <string>

#include "platform/video_port_interface.h"

namespace torvic::host {

// Name without the IOCTL_VIDEO_ or IOCTL_ prefix -> request code.
const std::map<std::string, ULONG> &request_codes();
// IOCTL_VIDEO_SET_CURRENT_MODE, or the code in hexadecimal.
std::string request_name(ULONG code);
// NO_ERROR, ERROR_INVALID_PARAMETER, ..., or the status in hexadecimal.
std::string status_name(VP_STATUS status);

}  // namespace torvic::host
