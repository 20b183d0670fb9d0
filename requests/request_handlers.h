// SPDX-License-Identifier: MIT
// The handlers that Torvic_StartIO hands video requests to. Each one checks
// its buffer lengths, does the work and writes its status (and, when it
// returns data, the size of that data) into the request's status block.
#pragma once

#include "miniport/torvic.h"
#include "modes/modes.h"

// Size of a platform record as a request length, which the platform counts
// in 32 bits.
template <typename T>
constexpr ULONG record_size = static_cast<ULONG>(sizeof(T));

// TRUE when the request brings at least `input` bytes and has room for
// `output` bytes of reply. Otherwise the request's status says its buffer is
// too small and the handler stops there; a handler that tells the caller the
// size it needs has set Information before asking.
inline BOOLEAN Torvic_buffers_fit(PVIDEO_REQUEST_PACKET request, ULONG input, ULONG output) {
  if (request->InputBufferLength < input || request->OutputBufferLength < output) {
    request->StatusBlock->Status = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  return TRUE;
}

extern "C" {

// ---- Mode queries ---------------------------------------------------------------------
VOID Torvic_query_avail_modes(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);
VOID Torvic_query_num_avail_modes(PHW_DEVICE_EXTENSION extension,
                                  PVIDEO_REQUEST_PACKET request);
VOID Torvic_query_current_mode(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);

// ---- Mode, palette and reset -------------------------------------------------------------
VOID Torvic_set_current_mode(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);
VOID Torvic_set_color_registers(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);
VOID Torvic_reset_device(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);

// ---- Memory mapping -----------------------------------------------------------------------
VOID Torvic_map_video_memory(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);
VOID Torvic_unmap_video_memory(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);
VOID Torvic_query_public_access_ranges(PHW_DEVICE_EXTENSION extension,
                                       PVIDEO_REQUEST_PACKET request);
VOID Torvic_free_public_access_ranges(PHW_DEVICE_EXTENSION extension,
                                      PVIDEO_REQUEST_PACKET request);
VOID Torvic_share_video_memory(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);
VOID Torvic_unshare_video_memory(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);

// ---- Private requests ---------------------------------------------------------------------
VOID Torvic_stall(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);
VOID Torvic_query_num_boards(PHW_DEVICE_EXTENSION extension, PVIDEO_REQUEST_PACKET request);

// The entry of this board's own table that was last set on it, or null when
// the index lies outside that table.
const MODE_ENTRY *Torvic_current_mode_entry(PHW_DEVICE_EXTENSION extension);

}  // extern "C"
