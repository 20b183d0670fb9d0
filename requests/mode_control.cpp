// SPDX-License-Identifier: MIT
// The display driver's requests that change what the board shows: setting a
// mode of the catalogue, loading palette entries and going back to VGA.
#include "requests/request_handlers.h"

namespace {

constexpr ULONG PALETTE_ENTRIES = 256;

// The NumEntries/FirstEntry header in front of the colour table, and one
// entry of the table.
constexpr ULONG CLUT_HEADER_SIZE = static_cast<ULONG>(offsetof(VIDEO_CLUT, LookupTable));
constexpr ULONG CLUT_ENTRY_SIZE = static_cast<ULONG>(sizeof(VIDEO_CLUT::LookupTable[0]));

}  // namespace

extern "C" TORVIC_PAGEABLE VOID Torvic_set_current_mode(PHW_DEVICE_EXTENSION extension,
                                                        PVIDEO_REQUEST_PACKET request) {
  if (!Torvic_buffers_fit(request, record_size<VIDEO_MODE>, 0)) return;

  const ULONG index = static_cast<const VIDEO_MODE *>(request->InputBuffer)->RequestedMode;
  if (index >= extension->num_modes || !extension->mode_table[index].available) {
    request->StatusBlock->Status = ERROR_INVALID_PARAMETER;
    return;
  }

  extension->current_mode = index;
  Torvic_set_mode(extension, &extension->mode_table[index]);
  request->StatusBlock->Status = NO_ERROR;
}

extern "C" TORVIC_PAGEABLE VOID Torvic_set_color_registers(PHW_DEVICE_EXTENSION extension,
                                                           PVIDEO_REQUEST_PACKET request) {
  if (!Torvic_buffers_fit(request, CLUT_HEADER_SIZE, 0)) return;

  PVIDEO_CLUT clut = static_cast<PVIDEO_CLUT>(request->InputBuffer);
  const ULONG num_entries = clut->NumEntries;
  const ULONG first_entry = clut->FirstEntry;

  // At most 65535 entries of 4 bytes: the table's length fits 32 bits.
  if (!Torvic_buffers_fit(request, CLUT_HEADER_SIZE + num_entries * CLUT_ENTRY_SIZE, 0)) return;
  if (num_entries == 0 || first_entry >= PALETTE_ENTRIES ||
      first_entry + num_entries > PALETTE_ENTRIES) {
    request->StatusBlock->Status = ERROR_INVALID_PARAMETER;
    return;
  }

  Torvic_set_colors(extension, first_entry, num_entries, &clut->LookupTable[0].RgbArray);
  request->StatusBlock->Status = NO_ERROR;
}

extern "C" TORVIC_PAGEABLE VOID Torvic_reset_device(PHW_DEVICE_EXTENSION extension,
                                                    PVIDEO_REQUEST_PACKET request) {
  // The registers are back in VGA order either way; a BIOS that did not set
  // text mode leaves the display without one, and the display driver must
  // hear of it.
  request->StatusBlock->Status = Torvic_set_vga_mode(extension);
}
