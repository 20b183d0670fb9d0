// SPDX-License-Identifier: MIT
// Every register of the board that the driver touches: the PCI
// configuration header, the memory-mapped register block at reg_base, the I/O
// block at io_base and the DAC's indexed registers.
#pragma once

#include "miniport/video_port.h"
#include "torvic/board_layout.h"

// ---- PCI identity and configuration space ----------------------------------------
constexpr ULONG TORVIC_VENDOR_ID = 0x1F3A;
constexpr ULONG TORVIC_DEVICE_ID = 0x4B21;
constexpr ULONG PCI_MAX_SLOTS = 32;

constexpr ULONG PCI_ID = 0x00;       // vendor (low 16), device (high 16)
constexpr ULONG PCI_COMMAND = 0x04;  // command (low 16), status (high 16)
constexpr ULONG PCI_BAR0 = 0x10;
constexpr ULONG PCI_BAR5 = 0x24;
constexpr ULONG PCI_SUBSYSTEM = 0x2C;  // subsystem vendor (low 16), variant code (high 16)
constexpr ULONG PCI_EXPANSION_ROM = 0x30;

constexpr ULONG PCI_COMMAND_IO_SPACE = 0x1;
constexpr ULONG PCI_COMMAND_MEMORY_SPACE = 0x2;
constexpr ULONG PCI_BAR_IO_SPACE = 0x1;        // bit 0 of a base address register
constexpr ULONG PCI_BAR_PREFETCHABLE = 0x8;    // bit 3 of a memory base address register
constexpr ULONG PCI_BAR_IO_MASK = 0xFFFFFFFC;
constexpr ULONG PCI_BAR_MEMORY_MASK = 0xFFFFFFF0;
constexpr ULONG PCI_ROM_ADDRESS_MASK = 0xFFFFF800;

// ---- reg_base block: DAC ports (8-bit writes) -------------------------------------
constexpr ULONG DAC_WR_INDEX = 0x00;
constexpr ULONG DAC_DATA = 0x04;
constexpr ULONG DAC_PIXEL_MASK = 0x08;
constexpr ULONG DAC_INDEX_LOW = 0x10;
constexpr ULONG DAC_INDEX_HIGH = 0x14;
constexpr ULONG DAC_INDEX_DATA = 0x18;
constexpr ULONG DAC_INDEX_CONTROL = 0x1C;

// ---- reg_base block: CRT controller (32-bit) --------------------------------------
// CRTC_REG_20, _24, _50 and _54 are named by their offset: the mode-set
// sequence writes each 0 (the first two before the start address, the last
// two after the vertical timing), and what they control beyond that is not
// known.
constexpr ULONG CRTC_REG_20 = 0x20;
constexpr ULONG CRTC_REG_24 = 0x24;
constexpr ULONG CRTC_START_ADDR = 0x28;
constexpr ULONG CRTC_PITCH = 0x2C;
constexpr ULONG CRTC_HACTIVE = 0x30;
constexpr ULONG CRTC_HBLANK = 0x34;
constexpr ULONG CRTC_HFRONT_PORCH = 0x38;
constexpr ULONG CRTC_HSYNC = 0x3C;
constexpr ULONG CRTC_VACTIVE = 0x40;
constexpr ULONG CRTC_VBLANK = 0x44;
constexpr ULONG CRTC_VFRONT_PORCH = 0x48;
constexpr ULONG CRTC_VSYNC = 0x4C;
constexpr ULONG CRTC_REG_50 = 0x50;
constexpr ULONG CRTC_REG_54 = 0x54;
constexpr ULONG CRTC_SYNC_CONTROL = 0x58;
constexpr ULONG CRTC_CONTROL = 0x5C;

// ---- reg_base block: memory window 0 (32-bit writes) ------------------------------
// MW0_REG_200C and MW0_REG_2010 are named by their offset: opening the window
// writes each 0 between its size and its mask, and their role is not known.
constexpr ULONG MW0_CTRL = 0x2000;
constexpr ULONG MW0_SIZE = 0x2008;
constexpr ULONG MW0_REG_200C = 0x200C;
constexpr ULONG MW0_REG_2010 = 0x2010;
constexpr ULONG MW0_MASK = 0x2024;

// ---- reg_base block: drawing engine status and XY windows (32-bit) -----------------
constexpr ULONG ENGINE_BUSY = 0x4008;
constexpr ULONG ENGINE_QUEUE = 0x400C;
constexpr ULONG XYA_CTRL = 0x4010;
constexpr ULONG XYB_CTRL = 0x6010;

// The register block must reach past the highest register the driver uses.
constexpr ULONG REGISTER_BLOCK_SPAN = XYB_CTRL + sizeof(ULONG);
static_assert(torvic_layout_least(TORVIC_BAR_REGISTERS) >= REGISTER_BLOCK_SPAN,
              "a board passed as fitting decodes every register the driver uses");

// ---- io_base block (32-bit port accesses) ------------------------------------------
constexpr ULONG IO_BLOCK_SPAN = 0x100;
static_assert(torvic_layout_least(TORVIC_BAR_IO) >= IO_BLOCK_SPAN,
              "a board passed as fitting decodes the whole I/O block");
constexpr ULONG CONFIG1 = 0x18;
constexpr ULONG CONFIG2 = 0x1C;
constexpr ULONG CONFIG3 = 0x20;
constexpr ULONG VGA_CTRL = 0x30;

// Installed video memory: 2 MiB, 4 MiB with either strap, 8 MiB with both.
constexpr ULONG MEMORY_SIZE_BASE = 0x200000;
constexpr ULONG MEMORY_SIZE_STRAPPED = 0x400000;
static_assert(torvic_layout_least(TORVIC_BAR_VIDEO_MEMORY) == MEMORY_SIZE_BASE,
              "a board with the least memory installed fits");

// CONFIG1 memory-size straps.
constexpr ULONG CONFIG1_STRAP_4MB = 0x0400;   // bit 10
constexpr ULONG CONFIG1_STRAP_DOUBLE = 0x8000;  // bit 15

// CONFIG2: bits kept by the reset, bits the reset sets, window enables.
constexpr ULONG CONFIG2_RESET_KEEP = 0xF3003F1D;
constexpr ULONG CONFIG2_RESET_SET = 0x00001F00;
constexpr ULONG CONFIG2_CRTC_NO_BIT1 = 0x00000004;  // bit 2: CRTC_CONTROL bit 1 is cleared
constexpr ULONG CONFIG2_MW0_ENABLE = 0x00010000;
constexpr ULONG CONFIG2_XYA_ENABLE = 0x00100000;
constexpr ULONG CONFIG2_XYB_ENABLE = 0x00200000;

// CONFIG3: changed once at initialisation.
constexpr ULONG CONFIG3_CLEAR = 0x00000003;
constexpr ULONG CONFIG3_SET = 0x00100000;

// VGA_CTRL bits 0, 2 and 3 hand the display to the VGA core.
constexpr ULONG VGA_CTRL_VGA_BITS = 0x0000000D;

// The XY windows are opened 8 KiB wide.
constexpr ULONG XY_WINDOW_LENGTH = 0x2000;
static_assert(torvic_layout_least(TORVIC_BAR_XY_WINDOW) >= XY_WINDOW_LENGTH,
              "a board passed as fitting decodes both XY windows");

// XY window control: aperture size code in bits 8-11.
constexpr ULONG XY_CTRL_SIZE_MASK = 0x00000F00;
constexpr ULONG XY_CTRL_SIZE_SHIFT = 8;

// CRTC_CONTROL bits.
constexpr ULONG CRTC_CONTROL_BIT1 = 0x00000002;
constexpr ULONG CRTC_CONTROL_GRAPHICS = 0x00000100;  // bit 8: CRTC drives the display
constexpr ULONG CRTC_CONTROL_DRAM = 0x20000100;      // the DRAM board's control value

// ENGINE_BUSY: bits 0 and 1 clear when the drawing engine is idle.
constexpr ULONG ENGINE_BUSY_BITS = 0x00000003;

// ---- DAC indexed registers ----------------------------------------------------------
constexpr UCHAR DAC_MISC_CLOCK = 0x02;
constexpr UCHAR DAC_SYNC = 0x03;
constexpr UCHAR DAC_HSYNC_POS = 0x04;
constexpr UCHAR DAC_POWER = 0x05;
constexpr UCHAR DAC_OPERATION = 0x06;
constexpr UCHAR DAC_PALETTE_CONTROL = 0x07;
constexpr UCHAR DAC_SYSCLK_CONTROL = 0x08;
constexpr UCHAR DAC_PIXEL_FORMAT = 0x0A;
constexpr UCHAR DAC_8BPP_CONTROL = 0x0B;
constexpr UCHAR DAC_16BPP_CONTROL = 0x0C;
constexpr UCHAR DAC_24BPP_CONTROL = 0x0D;
constexpr UCHAR DAC_32BPP_CONTROL = 0x0E;
constexpr UCHAR DAC_PLL_CONTROL1 = 0x10;
constexpr UCHAR DAC_PLL_CONTROL2 = 0x11;
constexpr UCHAR DAC_MCLK_REF_DIV = 0x15;
constexpr UCHAR DAC_MCLK_VCO_DIV = 0x16;
constexpr UCHAR DAC_PCLK_VCO_DIV = 0x20;
constexpr UCHAR DAC_PCLK_REF_DIV = 0x21;
constexpr UCHAR DAC_CURSOR_CONTROL = 0x30;
constexpr UCHAR DAC_MISC1 = 0x70;
constexpr UCHAR DAC_MISC2 = 0x71;
constexpr UCHAR DAC_MISC3 = 0x72;
constexpr UCHAR DAC_MISC4 = 0x73;

// DAC_INDEX_CONTROL value: the index advances after every data write.
constexpr UCHAR DAC_INDEX_AUTO_INCREMENT = 0x01;
