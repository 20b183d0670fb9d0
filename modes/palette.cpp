// Loading runs of palette entries into the DAC.
#include "miniport/register_access.h"
#include "miniport/request_handlers.h"

namespace {

constexpr ULONG PALETTE_ENTRIES = 256;

// The NumEntries/FirstEntry header in front of the colour table, and one
// entry of the table.
constexpr ULONG CLUT_HEADER_SIZE = static_cast<ULONG>(offsetof(VIDEO_CLUT, LookupTable));
constexpr ULONG CLUT_ENTRY_SIZE = static_cast<ULONG>(sizeof(VIDEO_CLUT::LookupTable[0]));

}  // namespace

// The write index is set again for every entry rather than trusting the DAC
// to advance it after the third component.
extern "C" TORVIC_PAGEABLE VOID Torvic_set_colors(PHW_DEVICE_EXTENSION extension, ULONG first,
                                                  ULONG count, PVIDEO_CLUTDATA entries) {
  for (ULONG i = first; i < first + count; i++) {
    const VIDEO_CLUTDATA &entry = entries[i - first];
    Torvic_write_dac_port(extension, DAC_WR_INDEX, static_cast<UCHAR>(i));
    Torvic_write_dac_port(extension, DAC_DATA, entry.Red);
    Torvic_write_dac_port(extension, DAC_DATA, entry.Green);
    Torvic_write_dac_port(extension, DAC_DATA, entry.Blue);
  }
}

extern "C" TORVIC_PAGEABLE VOID Torvic_set_color_registers(PHW_DEVICE_EXTENSION extension,
                                                           PVIDEO_REQUEST_PACKET request) {
  const ULONG input_length = request->InputBufferLength;
  if (input_length < CLUT_HEADER_SIZE) {
    request->StatusBlock->Status = ERROR_INSUFFICIENT_BUFFER;
    return;
  }

  PVIDEO_CLUT clut = static_cast<PVIDEO_CLUT>(request->InputBuffer);
  const ULONG num_entries = clut->NumEntries;
  const ULONG first_entry = clut->FirstEntry;

  // At most 65535 entries of 4 bytes: the table's length fits 32 bits.
  if (input_length < CLUT_HEADER_SIZE + num_entries * CLUT_ENTRY_SIZE) {
    request->StatusBlock->Status = ERROR_INSUFFICIENT_BUFFER;
    return;
  }
  if (num_entries == 0 || first_entry >= PALETTE_ENTRIES ||
      first_entry + num_entries > PALETTE_ENTRIES) {
    request->StatusBlock->Status = ERROR_INVALID_PARAMETER;
    return;
  }

  Torvic_set_colors(extension, first_entry, num_entries, &clut->LookupTable[0].RgbArray);
  request->StatusBlock->Status = NO_ERROR;
}
