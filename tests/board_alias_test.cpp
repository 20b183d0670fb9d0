// SPDX-License-Identifier: MIT
// A board whose memory straps claim more video memory than it carries. The
// address lines above the installed memory reach no chip, so the memory
// repeats every installed-size bytes across the claimed range: mappings,
// clears and the monitor all see it so, and the host draws and reads only
// inside the memory it models.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include <nlohmann/json.hpp>

#include "host/board/monitor.h"
#include "host/board/vram_views.h"
#include "host/display/test_pattern.h"
#include "host/common/guarded_memory.h"
#include "test_support.h"

namespace torvic::test {
namespace {

constexpr uint64_t kInstalled = uint64_t{2} * kMiB;
constexpr uint32_t kStraps8MiB = 0x8400;  // CONFIG1 of an 8 MiB board

BoardConfig short_board() {
  BoardConfig b = board(3, kRgb526, 2 * kMiB);
  b.config1 = kStraps8MiB;
  return b;
}

// A 2 MiB board strapped as 8 MiB, booted and opened; the driver believes
// the straps.
struct ShortBoard {
  ShortBoard() : m(machine({short_board()})), client(m, 0) {
    m.boot();
    m.open(0);
  }
  // Sets the mode of that size and depth at its lowest rate.
  VIDEO_MODE_INFORMATION set(ULONG width, ULONG height, ULONG bits) {
    for (const auto &mode : client.modes())
      if (mode.VisScreenWidth == width && mode.VisScreenHeight == height && mode.BitsPerPlane == bits) {
        EXPECT_EQ(client.set_mode(mode.ModeIndex), NO_ERROR);
        return mode;
      }
    ADD_FAILURE() << width << "x" << height << "x" << bits << " is not offered";
    return {};
  }
  uint8_t *vram() { return m.board(3).vram(); }
  Machine m;
  DisplayClient client;
};

TEST(Mapping, ABoardShortOfItsStrapsRepeatsItsMemoryThroughTheWholeMapping) {
  ShortBoard b;
  // 5 MiB of frame on 2 MiB of memory: the driver took the straps' word.
  const VIDEO_MODE_INFORMATION mode = b.set(1280, 1024, 32);
  const auto memory = b.client.map_video_memory();
  ASSERT_EQ(memory.status, NO_ERROR);
  ASSERT_EQ(memory.ram_length, 8 * kMiB);
  ASSERT_TRUE(b.client.frame_fits(memory, mode));
  host::PatternImage(host::Pattern::Gradient, mode).draw(memory.frame, mode.ScreenStride);

  uint8_t value = 0x10;
  for (const uint64_t x : {uint64_t{0}, uint64_t{0x1234}, kInstalled - 1})
    for (uint64_t alias = 1; alias < 4; alias++, value++) {
      SCOPED_TRACE(hex(x + alias * kInstalled));
      memory.ram[x + alias * kInstalled] = value;
      EXPECT_EQ(b.vram()[x], value);
      EXPECT_EQ(memory.ram[x], value);
    }

  // A second mapping, made while the first is open, and a third once both
  // are gone, repeat the memory alike.
  const auto second = b.client.map_video_memory();
  ASSERT_EQ(second.status, NO_ERROR);
  second.ram[7 * kMiB + 0x10] = 0x5A;
  EXPECT_EQ(b.vram()[kMiB + 0x10], 0x5A);
  EXPECT_EQ(memory.ram[3 * kMiB + 0x10], 0x5A);
  EXPECT_EQ(b.client.unmap_video_memory(memory.ram), NO_ERROR);
  EXPECT_EQ(b.client.unmap_video_memory(second.ram), NO_ERROR);
  const auto third = b.client.map_video_memory();
  ASSERT_EQ(third.status, NO_ERROR);
  EXPECT_EQ(third.ram[5 * kMiB + 0x10], 0x5A);
  third.ram[0x20] = 0xA5;
  EXPECT_EQ(third.ram[6 * kMiB + 0x20], 0xA5);
  EXPECT_EQ(b.client.unmap_video_memory(third.ram), NO_ERROR);
}

// The driver maps from the start of video memory; a view that starts
// further in repeats the memory from its own offset, wrapping at the end.
TEST(Mapping, AViewStartingInsideTheMemoryRepeatsItFromItsOffset) {
  host::Board hw(short_board());
  host::VramViews views(hw.vram_fd(), hw.memory_size());
  host::Reservation space(size_t{5} * kMiB);
  // cppcheck-suppress redundantAssignment ; the view aliases the board's memory, read below through it
  const auto view = views.place(space.base(), kMiB, uint64_t{5} * kMiB);
  ASSERT_NE(view, nullptr);
  hw.vram()[kMiB + 0x10] = 0x11;
  // cppcheck-suppress unreadVariable ; read back through the view that aliases the board's memory
  hw.vram()[0x20] = 0x22;
  // Place p of the view is memory (1 MiB + p) modulo 2 MiB.
  for (const uint64_t at : std::initializer_list<uint64_t>{0x10, 2 * kMiB + 0x10, 4 * kMiB + 0x10})
    EXPECT_EQ(space.base()[at], 0x11) << hex(at);
  for (const uint64_t at : std::initializer_list<uint64_t>{kMiB + 0x20, 3 * kMiB + 0x20})
    EXPECT_EQ(space.base()[at], 0x22) << hex(at);
}

TEST(BoardModel, ClearPastTheInstalledMemoryWrapsToItsStart) {
  host::Board hw(short_board());
  uint8_t *vram = hw.vram();
  memset(vram, 0xEE, kInstalled);
  // From 1 MiB into the memory (3 MiB is its second copy) on past its end.
  hw.clear_vram(uint64_t{3} * kMiB, kMiB + 0x100);
  EXPECT_EQ(vram[kMiB - 1], 0xEE);
  EXPECT_EQ(vram[kMiB], 0);
  EXPECT_EQ(vram[kInstalled - 1], 0);
  EXPECT_EQ(vram[0], 0);
  EXPECT_EQ(vram[0xFF], 0);
  EXPECT_EQ(vram[0x100], 0xEE);

  // The whole claimed range clears the whole memory.
  memset(vram, 0xEE, kInstalled);
  hw.clear_vram(0, uint64_t{8} * kMiB);
  EXPECT_EQ(std::count(vram, vram + kInstalled, 0), static_cast<ptrdiff_t>(kInstalled));
}

TEST(Monitor, ShowsTheInstalledMemoryAgainPastItsEnd) {
  ShortBoard b;
  b.set(1280, 1024, 32);
  const auto memory = b.client.map_video_memory();
  ASSERT_EQ(memory.status, NO_ERROR);
  const host::MonitorTiming timing = host::decode_monitor(b.m.board(3));
  ASSERT_EQ(timing.width, 1280u);
  ASSERT_EQ(timing.height, 1024u);
  auto put = [&](uint8_t *at, uint32_t pixel) { memcpy(at, &pixel, 4); };
  // Where a byte of video memory shows on the screen: x and y.
  auto shown_at = [&](uint64_t offset) {
    const uint64_t from_start = offset - timing.start_address;
    return std::pair<uint32_t, uint32_t>(uint32_t(from_start % timing.pitch / 4), uint32_t(from_start / timing.pitch));
  };

  // A pixel written through the second copy of the memory shows where the
  // first copy is scanned out, and again where the second is.
  const uint64_t first = timing.start_address + 10 * uint64_t(timing.pitch) + uint64_t{100} * 4;
  put(memory.ram + first + kInstalled, 0x123456);
  const auto [x2, y2] = shown_at(first + kInstalled);
  ASSERT_LT(x2, 1280u);
  ASSERT_LT(y2, 1024u);
  // The line that runs past the end of the memory goes on from its start.
  put(b.vram() + kInstalled - 4, 0x00FF00);
  put(b.vram(), 0xFF0000);
  const auto [x_end, y_end] = shown_at(kInstalled);
  ASSERT_GT(x_end, 0u);
  ASSERT_LT(x_end, 1280u);

  const host::Picture picture = host::render_frame(b.m.board(3), timing);
  using host::Rgb;
  EXPECT_EQ(picture.at(100, 10), (Rgb{0x12, 0x34, 0x56}));
  EXPECT_EQ(picture.at(x2, y2), (Rgb{0x12, 0x34, 0x56}));
  EXPECT_EQ(picture.at(x_end - 1, y_end), (Rgb{0, 0xFF, 0}));
  EXPECT_EQ(picture.at(x_end, y_end), (Rgb{0xFF, 0, 0}));
  EXPECT_EQ(b.client.unmap_video_memory(memory.ram), NO_ERROR);
}

TEST(Trace, CallsThatReachPastTheInstalledMemoryCarryAMark) {
  ShortBoard b;
  b.m.clear_trace();
  b.set(1280, 1024, 32);
  const auto memory = b.client.map_video_memory();
  ASSERT_EQ(memory.status, NO_ERROR);
  std::vector<const host::TraceEvent *> marked;
  for (const auto &e : b.m.trace())
    if (e.service == "VideoPortZeroDeviceMemory" || e.service == "VideoPortMapMemory") marked.push_back(&e);
  ASSERT_EQ(marked.size(), 2u);
  EXPECT_EQ(marked[0]->brief(), "VideoPortZeroDeviceMemory length 0x800000 aliases 2 MiB installed");
  EXPECT_THAT(marked[1]->text(), ::testing::EndsWith("length 0x800000 memory aliases 2 MiB installed"));
  for (const host::TraceEvent *e : marked)
    EXPECT_EQ(nlohmann::json::parse(e->json())["args"]["aliases"], "2 MiB installed") << e->json();
  EXPECT_EQ(b.client.unmap_video_memory(memory.ram), NO_ERROR);

  // A view that ends where the installed memory ends reaches no copy of it.
  const struct {
    ULONG size;
    bool mark;
  } views[] = {{ULONG(kInstalled), false}, {ULONG(kInstalled) + 0x1000, true}};
  for (const auto &view : views) {
    SCOPED_TRACE(hex(view.size));
    b.m.clear_trace();
    const auto shared = b.client.share_video_memory(kProcess, 0, view.size);
    ASSERT_EQ(shared.status, NO_ERROR);
    const auto calls = briefs(b.m.trace(), [](const host::TraceEvent &e) { return e.service == "VideoPortMapMemory"; });
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "VideoPortMapMemory phys 0xC0000000 length " + hex(view.size) + " memory process 0x4D0" +
                            (view.mark ? " aliases 2 MiB installed" : ""));
    EXPECT_EQ(b.client.unshare_video_memory(kProcess, shared.info.VirtualAddress), NO_ERROR);
  }
}

// What the driver reports may be more than the machine mapped: a client
// checks its frame against the mapping itself before it draws.
TEST(Mapping, AFrameFitsOnlyInsideTheMemoryTheMachineReallyMapped) {
  Machine m(machine({board(3, kRgb526, 4 * kMiB)}));
  m.boot();
  DisplayClient client(m, 0);
  VIDEO_MODE_INFORMATION mode{};
  for (const auto &candidate : client.modes())
    if (candidate.VisScreenWidth == 1024 && candidate.BitsPerPlane == 8) mode = candidate;
  ASSERT_EQ(client.set_mode(mode.ModeIndex), NO_ERROR);
  const auto memory = client.map_video_memory();
  ASSERT_EQ(memory.status, NO_ERROR);
  EXPECT_TRUE(client.frame_fits(memory, mode));

  // 7.3 MiB of frame, on a mapping of 4 MiB reported as 8.
  DisplayClient::VideoMemory claimed = memory;
  claimed.frame_length = 8 * kMiB;
  VIDEO_MODE_INFORMATION large = mode;
  large.VisScreenWidth = 1600;
  large.VisScreenHeight = 1200;
  large.BitsPerPlane = 32;
  large.ScreenStride = 6400;
  EXPECT_FALSE(client.frame_fits(claimed, large));
  // Rows closer together than they are wide: the last row's pixels run on
  // past its stride, and one byte past the mapping.
  VIDEO_MODE_INFORMATION overlapping = mode;
  overlapping.VisScreenHeight = 2;
  overlapping.ScreenStride = 16;
  overlapping.VisScreenWidth = memory.frame_length - 16;
  EXPECT_TRUE(client.frame_fits(memory, overlapping));
  overlapping.VisScreenWidth++;
  EXPECT_FALSE(client.frame_fits(memory, overlapping));

  EXPECT_EQ(client.unmap_video_memory(memory.ram), NO_ERROR);
  EXPECT_FALSE(client.frame_fits(memory, mode));
}

// The client writes the depths the board has pixel formats for; a mode of
// another depth gets rows of its own width, nothing wider.
TEST(TestPattern, ADepthWithoutAPixelFormatIsDrawnInsideItsRows) {
  VIDEO_MODE_INFORMATION mode{};
  mode.VisScreenWidth = 640;
  mode.VisScreenHeight = 4;
  mode.BitsPerPlane = 24;
  mode.ScreenStride = 640 * 3;
  std::vector<uint8_t> frame(size_t(mode.ScreenStride) * mode.VisScreenHeight + 64, 0xCC);
  host::PatternImage(host::Pattern::Bars, mode).draw(frame.data(), mode.ScreenStride);
  EXPECT_EQ(std::count(frame.end() - 64, frame.end(), 0xCC), 64);
}

}  // namespace
}  // namespace torvic::test
