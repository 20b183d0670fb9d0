// The driver's routines and module-wide state.
#pragma once

#include "miniport/board_registers.h"
#include "miniport/device_extension.h"
#include "miniport/video_port.h"
#include "modes/mode_table.h"

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

// ---- Discovery -----------------------------------------------------------------------
BOOLEAN Torvic_get_access_ranges(PHW_DEVICE_EXTENSION extension);
BOOLEAN Torvic_get_pci_ranges(PHW_DEVICE_EXTENSION extension, PVIDEO_ACCESS_RANGE access_ranges,
                              ULONG vendor_id, ULONG device_id, PULONG slot);
BOOLEAN Torvic_map_access_ranges(PHW_DEVICE_EXTENSION extension);
VOID Torvic_unmap_access_ranges(PHW_DEVICE_EXTENSION extension);
// Writes back what discovery changed on the extension's board.
VOID Torvic_leave_as_found(PHW_DEVICE_EXTENSION extension);

// ---- Bring-up ---------------------------------------------------------------------------
ULONG Torvic_vram_size(PHW_DEVICE_EXTENSION extension);
ULONG Torvic_dac_type(PHW_DEVICE_EXTENSION extension);
VP_STATUS Torvic_set_registry_parameters(PHW_DEVICE_EXTENSION extension);
// Clears the three window enables and the other bits outside
// CONFIG2_RESET_KEEP, and sets CONFIG2_RESET_SET; the windows stay off until
// Torvic_enable_mw0, Torvic_enable_xyA and Torvic_enable_xyB open them again.
VOID Torvic_reset_config2(PHW_DEVICE_EXTENSION extension);
VOID Torvic_enable_mw0(PHW_DEVICE_EXTENSION extension);
VOID Torvic_enable_xyA(PHW_DEVICE_EXTENSION extension);
VOID Torvic_enable_xyB(PHW_DEVICE_EXTENSION extension);

// ---- Modes ------------------------------------------------------------------------------
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
VOID Torvic_set_mode(PHW_DEVICE_EXTENSION extension, MODE_ENTRY *mode);
VOID Torvic_set_colors(PHW_DEVICE_EXTENSION extension, ULONG first, ULONG count,
                       PVIDEO_CLUTDATA entries);
VOID Torvic_restore_vga_registers(PHW_DEVICE_EXTENSION extension);
VP_STATUS Torvic_set_vga_mode(PHW_DEVICE_EXTENSION extension);

}  // extern "C"
