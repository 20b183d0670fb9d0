// SPDX-License-Identifier: MIT
// Every mode the driver offers, as the monitor decodes it from the
// registers, against the timings of the VESA standard where the standard
// has the mode.
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "host/board/monitor.h"
#include "tests/documented_block.h"
#include "tests/test_support.h"

namespace torvic::test {
namespace {

struct Standard {
  double pixel_clock_mhz;
  uint32_t h_front_porch, h_sync, h_back_porch;
  uint32_t v_front_porch, v_sync, v_back_porch;
  bool hsync_positive, vsync_positive;
};

// VESA and Industry Standards and Guidelines for Computer Display Monitor
// Timing (DMT), version 1.0, revision 13: the standard's own numbers, pixel
// clock in MHz, porches and sync widths in pixels and lines. 1920 x 1080 at
// 60 Hz is the standard's entry taken from CEA-861.
const std::map<std::string, Standard> kDmt = {
    {"640x480@60", {25.175, 16, 96, 48, 10, 2, 33, false, false}},
    {"640x480@72", {31.5, 24, 40, 128, 9, 3, 28, false, false}},
    {"640x480@75", {31.5, 16, 64, 120, 1, 3, 16, false, false}},
    {"640x480@85", {36.0, 56, 56, 80, 1, 3, 25, false, false}},
    {"800x600@60", {40.0, 40, 128, 88, 1, 4, 23, true, true}},
    {"800x600@72", {50.0, 56, 120, 64, 37, 6, 23, true, true}},
    {"800x600@75", {49.5, 16, 80, 160, 1, 3, 21, true, true}},
    {"800x600@85", {56.25, 32, 64, 152, 1, 3, 27, true, true}},
    {"1024x768@60", {65.0, 24, 136, 160, 3, 6, 29, false, false}},
    {"1024x768@70", {75.0, 24, 136, 144, 3, 6, 29, false, false}},
    {"1024x768@75", {78.75, 16, 96, 176, 1, 3, 28, true, true}},
    {"1024x768@85", {94.5, 48, 96, 208, 1, 3, 36, true, true}},
    {"1152x864@75", {108.0, 64, 128, 256, 1, 3, 32, true, true}},
    {"1280x1024@60", {108.0, 48, 112, 248, 1, 3, 38, true, true}},
    {"1280x1024@75", {135.0, 16, 144, 248, 1, 3, 38, true, true}},
    {"1280x1024@85", {157.5, 64, 160, 224, 1, 3, 44, true, true}},
    {"1600x1200@60", {162.0, 64, 192, 304, 1, 3, 46, true, true}},
    {"1600x1200@70", {189.0, 64, 192, 304, 1, 3, 46, true, true}},
    {"1600x1200@75", {202.5, 64, 192, 304, 1, 3, 46, true, true}},
    {"1920x1080@60", {148.5, 88, 44, 148, 4, 5, 36, true, true}},
};

// The driver's own timings where the standard has the mode: each differs in
// its horizontal blanking (listed with what the monitor decodes in
// docs/testing.md, whose table the last test below checks).
const std::set<std::string> kDiffersFromStandard = {"1280x1024@60", "1280x1024@85", "1600x1200@60",
                                                    "1600x1200@75", "1920x1080@60"};
// Offered, but no mode of the standard.
const std::set<std::string> kNotStandard = {"1152x864@60", "1152x864@70", "1152x864@85", "1600x1024@76",
                                            "1600x1200@80", "1600x1200@83", "1920x1080@72"};

std::string label(const VIDEO_MODE_INFORMATION &m) {
  return std::to_string(m.VisScreenWidth) + "x" + std::to_string(m.VisScreenHeight) + "@" +
         std::to_string(m.Frequency);
}

// What the monitor decodes for every timing a board offers, set at 8 bits
// per pixel on an 8 MiB board of the variant.
std::map<std::string, host::MonitorTiming> decoded_timings(uint16_t variant) {
  std::map<std::string, host::MonitorTiming> timings;
  Machine m(machine({board(3, variant, 8 * kMiB)}));
  m.boot();
  m.open(0);
  DisplayClient client(m, 0);
  for (const auto &mode : client.modes()) {
    if (mode.BitsPerPlane != 8) continue;
    EXPECT_EQ(client.set_mode(mode.ModeIndex), NO_ERROR) << label(mode);
    const host::MonitorTiming t = host::decode_monitor(m.board(3));
    EXPECT_EQ(t.width, mode.VisScreenWidth) << label(mode);
    EXPECT_EQ(t.height, mode.VisScreenHeight) << label(mode);
    timings[label(mode)] = t;
  }
  return timings;
}

// Horizontal values within the words the bus rounds to: the front porch and
// sync each lose less than a word, and the back porch takes up both.
bool matches(const host::MonitorTiming &t, const Standard &s, uint32_t pixels_per_word) {
  auto within = [&](uint32_t decoded, uint32_t standard, uint32_t words) {
    return (decoded > standard ? decoded - standard : standard - decoded) <= words * pixels_per_word;
  };
  return within(t.h_front_porch, s.h_front_porch, 1) && within(t.h_sync, s.h_sync, 1) &&
         within(t.h_back_porch, s.h_back_porch, 2) && t.v_front_porch == s.v_front_porch &&
         t.v_sync == s.v_sync && t.v_back_porch == s.v_back_porch &&
         t.hsync_positive == s.hsync_positive && t.vsync_positive == s.vsync_positive &&
         std::abs(t.pixel_clock_mhz - s.pixel_clock_mhz) < s.pixel_clock_mhz * 0.005;
}

TEST(VesaTimings, EveryStandardModeDecodesToTheStandardsPorchesSyncsPolaritiesAndClock) {
  // The RGB526 video-RAM board counts the CRT controller's horizontal
  // timing in 64-bit words, 8 pixels at 8 bpp, the DRAM board in 32-bit
  // words: both can give the standard's numbers exactly. The RGB528 board's
  // 128-bit words are 16 pixels, so there a value can only come within a word.
  for (const auto &[variant, pixels_per_word] :
       {std::pair<uint16_t, uint32_t>{kRgb526, 0}, {kDram, 0}, {kRgb528, 16}}) {
    SCOPED_TRACE(variant);
    std::set<std::string> differing, not_standard;
    for (const auto &[name, t] : decoded_timings(variant)) {
      const auto standard = kDmt.find(name);
      if (standard == kDmt.end()) not_standard.insert(name);
      else if (!matches(t, standard->second, pixels_per_word)) differing.insert(name);
    }
    for (const auto &name : differing) EXPECT_TRUE(kDiffersFromStandard.count(name)) << name;
    for (const auto &name : not_standard) EXPECT_TRUE(kNotStandard.count(name)) << name;
    // The RGB526 video-RAM board offers every timing and shows each exactly.
    if (variant == kRgb526) {
      EXPECT_EQ(differing, kDiffersFromStandard);
      EXPECT_EQ(not_standard, kNotStandard);
    }
  }
}

// One row of the documented table: what the monitor decodes for a mode.
std::string table_row(const std::string &name, const host::MonitorTiming &t, bool standard) {
  char text[256];  // a row is under 120 characters
  (void)std::snprintf(text, sizeof text,
                      "| %s%s | %.3f MHz | %u x %u | %u / %u / %u | %u / %u / %u | %c%c | %.2f kHz, %.2f Hz |",
                      name.c_str(), standard ? "" : " (not standard)", t.pixel_clock_mhz, t.total_width,
                      t.total_height, t.h_front_porch, t.h_sync, t.h_back_porch, t.v_front_porch, t.v_sync,
                      t.v_back_porch, t.hsync_positive ? '+' : '-', t.vsync_positive ? '+' : '-',
                      t.horizontal_khz, t.refresh_hz);
  return text;
}

// The table in docs/testing.md of the driver's own timings and the modes
// outside the standard is what the monitor decodes on an RGB526 board.
TEST(VesaTimings, TheDocumentedTableOfOwnTimingsIsWhatTheMonitorDecodes) {
  const auto timings = decoded_timings(kRgb526);
  std::string table =
      "| Mode | Pixel clock | Total | H porch / sync / porch | V porch / sync / porch | Sync | Line, frame |\n"
      "|---|---|---|---|---|---|---|\n";
  for (const auto &name : kDiffersFromStandard) table += table_row(name, timings.at(name), true) + "\n";
  for (const auto &name : kNotStandard) table += table_row(name, timings.at(name), false) + "\n";

  const auto documented = documented_block("testing.md", "<!-- own timings: VesaTimings test -->\n",
                                           "<!-- end of own timings -->");
  ASSERT_TRUE(documented) << "docs/testing.md lost its markers";
  EXPECT_EQ(*documented, table)
      << "replace the table in docs/testing.md with:\n" << table;
}

}  // namespace
}  // namespace torvic::test
