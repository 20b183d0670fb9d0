// SPDX-License-Identifier: MIT
// Mappings of video memory and of the board's public register ranges for the
// display driver, and views of video memory for other processes. The driver
// keeps no record of them: the caller hands the addresses back to release
// them.
#include "requests/request_handlers.h"

namespace {

constexpr ULONG PUBLIC_ACCESS_RANGES_SIZE =
    TORVIC_NUM_ACCESS_RANGES * record_size<VIDEO_PUBLIC_ACCESS_RANGES>;

// Every field of these replies is written; they have no padding to clear.
static_assert(sizeof(VIDEO_PUBLIC_ACCESS_RANGES) ==
                  offsetof(VIDEO_PUBLIC_ACCESS_RANGES, VirtualAddress) + sizeof(PVOID),
              "public access range record without padding");
static_assert(sizeof(VIDEO_SHARE_MEMORY_INFORMATION) ==
                  offsetof(VIDEO_SHARE_MEMORY_INFORMATION, VirtualAddress) + sizeof(PVOID),
              "shared view record without padding");

// Where the visible frame of the board's current mode begins in video memory.
TORVIC_PAGEABLE ULONG Torvic_current_start_offset(PHW_DEVICE_EXTENSION extension) {
  const MODE_ENTRY *entry = Torvic_current_mode_entry(extension);
  return entry != nullptr ? Torvic_start_offset(&entry->info) : 0;
}

// Releases one public-range record's mapping; a range mapped in I/O space
// has nothing to release.
TORVIC_PAGEABLE VP_STATUS Torvic_release_public_range(PHW_DEVICE_EXTENSION extension,
                                                      const VIDEO_PUBLIC_ACCESS_RANGES &record) {
  if (record.VirtualAddress == nullptr || record.MappedInIoSpace != 0) return NO_ERROR;
  return VideoPortUnmapMemory(extension, record.VirtualAddress, nullptr);
}

}  // namespace

extern "C" TORVIC_PAGEABLE VOID Torvic_map_video_memory(PHW_DEVICE_EXTENSION extension,
                                                        PVIDEO_REQUEST_PACKET request) {
  request->StatusBlock->Information = record_size<VIDEO_MEMORY_INFORMATION>;
  if (!Torvic_buffers_fit(request, record_size<VIDEO_MEMORY>,
                          record_size<VIDEO_MEMORY_INFORMATION>))
    return;

  const VIDEO_MEMORY *memory = static_cast<const VIDEO_MEMORY *>(request->InputBuffer);
  PVOID requested = memory->RequestedVirtualAddress;

  // The reply overlays the request: clear all of it, padding included, only
  // once the request has been read.
  PVIDEO_MEMORY_INFORMATION info = static_cast<PVIDEO_MEMORY_INFORMATION>(request->OutputBuffer);
  VideoPortZeroMemory(info, record_size<VIDEO_MEMORY_INFORMATION>);
  info->VideoRamBase = requested;

  const ULONG memory_size = Torvic_memory_size(extension);
  ULONG length = memory_size;
  ULONG in_io_space = 0;
  const VP_STATUS status =
      VideoPortMapMemory(extension, extension->access_ranges[RANGE_FRAME_BUFFER].RangeStart,
                         &length, &in_io_space, &info->VideoRamBase);

  // The platform may round the mapping up; the display driver is told the
  // memory the board has.
  const ULONG offset = Torvic_current_start_offset(extension);
  info->VideoRamLength = memory_size;
  info->FrameBufferBase =
      reinterpret_cast<PVOID>(reinterpret_cast<ULONG_PTR>(info->VideoRamBase) + offset);
  info->FrameBufferLength = memory_size - offset;
  request->StatusBlock->Status = status;
}

extern "C" TORVIC_PAGEABLE VOID Torvic_unmap_video_memory(PHW_DEVICE_EXTENSION extension,
                                                          PVIDEO_REQUEST_PACKET request) {
  if (!Torvic_buffers_fit(request, record_size<VIDEO_MEMORY>, 0)) return;

  PVOID address = static_cast<const VIDEO_MEMORY *>(request->InputBuffer)->RequestedVirtualAddress;
  request->StatusBlock->Status = VideoPortUnmapMemory(extension, address, nullptr);
}

// Maps every range marked visible, in order. When one cannot be mapped, the
// ranges mapped before it are released again: the system hands a failed
// request's reply to nobody, so the caller could never release them itself.
extern "C" TORVIC_PAGEABLE VOID Torvic_query_public_access_ranges(
    PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request) {
  request->StatusBlock->Information = PUBLIC_ACCESS_RANGES_SIZE;
  if (!Torvic_buffers_fit(request, 0, PUBLIC_ACCESS_RANGES_SIZE)) return;

  PVIDEO_PUBLIC_ACCESS_RANGES records =
      static_cast<PVIDEO_PUBLIC_ACCESS_RANGES>(request->OutputBuffer);
  VP_STATUS status = NO_ERROR;
  for (ULONG i = 0; i < TORVIC_NUM_ACCESS_RANGES; i++) {
    const VIDEO_ACCESS_RANGE &range = extension->access_ranges[i];
    VIDEO_PUBLIC_ACCESS_RANGES &record = records[i];

    record.VirtualAddress = nullptr;
    if (status == NO_ERROR && range.RangeVisible) {
      record.InIoSpace = range.RangeInIoSpace;
      record.MappedInIoSpace = range.RangeInIoSpace;
      ULONG length = range.RangeLength;
      const VP_STATUS mapped = VideoPortMapMemory(extension, range.RangeStart, &length,
                                                  &record.MappedInIoSpace, &record.VirtualAddress);
      if (mapped != NO_ERROR) {
        status = mapped;
        record.VirtualAddress = nullptr;
      }
    } else {
      // Nothing mapped here: the record says so in every field.
      record.InIoSpace = 0;
      record.MappedInIoSpace = 0;
    }
  }

  if (status != NO_ERROR) {
    for (ULONG i = 0; i < TORVIC_NUM_ACCESS_RANGES; i++) {
      (void)Torvic_release_public_range(extension, records[i]);
      records[i].InIoSpace = 0;
      records[i].MappedInIoSpace = 0;
      records[i].VirtualAddress = nullptr;
    }
  }
  request->StatusBlock->Status = status;
}

// Releases the memory-space mappings of a public-range array.
extern "C" TORVIC_PAGEABLE VOID Torvic_free_public_access_ranges(
    PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request) {
  if (!Torvic_buffers_fit(request, PUBLIC_ACCESS_RANGES_SIZE, 0)) return;

  const VIDEO_PUBLIC_ACCESS_RANGES *records =
      static_cast<const VIDEO_PUBLIC_ACCESS_RANGES *>(request->InputBuffer);
  VP_STATUS status = NO_ERROR;
  for (ULONG i = 0; i < TORVIC_NUM_ACCESS_RANGES; i++) {
    const VP_STATUS released = Torvic_release_public_range(extension, records[i]);
    if (released != NO_ERROR) status = released;
  }
  request->StatusBlock->Status = status;
}

// Maps video memory into the process whose handle the request carries. The
// view always starts at the beginning of video memory; the offset asked for
// is checked and handed back for the caller to apply.
extern "C" TORVIC_PAGEABLE VOID Torvic_share_video_memory(PHW_DEVICE_EXTENSION extension,
                                                          PVIDEO_REQUEST_PACKET request) {
  if (!Torvic_buffers_fit(request, record_size<VIDEO_SHARE_MEMORY>,
                          record_size<VIDEO_SHARE_MEMORY_INFORMATION>))
    return;

  const VIDEO_SHARE_MEMORY *share = static_cast<const VIDEO_SHARE_MEMORY *>(request->InputBuffer);
  const HANDLE process = share->ProcessHandle;
  const ULONG view_offset = share->ViewOffset;
  ULONG view_size = share->ViewSize;

  // Written so that neither test can wrap: the view must lie inside video
  // memory, and may end exactly at its end. A view of nothing is no view.
  const ULONG memory_size = Torvic_memory_size(extension);
  if (view_size == 0 || view_offset > memory_size || view_size > memory_size - view_offset) {
    request->StatusBlock->Status = ERROR_INVALID_PARAMETER;
    return;
  }

  request->StatusBlock->Information = record_size<VIDEO_SHARE_MEMORY_INFORMATION>;

  // The platform takes the target process in the address argument.
  PVOID address = process;
  ULONG in_io_space = 0;
  const VP_STATUS status =
      VideoPortMapMemory(extension, extension->access_ranges[RANGE_FRAME_BUFFER].RangeStart,
                         &view_size, &in_io_space, &address);

  PVIDEO_SHARE_MEMORY_INFORMATION info =
      static_cast<PVIDEO_SHARE_MEMORY_INFORMATION>(request->OutputBuffer);
  info->SharedViewOffset = view_offset;
  info->SharedViewSize = view_size;
  info->VirtualAddress = address;
  request->StatusBlock->Status = status;
}

extern "C" TORVIC_PAGEABLE VOID Torvic_unshare_video_memory(PHW_DEVICE_EXTENSION extension,
                                                            PVIDEO_REQUEST_PACKET request) {
  if (!Torvic_buffers_fit(request, record_size<VIDEO_SHARE_MEMORY>, 0)) return;

  const VIDEO_SHARE_MEMORY *share = static_cast<const VIDEO_SHARE_MEMORY *>(request->InputBuffer);
  request->StatusBlock->Status =
      VideoPortUnmapMemory(extension, share->RequestedVirtualAddress, share->ProcessHandle);
}
