// SPDX-License-Identifier: MIT
// Loading runs of palette entries into the DAC.
#include "miniport/register_access.h"
#include "modes/modes.h"

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
