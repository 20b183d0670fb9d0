// SPDX-License-Identifier: MIT
// The driver's callbacks and module-wide state.
#pragma once

#include "miniport/board_registers.h"
#include "miniport/device_extension.h"
#include "miniport/video_port.h"

extern "C" {

// ---- Module-wide state, shared by all boards ---------------------------------------
extern ULONG num_boards;             // boards found so far
extern PHW_DEVICE_EXTENSION *pchain;  // link field of the last board found
extern ULONG pci_slot_number;        // first slot the next scan examines
extern ULONG all_ones;               // written into a base address register to size it
extern ULONG memory_type;            // PCI dword 0x2C of the last board examined

// ---- Callbacks ------------------------------------------------------------------------
VP_STATUS NTAPI Torvic_FindAdapter(PVOID HwDeviceExtension, PVOID HwContext, PWSTR ArgumentString,
                                   PVIDEO_PORT_CONFIG_INFO ConfigInfo, PUCHAR Again);
BOOLEAN NTAPI Torvic_Initialize(PVOID HwDeviceExtension);
BOOLEAN NTAPI Torvic_StartIO(PVOID HwDeviceExtension, PVIDEO_REQUEST_PACKET RequestPacket);
BOOLEAN NTAPI Torvic_ResetHw(PVOID HwDeviceExtension, ULONG Columns, ULONG Rows);

}  // extern "C"
