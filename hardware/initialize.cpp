// SPDX-License-Identifier: MIT
// First initialisation of a found board: memory size, variant, mode table,
// memory clock, memory windows and the hardware description.
#include "hardware/hardware.h"
#include "miniport/register_access.h"
#include "modes/modes.h"

namespace {

// The variant code is the high half of the board's PCI_SUBSYSTEM dword.
// Codes 0-7 are RGB526 video-RAM boards, 8 and 9 DRAM boards, 10 and 11
// RGB528 video-RAM boards; any other code is taken for a DRAM board.
constexpr ULONG VARIANT_CODE_SHIFT = 16;
constexpr ULONG VARIANT_FIRST_DRAM = 8;
constexpr ULONG VARIANT_FIRST_RGB528 = 10;
constexpr ULONG VARIANT_LAST_RGB528 = 11;

}  // namespace

extern "C" TORVIC_PAGEABLE ULONG Torvic_vram_size(PHW_DEVICE_EXTENSION extension) {
  const ULONG straps = Torvic_read_io(extension, CONFIG1);
  ULONG size = (straps & CONFIG1_STRAP_4MB) ? MEMORY_SIZE_STRAPPED : MEMORY_SIZE_BASE;
  if (straps & CONFIG1_STRAP_DOUBLE) size *= 2;
  return size;
}

// Taken from this board's own variant code: boards of different variants may
// share the machine.
extern "C" TORVIC_PAGEABLE ULONG Torvic_dac_type(PHW_DEVICE_EXTENSION extension) {
  const ULONG code = extension->variant_dword >> VARIANT_CODE_SHIFT;
  if (code == VARIANT_FIRST_RGB528 || code == VARIANT_LAST_RGB528) return DAC_TYPE_RGB528;
  if (code < VARIANT_FIRST_DRAM) return DAC_TYPE_RGB526;
  return DAC_TYPE_DRAM;
}

extern "C" TORVIC_PAGEABLE BOOLEAN NTAPI Torvic_Initialize(PVOID HwDeviceExtension) {
  PHW_DEVICE_EXTENSION extension = static_cast<PHW_DEVICE_EXTENSION>(HwDeviceExtension);

  extension->crtc_control = 0;  // no mode programmed yet
  // Never more than the aperture claimed: no clear, fit or mapping may pass it.
  VIDEO_ACCESS_RANGE &frame_buffer = extension->access_ranges[RANGE_FRAME_BUFFER];
  const ULONG installed = Torvic_vram_size(extension);
  if (installed < frame_buffer.RangeLength) frame_buffer.RangeLength = installed;
  extension->access_ranges[RANGE_XY_WINDOW].RangeLength = XY_WINDOW_LENGTH;
  extension->dac_type = Torvic_dac_type(extension);

  // Fit the modes to the memory size and variant just found.
  Torvic_init_mode_info(extension);

  // The windows, with the clock for the board's own modes set while they are off.
  Torvic_reset_windows(extension, TRUE);

  const ULONG config3 = Torvic_read_io(extension, CONFIG3);
  Torvic_write_io(extension, CONFIG3, (config3 & ~CONFIG3_CLEAR) | CONFIG3_SET);

  // The description is for people looking at the machine; a board that
  // cannot record it still works.
  Torvic_set_registry_parameters(extension);
  return TRUE;
}
