// Which mode table the boards use, and which of its modes fit their memory.
#include "miniport/torvic.h"

extern "C" {
MODE_ENTRY *display_mode;
ULONG num_display_modes;
ULONG num_available_modes;
}

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

// Selects the table for the board's variant and withdraws every mode whose
// frame does not fit the board's memory. The tables are shared by all boards,
// so a mode withdrawn for one board stays withdrawn for every board. The
// board initialised last picks the table every board then uses, and boards of
// different variants pick different tables: both tables are fitted to every
// board, so that the table in use never offers a mode some board's memory
// cannot hold.
extern "C" TORVIC_PAGEABLE VOID Torvic_init_mode_info(PHW_DEVICE_EXTENSION extension) {
  if (extension->dac_type == DAC_TYPE_DRAM) {
    display_mode = display_mode_dram;
    num_display_modes = num_display_modes_dram;
  } else {
    display_mode = display_mode_vram;
    num_display_modes = num_display_modes_vram;
  }

  const ULONG memory_size = extension->access_ranges[RANGE_FRAME_BUFFER].RangeLength;
  Torvic_fit_table(display_mode_vram, num_display_modes_vram, memory_size);
  Torvic_fit_table(display_mode_dram, num_display_modes_dram, memory_size);

  num_available_modes = 0;
  for (ULONG i = 0; i < num_display_modes; i++)
    if (display_mode[i].available) num_available_modes++;
}
