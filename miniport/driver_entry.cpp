// SPDX-License-Identifier: MIT
// Registration with the video port as a miniport for PCI boards.
#include "miniport/torvic.h"

extern "C" TORVIC_PAGEABLE ULONG NTAPI DriverEntry(PVOID Context1, PVOID Context2) {
  VIDEO_HW_INITIALIZATION_DATA init_data;

  VideoPortZeroMemory(&init_data, TORVIC_HW_INIT_DATA_FORM_SIZE);
  init_data.HwInitDataSize = TORVIC_HW_INIT_DATA_FORM_SIZE;
  init_data.AdapterInterfaceType = PCIBus;
  init_data.HwFindAdapter = Torvic_FindAdapter;
  init_data.HwInitialize = Torvic_Initialize;
  init_data.HwInterrupt = nullptr;  // the board raises no interrupt
  init_data.HwStartIO = Torvic_StartIO;
  init_data.HwDeviceExtensionSize = sizeof(HW_DEVICE_EXTENSION);
  init_data.HwResetHw = Torvic_ResetHw;
  init_data.HwTimer = nullptr;

  return VideoPortInitialize(Context1, Context2, &init_data, nullptr);
}
