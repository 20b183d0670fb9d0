// SPDX-License-Identifier: MIT
// What a monitor connected to a board would show: the timing it locks to,
// decoded from the board's registers, and the visible picture.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/board/board.h"

namespace torvic::host {

// The board's reference clock for both PLLs.
constexpr double kReferenceClockMHz = 25.175;

// Fref x (M + 65) / (N x 2^(3 - DF)), from the VCO divider (DF in bits 7-6,
// M in bits 5-0) and the reference divider N; 0 when N is 0.
double pll_frequency_mhz(uint8_t vco_divider, uint8_t reference_divider);

// Memory bus width of a board variant, in bits: the CRT controller's
// horizontal registers count words of this width.
uint32_t bus_bits(uint16_t variant_code);

enum class DisplayState { Graphics, VgaText, Vga };

struct MonitorTiming {
  DisplayState state = DisplayState::Vga;
  uint32_t bits_per_pixel = 0;  // 8, 16 or 32; 0 for an unknown pixel format
  uint32_t width = 0, height = 0;              // active
  uint32_t total_width = 0, total_height = 0;  // active plus blanking
  // The blanking as the sync sees it: front porch, sync pulse, back porch,
  // in pixels across and lines down.
  uint32_t h_front_porch = 0, h_sync = 0, h_back_porch = 0;
  uint32_t v_front_porch = 0, v_sync = 0, v_back_porch = 0;
  double pixel_clock_mhz = 0;
  double horizontal_khz = 0;
  double refresh_hz = 0;
  bool hsync_positive = false, vsync_positive = false;
  uint32_t start_address = 0, pitch = 0;

  std::string describe() const;  // one line, as a person reads it
};

MonitorTiming decode_monitor(const Board &board);

struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;  // width x height x 3, row by row
  std::array<uint8_t, 3> at(uint32_t x, uint32_t y) const {
    const size_t i = (size_t(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

// The visible frame from video memory at the start address with the pitch,
// through the pixel format, the palette and the pixel mask. Empty unless the
// board shows graphics. std::length_error when the registers make the frame
// larger than 2^30 bytes of picture.
Picture render_frame(const Board &board, const MonitorTiming &timing);
// Row y of that frame: timing.width x 3 bytes of red, green and blue.
void render_row(const Board &board, const MonitorTiming &timing, uint32_t y, uint8_t *out);

}  // namespace torvic::host
