// SPDX-License-Identifier: MIT
// Bring-up of a found board: memory size, variant and the hardware
// description.
#pragma once

#include "miniport/torvic.h"

extern "C" {

ULONG Torvic_vram_size(PHW_DEVICE_EXTENSION extension);
ULONG Torvic_dac_type(PHW_DEVICE_EXTENSION extension);
VP_STATUS Torvic_set_registry_parameters(PHW_DEVICE_EXTENSION extension);

}  // extern "C"
