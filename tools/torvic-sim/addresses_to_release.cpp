// SPDX-License-Identifier: MIT
// The addresses a request asks the driver to give back, checked against what
// the run handed out.
#include "addresses_to_release.h"

#include <algorithm>
#include <string>

#include "host/common/text.h"
#include "host/display/display_client.h"
#include "host/port/request_names.h"
#include "machine_file.h"

namespace torvic::sim {

namespace {

using host::hex;
using host::record_at;

struct Release {
  const void *address;
  HANDLE process;
};

// What the driver will hand to VideoPortUnmapMemory for this request.
std::vector<Release> releases_in(ULONG code, const std::vector<uint8_t> &input) {
  std::vector<Release> releases;
  switch (code) {
    case IOCTL_VIDEO_UNMAP_VIDEO_MEMORY:
      if (input.size() >= sizeof(VIDEO_MEMORY))
        releases.push_back({record_at<VIDEO_MEMORY>(input).RequestedVirtualAddress, nullptr});
      break;
    case IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY:
      if (input.size() >= sizeof(VIDEO_SHARE_MEMORY)) {
        const auto share = record_at<VIDEO_SHARE_MEMORY>(input);
        releases.push_back({share.RequestedVirtualAddress, share.ProcessHandle});
      }
      break;
    case IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES:
      // A range left unmapped, or mapped in I/O space, has nothing to release.
      if (input.size() >= host::DisplayClient::kPublicRangesLength)
        for (size_t at = 0; at < host::DisplayClient::kPublicRangesLength; at += sizeof(VIDEO_PUBLIC_ACCESS_RANGES)) {
          const auto record = record_at<VIDEO_PUBLIC_ACCESS_RANGES>(input, at);
          if (record.VirtualAddress != nullptr && record.MappedInIoSpace == 0)
            releases.push_back({record.VirtualAddress, nullptr});
        }
      break;
    default:
      break;
  }
  return releases;
}

std::string address_text(const void *address, HANDLE process) {
  return hex(reinterpret_cast<uintptr_t>(address)) +
         (process ? " in process " + hex(reinterpret_cast<uintptr_t>(process)) : std::string());
}

}  // namespace

void check_addresses_to_release(const Machine &m, size_t board, ULONG code, const std::vector<uint8_t> &input) {
  const int slot = m.adapters()[board].slot;
  std::vector<const host::Mapping *> open;
  for (const host::Mapping *mapping : m.client_mappings())
    if (mapping->slot == slot) open.push_back(mapping);
  std::string listed;
  for (const host::Mapping *mapping : open) listed += " " + address_text(mapping->virt, mapping->process);
  const std::string what = host::request_name(code) + " on board " + std::to_string(board) + ": ";
  const std::string mapped = listed.empty() ? "nothing is mapped on that board"
                                            : "the board has mapped" + listed;
  std::vector<const host::Mapping *> released;
  for (const Release &r : releases_in(code, input)) {
    const auto it = std::find_if(open.begin(), open.end(), [&](const host::Mapping *mapping) {
      return mapping->virt == r.address && mapping->process == r.process;
    });
    if (it == open.end())
      throw InputError(what + address_text(r.address, r.process) + " was not mapped in this run; " + mapped);
    if (std::find(released.begin(), released.end(), *it) != released.end())
      throw InputError(what + address_text(r.address, r.process) + " is named twice");
    released.push_back(*it);
  }
}

}  // namespace torvic::sim
