// SPDX-License-Identifier: MIT
// The display client (display_client.h): video requests with their records
// packed and unpacked.
#include "host/display/display_client.h"

#include <algorithm>

namespace torvic::host {

ULONG DisplayClient::num_modes() {
  const auto count = request(IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES, {}, sizeof(VIDEO_NUM_MODES));
  return count.status == NO_ERROR ? record_at<VIDEO_NUM_MODES>(count.output).NumModes : 0;
}

std::vector<VIDEO_MODE_INFORMATION> DisplayClient::modes() {
  const ULONG num = num_modes();
  if (num == 0) return {};
  const auto list = request(IOCTL_VIDEO_QUERY_AVAIL_MODES, {},
                            num * static_cast<ULONG>(sizeof(VIDEO_MODE_INFORMATION)));
  std::vector<VIDEO_MODE_INFORMATION> modes;
  if (list.status != NO_ERROR) return modes;
  for (ULONG i = 0; i < num; i++)
    modes.push_back(record_at<VIDEO_MODE_INFORMATION>(list.output, i * sizeof(VIDEO_MODE_INFORMATION)));
  return modes;
}

std::optional<VIDEO_MODE_INFORMATION> DisplayClient::current_mode() {
  const auto r = request(IOCTL_VIDEO_QUERY_CURRENT_MODE, {}, sizeof(VIDEO_MODE_INFORMATION));
  if (r.status != NO_ERROR) return std::nullopt;
  return record_at<VIDEO_MODE_INFORMATION>(r.output);
}

VP_STATUS DisplayClient::set_mode(ULONG index) {
  VIDEO_MODE mode{index};
  return request(IOCTL_VIDEO_SET_CURRENT_MODE, bytes_of(mode)).status;
}

VP_STATUS DisplayClient::set_palette(USHORT first, const std::vector<VIDEO_CLUTDATA> &entries) {
  std::vector<uint8_t> input(4 + 4 * entries.size());
  const auto count = static_cast<USHORT>(entries.size());
  memcpy(input.data(), &count, 2);
  memcpy(input.data() + 2, &first, 2);
  if (!entries.empty()) memcpy(input.data() + 4, entries.data(), 4 * entries.size());
  return request(IOCTL_VIDEO_SET_COLOR_REGISTERS, input).status;
}

VP_STATUS DisplayClient::reset_device() { return request(IOCTL_VIDEO_RESET_DEVICE).status; }

ULONG DisplayClient::num_boards() {
  const auto r = request(IOCTL_TORVIC_QUERY_NUM_BOARDS, {}, sizeof(ULONG));
  return r.status == NO_ERROR ? record_at<ULONG>(r.output) : 0;
}

DisplayClient::VideoMemory DisplayClient::map_video_memory(void *requested) {
  VIDEO_MEMORY in{requested};
  const auto r = request(IOCTL_VIDEO_MAP_VIDEO_MEMORY, bytes_of(in), sizeof(VIDEO_MEMORY_INFORMATION));
  const auto info = record_at<VIDEO_MEMORY_INFORMATION>(r.output);
  VideoMemory v;
  v.status = r.status;
  v.ram = static_cast<uint8_t *>(info.VideoRamBase);
  v.ram_length = info.VideoRamLength;
  v.frame = static_cast<uint8_t *>(info.FrameBufferBase);
  v.frame_length = info.FrameBufferLength;
  return v;
}

bool DisplayClient::frame_fits(const VideoMemory &memory, const VIDEO_MODE_INFORMATION &mode) const {
  if (memory.status != NO_ERROR) return false;
  // Every row is written stride bytes after the one before; the last ends
  // where its pixels end, or at its stride, whichever is further.
  const uint64_t stride = mode.ScreenStride, height = mode.VisScreenHeight;
  const uint64_t row = uint64_t(mode.VisScreenWidth) * mode.BitsPerPlane / 8;
  const uint64_t bytes = height == 0 ? 0 : std::max(stride * height, stride * (height - 1) + row);
  if (bytes > memory.frame_length) return false;
  if (bytes == 0) return true;  // nothing to draw
  const auto frame = reinterpret_cast<uintptr_t>(memory.frame);
  for (const Mapping *m : machine_.client_mappings()) {
    const auto start = reinterpret_cast<uintptr_t>(m->virt);
    if (frame >= start && frame - start <= m->view_length && bytes <= m->view_length - (frame - start))
      return true;
  }
  return false;
}

VP_STATUS DisplayClient::unmap_video_memory(void *address) {
  VIDEO_MEMORY in{address};
  return request(IOCTL_VIDEO_UNMAP_VIDEO_MEMORY, bytes_of(in)).status;
}

DisplayClient::PublicRanges DisplayClient::query_public_ranges() {
  const auto r = request(IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES, {}, kPublicRangesLength);
  PublicRanges p;
  p.status = r.status;
  p.bytes = r.output;
  for (size_t i = 0; i < kNumBars; i++)
    p.records.push_back(
        record_at<VIDEO_PUBLIC_ACCESS_RANGES>(r.output, i * sizeof(VIDEO_PUBLIC_ACCESS_RANGES)));
  return p;
}

VP_STATUS DisplayClient::free_public_ranges(const std::vector<uint8_t> &bytes) {
  return request(IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES, bytes).status;
}

DisplayClient::SharedView DisplayClient::share_video_memory(HANDLE process, ULONG offset,
                                                            ULONG size) {
  VIDEO_SHARE_MEMORY in{process, offset, size, nullptr};
  const auto r = request(IOCTL_VIDEO_SHARE_VIDEO_MEMORY, bytes_of(in),
                         sizeof(VIDEO_SHARE_MEMORY_INFORMATION));
  SharedView v;
  v.status = r.status;
  v.info = record_at<VIDEO_SHARE_MEMORY_INFORMATION>(r.output);
  return v;
}

VP_STATUS DisplayClient::unshare_video_memory(HANDLE process, void *address) {
  VIDEO_SHARE_MEMORY in{process, 0, 0, address};
  return request(IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY, bytes_of(in)).status;
}

}  // namespace torvic::host
