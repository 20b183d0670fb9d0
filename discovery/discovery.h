// SPDX-License-Identifier: MIT
// Finding boards on the PCI bus, claiming their resources and mapping them.
#pragma once

#include "miniport/torvic.h"

extern "C" {

BOOLEAN Torvic_get_access_ranges(PHW_DEVICE_EXTENSION extension);
BOOLEAN Torvic_get_pci_ranges(PHW_DEVICE_EXTENSION extension, PVIDEO_ACCESS_RANGE access_ranges,
                              ULONG vendor_id, ULONG device_id, PULONG slot);
BOOLEAN Torvic_map_access_ranges(PHW_DEVICE_EXTENSION extension);
VOID Torvic_unmap_access_ranges(PHW_DEVICE_EXTENSION extension);
// Writes back what discovery changed on the extension's board.
VOID Torvic_leave_as_found(PHW_DEVICE_EXTENSION extension);

}  // extern "C"
