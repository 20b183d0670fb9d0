// SPDX-License-Identifier: MIT
// The resources every board of the family decodes: which base address
// register holds what, and the least each must decode for the driver to reach
// everything it uses there. The driver passes over a board that does not
// match; tools that explain why a board was passed over read the same table.
//
// Freestanding: the driver compiles this too, so plain types only, and the
// table is a constant that needs no code to set up.
#pragma once

// Highest variant code of the family (the high half of the PCI subsystem
// dword). A board with a higher code is not one the driver knows.
constexpr unsigned int TORVIC_MAX_VARIANT_CODE = 11;

// Which base address register holds what. On a board of the family each of
// BAR0-BAR5 is implemented, so these are also the indexes of the access
// ranges the driver gets for them.
constexpr unsigned int TORVIC_BAR_VIDEO_MEMORY = 0;
constexpr unsigned int TORVIC_BAR_XY_WINDOW = 2;
constexpr unsigned int TORVIC_BAR_REGISTERS = 4;
constexpr unsigned int TORVIC_BAR_IO = 5;

struct TorvicBoardRange {
  unsigned int bar;    // base address register number
  bool io;             // decodes I/O space rather than memory space
  unsigned int least;  // the fewest bytes (or ports) it may decode
  const char *what;    // what it holds
};

constexpr TorvicBoardRange torvic_board_layout[] = {
    // The smallest memory any board has installed.
    {TORVIC_BAR_VIDEO_MEMORY, false, 0x200000, "video memory"},
    // The XY windows are opened 8 KiB wide.
    {TORVIC_BAR_XY_WINDOW, false, 0x2000, "the XY window"},
    // Up to the last byte of XYB_CTRL at 0x6010, the highest register used.
    {TORVIC_BAR_REGISTERS, false, 0x6014, "the register block"},
    // The whole I/O register block.
    {TORVIC_BAR_IO, true, 0x100, "the I/O block"},
};

// The least size the layout asks of a base address register (0 for one it
// does not use).
constexpr unsigned int torvic_layout_least(unsigned int bar) {
  for (const TorvicBoardRange &range : torvic_board_layout)
    if (range.bar == bar) return range.least;
  return 0;
}
