// SPDX-License-Identifier: MIT
// Test pictures (test_pattern.h): drawn into mapped video memory, and the
// colour a monitor must then show at every pixel.
#include "host/display/test_pattern.h"

#include <cstring>

namespace torvic::host {

namespace {

const char *const kNames[] = {"bars", "gradient", "checker", "grid"};

constexpr Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                          {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

// The ideal colours of a pattern, a row at a time. Rows that look alike share
// a key, so each distinct row is worked out once per frame.
class PatternRows {
 public:
  PatternRows(Pattern pattern, uint32_t w, uint32_t h) : pattern_(pattern), w_(w), h_(h), row_(w) {
    // 0 to 255 across the width; at 8 bits per pixel its 32 grey steps then
    // begin exactly where the bars above begin, every fourth step.
    ramp_.resize(w);
    for (uint32_t x = 0; x < w; x++) ramp_[x] = uint8_t(uint64_t(x) * 256 / w);
  }

  // Rows with the same key are the same; a key is below kKeys.
  static constexpr uint32_t kKeys = 256;
  uint32_t key(uint32_t y) const {
    switch (pattern_) {
      case Pattern::Bars: return y < h_ * 2 / 3 ? 0 : 1;  // eight colour bars over a grey ramp
      case Pattern::Gradient: return green(y);              // green follows the row
      case Pattern::Checker: return (y / 8) & 1;
      case Pattern::Grid: return y == 0 || y == h_ - 1 ? 0 : y % 32 == 0 ? 1 : 2;
    }
    return 0;
  }

  const std::vector<Rgb> &row(uint32_t y) {
    for (uint32_t x = 0; x < w_; x++) row_[x] = ideal(x, y);
    return row_;
  }

 private:
  uint8_t green(uint32_t y) const { return uint8_t(uint64_t(y) * 255 / (h_ > 1 ? h_ - 1 : 1)); }

  Rgb ideal(uint32_t x, uint32_t y) const {
    switch (pattern_) {
      case Pattern::Bars:
        if (y < h_ * 2 / 3) return kBars[x * 8 / w_];
        return {ramp_[x], ramp_[x], ramp_[x]};
      case Pattern::Gradient:
        return {ramp_[x], green(y), 128};
      case Pattern::Checker:
        return ((x / 8) ^ (y / 8)) & 1 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
      case Pattern::Grid:
        if (x == 0 || y == 0 || x == w_ - 1 || y == h_ - 1) return {255, 0, 0};
        return x % 32 == 0 || y % 32 == 0 ? Rgb{255, 255, 255} : Rgb{0, 0, 64};
    }
    return {0, 0, 0};
  }

  Pattern pattern_;
  uint32_t w_, h_;
  std::vector<uint8_t> ramp_;
  std::vector<Rgb> row_;
};

// The 8-bit palette: a 6 x 6 x 6 colour cube in entries 0 to 215, then 32
// greys in 216 to 247, so that a grey stays grey.
constexpr unsigned kGreys = 216, kGreySteps = 32;

unsigned cube_level(uint8_t v) { return (v * 5u + 127) / 255; }

uint8_t palette_index(const Rgb &c) {
  if (c[0] == c[1] && c[1] == c[2]) return uint8_t(kGreys + c[0] / (256 / kGreySteps));
  return uint8_t(cube_level(c[0]) * 36 + cube_level(c[1]) * 6 + cube_level(c[2]));
}

Rgb palette_color(uint8_t index) {
  if (index >= kGreys + kGreySteps) return {0, 0, 0};
  if (index >= kGreys) {
    const auto v = uint8_t((index - kGreys) * 255 / (kGreySteps - 1));
    return {v, v, v};
  }
  return {uint8_t(index / 36 * 51), uint8_t(index / 6 % 6 * 51), uint8_t(index % 6 * 51)};
}

uint16_t rgb565(const Rgb &c) { return uint16_t((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3); }

Rgb expand565(uint16_t v) {
  const unsigned r = v >> 11, g = (v >> 5) & 0x3F, b = v & 0x1F;
  return {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2)};
}

// A row of ideal colours as the pixel bytes the client writes: width x
// bits_per_pixel / 8 bytes. A depth the board has no pixel format for is
// left as it is (zero): the client knows no way to write it.
void encode_row(const std::vector<Rgb> &ideal, uint32_t bits_per_pixel, uint8_t *out) {
  for (size_t x = 0; x < ideal.size(); x++) {
    const Rgb &c = ideal[x];
    if (bits_per_pixel == 8) {
      out[x] = palette_index(c);
    } else if (bits_per_pixel == 16) {
      const uint16_t v = rgb565(c);
      memcpy(out + 2 * x, &v, 2);
    } else if (bits_per_pixel == 32) {
      const uint32_t v = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
      memcpy(out + 4 * x, &v, 4);
    }
  }
}

// A row of ideal colours as the monitor must show them once they went
// through the pixel format: the palette at 8 bpp, 5:6:5 at 16.
void encode_shown_row(const std::vector<Rgb> &ideal, uint32_t bits_per_pixel, uint8_t *out) {
  for (size_t x = 0; x < ideal.size(); x++, out += 3) {
    const Rgb c = bits_per_pixel == 8    ? palette_color(palette_index(ideal[x]))
                  : bits_per_pixel == 16 ? expand565(rgb565(ideal[x]))
                                         : ideal[x];
    out[0] = c[0], out[1] = c[1], out[2] = c[2];
  }
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

PatternImage::PatternImage(Pattern pattern, const VIDEO_MODE_INFORMATION &mode)
    : width_(mode.VisScreenWidth),
      height_(mode.VisScreenHeight),
      encoded_bytes_(size_t(width_) * mode.BitsPerPlane / 8),
      row_of_(height_) {
  PatternRows rows(pattern, width_, height_);
  constexpr uint32_t kNone = UINT32_MAX;
  std::array<uint32_t, PatternRows::kKeys> distinct_row{};
  distinct_row.fill(kNone);
  uint32_t distinct = 0;
  for (uint32_t y = 0; y < height_; y++) {
    uint32_t &row = distinct_row[rows.key(y)];
    if (row == kNone) {
      row = distinct++;
      const std::vector<Rgb> &ideal = rows.row(y);
      encoded_.resize(encoded_bytes_ * distinct);
      encode_row(ideal, mode.BitsPerPlane, &encoded_[encoded_bytes_ * row]);
      shown_.resize(size_t(width_) * 3 * distinct);
      encode_shown_row(ideal, mode.BitsPerPlane, &shown_[size_t(width_) * 3 * row]);
    }
    row_of_[y] = row;
  }
}

void PatternImage::draw(uint8_t *frame, uint32_t stride) const {
  for (uint32_t y = 0; y < height_; y++)
    memcpy(frame + size_t(y) * stride, &encoded_[encoded_bytes_ * row_of_[y]], encoded_bytes_);
}

void draw_pattern(Pattern pattern, uint8_t *frame, const VIDEO_MODE_INFORMATION &mode) {
  PatternImage(pattern, mode).draw(frame, mode.ScreenStride);
}

std::vector<uint8_t> expected_picture(Pattern pattern, const VIDEO_MODE_INFORMATION &mode) {
  const PatternImage image(pattern, mode);
  const size_t row_bytes = size_t(image.width()) * 3;
  std::vector<uint8_t> rgb(row_bytes * image.height());
  for (uint32_t y = 0; y < image.height(); y++) memcpy(&rgb[row_bytes * y], image.shown_row(y), row_bytes);
  return rgb;
}

}  // namespace torvic::host
