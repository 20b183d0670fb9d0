// A board whose memory straps claim more video memory than it carries. The
// address lines above the installed memory reach no chip, so the memory
// repeats every installed-size bytes across the claimed range: mappings,
// clears and the monitor all see it so, and the host draws and reads only
// inside the memory it models.
#include <algorithm>
#include <cstring>

#include <nlohmann/json.hpp>

#include "host/monitor.h"
#include "host/test_pattern.h"
#include "test_support.h"

namespace torvic::test {
namespace {

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
