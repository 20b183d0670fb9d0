// SPDX-License-Identifier: MIT
// The display-mode catalogue: timing records and mode entries.
#pragma once

#include "miniport/video_port.h"

// CRT controller and pixel-clock values for one resolution and refresh rate.
// Horizontal values count units of e = width / h_active pixels (4 or 8).
typedef struct _CRTC_TIMING {
  ULONG sync_control;  // CRTC_SYNC_CONTROL
  ULONG crt_control;   // CRTC_CONTROL, before bit 1 is decided
  ULONG pll_rgb526;    // bits 0-7 DAC_PCLK_VCO_DIV, bits 8-15 DAC_PCLK_REF_DIV
  ULONG pll_rgb528;
  USHORT h_active;
  USHORT h_blank;
  USHORT h_front_porch;
  USHORT h_sync;
  USHORT v_active;
  USHORT v_blank;
  USHORT v_front_porch;
  USHORT v_sync;
} CRTC_TIMING;

typedef struct _MODE_ENTRY {
  VIDEO_MODE_INFORMATION info;  // as reported to the display driver
  const CRTC_TIMING *timing;
  BOOLEAN available;  // cleared when the mode does not fit a board's memory
} MODE_ENTRY;

extern "C" {
extern MODE_ENTRY display_mode_vram[];
extern MODE_ENTRY display_mode_dram[];
extern const ULONG num_display_modes_vram;
extern const ULONG num_display_modes_dram;
}
