// SPDX-License-Identifier: MIT
// Which mode table a board uses, and which of its modes fit the memory of
// the boards that use it.
#include "modes/modes.h"

namespace {

// No scan line may straddle this point of video memory.
constexpr ULONG VIDEO_MEMORY_BANK_SIZE = 0x400000;

}  // namespace

// A frame that reaches past the first 4 MiB is moved up by the part of a line
// that would otherwise cross the boundary, so that the boundary falls on the
// first byte of a line.
extern "C" TORVIC_PAGEABLE ULONG Torvic_start_offset(const VIDEO_MODE_INFORMATION *mode) {
  const ULONG frame = mode->VisScreenHeight * mode->ScreenStride;
  if (frame > VIDEO_MEMORY_BANK_SIZE) return VIDEO_MEMORY_BANK_SIZE % mode->ScreenStride;
  return 0;
}

namespace {

// Withdraws every mode of a table whose frame does not fit memory_size.
TORVIC_PAGEABLE VOID Torvic_fit_table(MODE_ENTRY *table, ULONG count, ULONG memory_size) {
  for (ULONG i = 0; i < count; i++) {
    const VIDEO_MODE_INFORMATION &mode = table[i].info;
    const ULONG need = mode.VisScreenHeight * mode.ScreenStride + Torvic_start_offset(&mode);
    if (need > memory_size) table[i].available = FALSE;
  }
}

}  // namespace

// Gives the board the table of its kind and withdraws every mode of it whose
// frame does not fit the board's memory. A table is shared by all boards of
// its kind, so a mode withdrawn for one of them stays withdrawn for all; a
// board of the other kind has its own table and is not affected.
extern "C" TORVIC_PAGEABLE VOID Torvic_init_mode_info(PHW_DEVICE_EXTENSION extension) {
  if (extension->dac_type == DAC_TYPE_DRAM) {
    extension->mode_table = display_mode_dram;
    extension->num_modes = num_display_modes_dram;
  } else {
    extension->mode_table = display_mode_vram;
    extension->num_modes = num_display_modes_vram;
  }
  Torvic_fit_table(extension->mode_table, extension->num_modes, Torvic_memory_size(extension));
}

extern "C" TORVIC_PAGEABLE ULONG Torvic_available_modes(PHW_DEVICE_EXTENSION extension) {
  ULONG available = 0;
  for (ULONG i = 0; i < extension->num_modes; i++)
    if (extension->mode_table[i].available) available++;
  return available;
}
