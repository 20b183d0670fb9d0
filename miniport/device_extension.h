// SPDX-License-Identifier: MIT
// The per-board record the video port allocates for every board found, and
// the module-wide state shared by all boards.
#pragma once

#include "miniport/video_port.h"
#include "torvic/board_layout.h"

constexpr ULONG TORVIC_NUM_ACCESS_RANGES = 7;

// Which access range is which board resource (one per base address register
// the board implements, in configuration order; a board that fits the
// family's layout implements BAR0-BAR5, so range i is BAR i).
constexpr ULONG RANGE_FRAME_BUFFER = TORVIC_BAR_VIDEO_MEMORY;
constexpr ULONG RANGE_XY_WINDOW = TORVIC_BAR_XY_WINDOW;
constexpr ULONG RANGE_REGISTERS = TORVIC_BAR_REGISTERS;
constexpr ULONG RANGE_IO = TORVIC_BAR_IO;

// Board variants, derived from the variant code at initialisation.
constexpr ULONG DAC_TYPE_RGB526 = 0;  // video-RAM board with an RGB526
constexpr ULONG DAC_TYPE_RGB528 = 1;  // video-RAM board with an RGB528
constexpr ULONG DAC_TYPE_DRAM = 2;    // DRAM board with an RGB526

struct _MODE_ENTRY;

// Configuration registers the slot scan changes on a board, as the scan found
// them (in the order 0x10-0x24, then 0x30), so that a board the driver does
// not take can be given back exactly as it was.
constexpr ULONG TORVIC_NUM_RANGE_REGISTERS = 7;

typedef struct _PCI_FOUND_CONFIG {
  ULONG slot;
  ULONG command;                               // the command dword as found
  ULONG num_saved;                             // range registers read so far
  ULONG values[TORVIC_NUM_RANGE_REGISTERS];    // each range register as found
  ULONG changed;  // bit i: range register i may no longer hold its found value
} PCI_FOUND_CONFIG;

typedef struct _HW_DEVICE_EXTENSION {
  VIDEO_ACCESS_RANGE access_ranges[TORVIC_NUM_ACCESS_RANGES];
  PUCHAR reg_base;  // memory-mapped register block (range 4)
  PUCHAR io_base;   // I/O register block (range 5)
  PVOID fb_base;    // frame buffer (range 0)
  ULONG dac_type;
  ULONG current_mode;  // index into mode_table of the mode last set
  ULONG crtc_control;  // CRTC_CONTROL value of the last mode set
  struct _HW_DEVICE_EXTENSION *next_extension;  // next board found, or null
  // PCI dword 0x2C of this board as claimed: the variant code in its high
  // half. Kept per board so that each board is programmed as what it is.
  ULONG variant_dword;
  // The mode table of this board's kind (video-RAM or DRAM), chosen at
  // initialisation. The tables and their availability are shared by all
  // boards of the kind.
  struct _MODE_ENTRY *mode_table;
  ULONG num_modes;
  // What discovery changed on the board it claimed for this extension.
  PCI_FOUND_CONFIG found_config;
} HW_DEVICE_EXTENSION, *PHW_DEVICE_EXTENSION;

// The video memory the board has: initialisation trims the frame-buffer range
// to the memory installed, so the range's length is the memory's size.
inline ULONG Torvic_memory_size(PHW_DEVICE_EXTENSION extension) {
  return extension->access_ranges[RANGE_FRAME_BUFFER].RangeLength;
}
