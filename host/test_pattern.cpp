#include "host/test_pattern.h"

#include <cstring>

namespace torvic::host {

namespace {

const char *const kNames[] = {"bars", "gradient", "checker", "grid"};

Rgb ideal(Pattern pattern, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  switch (pattern) {
    case Pattern::Bars: {
      // Eight colour bars over a grey ramp.
      static constexpr Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
      if (y < h * 2 / 3) return bars[x * 8 / w];
      const auto grey = uint8_t(x * 255 / (w - 1));
      return {grey, grey, grey};
    }
    case Pattern::Gradient:
      return {uint8_t(x * 255 / (w - 1)), uint8_t(y * 255 / (h - 1)), 128};
    case Pattern::Checker:
      return ((x / 8) ^ (y / 8)) & 1 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    case Pattern::Grid:
      if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return {255, 0, 0};
      return x % 32 == 0 || y % 32 == 0 ? Rgb{255, 255, 255} : Rgb{0, 0, 64};
  }
  return {0, 0, 0};
}

uint8_t palette_index(const Rgb &c) { return uint8_t((c[0] >> 5) << 5 | (c[1] >> 5) << 2 | c[2] >> 6); }

Rgb palette_color(uint8_t index) {
  return {uint8_t((index >> 5) * 255 / 7), uint8_t(((index >> 2) & 7) * 255 / 7),
          uint8_t((index & 3) * 255 / 3)};
}

uint16_t rgb565(const Rgb &c) { return uint16_t((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3); }

Rgb expand565(uint16_t v) {
  const unsigned r = v >> 11, g = (v >> 5) & 0x3F, b = v & 0x1F;
  return {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2)};
}

}  // namespace

std::vector<std::string> pattern_names() { return {std::begin(kNames), std::end(kNames)}; }

std::optional<Pattern> pattern_named(const std::string &name) {
  for (size_t i = 0; i < std::size(kNames); i++)
    if (name == kNames[i]) return static_cast<Pattern>(i);
  return std::nullopt;
}

std::vector<VIDEO_CLUTDATA> pattern_palette() {
  std::vector<VIDEO_CLUTDATA> palette(256);
  for (unsigned i = 0; i < 256; i++) {
    const Rgb c = palette_color(uint8_t(i));
    palette[i] = {c[0], c[1], c[2], 0};
  }
  return palette;
}

void draw_pattern(Pattern pattern, uint8_t *frame, const VIDEO_MODE_INFORMATION &mode) {
  const uint32_t w = mode.VisScreenWidth, h = mode.VisScreenHeight;
  for (uint32_t y = 0; y < h; y++) {
    uint8_t *line = frame + size_t(y) * mode.ScreenStride;
    for (uint32_t x = 0; x < w; x++) {
      const Rgb c = ideal(pattern, x, y, w, h);
      switch (mode.BitsPerPlane) {
        case 8: line[x] = palette_index(c); break;
        case 16: {
          const uint16_t v = rgb565(c);
          memcpy(line + 2 * x, &v, 2);
          break;
        }
        default: {
          const uint32_t v = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
          memcpy(line + 4 * x, &v, 4);
        }
      }
    }
  }
}

Rgb expected_color(Pattern pattern, const VIDEO_MODE_INFORMATION &mode, uint32_t x, uint32_t y) {
  const Rgb c = ideal(pattern, x, y, mode.VisScreenWidth, mode.VisScreenHeight);
  if (mode.BitsPerPlane == 8) return palette_color(palette_index(c));
  if (mode.BitsPerPlane == 16) return expand565(rgb565(c));
  return c;
}

}  // namespace torvic::host
