// SPDX-License-Identifier: MIT
// A request's input as its record's fields, for the trace.
#include "host/port/request_input.h"

#include "host/common/records.h"
#include "host/common/text.h"
#include "torvic/requests.h"

namespace torvic::host {

namespace {

// Whether the input holds a whole record of this kind at offset.
template <class T>
bool holds(const std::vector<uint8_t> &input, size_t offset = 0) {
  return offset + sizeof(T) <= input.size();
}

std::string address(const void *pointer) { return hex(reinterpret_cast<uintptr_t>(pointer)); }

}  // namespace

nlohmann::ordered_json decoded_request_input(ULONG code, const std::vector<uint8_t> &input) {
  switch (code) {
    case IOCTL_VIDEO_SET_CURRENT_MODE: {
      if (holds<VIDEO_MODE>(input)) return {{"RequestedMode", record_at<VIDEO_MODE>(input).RequestedMode}};
      break;
    }
    case IOCTL_VIDEO_SET_COLOR_REGISTERS: {
      const auto clut = record_at<VIDEO_CLUT>(input);
      if (holds<VIDEO_CLUT>(input)) return {{"NumEntries", clut.NumEntries}, {"FirstEntry", clut.FirstEntry}};
      break;
    }
    case IOCTL_VIDEO_MAP_VIDEO_MEMORY:
    case IOCTL_VIDEO_UNMAP_VIDEO_MEMORY: {
      if (holds<VIDEO_MEMORY>(input))
        return {{"RequestedVirtualAddress", address(record_at<VIDEO_MEMORY>(input).RequestedVirtualAddress)}};
      break;
    }
    case IOCTL_VIDEO_SHARE_VIDEO_MEMORY:
    case IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY: {
      const auto share = record_at<VIDEO_SHARE_MEMORY>(input);
      if (holds<VIDEO_SHARE_MEMORY>(input))
        return {{"ProcessHandle", address(share.ProcessHandle)},
                {"ViewOffset", share.ViewOffset},
                {"ViewSize", share.ViewSize},
                {"RequestedVirtualAddress", address(share.RequestedVirtualAddress)}};
      break;
    }
    case IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES: {
      nlohmann::ordered_json addresses = nlohmann::ordered_json::array();
      for (size_t at = 0; holds<VIDEO_PUBLIC_ACCESS_RANGES>(input, at); at += sizeof(VIDEO_PUBLIC_ACCESS_RANGES))
        addresses.push_back(address(record_at<VIDEO_PUBLIC_ACCESS_RANGES>(input, at).VirtualAddress));
      if (!addresses.empty()) return {{"VirtualAddress", addresses}};
      break;
    }
    case IOCTL_TORVIC_STALL: {
      if (holds<ULONG>(input)) return {{"microseconds", record_at<ULONG>(input)}};
      break;
    }
    default:
      break;
  }
  return nullptr;
}

}  // namespace torvic::host
