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

// Draws the pattern into the visible frame (frame points at its first byte).
void draw_pattern(Pattern pattern, uint8_t *frame, const VIDEO_MODE_INFORMATION &mode);

// What the monitor must show once the pattern is drawn: width x height
// pixels of red, green and blue, row by row.
std::vector<uint8_t> expected_picture(Pattern pattern, const VIDEO_MODE_INFORMATION &mode);

}  // namespace torvic::host
