// SPDX-License-Identifier: MIT
// A picture shown as a display driver shows it, and compared with the one drawn.
#pragma once

#include <string>

#include "host/port/machine.h"
#include "host/board/monitor.h"
#include "host/display/test_pattern.h"

namespace torvic::sim {

using host::Machine;

// What a display driver does to show a picture: set the mode, map video
// memory, load the palette for 8 bits per pixel, draw, then hand the public
// ranges and the mapping back. Returns what the monitor then shows.
struct Shown {
  std::string error;  // empty on success
  host::MonitorTiming timing;
  host::Picture picture;
};
Shown show_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode, host::Pattern pattern,
                bool exercise_public_ranges);
// Where the picture the monitor shows first differs from the image drawn,
// compared row by row as the monitor scans it out: "(x, y)", or empty when
// every pixel matches. The timing must be the image's width and height.
std::string first_picture_difference(const host::Board &board, const host::MonitorTiming &timing,
                                     const host::PatternImage &image);
// The same with the pattern already worked out for the mode, and without
// rendering the picture: the timing the monitor locks to, and any error.
Shown draw_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode, const host::PatternImage &image,
                bool exercise_public_ranges);

}  // namespace torvic::sim
