// SPDX-License-Identifier: MIT
// Putting a board into one mode of the catalogue: configuration and windows,
// an idle engine, clear memory, CRT controller timing, memory clock, pixel
// clock and pixel format.
#include "miniport/register_access.h"
#include "modes/modes.h"

namespace {

// How long to wait for the drawing engine before a mode set goes ahead
// anyway. Each poll is one 32-bit register read across PCI, a non-posted
// transaction that takes on the order of a microsecond to complete, so a
// million polls is about one second: far longer than any drawing operation
// the engine can have queued, yet short enough that a hung engine cannot
// hold the machine in this loop for good.
constexpr ULONG ENGINE_IDLE_POLL_LIMIT = 1000000;

// ENGINE_QUEUE counts the operations still queued: idle only at 0.
constexpr ULONG ENGINE_QUEUE_ANY = 0xFFFFFFFF;

// Memory bus width of each variant; the CRT controller counts horizontal
// time in words of this width.
constexpr ULONG BUS_BITS_RGB526 = 64;   // video-RAM board with an RGB526
constexpr ULONG BUS_BITS_RGB528 = 128;  // video-RAM board with an RGB528
constexpr ULONG BUS_BITS_DRAM = 32;     // DRAM board

// DAC_PIXEL_FORMAT values.
constexpr UCHAR DAC_FORMAT_8BPP = 0x03;   // through the palette
constexpr UCHAR DAC_FORMAT_16BPP = 0x04;  // direct colour
constexpr UCHAR DAC_FORMAT_32BPP = 0x06;  // direct colour

// DAC_MISC2 while the pixel clock is being changed.
constexpr UCHAR DAC_MISC2_CLOCK_CHANGE = 0x01;
// DAC_PLL_CONTROL1/2 after every change of the pixel-clock divider pair.
constexpr UCHAR DAC_PLL_CONTROL1_RUN = 0x03;
constexpr UCHAR DAC_PLL_CONTROL2_RUN = 0x00;

constexpr UCHAR DAC_PIXEL_MASK_ALL = 0xFF;

// Polls a register until the bits of `mask` read 0, or until the poll limit
// is spent.
TORVIC_PAGEABLE VOID Torvic_wait_register_clear(PHW_DEVICE_EXTENSION extension, ULONG offset,
                                                ULONG mask) {
  for (ULONG polls = 0; polls < ENGINE_IDLE_POLL_LIMIT; polls++) {
    if ((Torvic_read_reg(extension, offset) & mask) == 0) return;
  }
}

// The engine must have finished with video memory before it is cleared and
// the display timing changes under it: first the queue drains, then the
// last operation completes. An engine that never goes idle costs the wait
// and nothing more; the mode set goes on.
TORVIC_PAGEABLE VOID Torvic_wait_for_engine(PHW_DEVICE_EXTENSION extension) {
  Torvic_wait_register_clear(extension, ENGINE_QUEUE, ENGINE_QUEUE_ANY);
  Torvic_wait_register_clear(extension, ENGINE_BUSY, ENGINE_BUSY_BITS);
}

// Sync polarities, then the control value. A board with CONFIG2 bit 2 set
// wants control bit 1 clear, any other wants it set; that value is kept
// for the return to VGA. The DRAM board then takes its own control value.
TORVIC_PAGEABLE VOID Torvic_set_crtc_control(PHW_DEVICE_EXTENSION extension,
                                             const CRTC_TIMING *timing) {
  Torvic_write_reg(extension, CRTC_SYNC_CONTROL, timing->sync_control);

  ULONG control = timing->crt_control;
  if (Torvic_read_io(extension, CONFIG2) & CONFIG2_CRTC_NO_BIT1)
    control &= ~CRTC_CONTROL_BIT1;
  else
    control |= CRTC_CONTROL_BIT1;
  Torvic_write_reg(extension, CRTC_CONTROL, control);
  extension->crtc_control = control;

  if (extension->dac_type == DAC_TYPE_DRAM)
    Torvic_write_reg(extension, CRTC_CONTROL, CRTC_CONTROL_DRAM);
}

// Takes the display away from the VGA core.
TORVIC_PAGEABLE VOID Torvic_leave_vga(PHW_DEVICE_EXTENSION extension) {
  Torvic_write_io(extension, VGA_CTRL, Torvic_read_io(extension, VGA_CTRL) & ~VGA_CTRL_VGA_BITS);
}

// A horizontal count of the timing record (units of `unit` pixels) in
// memory words of `pixels_per_word` pixels.
TORVIC_PAGEABLE ULONG Torvic_crtc_words(USHORT count, ULONG unit, ULONG pixels_per_word) {
  return (static_cast<ULONG>(count) * unit) / pixels_per_word;
}

TORVIC_PAGEABLE VOID Torvic_program_crtc_timing(PHW_DEVICE_EXTENSION extension,
                                                const VIDEO_MODE_INFORMATION *mode,
                                                const CRTC_TIMING *timing, ULONG unit,
                                                ULONG pixels_per_word) {
  Torvic_write_reg(extension, CRTC_REG_20, 0);
  Torvic_write_reg(extension, CRTC_REG_24, 0);
  Torvic_write_reg(extension, CRTC_START_ADDR, Torvic_start_offset(mode));
  Torvic_write_reg(extension, CRTC_PITCH, mode->ScreenStride);

  Torvic_write_reg(extension, CRTC_HACTIVE,
                   Torvic_crtc_words(timing->h_active, unit, pixels_per_word));
  Torvic_write_reg(extension, CRTC_HBLANK,
                   Torvic_crtc_words(timing->h_blank, unit, pixels_per_word));
  Torvic_write_reg(extension, CRTC_HFRONT_PORCH,
                   Torvic_crtc_words(timing->h_front_porch, unit, pixels_per_word));
  Torvic_write_reg(extension, CRTC_HSYNC,
                   Torvic_crtc_words(timing->h_sync, unit, pixels_per_word));

  Torvic_write_reg(extension, CRTC_VACTIVE, timing->v_active);
  Torvic_write_reg(extension, CRTC_VBLANK, timing->v_blank);
  Torvic_write_reg(extension, CRTC_VFRONT_PORCH, timing->v_front_porch);
  Torvic_write_reg(extension, CRTC_VSYNC, timing->v_sync);

  Torvic_write_reg(extension, CRTC_REG_50, 0);
  Torvic_write_reg(extension, CRTC_REG_54, 0);
}

// Moves the DAC's index and writes a run of consecutive indexed registers.
TORVIC_PAGEABLE VOID Torvic_dac_write_run(PHW_DEVICE_EXTENSION extension, UCHAR index,
                                          const UCHAR *data, ULONG count) {
  Torvic_dac_set_index(extension, index);
  for (ULONG i = 0; i < count; i++) Torvic_dac_write_data(extension, data[i]);
}

// The pixel-clock divider pair at the current index (DAC_PCLK_VCO_DIV), then
// the PLL told to run from it.
TORVIC_PAGEABLE VOID Torvic_dac_pixel_clock(PHW_DEVICE_EXTENSION extension, ULONG pll) {
  Torvic_dac_write_data(extension, static_cast<UCHAR>(pll));       // DAC_PCLK_VCO_DIV
  Torvic_dac_write_data(extension, static_cast<UCHAR>(pll >> 8));  // DAC_PCLK_REF_DIV
  Torvic_dac_set_index(extension, DAC_PLL_CONTROL1);
  Torvic_dac_write_data(extension, DAC_PLL_CONTROL1_RUN);
  Torvic_dac_write_data(extension, DAC_PLL_CONTROL2_RUN);
}

// Clocking and pixel format on an RGB526 (the video-RAM and the DRAM
// board): the format registers go in at their 8-bit values, the 32-bit
// control once more, and the wanted pixel format last.
TORVIC_PAGEABLE VOID Torvic_dac_formats_rgb526(PHW_DEVICE_EXTENSION extension,
                                               ULONG bits_per_pixel, UCHAR format) {
  const BOOLEAN dram = extension->dac_type == DAC_TYPE_DRAM;
  // DAC_MISC1 to DAC_MISC4. The DRAM board has its own memory interface
  // setting, and needs DAC_MISC2 changed for 32 bits per pixel.
  const UCHAR misc[] = {static_cast<UCHAR>(dram ? 0x00 : 0x03),
                        static_cast<UCHAR>(dram && bits_per_pixel == 32 ? 0x05 : 0x45), 0x00,
                        0x00};
  // DAC_MISC_CLOCK to DAC_SYSCLK_CONTROL.
  static constexpr UCHAR clocking[] = {0x81, 0x00, 0x01, 0x00, 0x02, 0x00, 0x01};
  // DAC_PIXEL_FORMAT to DAC_32BPP_CONTROL: 8 bits, 16 bits as 5:6:5, 32 bits direct.
  static constexpr UCHAR formats[] = {DAC_FORMAT_8BPP, 0x00, 0xC7, 0x00, 0x03};
  static constexpr UCHAR direct_32bpp[] = {0x03};

  Torvic_dac_write_run(extension, DAC_MISC1, misc, sizeof(misc));
  Torvic_dac_write_run(extension, DAC_MISC_CLOCK, clocking, sizeof(clocking));
  Torvic_dac_write_run(extension, DAC_PIXEL_FORMAT, formats, sizeof(formats));
  Torvic_dac_write_run(extension, DAC_32BPP_CONTROL, direct_32bpp, sizeof(direct_32bpp));
  Torvic_dac_write_run(extension, DAC_PIXEL_FORMAT, &format, sizeof(format));
}

// Clocking and pixel format on an RGB528, which takes the wanted format in
// one pass.
TORVIC_PAGEABLE VOID Torvic_dac_formats_rgb528(PHW_DEVICE_EXTENSION extension, UCHAR format) {
  // DAC_MISC1 to DAC_MISC4.
  static constexpr UCHAR misc[] = {0x03, 0x45, 0x00, 0x00};
  // DAC_MISC_CLOCK to DAC_SYSCLK_CONTROL; the RGB528 keeps DAC_HSYNC_POS at 0.
  static constexpr UCHAR clocking[] = {0x81, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};
  // DAC_PIXEL_FORMAT to DAC_32BPP_CONTROL.
  const UCHAR formats[] = {format, 0x00, 0xC7, 0x00, 0x03};

  Torvic_dac_write_run(extension, DAC_MISC1, misc, sizeof(misc));
  Torvic_dac_write_run(extension, DAC_MISC_CLOCK, clocking, sizeof(clocking));
  Torvic_dac_write_run(extension, DAC_PIXEL_FORMAT, formats, sizeof(formats));
}

TORVIC_PAGEABLE UCHAR Torvic_dac_pixel_format(ULONG bits_per_pixel) {
  if (bits_per_pixel == 16) return DAC_FORMAT_16BPP;
  if (bits_per_pixel == 32) return DAC_FORMAT_32BPP;
  return DAC_FORMAT_8BPP;
}

// The DAC in one sequence: pixel clock, cursor off, clocking and pixel
// format for the variant, then the pixel clock once more now that the
// format is in place.
TORVIC_PAGEABLE VOID Torvic_program_dac(PHW_DEVICE_EXTENSION extension, const MODE_ENTRY *mode) {
  const BOOLEAN rgb528 = extension->dac_type == DAC_TYPE_RGB528;
  const ULONG pll = rgb528 ? mode->timing->pll_rgb528 : mode->timing->pll_rgb526;
  const ULONG bits_per_pixel = mode->info.BitsPerPlane;
  const UCHAR format = Torvic_dac_pixel_format(bits_per_pixel);

  Torvic_dac_open_sequence(extension, DAC_MISC2);
  Torvic_dac_write_data(extension, DAC_MISC2_CLOCK_CHANGE);
  Torvic_dac_set_index(extension, DAC_PCLK_VCO_DIV);
  Torvic_dac_pixel_clock(extension, pll);

  Torvic_dac_set_index(extension, DAC_CURSOR_CONTROL);
  Torvic_dac_write_data(extension, 0x00);  // no hardware cursor

  if (rgb528)
    Torvic_dac_formats_rgb528(extension, format);
  else
    Torvic_dac_formats_rgb526(extension, bits_per_pixel, format);

  Torvic_dac_set_index(extension, DAC_PCLK_VCO_DIV);
  Torvic_dac_pixel_clock(extension, pll);
}

TORVIC_PAGEABLE ULONG Torvic_bus_bits(ULONG dac_type) {
  if (dac_type == DAC_TYPE_RGB528) return BUS_BITS_RGB528;
  if (dac_type == DAC_TYPE_DRAM) return BUS_BITS_DRAM;
  return BUS_BITS_RGB526;
}

}  // namespace

extern "C" TORVIC_PAGEABLE VOID Torvic_set_mode(PHW_DEVICE_EXTENSION extension,
                                                MODE_ENTRY *mode) {
  const VIDEO_MODE_INFORMATION *info = &mode->info;
  const CRTC_TIMING *timing = mode->timing;

  Torvic_reset_windows(extension, FALSE);

  // Pixels per unit of the timing record, and per memory word of the bus.
  const ULONG unit = info->VisScreenWidth / timing->h_active;
  const ULONG pixels_per_word = Torvic_bus_bits(extension->dac_type) / info->BitsPerPlane;

  Torvic_wait_for_engine(extension);
  VideoPortZeroDeviceMemory(extension->fb_base, Torvic_memory_size(extension));

  Torvic_set_crtc_control(extension, timing);
  Torvic_leave_vga(extension);
  Torvic_set_mclock(extension, 1);
  Torvic_program_crtc_timing(extension, info, timing, unit, pixels_per_word);
  Torvic_program_dac(extension, mode);
  Torvic_write_dac_port(extension, DAC_PIXEL_MASK, DAC_PIXEL_MASK_ALL);
}
