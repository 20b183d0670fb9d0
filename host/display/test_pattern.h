// SPDX-License-Identifier: MIT
// Test pictures a display client draws through mapped video memory, and the
// colour a monitor must then show at every pixel.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/video_port_interface.h"

namespace torvic::host {

enum class Pattern { Bars, Gradient, Checker, Grid };

std::vector<std::string> pattern_names();
std::optional<Pattern> pattern_named(const std::string &name);

using Rgb = std::array<uint8_t, 3>;

// The palette a client loads for 8 bits per pixel: a 6 x 6 x 6 colour cube
// and 32 greys.
std::vector<VIDEO_CLUTDATA> pattern_palette();

// A pattern worked out once for one frame size and pixel format: each
// distinct row, as the client writes it and as the monitor must show it.
// Rows that look alike are kept once, so drawing and checking a frame cost
// one copy or one comparison a row.
class PatternImage {
 public:
  PatternImage(Pattern pattern, const VIDEO_MODE_INFORMATION &mode);

  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  // Writes every visible row into the frame, stride bytes apart.
  void draw(uint8_t *frame, uint32_t stride) const;
  // Row y as the monitor must show it: width x 3 bytes of red, green, blue.
  const uint8_t *shown_row(uint32_t y) const { return &shown_[size_t(row_of_[y]) * width_ * 3]; }

 private:
  uint32_t width_, height_;
  size_t encoded_bytes_;           // one row of pixels as written
  std::vector<uint8_t> encoded_;   // the distinct rows as written
  std::vector<uint8_t> shown_;     // the same rows as shown
  std::vector<uint32_t> row_of_;   // for each visible row, its distinct row
};

// Draws the pattern into the visible frame (frame points at its first byte).
void draw_pattern(Pattern pattern, uint8_t *frame, const VIDEO_MODE_INFORMATION &mode);

// What the monitor must show once the pattern is drawn: width x height
// pixels of red, green and blue, row by row.
std::vector<uint8_t> expected_picture(Pattern pattern, const VIDEO_MODE_INFORMATION &mode);

}  // namespace torvic::host
