// SPDX-License-Identifier: MIT
#include "host/port/request_names.h"

#include "host/common/text.h"
#include "torvic/requests.h"

namespace torvic::host {

const std::map<std::string, ULONG> &request_codes() {
  static const std::map<std::string, ULONG> codes = {
      {"QUERY_AVAIL_MODES", IOCTL_VIDEO_QUERY_AVAIL_MODES},
      {"QUERY_NUM_AVAIL_MODES", IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES},
      {"QUERY_CURRENT_MODE", IOCTL_VIDEO_QUERY_CURRENT_MODE},
      {"SET_CURRENT_MODE", IOCTL_VIDEO_SET_CURRENT_MODE},
      {"RESET_DEVICE", IOCTL_VIDEO_RESET_DEVICE},
      {"SET_COLOR_REGISTERS", IOCTL_VIDEO_SET_COLOR_REGISTERS},
      {"MAP_VIDEO_MEMORY", IOCTL_VIDEO_MAP_VIDEO_MEMORY},
      {"UNMAP_VIDEO_MEMORY", IOCTL_VIDEO_UNMAP_VIDEO_MEMORY},
      {"QUERY_PUBLIC_ACCESS_RANGES", IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES},
      {"FREE_PUBLIC_ACCESS_RANGES", IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES},
      {"SHARE_VIDEO_MEMORY", IOCTL_VIDEO_SHARE_VIDEO_MEMORY},
      {"UNSHARE_VIDEO_MEMORY", IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY},
      {"TORVIC_STALL", IOCTL_TORVIC_STALL},
      {"TORVIC_QUERY_NUM_BOARDS", IOCTL_TORVIC_QUERY_NUM_BOARDS},
  };
  return codes;
}

std::string request_name(ULONG code) {
  for (const auto &[name, c] : request_codes())
    if (c == code) return (name.rfind("TORVIC_", 0) == 0 ? "IOCTL_" : "IOCTL_VIDEO_") + name;
  return hex(code);
}

std::string status_name(VP_STATUS status) {
  switch (status) {
    case NO_ERROR: return "NO_ERROR";
    case ERROR_INVALID_FUNCTION: return "ERROR_INVALID_FUNCTION";
    case ERROR_NOT_ENOUGH_MEMORY: return "ERROR_NOT_ENOUGH_MEMORY";
    case ERROR_DEV_NOT_EXIST: return "ERROR_DEV_NOT_EXIST";
    case ERROR_INVALID_PARAMETER: return "ERROR_INVALID_PARAMETER";
    case ERROR_INSUFFICIENT_BUFFER: return "ERROR_INSUFFICIENT_BUFFER";
    case ERROR_MORE_DATA: return "ERROR_MORE_DATA";
    default: return hex(static_cast<uint32_t>(status));
  }
}

}  // namespace torvic::host
