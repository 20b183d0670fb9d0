// SPDX-License-Identifier: MIT
// A request's input as its record's fields, for the trace.
#include "host/port/request_input.h"

#include <cstring>

#include "host/common/text.h"
#include "torvic/requests.h"

namespace torvic::host {

namespace {

template <class T>
bool read_record(const std::vector<uint8_t> &input, size_t offset, T *record) {
  if (offset + sizeof(T) > input.size()) return false;
  std::memcpy(record, input.data() + offset, sizeof(T));
  return true;
}

std::string address(const void *pointer) { return hex(reinterpret_cast<uintptr_t>(pointer)); }

}  // namespace

nlohmann::ordered_json decoded_request_input(ULONG code, const std::vector<uint8_t> &input) {
  switch (code) {
    case IOCTL_VIDEO_SET_CURRENT_MODE: {
      VIDEO_MODE mode{};
      if (read_record(input, 0, &mode)) return {{"RequestedMode", mode.RequestedMode}};
      break;
    }
    case IOCTL_VIDEO_SET_COLOR_REGISTERS: {
      VIDEO_CLUT clut{};
      if (read_record(input, 0, &clut)) return {{"NumEntries", clut.NumEntries}, {"FirstEntry", clut.FirstEntry}};
      break;
    }
    case IOCTL_VIDEO_MAP_VIDEO_MEMORY:
    case IOCTL_VIDEO_UNMAP_VIDEO_MEMORY: {
      VIDEO_MEMORY memory{};
      if (read_record(input, 0, &memory))
        return {{"RequestedVirtualAddress", address(memory.RequestedVirtualAddress)}};
      break;
    }
    case IOCTL_VIDEO_SHARE_VIDEO_MEMORY:
    case IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY: {
      VIDEO_SHARE_MEMORY share{};
      if (read_record(input, 0, &share))
        return {{"ProcessHandle", address(share.ProcessHandle)},
                {"ViewOffset", share.ViewOffset},
                {"ViewSize", share.ViewSize},
                {"RequestedVirtualAddress", address(share.RequestedVirtualAddress)}};
      break;
    }
    case IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES: {
      nlohmann::ordered_json addresses = nlohmann::ordered_json::array();
      VIDEO_PUBLIC_ACCESS_RANGES range{};
      for (size_t at = 0; read_record(input, at, &range); at += sizeof range)
        addresses.push_back(address(range.VirtualAddress));
      if (!addresses.empty()) return {{"VirtualAddress", addresses}};
      break;
    }
    case IOCTL_TORVIC_STALL: {
      ULONG microseconds = 0;
      if (read_record(input, 0, &microseconds)) return {{"microseconds", microseconds}};
      break;
    }
    default:
      break;
  }
  return nullptr;
}

}  // namespace torvic::host
