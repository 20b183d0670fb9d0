// SPDX-License-Identifier: MIT
// The three windows through which the board decodes video memory: memory
// window 0 over all of it, and the two XY windows. CONFIG2 is reset first,
// which switches all three off; each window is then programmed and switched
// on again in CONFIG2.
#include "miniport/register_access.h"
#include "modes/modes.h"

namespace {

// An aperture is 4 KiB doubled as often as its size code says.
constexpr ULONG APERTURE_MIN_SIZE = 0x1000;
// 4 KiB doubled 20 times is 4 GiB, which holds any 32-bit size.
constexpr ULONG APERTURE_MAX_CODE = 20;

// The largest size code the XY window control's field holds.
constexpr ULONG XY_CTRL_MAX_CODE = XY_CTRL_SIZE_MASK >> XY_CTRL_SIZE_SHIFT;

// Memory window 0 passes every address bit through.
constexpr ULONG MW0_MASK_ALL = 0xFFFFFFFF;

// The smallest code whose aperture holds size bytes.
TORVIC_PAGEABLE ULONG Torvic_aperture_code(ULONG size) {
  ULONG code = 0;
  while (code < APERTURE_MAX_CODE && (APERTURE_MIN_SIZE << code) < size) code++;
  return code;
}

TORVIC_PAGEABLE VOID Torvic_set_config2_bits(PHW_DEVICE_EXTENSION extension, ULONG bits) {
  Torvic_write_io(extension, CONFIG2, Torvic_read_io(extension, CONFIG2) | bits);
}

// Both XY windows take the size of the XY window range; only the size field
// of the control register changes. A size beyond what the field can code gets
// the largest aperture it can, rather than spilling into the bits above it.
TORVIC_PAGEABLE VOID Torvic_enable_xy(PHW_DEVICE_EXTENSION extension, ULONG control,
                                      ULONG enable) {
  ULONG code = Torvic_aperture_code(extension->access_ranges[RANGE_XY_WINDOW].RangeLength);
  if (code > XY_CTRL_MAX_CODE) code = XY_CTRL_MAX_CODE;
  const ULONG value = Torvic_read_reg(extension, control);
  Torvic_write_reg(extension, control,
                   (value & ~XY_CTRL_SIZE_MASK) | (code << XY_CTRL_SIZE_SHIFT));
  Torvic_set_config2_bits(extension, enable);
}

// Clears the window enables and the other bits outside CONFIG2_RESET_KEEP,
// and sets CONFIG2_RESET_SET.
TORVIC_PAGEABLE VOID Torvic_reset_config2(PHW_DEVICE_EXTENSION extension) {
  const ULONG config2 = Torvic_read_io(extension, CONFIG2);
  Torvic_write_io(extension, CONFIG2, (config2 & CONFIG2_RESET_KEEP) | CONFIG2_RESET_SET);
}

TORVIC_PAGEABLE VOID Torvic_enable_mw0(PHW_DEVICE_EXTENSION extension) {
  // Memory window 0 spans all of video memory.
  const ULONG code = Torvic_aperture_code(Torvic_memory_size(extension));
  Torvic_write_reg(extension, MW0_CTRL, 0);
  Torvic_write_reg(extension, MW0_SIZE, code);
  Torvic_write_reg(extension, MW0_REG_200C, 0);
  Torvic_write_reg(extension, MW0_REG_2010, 0);
  Torvic_write_reg(extension, MW0_MASK, MW0_MASK_ALL);
  Torvic_set_config2_bits(extension, CONFIG2_MW0_ENABLE);
}

TORVIC_PAGEABLE VOID Torvic_enable_xyA(PHW_DEVICE_EXTENSION extension) {
  Torvic_enable_xy(extension, XYA_CTRL, CONFIG2_XYA_ENABLE);
}

TORVIC_PAGEABLE VOID Torvic_enable_xyB(PHW_DEVICE_EXTENSION extension) {
  Torvic_enable_xy(extension, XYB_CTRL, CONFIG2_XYB_ENABLE);
}

}  // namespace

extern "C" TORVIC_PAGEABLE VOID Torvic_reset_windows(PHW_DEVICE_EXTENSION extension,
                                                     BOOLEAN board_clock) {
  Torvic_reset_config2(extension);
  if (board_clock) Torvic_set_mclock(extension, 1);
  Torvic_enable_mw0(extension);
  Torvic_enable_xyA(extension);
  Torvic_enable_xyB(extension);
}
