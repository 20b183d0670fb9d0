// SPDX-License-Identifier: MIT
// The display driver's questions about the mode catalogue: how many modes,
// which ones, and which one is set.
#include "requests/request_handlers.h"

namespace {

// Fills one mode record for entry `index` of the board's table, as this
// board sees it: the index in the whole table, the lines of video memory the
// display driver may draw in below the visible frame's start, and the DAC
// that will show them.
TORVIC_PAGEABLE VOID Torvic_build_mode_record(PHW_DEVICE_EXTENSION extension, ULONG index,
                                              PVIDEO_MODE_INFORMATION record) {
  const VIDEO_MODE_INFORMATION &mode = extension->mode_table[index].info;
  const ULONG memory_size = Torvic_memory_size(extension);

  *record = mode;
  record->ModeIndex = index;
  record->VideoMemoryBitmapHeight = (memory_size - Torvic_start_offset(&mode)) / mode.ScreenStride;
  if (extension->dac_type == DAC_TYPE_RGB528) record->AttributeFlags |= TORVIC_MODE_RGB528;
}

}  // namespace

// current_mode only ever holds an index checked against the board's own
// table; the check here is a defence, not a case that arises.
extern "C" TORVIC_PAGEABLE const MODE_ENTRY *Torvic_current_mode_entry(
    PHW_DEVICE_EXTENSION extension) {
  if (extension->current_mode >= extension->num_modes) return nullptr;
  return &extension->mode_table[extension->current_mode];
}

extern "C" TORVIC_PAGEABLE VOID Torvic_query_num_avail_modes(PHW_DEVICE_EXTENSION extension,
                                                             PVIDEO_REQUEST_PACKET request) {
  request->StatusBlock->Information = record_size<VIDEO_NUM_MODES>;
  if (!Torvic_buffers_fit(request, 0, record_size<VIDEO_NUM_MODES>)) return;

  PVIDEO_NUM_MODES modes = static_cast<PVIDEO_NUM_MODES>(request->OutputBuffer);
  modes->NumModes = Torvic_available_modes(extension);
  modes->ModeInformationLength = record_size<VIDEO_MODE_INFORMATION>;
  request->StatusBlock->Status = NO_ERROR;
}

extern "C" TORVIC_PAGEABLE VOID Torvic_query_avail_modes(PHW_DEVICE_EXTENSION extension,
                                                         PVIDEO_REQUEST_PACKET request) {
  const ULONG slots = Torvic_available_modes(extension);
  const ULONG length = slots * record_size<VIDEO_MODE_INFORMATION>;
  request->StatusBlock->Information = length;
  if (!Torvic_buffers_fit(request, 0, length)) return;

  // The count of available entries sized the buffer; never write past it,
  // even if the flags and the count were ever to disagree.
  PVIDEO_MODE_INFORMATION records = static_cast<PVIDEO_MODE_INFORMATION>(request->OutputBuffer);
  ULONG filled = 0;
  for (ULONG i = 0; i < extension->num_modes && filled < slots; i++) {
    if (!extension->mode_table[i].available) continue;
    Torvic_build_mode_record(extension, i, &records[filled]);
    filled++;
  }
  request->StatusBlock->Status = NO_ERROR;
}

extern "C" TORVIC_PAGEABLE VOID Torvic_query_current_mode(PHW_DEVICE_EXTENSION extension,
                                                          PVIDEO_REQUEST_PACKET request) {
  request->StatusBlock->Information = record_size<VIDEO_MODE_INFORMATION>;
  if (!Torvic_buffers_fit(request, 0, record_size<VIDEO_MODE_INFORMATION>)) return;

  if (Torvic_current_mode_entry(extension) == nullptr) {
    request->StatusBlock->Status = ERROR_INVALID_PARAMETER;
    return;
  }
  Torvic_build_mode_record(extension, extension->current_mode,
                           static_cast<PVIDEO_MODE_INFORMATION>(request->OutputBuffer));
  request->StatusBlock->Status = NO_ERROR;
}
