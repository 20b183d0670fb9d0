// SPDX-License-Identifier: MIT
// Every field of every mode record the display driver reads, for every
// variant and memory size, and the bounds of every mode index it may send.
#include "tests/test_support.h"

#include "torvic/requests.h"

namespace torvic::test {
namespace {

struct PixelFormat {
  ULONG red_bits, green_bits, blue_bits;
  ULONG red_mask, green_mask, blue_mask;
  ULONG attributes;
};

// What a display driver needs to draw in each depth: 8 bpp goes through the
// DAC's palette of 8-bit components; 16 bpp is 5:6:5 and 32 bpp 8:8:8 with
// red highest, as the DAC's direct-colour formats lay them out.
PixelFormat format_of(ULONG bits) {
  constexpr ULONG graphics = VIDEO_MODE_COLOR | VIDEO_MODE_GRAPHICS;
  switch (bits) {
    case 8: return {8, 8, 8, 0, 0, 0, graphics | VIDEO_MODE_PALETTE_DRIVEN | VIDEO_MODE_MANAGED_PALETTE};
    case 16: return {5, 6, 5, 0xF800, 0x07E0, 0x001F, graphics};
    case 32: return {8, 8, 8, 0x00FF0000, 0x0000FF00, 0x000000FF, graphics};
  }
  ADD_FAILURE() << bits << " bits per pixel";
  return {};
}

TEST(ModeRecords, EveryFieldOfEveryOfferedModeIsWhatTheDisplayDriverNeeds) {
  for (uint16_t variant : {kRgb526, kRgb528, kDram})
    for (uint32_t mib : {2u, 4u, 8u}) {
      SCOPED_TRACE(testing::Message() << "variant " << variant << ", " << mib << " MiB");
      Machine m(machine({board(3, variant, mib * kMiB)}));
      m.boot();
      const auto modes = DisplayClient(m, 0).modes();
      ASSERT_FALSE(modes.empty());
      for (size_t i = 0; i < modes.size(); i++) {
        const VIDEO_MODE_INFORMATION &mode = modes[i];
        SCOPED_TRACE(testing::Message() << mode.VisScreenWidth << "x" << mode.VisScreenHeight << "x"
                                        << mode.BitsPerPlane << "@" << mode.Frequency);
        const PixelFormat f = format_of(mode.BitsPerPlane);
        EXPECT_EQ(mode.Length, sizeof(VIDEO_MODE_INFORMATION));
        EXPECT_GE(mode.ModeIndex, i) << "indexes rise through the list";
        EXPECT_TRUE(i == 0 || mode.ModeIndex > modes[i - 1].ModeIndex);
        EXPECT_EQ(mode.NumberOfPlanes, 1u);
        EXPECT_EQ(mode.ScreenStride, mode.VisScreenWidth * mode.BitsPerPlane / 8) << "no padding";
        EXPECT_EQ(mode.XMillimeter, 320u);
        EXPECT_EQ(mode.YMillimeter, 240u);
        EXPECT_EQ(mode.NumberRedBits, f.red_bits);
        EXPECT_EQ(mode.NumberGreenBits, f.green_bits);
        EXPECT_EQ(mode.NumberBlueBits, f.blue_bits);
        EXPECT_EQ(mode.RedMask, f.red_mask);
        EXPECT_EQ(mode.GreenMask, f.green_mask);
        EXPECT_EQ(mode.BlueMask, f.blue_mask);
        EXPECT_EQ(mode.AttributeFlags, f.attributes | (variant == kRgb528 ? TORVIC_MODE_RGB528 : 0));
        EXPECT_EQ(mode.VideoMemoryBitmapWidth, mode.VisScreenWidth);
        EXPECT_EQ(mode.VideoMemoryBitmapHeight, mib * kMiB / mode.ScreenStride) << "lines the memory holds";
        EXPECT_GE(mode.VideoMemoryBitmapHeight, mode.VisScreenHeight) << "the frame fits";
        EXPECT_EQ(mode.DriverSpecificAttributeFlags, 0u);
      }
    }
}

VP_STATUS set_mode(Machine &m, ULONG index) {
  VIDEO_MODE mode{index};
  return m.request(0, IOCTL_VIDEO_SET_CURRENT_MODE, bytes_of(mode), 0).status;
}

TEST(ModeRecords, ModeIndexesAreCheckedAtTheLastEntryOfEachTableAndOnePast) {
  // The video-RAM table has 79 entries, the DRAM table 52: an index valid in
  // one table is past the end of the other.
  for (const auto &[variant, count] : {std::pair<uint16_t, ULONG>{kRgb526, 79}, {kDram, 52}}) {
    SCOPED_TRACE(variant);
    Machine m(machine({board(3, variant, 8 * kMiB)}));
    m.boot();
    m.open(0);
    const auto modes = DisplayClient(m, 0).modes();
    ASSERT_EQ(modes.back().ModeIndex, count - 1);
    EXPECT_EQ(set_mode(m, count - 1), NO_ERROR);
    const auto current = DisplayClient(m, 0).current_mode();
    ASSERT_TRUE(current.has_value());
    EXPECT_EQ(current->ModeIndex, count - 1);
    for (ULONG past : {count, 52u, 79u, 0xFFFFFFFFu}) {
      if (past < count) continue;
      m.clear_trace();
      EXPECT_EQ(set_mode(m, past), ERROR_INVALID_PARAMETER) << past;
      EXPECT_THAT(briefs(m.trace()), testing::IsEmpty()) << "a refused index touches nothing";
      EXPECT_EQ(DisplayClient(m, 0).current_mode()->ModeIndex, count - 1) << "the current mode stays";
    }
  }
}

TEST(ModeRecords, CurrentModeIsAnsweredOnlyFromInsideTheBoardsOwnTable) {
  // A DRAM board's table ends at 51; 52 would be the first entry past it,
  // though a video-RAM board has one there.
  Machine m(machine({board(3, kDram, 4 * kMiB)}));
  m.boot();
  m.open(0);
  ASSERT_EQ(extension_of(m, 0).num_modes, 52u);
  extension_of(m, 0).current_mode = 51;
  EXPECT_EQ(DisplayClient(m, 0).current_mode()->Frequency, 60u);
  for (ULONG index : {52u, 79u}) {
    extension_of(m, 0).current_mode = index;
    const auto r = m.request(0, IOCTL_VIDEO_QUERY_CURRENT_MODE, {}, sizeof(VIDEO_MODE_INFORMATION));
    EXPECT_EQ(r.status, ERROR_INVALID_PARAMETER) << index;
  }
}

}  // namespace
}  // namespace torvic::test
