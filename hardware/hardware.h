// Bring-up of a found board: memory size, variant, memory windows and the
// hardware description.
#pragma once

#include "miniport/torvic.h"

extern "C" {

ULONG Torvic_vram_size(PHW_DEVICE_EXTENSION extension);
ULONG Torvic_dac_type(PHW_DEVICE_EXTENSION extension);
VP_STATUS Torvic_set_registry_parameters(PHW_DEVICE_EXTENSION extension);
// Resets CONFIG2, which clears the three window enables and the other bits
// outside CONFIG2_RESET_KEEP and sets CONFIG2_RESET_SET, then programs memory
// window 0 and the two XY windows from the access ranges as they stand and
// switches them on again. With board_clock, the memory clock is set to the
// board's own while the windows are off, as initialisation does it.
VOID Torvic_reset_windows(PHW_DEVICE_EXTENSION extension, BOOLEAN board_clock);

}  // extern "C"
