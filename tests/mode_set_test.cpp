// SPDX-License-Identifier: MIT
// Putting a board into a display mode, and handing it back to VGA text mode:
// the register sequences, the values that depend on the board, the refusals
// and the drawing engine's wait.
#include <algorithm>
#include <cstdio>
#include <optional>

#include "host/board/monitor.h"
#include "miniport/board_registers.h"
#include "test_support.h"

namespace torvic::test {
namespace {

using ::testing::IsEmpty;


using Lines = std::vector<std::string>;

void append(Lines &to, const Lines &lines) { to.insert(to.end(), lines.begin(), lines.end()); }

// One indexed-register run: the index, then its data bytes.
Lines dac_run(UCHAR index, const std::vector<UCHAR> &data) {
  Lines t = {"write8 DAC_INDEX_LOW " + hex(index)};
  for (const UCHAR d : data) t.push_back("write8 DAC_INDEX_DATA " + hex(d));
  return t;
}

// A new indexed-register sequence, then the memory clock's two dividers and
// the 2.5 ms the PLL needs to lock.
Lines memory_clock(UCHAR ref_div, UCHAR vco_div) {
  Lines t = {"write8 DAC_INDEX_HIGH 0x0", "write8 DAC_INDEX_CONTROL 0x1"};
  append(t, dac_run(0x15, {ref_div, vco_div}));
  t.push_back("stall 50 (x 50)");
  return t;
}

// What one mode asks of the board, in the board's own units.
struct ModeCase {
  const char *name;
  uint16_t variant;
  ULONG index;
  ULONG sync, control, stride;
  std::array<ULONG, 4> horizontal;  // active, blank, front porch, sync, in memory words
  std::array<ULONG, 4> vertical;    // the same, in lines
  ULONG pll;                        // reference divider << 8 | VCO divider
  UCHAR format;                     // DAC_PIXEL_FORMAT
};

// The whole mode set on a fresh 4 MiB board whose CONFIG2 came up with bit 2 set.
Lines expected_mode_set(const ModeCase &c) {
  const bool dram = c.variant == kDram;
  const bool rgb528 = c.variant == kRgb528;
  Lines t = {
      // configuration reset, then the three memory windows switched on again
      "read CONFIG2 -> 0x311F0C", "write CONFIG2 0x1F0C",
      "write MW0_CTRL 0x0", "write MW0_SIZE 0xA", "write MW0_REG_200C 0x0",
      "write MW0_REG_2010 0x0", "write MW0_MASK 0xFFFFFFFF",
      "read CONFIG2 -> 0x1F0C", "write CONFIG2 0x11F0C",
      "read XYA_CTRL -> 0x100", "write XYA_CTRL 0x100",
      "read CONFIG2 -> 0x11F0C", "write CONFIG2 0x111F0C",
      "read XYB_CTRL -> 0x100", "write XYB_CTRL 0x100",
      "read CONFIG2 -> 0x111F0C", "write CONFIG2 0x311F0C",
      // an idle engine, then all of video memory cleared
      "read ENGINE_QUEUE -> 0x0", "read ENGINE_BUSY -> 0x0",
      "VideoPortZeroDeviceMemory length 0x400000",
      "write CRTC_SYNC_CONTROL " + hex(c.sync),
      "read CONFIG2 -> 0x311F0C", "write CRTC_CONTROL " + hex(c.control)};
  if (dram) t.push_back("write CRTC_CONTROL 0x20000100");
  append(t, {"read VGA_CTRL -> 0xD", "write VGA_CTRL 0x0"});
  append(t, dram ? memory_clock(0x08, 0x53) : memory_clock(0x06, 0x42));

  append(t, {"write CRTC_REG_20 0x0", "write CRTC_REG_24 0x0", "write CRTC_START_ADDR 0x0",
             "write CRTC_PITCH " + hex(c.stride)});
  const char *const h[] = {"CRTC_HACTIVE", "CRTC_HBLANK", "CRTC_HFRONT_PORCH", "CRTC_HSYNC"};
  const char *const v[] = {"CRTC_VACTIVE", "CRTC_VBLANK", "CRTC_VFRONT_PORCH", "CRTC_VSYNC"};
  for (int i = 0; i < 4; i++)
    t.push_back(std::string("write ") + h[i] + " " + hex(c.horizontal[i]));
  for (int i = 0; i < 4; i++) t.push_back(std::string("write ") + v[i] + " " + hex(c.vertical[i]));
  append(t, {"write CRTC_REG_50 0x0", "write CRTC_REG_54 0x0"});

  // The DAC: pixel clock changing, then the pixel clock, cursor off, the
  // variant's clocking and pixel format, and the pixel clock once more.
  const auto lo = static_cast<UCHAR>(c.pll), hi = static_cast<UCHAR>(c.pll >> 8);
  append(t, {"write8 DAC_INDEX_HIGH 0x0", "write8 DAC_INDEX_CONTROL 0x1"});
  append(t, dac_run(0x71, {0x01}));
  append(t, dac_run(0x20, {lo, hi}));
  append(t, dac_run(0x10, {0x03, 0x00}));
  append(t, dac_run(0x30, {0x00}));
  if (rgb528) {
    append(t, dac_run(0x70, {0x03, 0x45, 0x00, 0x00}));
    append(t, dac_run(0x02, {0x81, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01}));
    append(t, dac_run(0x0A, {c.format, 0x00, 0xC7, 0x00, 0x03}));
  } else {
    const UCHAR misc2 = dram && c.format == 6 ? 0x05 : 0x45;
    append(t, dac_run(0x70, {static_cast<UCHAR>(dram ? 0x00 : 0x03), misc2, 0x00, 0x00}));
    append(t, dac_run(0x02, {0x81, 0x00, 0x01, 0x00, 0x02, 0x00, 0x01}));
    append(t, dac_run(0x0A, {0x03, 0x00, 0xC7, 0x00, 0x03}));
    append(t, dac_run(0x0E, {0x03}));
    append(t, dac_run(0x0A, {c.format}));
  }
  append(t, dac_run(0x20, {lo, hi}));
  append(t, dac_run(0x10, {0x03, 0x00}));
  t.push_back("write8 DAC_PIXEL_MASK 0xFF");
  return t;
}

// A booted machine with one board in slot 3, initialised.
struct OneBoard {
  explicit OneBoard(const BoardConfig &config) : m(machine({config})), client(m, 0) {
    m.boot();
    m.open(0);
  }
  Machine m;
  DisplayClient client;
  host::Board &hw() { return m.board(3); }
  HW_DEVICE_EXTENSION &ext() { return extension_of(m, 0); }
};

BoardConfig with_config2(BoardConfig b, uint32_t config2) {
  b.config2_power_on = config2;
  return b;
}

// ---- Mode set -----------------------------------------------------------------------------------

TEST(ModeSet, WholeSequenceForEachDepthOnEachVariant) {
  // 1024 x 768 x 8 at 60 Hz (e = 4), 800 x 600 x 16 at 60 Hz (e = 4), 640 x 480 x 32
  // at 60 Hz (e = 8); a memory word is 64 bits on the RGB526 board, 128 on the
  // RGB528 board and 32 on the DRAM board. So 1024 x 768 x 8 is 128, 64 and 256
  // words wide; the DRAM board at 32 bits per pixel counts one pixel a word and
  // ends with DAC_MISC1 0x00, DAC_MISC2 0x05.
  const std::array<ULONG, 4> v1024 = {768, 38, 3, 6}, v800 = {600, 28, 1, 4},
                             v640 = {480, 45, 10, 2};
  const ModeCase cases[] = {
      {"RGB526 1024x768x8", kRgb526, 24, 0x70, 0x40101, 1024, {128, 40, 3, 17}, v1024, 0x0C7B, 3},
      {"RGB528 1024x768x8", kRgb528, 24, 0x70, 0x40101, 1024, {64, 20, 1, 8}, v1024, 0x0C7B, 3},
      {"DRAM 1024x768x8", kDram, 24, 0x70, 0x40101, 1024, {256, 80, 6, 34}, v1024, 0x0C7B, 3},
      {"RGB526 800x600x16", kRgb526, 13, 0x73, 0x1040101, 1600, {200, 64, 10, 32}, v800, 0x0718, 4},
      {"RGB528 800x600x16", kRgb528, 13, 0x73, 0x1040101, 1600, {100, 32, 5, 16}, v800, 0x0718, 4},
      {"DRAM 800x600x16", kDram, 13, 0x73, 0x1040101, 1600, {400, 128, 20, 64}, v800, 0x0718, 4},
      {"RGB526 640x480x32", kRgb526, 2, 0x70, 0x1040101, 2560, {320, 80, 8, 48}, v640, 0x0A0F, 6},
      {"RGB528 640x480x32", kRgb528, 2, 0x70, 0x1040101, 2560, {160, 40, 4, 24}, v640, 0x0A0F, 6},
      {"DRAM 640x480x32", kDram, 2, 0x70, 0x1040101, 2560, {640, 160, 16, 96}, v640, 0x0A0F, 6},
  };
  for (const ModeCase &c : cases) {
    SCOPED_TRACE(c.name);
    OneBoard b(board(3, c.variant, 4 * kMiB));
    b.m.clear_trace();
    const RequestResult r =
        b.m.request(0, IOCTL_VIDEO_SET_CURRENT_MODE, bytes_of(VIDEO_MODE{c.index}), 0);
    EXPECT_EQ(r.status, NO_ERROR);
    EXPECT_FALSE(r.information_written);
    EXPECT_EQ(briefs(b.m.trace()), expected_mode_set(c));
    EXPECT_EQ(b.ext().current_mode, c.index);
  }
}

TEST(ModeSet, ConfigTwoBitTwoDecidesControlBitOneAndTheDramBoardTakesItsOwnValue) {
  const struct {
    uint16_t variant;
    uint32_t config2;
    ULONG index;
    ULONG written;  // CRTC_CONTROL as the board holds it
    ULONG kept;     // crtc_control, for the return to VGA
  } cases[] = {
      {kRgb526, 0xC, 24, 0x00040101, 0x00040101}, {kRgb526, 0x8, 24, 0x00040103, 0x00040103},
      {kRgb526, 0xC, 0, 0x01040101, 0x01040101},  {kRgb526, 0x8, 0, 0x01040103, 0x01040103},
      {kDram, 0xC, 24, 0x20000100, 0x00040101},   {kDram, 0x8, 24, 0x20000100, 0x00040103},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << "variant " << c.variant << " CONFIG2 " << c.config2
                                      << " mode " << c.index);
    OneBoard b(with_config2(board(3, c.variant, 4 * kMiB), c.config2));
    ASSERT_EQ(b.client.set_mode(c.index), NO_ERROR);
    EXPECT_EQ(b.hw().reg(CRTC_CONTROL), c.written);
    EXPECT_EQ(b.ext().crtc_control, c.kept);
  }
}

TEST(ModeSet, FrameLargerThanFourMiBStartsWhereALineBeginsAtTheBoundary) {
  const struct {
    ULONG index;
    ULONG start;
  } cases[] = {
      {0, 0},      // 640 x 480 x 8
      {26, 0},     // 1024 x 768 x 32: 3 MiB
      {50, 1024},  // 1280 x 1024 x 32: stride 5120
      {59, 2304},  // 1600 x 1200 x 32: stride 6400
      {75, 1024},  // 1920 x 1080 x 32: stride 7680
  };
  OneBoard b(board(3, kRgb526, 8 * kMiB));
  for (const auto &c : cases) {
    SCOPED_TRACE(c.index);
    ASSERT_EQ(b.client.set_mode(c.index), NO_ERROR);
    EXPECT_EQ(b.hw().reg(CRTC_START_ADDR), c.start);
  }
}

TEST(ModeSet, RefusedRequestsLeaveTheCurrentModeAndTheBoardAlone) {
  const struct {
    const char *name;
    uint16_t variant;
    std::vector<uint8_t> input;
    VP_STATUS status;
  } cases[] = {
      {"index = table size", kRgb526, bytes_of(VIDEO_MODE{79}), ERROR_INVALID_PARAMETER},
      {"index = DRAM table size", kDram, bytes_of(VIDEO_MODE{52}), ERROR_INVALID_PARAMETER},
      {"withdrawn entry", kRgb526, bytes_of(VIDEO_MODE{50}), ERROR_INVALID_PARAMETER},
      {"index with the top bit set", kRgb526, bytes_of(VIDEO_MODE{0x80000000}),
       ERROR_INVALID_PARAMETER},
      {"index past 0xFF", kRgb526, bytes_of(VIDEO_MODE{0x100}), ERROR_INVALID_PARAMETER},
      {"three-byte input", kRgb526, {24, 0, 0}, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OneBoard b(board(3, c.variant, 4 * kMiB));
    ASSERT_EQ(b.client.set_mode(13), NO_ERROR);
    b.m.clear_trace();
    const RequestResult r = b.m.request(0, IOCTL_VIDEO_SET_CURRENT_MODE, c.input, 0);
    EXPECT_EQ(r.returned, TRUE);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.information_written);
    EXPECT_EQ(b.ext().current_mode, 13u);
    EXPECT_THAT(briefs(b.m.trace()), IsEmpty());
  }
}

// The engine reads of a mode set, and whether they all came before video
// memory was cleared.
Lines engine_reads(const Machine &m, bool *before_clear) {
  Lines reads;
  *before_clear = true;
  bool cleared = false;
  for (const auto &e : m.trace()) {
    if (e.service == "VideoPortZeroDeviceMemory") cleared = true;
    if (e.reg.rfind("ENGINE_", 0) != 0) continue;
    reads.push_back(e.brief());
    if (cleared) *before_clear = false;
  }
  return reads;
}

TEST(ModeSet, EngineIsPolledUntilIdleBeforeVideoMemoryIsCleared) {
  const struct {
    int64_t busy_reads;
    // The queue empty, the last operation still running for this many reads,
    // showing these busy bits.
    int64_t last_operation_reads;
    uint32_t last_operation_bits;
    Lines reads;
  } cases[] = {
      {0, 0, 0x3, {"read ENGINE_QUEUE -> 0x0", "read ENGINE_BUSY -> 0x0"}},
      {5, 0, 0x3,
       {"read ENGINE_QUEUE -> 0x4 (x 5)", "read ENGINE_QUEUE -> 0x0", "read ENGINE_BUSY -> 0x0"}},
      {0, 3, 0x1,
       {"read ENGINE_QUEUE -> 0x0", "read ENGINE_BUSY -> 0x1 (x 3)", "read ENGINE_BUSY -> 0x0"}},
      {0, 3, 0x2,
       {"read ENGINE_QUEUE -> 0x0", "read ENGINE_BUSY -> 0x2 (x 3)", "read ENGINE_BUSY -> 0x0"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.busy_reads << " busy, last operation showing "
                                    << c.last_operation_bits << " for " << c.last_operation_reads);
    BoardConfig config = board(3);
    config.engine.busy_reads = c.busy_reads;
    config.engine.last_operation_reads = c.last_operation_reads;
    config.engine.last_operation_bits = c.last_operation_bits;
    OneBoard b(config);
    b.m.clear_trace();
    ASSERT_EQ(b.client.set_mode(0), NO_ERROR);
    bool before_clear = false;
    EXPECT_EQ(engine_reads(b.m, &before_clear), c.reads);
    EXPECT_TRUE(before_clear);
    EXPECT_EQ(b.hw().engine_polls(),
              static_cast<uint64_t>(c.busy_reads + c.last_operation_reads) + 2);
  }
}

TEST(ModeSet, EngineThatNeverGoesIdleCostsABoundedWaitAndTheModeSetGoesOn) {
  BoardConfig config = board(3);
  config.engine.busy_reads = -1;
  OneBoard b(config);
  b.m.clear_trace();
  ASSERT_EQ(b.client.set_mode(2), NO_ERROR);

  bool before_clear = false;
  EXPECT_EQ(engine_reads(b.m, &before_clear),
            (Lines{"read ENGINE_QUEUE -> 0x4 (x 1000000)", "read ENGINE_BUSY -> 0x3 (x 1000000)"}));
  EXPECT_EQ(b.hw().engine_polls(), 2000000u);
  EXPECT_EQ(b.hw().reg(CRTC_PITCH), 2560u);
  EXPECT_EQ(b.hw().dac_index_reg(DAC_PIXEL_FORMAT), 6);
  EXPECT_EQ(briefs(b.m.trace()).back(), "write8 DAC_PIXEL_MASK 0xFF");
}

TEST(ModeSet, EveryListedModeOfEveryVariantAndMemorySizeSets) {
  const struct {
    uint16_t variant;
    uint32_t memory;
    size_t modes;
  } boards[] = {
      {kRgb526, 2 * kMiB, 51}, {kRgb526, 4 * kMiB, 69}, {kRgb526, 8 * kMiB, 79},
      {kRgb528, 2 * kMiB, 51}, {kRgb528, 4 * kMiB, 69}, {kRgb528, 8 * kMiB, 79},
      {kDram, 2 * kMiB, 49},   {kDram, 4 * kMiB, 52},   {kDram, 8 * kMiB, 52},
  };
  for (const auto &c : boards) {
    SCOPED_TRACE(::testing::Message() << "variant " << c.variant << ", " << c.memory / kMiB
                                      << " MiB");
    OneBoard b(board(3, c.variant, c.memory));
    const auto modes = b.client.modes();
    EXPECT_EQ(modes.size(), c.modes);
    for (const auto &mode : modes) {
      SCOPED_TRACE(mode.ModeIndex);
      b.m.clear_trace();
      ASSERT_NO_THROW(ASSERT_EQ(b.client.set_mode(mode.ModeIndex), NO_ERROR));
      EXPECT_EQ(b.hw().reg(CRTC_PITCH), mode.ScreenStride);
      const UCHAR format = mode.BitsPerPlane == 8 ? 3 : mode.BitsPerPlane == 16 ? 4 : 6;
      EXPECT_EQ(b.hw().dac_index_reg(DAC_PIXEL_FORMAT), format);
    }
  }
}

// ---- VGA restore and reset ----------------------------------------------------------------------

// The registers of one board returned to VGA operation.
Lines expected_vga_registers(ULONG control, ULONG vga_ctrl_read) {
  Lines t = {"stall 50", "write CRTC_CONTROL " + hex(control),
             "read VGA_CTRL -> " + hex(vga_ctrl_read),
             "write VGA_CTRL " + hex(vga_ctrl_read | 0xD)};
  append(t, memory_clock(0x06, 0x26));
  append(t, {"write8 DAC_INDEX_HIGH 0x0", "write8 DAC_INDEX_CONTROL 0x1"});
  append(t, dac_run(0x70, {0x00}));
  append(t, dac_run(0x72, {0x00, 0x00}));
  append(t, dac_run(0x02, {0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01}));
  append(t, dac_run(0x10, {0x00}));
  append(t, dac_run(0x71, {0x00}));
  append(t, dac_run(0x30, {0x00}));
  return t;
}

// The reset request: the registers, then the BIOS sets text mode 3.
Lines expected_vga_restore(ULONG control, ULONG vga_ctrl_read) {
  Lines t = expected_vga_registers(control, vga_ctrl_read);
  t.push_back("VideoPortInt10 eax 0x3");
  return t;
}

TEST(VgaRestore, ResetDeviceHandsTheBoardBackAndHasTheBiosSetTextMode) {
  OneBoard b(board(3, kRgb526, 4 * kMiB));
  ASSERT_EQ(b.client.set_mode(24), NO_ERROR);
  ASSERT_FALSE(b.hw().text_mode());
  b.m.clear_trace();

  const RequestResult r = b.m.request(0, IOCTL_VIDEO_RESET_DEVICE, {}, 0);
  EXPECT_EQ(r.status, NO_ERROR);
  EXPECT_FALSE(r.information_written);
  EXPECT_EQ(briefs(b.m.trace()), expected_vga_restore(0x00040001, 0x0));
  ASSERT_EQ(b.m.bios_calls().size(), 1u);
  EXPECT_EQ(b.m.bios_calls()[0].slot, 3);
  EXPECT_EQ(b.m.bios_calls()[0].arguments.Eax, 3u);
  EXPECT_TRUE(b.hw().text_mode());
  // The mode stays recorded: nothing in the extension changes.
  EXPECT_EQ(b.ext().current_mode, 24u);
  EXPECT_EQ(b.ext().crtc_control, 0x00040101u);

  // A second reset writes the same again, finding the VGA bits already set.
  b.m.clear_trace();
  EXPECT_EQ(b.client.reset_device(), NO_ERROR);
  EXPECT_EQ(briefs(b.m.trace()), expected_vga_restore(0x00040001, 0xD));
  EXPECT_EQ(b.m.bios_calls().size(), 2u);
}

TEST(VgaRestore, ControlValueIsTheLastModesWithTheDisplayBitCleared) {
  const struct {
    const char *name;
    uint16_t variant;
    uint32_t config2;
    std::optional<ULONG> mode;
    ULONG written;
    bool initialised_after_the_mode = false;
  } cases[] = {
      {"1024x768, CONFIG2 bit 2 set", kRgb526, 0xC, 24, 0x00040001},
      {"1024x768, CONFIG2 bit 2 clear", kRgb526, 0x8, 24, 0x00040003},
      {"no mode set yet", kRgb526, 0xC, std::nullopt, 0},
      // Initialisation forgets the mode: no mode set since.
      {"1024x768, then initialised again", kRgb526, 0x8, 24, 0, true},
      // from the value kept, not from 0x20000100
      {"DRAM board", kDram, 0xC, 24, 0x00040001},
      {"DRAM board, CONFIG2 bit 2 clear", kDram, 0x8, 0, 0x01040003},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OneBoard b(with_config2(board(3, c.variant, 4 * kMiB), c.config2));
    if (c.mode) {
      ASSERT_EQ(b.client.set_mode(*c.mode), NO_ERROR);
    }
    if (c.initialised_after_the_mode) {
      ASSERT_TRUE(b.m.initialize(0));
    }
    b.m.clear_trace();
    ASSERT_EQ(b.client.reset_device(), NO_ERROR);
    EXPECT_EQ(briefs(b.m.trace()).at(1), "write CRTC_CONTROL " + hex(c.written));
    EXPECT_EQ(b.hw().reg(CRTC_CONTROL), c.written);
  }
}

// The reset callback may run at raised IRQL on a crash: registers only, no
// BIOS. It returns FALSE to have the platform set text mode 3 itself.
TEST(VgaRestore, ResetHwRestoresEveryBoardFromTheOneItIsGivenOnwardWithoutTheBios) {
  const struct {
    size_t from;
    std::vector<int> restored;  // slots, in order
  } cases[] = {{0, {2, 5, 7}}, {1, {5, 7}}, {3, {}}};  // 3: no extension at all
  for (const auto &c : cases) {
    SCOPED_TRACE(c.from);
    Machine m(machine({board(2, kRgb526, 4 * kMiB, 0), board(5, kRgb528, 8 * kMiB, 1),
                       board(7, kDram, 2 * kMiB, 2)}));
    m.boot();
    for (size_t i = 0; i < 3; i++) {
      ASSERT_EQ(host::DisplayClient(m, i).set_mode(0), NO_ERROR);
      ASSERT_FALSE(m.adapter_board(i).text_mode());
    }
    m.clear_trace();

    EXPECT_EQ(m.reset_hardware(c.from), FALSE);

    std::vector<int> first_touch;
    for (const auto &e : m.trace())
      if (!e.is_marker() && e.service != "VideoPortStallExecution" && e.slot >= 0 &&
          (first_touch.empty() || first_touch.back() != e.slot))
        first_touch.push_back(e.slot);
    EXPECT_EQ(first_touch, c.restored) << "each board restored whole, one after another";
    EXPECT_THAT(m.bios_calls(), testing::IsEmpty());
    // Every board shows 640x480 at 60 Hz (control 0x01040101, CONFIG2 bit 2
    // set at power-on) with the VGA bits cleared.
    Lines expected;
    for (size_t i = 0; i < c.restored.size(); i++)
      append(expected, expected_vga_registers(0x01040001, 0x0));
    EXPECT_EQ(briefs(m.trace()), expected);
  }
}

// When the machine goes down, NT calls the reset callback of every open
// board in the order they were found; after a FALSE it sets text mode 3
// through the BIOS, which only the primary display's BIOS can do.
TEST(VgaRestore, GoingDownResetsEveryOpenBoardAndTheBiosSetsTextOnThePrimaryOnly) {
  const struct {
    std::vector<size_t> opened;
    std::vector<int> reset_calls;  // the slot of each callback's extension
  } cases[] = {{{0, 1, 2}, {2, 5, 7}}, {{1}, {5}}, {{}, {}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.reset_calls.size());
    Machine m(machine({board(2, kRgb526, 4 * kMiB, 0), board(5, kRgb528, 8 * kMiB, 1),
                       board(7, kDram, 2 * kMiB, 2)}));
    m.boot();
    for (size_t i : c.opened) ASSERT_EQ(host::DisplayClient(m, i).set_mode(0), NO_ERROR);
    m.clear_trace();

    EXPECT_EQ(m.shut_down(), c.reset_calls.empty() ? TRUE : FALSE);

    std::vector<int> reset_calls;
    for (const auto &e : m.trace())
      if (e.service == "HwResetHw" && e.phase == "begin") reset_calls.push_back(e.slot);
    EXPECT_EQ(reset_calls, c.reset_calls);
    ASSERT_EQ(m.bios_calls().size(), c.reset_calls.empty() ? 0u : 1u);
    if (!c.reset_calls.empty()) {
      EXPECT_TRUE(m.bios_calls()[0].by_port);
      EXPECT_EQ(m.bios_calls()[0].slot, 2);
    }
    // The primary display shows text; a board the BIOS cannot reach is back
    // in its VGA core's hands, without a text mode.
    EXPECT_EQ(host::decode_monitor(m.board(2)).state, host::DisplayState::VgaText);
    for (const size_t adapter : {1u, 2u}) {
      const bool left_text = std::count(c.opened.begin(), c.opened.end(), adapter) != 0;
      EXPECT_EQ(host::decode_monitor(m.adapter_board(adapter)).state,
                left_text ? host::DisplayState::Vga : host::DisplayState::VgaText)
          << "board " << adapter;
    }
  }
}

}  // namespace
}  // namespace torvic::test
