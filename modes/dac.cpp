// SPDX-License-Identifier: MIT
// The DAC's indexed registers and its memory clock.
//
// These routines stay resident: the reset path uses them when the machine
// goes down, when paging may no longer be possible.
#include "miniport/register_access.h"
#include "modes/modes.h"

namespace {

// Every indexed register the driver uses lies below 0x100.
constexpr UCHAR DAC_INDEX_HIGH_BYTE = 0x00;

// Memory-clock PLL dividers (reference divider, then VCO divider).
constexpr UCHAR MCLK_VGA_REF_DIV = 0x06;  // the clock the VGA core runs on
constexpr UCHAR MCLK_VGA_VCO_DIV = 0x26;
constexpr UCHAR MCLK_VRAM_REF_DIV = 0x06;  // the video-RAM boards' own modes
constexpr UCHAR MCLK_VRAM_VCO_DIV = 0x42;
constexpr UCHAR MCLK_DRAM_REF_DIV = 0x08;  // the DRAM board's own modes
constexpr UCHAR MCLK_DRAM_VCO_DIV = 0x53;

// The PLL needs 2.5 ms to lock; a single stall may not ask for more than
// 50 microseconds.
constexpr ULONG MCLK_SETTLE_STALLS = 50;
constexpr ULONG MCLK_SETTLE_STALL_US = 50;

}  // namespace

// Opens an indexed-register sequence: the index advances by one with every
// data write, starting at first_index.
extern "C" VOID Torvic_dac_open_sequence(PHW_DEVICE_EXTENSION extension, UCHAR first_index) {
  Torvic_write_dac_port(extension, DAC_INDEX_HIGH, DAC_INDEX_HIGH_BYTE);
  Torvic_write_dac_port(extension, DAC_INDEX_CONTROL, DAC_INDEX_AUTO_INCREMENT);
  Torvic_write_dac_port(extension, DAC_INDEX_LOW, first_index);
}

// Moves to another register within an open sequence.
extern "C" VOID Torvic_dac_set_index(PHW_DEVICE_EXTENSION extension, UCHAR index) {
  Torvic_write_dac_port(extension, DAC_INDEX_LOW, index);
}

extern "C" VOID Torvic_dac_write_data(PHW_DEVICE_EXTENSION extension, UCHAR data) {
  Torvic_write_dac_port(extension, DAC_INDEX_DATA, data);
}

// board_clock 0 sets the clock the VGA core expects; anything else the clock
// for the board's own modes, which differs between DRAM and video RAM.
extern "C" VOID Torvic_set_mclock(PHW_DEVICE_EXTENSION extension, ULONG board_clock) {
  UCHAR ref_div = MCLK_VGA_REF_DIV;
  UCHAR vco_div = MCLK_VGA_VCO_DIV;
  if (board_clock != 0 && extension->dac_type == DAC_TYPE_DRAM) {
    ref_div = MCLK_DRAM_REF_DIV;
    vco_div = MCLK_DRAM_VCO_DIV;
  } else if (board_clock != 0) {
    ref_div = MCLK_VRAM_REF_DIV;
    vco_div = MCLK_VRAM_VCO_DIV;
  }

  Torvic_dac_open_sequence(extension, DAC_MCLK_REF_DIV);
  Torvic_dac_write_data(extension, ref_div);  // DAC_MCLK_REF_DIV
  Torvic_dac_write_data(extension, vco_div);  // DAC_MCLK_VCO_DIV

  for (ULONG i = 0; i < MCLK_SETTLE_STALLS; i++) VideoPortStallExecution(MCLK_SETTLE_STALL_US);
}
