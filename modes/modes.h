// SPDX-License-Identifier: MIT
// Mode tables, mode programming, the DAC, the memory windows and the return
// to VGA.
#pragma once

#include "miniport/torvic.h"
#include "modes/mode_table.h"

extern "C" {

VOID Torvic_init_mode_info(PHW_DEVICE_EXTENSION extension);
// Entries of the board's table still available.
ULONG Torvic_available_modes(PHW_DEVICE_EXTENSION extension);
// Byte offset of the visible frame in video memory: a frame larger than
// 4 MiB starts so that the 4 MiB boundary falls on the start of a scan line.
ULONG Torvic_start_offset(const VIDEO_MODE_INFORMATION *mode);

// DAC indexed-register protocol: open a sequence at an index, move the index
// within the sequence, write data at the index (which then advances).
VOID Torvic_dac_open_sequence(PHW_DEVICE_EXTENSION extension, UCHAR first_index);
VOID Torvic_dac_set_index(PHW_DEVICE_EXTENSION extension, UCHAR index);
VOID Torvic_dac_write_data(PHW_DEVICE_EXTENSION extension, UCHAR data);
VOID Torvic_set_mclock(PHW_DEVICE_EXTENSION extension, ULONG board_clock);
// Resets CONFIG2, which clears the three window enables and the other bits
// outside CONFIG2_RESET_KEEP and sets CONFIG2_RESET_SET, then programs memory
// window 0 and the two XY windows from the access ranges as they stand and
// switches them on again. With board_clock, the memory clock is set to the
// board's own while the windows are off, as initialisation does it.
VOID Torvic_reset_windows(PHW_DEVICE_EXTENSION extension, BOOLEAN board_clock);
VOID Torvic_set_mode(PHW_DEVICE_EXTENSION extension, MODE_ENTRY *mode);
VOID Torvic_set_colors(PHW_DEVICE_EXTENSION extension, ULONG first, ULONG count,
                       PVIDEO_CLUTDATA entries);
VOID Torvic_restore_vga_registers(PHW_DEVICE_EXTENSION extension);
VP_STATUS Torvic_set_vga_mode(PHW_DEVICE_EXTENSION extension);

}  // extern "C"
