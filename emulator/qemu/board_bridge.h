/* SPDX-License-Identifier: MIT */
/* The board model behind a C interface, for the emulator's device: the
 * registers, the DAC, video memory and the monitor's decoding are the same
 * code the host video port's tests run against, so the emulated board and
 * the modelled one cannot drift apart. */
#ifndef TORVIC_EMULATOR_BOARD_BRIDGE_H
#define TORVIC_EMULATOR_BOARD_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TorvicBoard TorvicBoard;

/* The board's PCI identity and ranges: BAR0 to BAR5, then the expansion ROM. */
enum { TORVIC_VENDOR_ID = 0x1F3A, TORVIC_DEVICE_ID = 0x4B21, TORVIC_RANGES = 7 };
enum { TORVIC_FRAME_BUFFER_BAR = 0, TORVIC_REGISTER_BAR = 4, TORVIC_IO_BAR = 5, TORVIC_ROM_BAR = 6 };
typedef struct TorvicRange {
  uint32_t size;
  int io;
  int prefetchable;
} TorvicRange;
void torvic_board_ranges(TorvicRange ranges[TORVIC_RANGES]);

/* A board of the variant with memory_mib MiB of video memory (2, 4 or 8);
 * NULL with the reason in why when it cannot be made. */
TorvicBoard *torvic_board_new(uint16_t variant_code, uint32_t memory_mib, char *why, size_t why_size);
void torvic_board_free(TorvicBoard *board);
/* Back to the power-on state; video memory keeps what it holds. */
void torvic_board_reset(TorvicBoard *board);

uint8_t *torvic_board_vram(TorvicBoard *board);
uint32_t torvic_board_memory_size(const TorvicBoard *board);

/* The two register blocks the driver reaches: BAR4's registers and BAR5's
 * I/O ports. */
enum TorvicBlock { TORVIC_REGISTERS, TORVIC_IO };

/* An access of width bytes at offset in a block. 0 when the board takes it;
 * otherwise -1, with what the board does not answer, or what rule of the
 * board the write broke, in why (a refused read gives 0). */
int torvic_board_read(TorvicBoard *board, enum TorvicBlock block, uint32_t offset, unsigned width,
                      uint32_t *value, char *why, size_t why_size);
int torvic_board_write(TorvicBoard *board, enum TorvicBlock block, uint32_t offset, unsigned width,
                       uint32_t value, char *why, size_t why_size);

/* What the monitor shows. */
typedef struct TorvicScanout {
  int graphics;  /* 1: the board's CRT controller drives the display; 0: its VGA core does */
  uint32_t width, height, bits_per_pixel;
  char description[192];
} TorvicScanout;
void torvic_board_scanout(const TorvicBoard *board, TorvicScanout *scanout);

/* The visible frame as 32-bit pixels, red in bits 23-16, green in 15-8 and
 * blue in 7-0, rows stride bytes apart; the picture must be scanout's
 * width by height and the board must show graphics. */
void torvic_board_render(const TorvicBoard *board, uint32_t *pixels, size_t stride);

#ifdef __cplusplus
}
#endif

#endif
