// SPDX-License-Identifier: MIT
// What a display driver needs beyond the platform's own request codes: the
// driver's two private requests and its private mode attribute.
#pragma once

// Busy-waits the requested number of microseconds, at most 50.
// Input: one ULONG.
#define IOCTL_TORVIC_STALL CTL_CODE(FILE_DEVICE_VIDEO, 0xEC5, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Returns the number of boards found. Output: one ULONG.
#define IOCTL_TORVIC_QUERY_NUM_BOARDS \
  CTL_CODE(FILE_DEVICE_VIDEO, 0xEC6, METHOD_BUFFERED, FILE_ANY_ACCESS)

// Set in AttributeFlags of every mode record returned for an RGB528 board.
#define TORVIC_MODE_RGB528 0x00010000

static_assert(IOCTL_TORVIC_STALL == 0x233B14 && IOCTL_TORVIC_QUERY_NUM_BOARDS == 0x233B18,
              "private request codes");
