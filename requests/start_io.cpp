// SPDX-License-Identifier: MIT
// Dispatch of video requests to their handlers, and the driver's two
// private requests.
#include "requests/request_handlers.h"

namespace {

// The longest single stall the video port allows; a caller that wants to
// wait longer asks again.
constexpr ULONG MAX_STALL_MICROSECONDS = 50;

}  // namespace

extern "C" TORVIC_PAGEABLE VOID Torvic_stall(PHW_DEVICE_EXTENSION extension,
                                             PVIDEO_REQUEST_PACKET request) {
  (void)extension;
  if (!Torvic_buffers_fit(request, record_size<ULONG>, 0)) return;

  ULONG microseconds = *static_cast<const ULONG *>(request->InputBuffer);
  if (microseconds > MAX_STALL_MICROSECONDS) microseconds = MAX_STALL_MICROSECONDS;
  if (microseconds != 0) VideoPortStallExecution(microseconds);
  request->StatusBlock->Status = NO_ERROR;
}

extern "C" TORVIC_PAGEABLE VOID Torvic_query_num_boards(PHW_DEVICE_EXTENSION extension,
                                                        PVIDEO_REQUEST_PACKET request) {
  (void)extension;
  request->StatusBlock->Information = record_size<ULONG>;
  if (!Torvic_buffers_fit(request, 0, record_size<ULONG>)) return;

  *static_cast<PULONG>(request->OutputBuffer) = num_boards;
  request->StatusBlock->Status = NO_ERROR;
}

extern "C" TORVIC_PAGEABLE BOOLEAN NTAPI Torvic_StartIO(PVOID HwDeviceExtension,
                                                        PVIDEO_REQUEST_PACKET RequestPacket) {
  PHW_DEVICE_EXTENSION extension = static_cast<PHW_DEVICE_EXTENSION>(HwDeviceExtension);

  switch (RequestPacket->IoControlCode) {
    case IOCTL_VIDEO_QUERY_AVAIL_MODES:
      Torvic_query_avail_modes(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES:
      Torvic_query_num_avail_modes(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_QUERY_CURRENT_MODE:
      Torvic_query_current_mode(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_SET_CURRENT_MODE:
      Torvic_set_current_mode(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_RESET_DEVICE:
      Torvic_reset_device(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_SET_COLOR_REGISTERS:
      Torvic_set_color_registers(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_MAP_VIDEO_MEMORY:
      Torvic_map_video_memory(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_UNMAP_VIDEO_MEMORY:
      Torvic_unmap_video_memory(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES:
      Torvic_query_public_access_ranges(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES:
      Torvic_free_public_access_ranges(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_SHARE_VIDEO_MEMORY:
      Torvic_share_video_memory(extension, RequestPacket);
      break;
    case IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY:
      Torvic_unshare_video_memory(extension, RequestPacket);
      break;
    case IOCTL_TORVIC_STALL:
      Torvic_stall(extension, RequestPacket);
      break;
    case IOCTL_TORVIC_QUERY_NUM_BOARDS:
      Torvic_query_num_boards(extension, RequestPacket);
      break;
    default:
      // Pointer, cursor and every other request this board does not serve.
      RequestPacket->StatusBlock->Status = ERROR_INVALID_FUNCTION;
      break;
  }
  return TRUE;
}
