// SPDX-License-Identifier: MIT
// The find-adapter callback: one board per call, chained and counted.
#include "discovery/discovery.h"

extern "C" {
ULONG num_boards;
PHW_DEVICE_EXTENSION *pchain;
}

extern "C" TORVIC_PAGEABLE BOOLEAN Torvic_map_access_ranges(PHW_DEVICE_EXTENSION extension) {
  const VIDEO_ACCESS_RANGE *ranges = extension->access_ranges;

  extension->reg_base = static_cast<PUCHAR>(
      VideoPortGetDeviceBase(extension, ranges[RANGE_REGISTERS].RangeStart,
                             ranges[RANGE_REGISTERS].RangeLength,
                             ranges[RANGE_REGISTERS].RangeInIoSpace));
  if (extension->reg_base == nullptr) return FALSE;

  extension->io_base = static_cast<PUCHAR>(VideoPortGetDeviceBase(
      extension, ranges[RANGE_IO].RangeStart, ranges[RANGE_IO].RangeLength,
      ranges[RANGE_IO].RangeInIoSpace));
  if (extension->io_base == nullptr) return FALSE;

  // The whole aperture the board decodes; the installed memory size is only
  // known after initialisation.
  extension->fb_base = VideoPortGetDeviceBase(extension, ranges[RANGE_FRAME_BUFFER].RangeStart,
                                              ranges[RANGE_FRAME_BUFFER].RangeLength,
                                              ranges[RANGE_FRAME_BUFFER].RangeInIoSpace);
  return extension->fb_base != nullptr;
}

// Gives back the mappings of a board that is not used, the last made first.
extern "C" TORVIC_PAGEABLE VOID Torvic_unmap_access_ranges(PHW_DEVICE_EXTENSION extension) {
  if (extension->fb_base != nullptr) VideoPortFreeDeviceBase(extension, extension->fb_base);
  if (extension->io_base != nullptr) VideoPortFreeDeviceBase(extension, extension->io_base);
  if (extension->reg_base != nullptr) VideoPortFreeDeviceBase(extension, extension->reg_base);
  extension->fb_base = nullptr;
  extension->io_base = nullptr;
  extension->reg_base = nullptr;
}

extern "C" TORVIC_PAGEABLE VP_STATUS NTAPI Torvic_FindAdapter(PVOID HwDeviceExtension,
                                                              PVOID HwContext,
                                                              PWSTR /* ArgumentString */,
                                                              PVIDEO_PORT_CONFIG_INFO ConfigInfo,
                                                              PUCHAR Again) {
  (void)HwContext;
  PHW_DEVICE_EXTENSION extension = static_cast<PHW_DEVICE_EXTENSION>(HwDeviceExtension);

  if (ConfigInfo->Length < TORVIC_CONFIG_INFO_FORM_SIZE) return ERROR_INVALID_PARAMETER;

  if (!Torvic_get_access_ranges(extension)) return ERROR_DEV_NOT_EXIST;
  extension->variant_dword = memory_type;  // the board just claimed

  // A board the driver cannot reach is not used: what was mapped of it is
  // given back, and it goes back to decoding what it decoded before, so
  // that it holds no address once the video port lets its claim go with
  // this failed call.
  if (!Torvic_map_access_ranges(extension)) {
    Torvic_unmap_access_ranges(extension);
    Torvic_leave_as_found(extension);
    return ERROR_INVALID_PARAMETER;
  }

  // No VGA emulation and no saved hardware state.
  ConfigInfo->VdmPhysicalVideoMemoryAddress.LowPart = 0;
  ConfigInfo->VdmPhysicalVideoMemoryAddress.HighPart = 0;
  ConfigInfo->VdmPhysicalVideoMemoryLength = 0;
  ConfigInfo->NumEmulatorAccessEntries = 0;
  ConfigInfo->EmulatorAccessEntries = nullptr;
  ConfigInfo->EmulatorAccessEntriesContext = 0;
  ConfigInfo->HardwareStateSize = 0;

  if (pchain != nullptr) *pchain = extension;
  pchain = &extension->next_extension;
  num_boards++;

  *Again = TRUE;
  return NO_ERROR;
}
