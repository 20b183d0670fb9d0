// SPDX-License-Identifier: MIT
// The monitor (monitor.h): the timing decoded from a board's CRTC and DAC
// registers, and the picture it shows.
#include "host/board/monitor.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "host/common/text.h"

namespace torvic::host {

namespace {
constexpr uint32_t kCrtcStartAddr = 0x28, kCrtcPitch = 0x2C, kCrtcHActive = 0x30,
                   kCrtcHBlank = 0x34, kCrtcHFrontPorch = 0x38, kCrtcHSync = 0x3C,
                   kCrtcVActive = 0x40, kCrtcVBlank = 0x44, kCrtcVFrontPorch = 0x48, kCrtcVSync = 0x4C,
                   kCrtcSyncControl = 0x58, kCrtcControl = 0x5C;
constexpr uint32_t kVgaCtrl = 0x30, kVgaBits = 0x0D, kCrtcGraphics = 0x100;
constexpr uint8_t kPixelFormatIndex = 0x0A, kPclkVcoIndex = 0x20, kPclkRefIndex = 0x21;

uint32_t bits_for_format(uint8_t format) {
  switch (format) {
    case 3: return 8;
    case 4: return 16;
    case 6: return 32;
    default: return 0;
  }
}
}  // namespace

double pll_frequency_mhz(uint8_t vco_divider, uint8_t reference_divider) {
  if (reference_divider == 0) return 0;
  const unsigned df = vco_divider >> 6;
  const unsigned m = vco_divider & 0x3F;
  return kReferenceClockMHz * (m + 65) / (reference_divider * double(1u << (3 - df)));
}

uint32_t bus_bits(uint16_t variant_code) {
  if (variant_code == 10 || variant_code == 11) return 128;
  if (variant_code < 8) return 64;
  return 32;
}

MonitorTiming decode_monitor(const Board &board) {
  MonitorTiming t;
  const bool crtc_drives = board.reg(kCrtcControl) & kCrtcGraphics;
  const bool vga_drives = board.io(kVgaCtrl) & kVgaBits;
  if (!crtc_drives || vga_drives) {
    t.state = board.text_mode() ? DisplayState::VgaText : DisplayState::Vga;
    return t;
  }
  t.state = DisplayState::Graphics;
  t.bits_per_pixel = bits_for_format(board.dac_index_reg(kPixelFormatIndex));
  const uint32_t per_word = t.bits_per_pixel ? bus_bits(board.config().variant_code) / t.bits_per_pixel : 0;
  t.width = board.reg(kCrtcHActive) * per_word;
  t.total_width = (board.reg(kCrtcHActive) + board.reg(kCrtcHBlank)) * per_word;
  t.height = board.reg(kCrtcVActive);
  t.total_height = board.reg(kCrtcVActive) + board.reg(kCrtcVBlank);
  // A porch and sync that overrun the blanking leave no back porch: 0.
  auto back_porch = [](uint32_t blank, uint32_t front, uint32_t sync) {
    return blank > front + sync ? blank - front - sync : 0;
  };
  t.h_front_porch = board.reg(kCrtcHFrontPorch) * per_word;
  t.h_sync = board.reg(kCrtcHSync) * per_word;
  t.h_back_porch = back_porch(t.total_width - t.width, t.h_front_porch, t.h_sync);
  t.v_front_porch = board.reg(kCrtcVFrontPorch);
  t.v_sync = board.reg(kCrtcVSync);
  t.v_back_porch = back_porch(t.total_height - t.height, t.v_front_porch, t.v_sync);
  t.pixel_clock_mhz =
      pll_frequency_mhz(board.dac_index_reg(kPclkVcoIndex), board.dac_index_reg(kPclkRefIndex));
  if (t.total_width) t.horizontal_khz = t.pixel_clock_mhz * 1000.0 / t.total_width;
  if (t.total_height) t.refresh_hz = t.horizontal_khz * 1000.0 / t.total_height;
  const uint32_t sync = board.reg(kCrtcSyncControl);
  t.hsync_positive = sync & 1;
  t.vsync_positive = sync & 2;
  t.start_address = board.reg(kCrtcStartAddr);
  t.pitch = board.reg(kCrtcPitch);
  return t;
}

std::string MonitorTiming::describe() const {
  if (state == DisplayState::VgaText) return "VGA text mode 3 (80 x 25)";
  if (state == DisplayState::Vga) return "VGA (the board's CRT controller does not drive the display)";
  return formatted("%u x %u at %u bpp, total %u x %u, pixel clock %.3f MHz, %.2f kHz, %.2f Hz, "
                   "hsync %c, vsync %c",
                   width, height, bits_per_pixel, total_width, total_height, pixel_clock_mhz,
                   horizontal_khz, refresh_hz, hsync_positive ? '+' : '-', vsync_positive ? '+' : '-');
}

namespace {

// One pixel of kBytes bytes at px, through the pixel format, as red, green
// and blue at out.
template <uint32_t kBytes>
inline void decode_pixel(const Board &board, const uint8_t *px, uint8_t *out) {
  if constexpr (kBytes == 1) {
    const auto c = board.palette(px[0] & board.pixel_mask());
    out[0] = c[0], out[1] = c[1], out[2] = c[2];
  } else if constexpr (kBytes == 2) {
    const unsigned v = unsigned(px[0] | px[1] << 8);
    const unsigned r = v >> 11, g = (v >> 5) & 0x3F, b = v & 0x1F;
    out[0] = uint8_t(r << 3 | r >> 2), out[1] = uint8_t(g << 2 | g >> 4), out[2] = uint8_t(b << 3 | b >> 2);
  } else {
    out[0] = px[2], out[1] = px[1], out[2] = px[0];  // x:8:8:8, blue in the low byte
  }
}

// A row of width pixels from offset line of video memory. The CRT
// controller's addresses past the installed memory reach the memory again
// (it repeats every installed-size bytes), so a row that runs past the end
// goes on from the start; a row inside the memory is read where it lies.
template <uint32_t kBytes>
void decode_row(const Board &board, uint64_t line, uint32_t width, uint8_t *out) {
  const uint64_t size = board.memory_size();
  const uint8_t *vram = board.vram();
  if (line + uint64_t(width) * kBytes <= size) {
    const uint8_t *px = vram + line;
    for (uint32_t x = 0; x < width; x++, out += 3, px += kBytes) decode_pixel<kBytes>(board, px, out);
    return;
  }
  for (uint32_t x = 0; x < width; x++, out += 3) {
    uint8_t px[kBytes];
    for (uint32_t i = 0; i < kBytes; i++) px[i] = vram[(line + uint64_t(x) * kBytes + i) % size];
    decode_pixel<kBytes>(board, px, out);
  }
}

}  // namespace

void render_row(const Board &board, const MonitorTiming &t, uint32_t y, uint8_t *out) {
  const uint64_t line = (uint64_t(t.start_address) + uint64_t(y) * t.pitch) % board.memory_size();
  switch (t.bits_per_pixel) {
    case 8: decode_row<1>(board, line, t.width, out); break;
    case 16: decode_row<2>(board, line, t.width, out); break;
    case 32: decode_row<4>(board, line, t.width, out); break;
    default: memset(out, 0, size_t(t.width) * 3);  // a format the DAC does not know shows black
  }
}

Picture render_frame(const Board &board, const MonitorTiming &t) {
  Picture p;
  if (t.state != DisplayState::Graphics || t.bits_per_pixel == 0) return p;
  // The picture is held whole. Registers that make it larger than any
  // monitor shows are refused before its size can overflow a size_t (on a
  // 64-bit host 3 x width x height can wrap round to a few bytes).
  constexpr uint64_t kMostPixels = (uint64_t{1} << 30) / 3;
  if (uint64_t(t.width) * t.height > kMostPixels)
    throw std::length_error(formatted("a picture of %u x %u pixels is too large to hold", t.width, t.height));
  p.width = t.width;
  p.height = t.height;
  p.rgb.resize(size_t(p.width) * p.height * 3);
  for (uint32_t y = 0; y < p.height; y++) render_row(board, t, y, &p.rgb[size_t(y) * p.width * 3]);
  return p;
}

}  // namespace torvic::host
