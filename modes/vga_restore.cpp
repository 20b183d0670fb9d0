// SPDX-License-Identifier: MIT
// Return of the boards to VGA text mode.
//
// Torvic_ResetHw runs when the machine is about to reset, possibly with
// paging no longer possible, so it and everything it calls stay resident:
// the register restore here, and the DAC protocol and memory-clock routines
// it uses. The BIOS call is pageable.
#include "miniport/register_access.h"
#include "modes/modes.h"

namespace {

// Lets the board settle before the restore starts writing to it.
constexpr ULONG VGA_RESTORE_SETTLE_MICROSECONDS = 50;

// Video BIOS function 00h (set mode) in AH, mode 03h (80 x 25 colour text) in AL.
constexpr ULONG BIOS_SET_TEXT_MODE_3 = 0x0003;

// The DAC's indexed registers as the VGA core expects to find them, written
// run by run: each run starts at its index and the index advances with
// every data byte.
struct DacRun {
  UCHAR index;
  UCHAR count;
  UCHAR data[7];
};

constexpr DacRun vga_dac_runs[] = {
    {DAC_MISC1, 1, {0x00}},
    {DAC_MISC3, 2, {0x00, 0x00}},  // DAC_MISC3, DAC_MISC4
    // DAC_MISC_CLOCK to DAC_SYSCLK_CONTROL.
    {DAC_MISC_CLOCK, 7, {0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01}},
    {DAC_PLL_CONTROL1, 1, {0x00}},
    {DAC_MISC2, 1, {0x00}},
    {DAC_CURSOR_CONTROL, 1, {0x00}},
};

VOID Torvic_restore_vga_dac(PHW_DEVICE_EXTENSION extension) {
  Torvic_dac_open_sequence(extension, vga_dac_runs[0].index);
  for (const DacRun &run : vga_dac_runs) {
    if (&run != &vga_dac_runs[0]) Torvic_dac_set_index(extension, run.index);
    for (ULONG i = 0; i < run.count; i++) Torvic_dac_write_data(extension, run.data[i]);
  }
}

TORVIC_PAGEABLE VP_STATUS Torvic_set_text_mode(PHW_DEVICE_EXTENSION extension) {
  VIDEO_X86_BIOS_ARGUMENTS bios;
  bios.Eax = BIOS_SET_TEXT_MODE_3;
  bios.Ebx = 0;
  bios.Ecx = 0;
  bios.Edx = 0;
  bios.Esi = 0;
  bios.Edi = 0;
  bios.Ebp = 0;
  return VideoPortInt10(extension, &bios);
}

}  // namespace

// The board's own part of the return to VGA: registers only, so that the
// reset callback can use it at any IRQL.
extern "C" VOID Torvic_restore_vga_registers(PHW_DEVICE_EXTENSION extension) {
  VideoPortStallExecution(VGA_RESTORE_SETTLE_MICROSECONDS);

  // The CRT controller lets go of the display; the rest of the last mode's
  // control value stays as it was.
  Torvic_write_reg(extension, CRTC_CONTROL, extension->crtc_control & ~CRTC_CONTROL_GRAPHICS);
  Torvic_write_io(extension, VGA_CTRL, Torvic_read_io(extension, VGA_CTRL) | VGA_CTRL_VGA_BITS);
  Torvic_set_mclock(extension, 0);
  Torvic_restore_vga_dac(extension);
}

// For the display driver's reset request, at the lowest IRQL: the registers,
// then the video BIOS sets text mode 3.
extern "C" TORVIC_PAGEABLE VP_STATUS Torvic_set_vga_mode(PHW_DEVICE_EXTENSION extension) {
  Torvic_restore_vga_registers(extension);
  return Torvic_set_text_mode(extension);
}

// Called when the machine goes down, possibly on a crash at raised IRQL with
// interrupts off: only register and port accesses and stalls are allowed
// there, so no BIOS call. Returning FALSE has the platform set text mode 3
// itself once every board has let go of the display.
extern "C" BOOLEAN NTAPI Torvic_ResetHw(PVOID HwDeviceExtension, ULONG Columns, ULONG Rows) {
  (void)Columns;
  (void)Rows;
  // Every board found after this one hangs off its chain.
  for (PHW_DEVICE_EXTENSION board = static_cast<PHW_DEVICE_EXTENSION>(HwDeviceExtension);
       board != nullptr; board = board->next_extension)
    Torvic_restore_vga_registers(board);
  return FALSE;
}
