// SPDX-License-Identifier: MIT
// Video requests as a display driver sends them: which codes are served, how
// a buffer that is too short is answered, the mode queries, the private
// requests and the palette.
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "miniport/board_registers.h"
#include "test_support.h"

namespace torvic::test {
namespace {

using ::testing::IsEmpty;

constexpr ULONG kModeRecord = static_cast<ULONG>(sizeof(VIDEO_MODE_INFORMATION));
constexpr ULONG kPublicRanges = static_cast<ULONG>(7 * sizeof(VIDEO_PUBLIC_ACCESS_RANGES));

// Whether the first `length` bytes of a reply still hold an aligned word of
// the host's buffer fill: a field reported but never written.
bool holds_fill_word(const std::vector<uint8_t> &bytes, size_t length) {
  for (size_t i = 0; i + 4 <= std::min(length, bytes.size()); i += 4)
    if (bytes[i] == Machine::kBufferFill && bytes[i + 1] == Machine::kBufferFill &&
        bytes[i + 2] == Machine::kBufferFill && bytes[i + 3] == Machine::kBufferFill)
      return true;
  return false;
}

// What the request buffer holds before the driver sees it, as far as the
// output reaches.
std::vector<uint8_t> untouched(std::vector<uint8_t> input, ULONG output_length) {
  input.resize(output_length, Machine::kBufferFill);
  return input;
}

std::vector<uint8_t> clut(USHORT count, USHORT first, size_t length) {
  std::vector<uint8_t> v(length, 0);
  if (length >= 2) memcpy(v.data(), &count, 2);
  if (length >= 4) memcpy(v.data() + 2, &first, 2);
  for (size_t i = 4; i < length; i++) v[i] = static_cast<uint8_t>(i * 7);
  return v;
}

// ---- Dispatch and the status convention ---------------------------------------------------------

struct Handler {
  const char *name;
  ULONG code;
  // A valid input, prepared on the machine (a release needs a mapping).
  std::function<std::vector<uint8_t>(DisplayClient &)> input;
  ULONG output;    // output length the handler needs
  ULONG reported;  // Information of a successful reply; 0: never written
  // A short buffer still gets the required size in Information.
  bool reports_when_short;
};

std::vector<Handler> handlers_of_an_8_mib_video_ram_board() {
  const auto none = [](DisplayClient &) { return std::vector<uint8_t>{}; };
  const ULONG all_modes = 79 * kModeRecord;
  const auto memory_info = static_cast<ULONG>(sizeof(VIDEO_MEMORY_INFORMATION));
  const auto share_info = static_cast<ULONG>(sizeof(VIDEO_SHARE_MEMORY_INFORMATION));
  const auto num_modes = static_cast<ULONG>(sizeof(VIDEO_NUM_MODES));
  const auto count = static_cast<ULONG>(sizeof(ULONG));
  return {
      {"QUERY_AVAIL_MODES", IOCTL_VIDEO_QUERY_AVAIL_MODES, none, all_modes, all_modes, true},
      {"QUERY_NUM_AVAIL_MODES", IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES, none, num_modes, num_modes,
       true},
      {"QUERY_CURRENT_MODE", IOCTL_VIDEO_QUERY_CURRENT_MODE, none, kModeRecord, kModeRecord, true},
      {"SET_CURRENT_MODE", IOCTL_VIDEO_SET_CURRENT_MODE,
       [](DisplayClient &) { return bytes_of(VIDEO_MODE{0}); }, 0, 0, false},
      {"RESET_DEVICE", IOCTL_VIDEO_RESET_DEVICE, none, 0, 0, false},
      {"SET_COLOR_REGISTERS", IOCTL_VIDEO_SET_COLOR_REGISTERS,
       [](DisplayClient &) { return clut(1, 0, 8); }, 0, 0, false},
      {"MAP_VIDEO_MEMORY", IOCTL_VIDEO_MAP_VIDEO_MEMORY,
       [](DisplayClient &) { return bytes_of(VIDEO_MEMORY{nullptr}); }, memory_info, memory_info,
       true},
      {"UNMAP_VIDEO_MEMORY", IOCTL_VIDEO_UNMAP_VIDEO_MEMORY,
       [](DisplayClient &c) { return bytes_of(VIDEO_MEMORY{c.map_video_memory().ram}); }, 0, 0,
       false},
      {"QUERY_PUBLIC_ACCESS_RANGES", IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES, none, kPublicRanges,
       kPublicRanges, true},
      {"FREE_PUBLIC_ACCESS_RANGES", IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES,
       [](DisplayClient &c) { return c.query_public_ranges().bytes; }, 0, 0, false},
      {"SHARE_VIDEO_MEMORY", IOCTL_VIDEO_SHARE_VIDEO_MEMORY,
       [](DisplayClient &) { return bytes_of(VIDEO_SHARE_MEMORY{kProcess, 0, 0x1000, nullptr}); },
       share_info, share_info, false},
      {"UNSHARE_VIDEO_MEMORY", IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY,
       [](DisplayClient &c) {
         const auto view = c.share_video_memory(kProcess, 0, 0x1000);
         return bytes_of(VIDEO_SHARE_MEMORY{kProcess, 0, 0, view.info.VirtualAddress});
       },
       0, 0, false},
      {"TORVIC_STALL", IOCTL_TORVIC_STALL, [](DisplayClient &) { return bytes_of(ULONG{10}); }, 0,
       0, false},
      {"TORVIC_QUERY_NUM_BOARDS", IOCTL_TORVIC_QUERY_NUM_BOARDS, none, count, count, true},
  };
}

TEST(Requests, EveryHandlerRefusesABufferOneByteShortAndServesTheExactLength) {
  for (const Handler &h : handlers_of_an_8_mib_video_ram_board()) {
    SCOPED_TRACE(h.name);
    Machine m(machine({board(3, 0, 8 * kMiB)}));
    ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
    DisplayClient client(m, 0);
    m.open(0);
    const std::vector<uint8_t> input = h.input(client);
    const size_t open_mappings = m.client_mappings().size();

    // Refused before anything is read, written, mapped or released.
    const auto refused = [&](const std::vector<uint8_t> &in, ULONG out) {
      m.clear_trace();
      const RequestResult r = m.request(0, h.code, in, out);
      EXPECT_EQ(r.returned, TRUE);
      EXPECT_EQ(r.status, ERROR_INSUFFICIENT_BUFFER);
      EXPECT_EQ(r.information_written, h.reports_when_short);
      if (h.reports_when_short) {
        EXPECT_EQ(r.information, h.reported);
      }
      EXPECT_EQ(r.system_buffer, untouched(in, out));
      EXPECT_THAT(briefs(m.trace()), IsEmpty());
      EXPECT_EQ(m.client_mappings().size(), open_mappings);
    };
    if (!input.empty()) {
      SCOPED_TRACE("input one byte short");
      refused({input.begin(), input.end() - 1}, h.output);
    }
    if (h.output != 0) {
      SCOPED_TRACE("output one byte short");
      refused(input, h.output - 1);
    }

    const RequestResult r = m.request(0, h.code, input, h.output);
    EXPECT_EQ(r.returned, TRUE);
    EXPECT_EQ(r.status, NO_ERROR);
    EXPECT_EQ(r.information_written, h.reported != 0);
    if (h.reported != 0) {
      EXPECT_EQ(r.information, h.reported);
      EXPECT_FALSE(holds_fill_word(r.output, r.information)) << "a reported field left unwritten";
    }
  }
}

TEST(Requests, UnservedCodesAreRefusedWithoutTouchingAnything) {
  Machine m(machine({board(3)}));
  m.boot();
  m.open(0);
  const ULONG codes[] = {
      IOCTL_VIDEO_SET_POINTER_POSITION,
      IOCTL_VIDEO_SET_CURSOR_ATTR,
      IOCTL_VIDEO_QUERY_AVAIL_MODES | 0x3,  // a served function with another transfer method
      IOCTL_TORVIC_QUERY_NUM_BOARDS + 4,    // the next private function
      0,
  };
  const std::vector<uint8_t> input = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const ULONG code : codes) {
    SCOPED_TRACE(code);
    m.clear_trace();
    const RequestResult r = m.request(0, code, input, 16);
    EXPECT_EQ(r.returned, TRUE);
    EXPECT_EQ(r.status, ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(r.information_written);
    EXPECT_EQ(r.system_buffer, untouched(input, 16));
    EXPECT_THAT(briefs(m.trace()), IsEmpty());
  }
}

// ---- Private requests ---------------------------------------------------------------------------

TEST(PrivateRequests, StallWaitsTheTimeAskedButNeverMoreThanFiftyMicroseconds) {
  Machine m(machine({board(3)}));
  m.boot();
  m.open(0);
  const struct {
    ULONG asked;
    ULONG waited;  // 0: no stall at all
  } cases[] = {{0, 0},     {1, 1},        {49, 49},         {50, 50},
               {51, 50},   {1000, 50},    {0x80000000, 50}, {0xFFFFFFFF, 50}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.asked);
    m.clear_trace();
    const uint64_t before = m.now_us();
    const RequestResult r = m.request(0, IOCTL_TORVIC_STALL, bytes_of(c.asked), 0);
    EXPECT_EQ(r.status, NO_ERROR);
    EXPECT_FALSE(r.information_written);
    const std::vector<std::string> stalls =
        c.waited ? std::vector<std::string>{"stall " + std::to_string(c.waited)}
                 : std::vector<std::string>{};
    EXPECT_EQ(briefs(m.trace()), stalls);
    EXPECT_EQ(m.now_us() - before, c.waited);
  }
}

TEST(PrivateRequests, BoardCountIsTheNumberOfBoardsFoundWhicheverBoardIsAsked) {
  Machine m(machine({board(3, 0, 4 * kMiB, 0), board(9, 10, 8 * kMiB, 1)}));
  m.boot();
  for (size_t adapter = 0; adapter < 2; adapter++) {
    const RequestResult r = m.request(adapter, IOCTL_TORVIC_QUERY_NUM_BOARDS, {}, sizeof(ULONG));
    EXPECT_EQ(r.status, NO_ERROR);
    EXPECT_EQ(r.information, sizeof(ULONG));
    EXPECT_EQ(host::record_at<ULONG>(r.output), 2u);
  }
}

// ---- Mode queries -------------------------------------------------------------------------------

// The modes a board lists, by their index in the whole table.
std::map<ULONG, VIDEO_MODE_INFORMATION> listed_modes(Machine &m, size_t adapter = 0) {
  std::map<ULONG, VIDEO_MODE_INFORMATION> modes;
  for (const auto &mode : DisplayClient(m, adapter).modes()) modes[mode.ModeIndex] = mode;
  return modes;
}

TEST(ModeQueries, EightMiBVideoRamBoardListsTheWholeTable) {
  Machine m(machine({board(3, 0, 8 * kMiB)}));
  m.boot();
  const RequestResult count = m.request(0, IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES, {},
                                        sizeof(VIDEO_NUM_MODES));
  ASSERT_EQ(count.status, NO_ERROR);
  const auto num = host::record_at<VIDEO_NUM_MODES>(count.output);
  EXPECT_EQ(num.NumModes, 79u);
  EXPECT_EQ(num.ModeInformationLength, kModeRecord);

  const auto modes = DisplayClient(m, 0).modes();
  ASSERT_EQ(modes.size(), 79u);
  for (ULONG i = 0; i < 79; i++) {
    EXPECT_EQ(modes[i].ModeIndex, i);
    EXPECT_EQ(modes[i].Length, kModeRecord);
  }
}

TEST(ModeQueries, WithdrawnEntriesLeaveGapsInTheIndicesButNoHolesInTheList) {
  Machine small(machine({board(3, 0, 4 * kMiB)}));
  small.boot();
  Machine large(machine({board(3, 0, 8 * kMiB)}));
  large.boot();
  const auto all = listed_modes(large);
  const auto modes = DisplayClient(small, 0).modes();

  // Withdrawn on 4 MiB: the 32-bit entries of 1280 x 1024, 1600 x 1200 (four
  // rates), 1600 x 1024 and 1920 x 1080.
  const std::set<ULONG> withdrawn = {50, 53, 56, 59, 62, 65, 68, 72, 75, 78};
  std::vector<ULONG> expected, listed;
  for (ULONG i = 0; i < 79; i++)
    if (!withdrawn.contains(i)) expected.push_back(i);
  for (const auto &mode : modes) listed.push_back(mode.ModeIndex);
  EXPECT_EQ(listed, expected);

  // Each packed record describes the entry its index names.
  for (const auto &mode : modes) {
    VIDEO_MODE_INFORMATION twin = all.at(mode.ModeIndex);
    twin.VideoMemoryBitmapHeight = mode.VideoMemoryBitmapHeight;
    EXPECT_EQ(memcmp(&mode, &twin, sizeof twin), 0) << "mode " << mode.ModeIndex;
  }
}

TEST(ModeQueries, BitmapHeightCountsTheWholeLinesFromTheVisibleStart) {
  const struct {
    uint32_t memory;
    ULONG index;
    ULONG height;
  } cases[] = {
      {8 * kMiB, 50, 1638},  // 1280 x 1024 x 32: starts at 1024
      {8 * kMiB, 59, 1310},  // 1600 x 1200 x 32: starts at 2304
      {4 * kMiB, 0, 6553},   // 640 x 480 x 8
      {2 * kMiB, 2, 819},    // 640 x 480 x 32
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.index);
    Machine m(machine({board(3, 0, c.memory)}));
    m.boot();
    EXPECT_EQ(listed_modes(m).at(c.index).VideoMemoryBitmapHeight, c.height);
  }
}

TEST(ModeQueries, Rgb528BoardMarksEveryRecordAndTheOthersReportTheTablesFlags) {
  const struct {
    uint16_t variant;
    ULONG mark;
  } cases[] = {{0, 0}, {10, TORVIC_MODE_RGB528}, {8, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.variant);
    Machine m(machine({board(3, c.variant, 8 * kMiB)}));
    m.boot();
    DisplayClient client(m, 0);
    for (const auto &mode : client.modes()) {
      const ULONG table = mode.BitsPerPlane == 8 ? 0x0F : 0x03;
      EXPECT_EQ(mode.AttributeFlags, table | c.mark) << "mode " << mode.ModeIndex;
    }
    const auto current = client.current_mode();
    ASSERT_TRUE(current);
    EXPECT_EQ(current->AttributeFlags, 0x0Fu | c.mark);
  }
}

TEST(ModeQueries, CurrentModeIsEntryZeroUntilAModeIsSet) {
  Machine m(machine({board(3, 0, 4 * kMiB)}));
  m.boot();
  DisplayClient client(m, 0);
  const RequestResult r = m.request(0, IOCTL_VIDEO_QUERY_CURRENT_MODE, {}, kModeRecord);
  EXPECT_EQ(r.status, NO_ERROR);
  EXPECT_EQ(r.information, kModeRecord);
  const auto first = client.modes().at(0);
  EXPECT_EQ(first.ModeIndex, 0u);
  EXPECT_EQ(memcmp(r.output.data(), &first, sizeof first), 0);

  ASSERT_EQ(client.set_mode(25), NO_ERROR);
  const auto current = client.current_mode();
  ASSERT_TRUE(current);
  EXPECT_EQ(current->ModeIndex, 25u);
  EXPECT_EQ(current->VisScreenWidth, 1024u);
  EXPECT_EQ(current->BitsPerPlane, 16u);
}

// Mixed kinds: each board's mode numbers are indices into its own table, so
// a board's current mode keeps its meaning whatever is initialised after it.
TEST(ModeQueries, CurrentModeKeepsItsMeaningWhenABoardOfTheOtherKindIsInitialised) {
  Machine m(machine({board(1, 0, 8 * kMiB, 0), board(2, 8, 8 * kMiB, 1)}));
  m.boot();
  DisplayClient vram(m, 0);
  ASSERT_EQ(vram.set_mode(70), NO_ERROR);  // 1600 x 1024 x 8, beyond the DRAM table's end
  const RequestResult before = m.request(0, IOCTL_VIDEO_QUERY_CURRENT_MODE, {}, kModeRecord);
  m.open(1);
  EXPECT_EQ(vram.modes().size(), 79u);
  const RequestResult after = m.request(0, IOCTL_VIDEO_QUERY_CURRENT_MODE, {}, kModeRecord);
  EXPECT_EQ(after.status, NO_ERROR);
  EXPECT_EQ(after.output, before.output);
  EXPECT_EQ(record_at<VIDEO_MODE_INFORMATION>(after.output).VisScreenWidth, 1600u);
}

// current_mode only ever holds a checked index; should it ever hold the
// table's count, the query refuses rather than read past the table, and the
// mapping knows no visible frame beyond the start of memory.
TEST(ModeQueries, CurrentModeAtTheTablesCountIsRefusedNotRead) {
  for (const auto &[variant, count] : {std::pair<uint16_t, ULONG>{kRgb526, 79}, {kDram, 52}}) {
    Machine m(machine({board(1, variant, 8 * kMiB, 0)}));
    m.boot();
    m.open(0);
    extension_of(m, 0).current_mode = count - 1;
    EXPECT_EQ(m.request(0, IOCTL_VIDEO_QUERY_CURRENT_MODE, {}, kModeRecord).status, NO_ERROR);
    extension_of(m, 0).current_mode = count;
    const RequestResult r = m.request(0, IOCTL_VIDEO_QUERY_CURRENT_MODE, {}, kModeRecord);
    EXPECT_EQ(r.status, ERROR_INVALID_PARAMETER) << count;
    EXPECT_EQ(r.system_buffer, untouched({}, kModeRecord)) << count;
    const auto memory = DisplayClient(m, 0).map_video_memory();
    EXPECT_EQ(memory.status, NO_ERROR);
    EXPECT_EQ(memory.frame, memory.ram);
    EXPECT_EQ(memory.frame_length, 8 * kMiB);
  }
}

// ---- Palette ------------------------------------------------------------------------------------

TEST(Palette, RunsMustFitTheTableAndTheInputMustHoldThem) {
  const struct {
    const char *name;
    USHORT first, count;
    size_t length;
    VP_STATUS status;
  } cases[] = {
      {"last entry alone", 255, 1, 8, NO_ERROR},
      {"run past the last entry", 255, 2, 12, ERROR_INVALID_PARAMETER},
      {"whole palette", 0, 256, 1028, NO_ERROR},
      {"whole palette, input a byte short", 0, 256, 1027, ERROR_INSUFFICIENT_BUFFER},
      {"no entries", 0, 0, 4, ERROR_INVALID_PARAMETER},
      {"first entry beyond the table", 256, 1, 8, ERROR_INVALID_PARAMETER},
      {"first entry far beyond the table", 0xFFFF, 1, 8, ERROR_INVALID_PARAMETER},
      {"more entries than the input holds", 1, 0xFFFF, 8, ERROR_INSUFFICIENT_BUFFER},
      {"header a byte short", 0, 1, 3, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(machine({board(3)}));
    m.boot();
    m.open(0);
    m.clear_trace();
    const RequestResult r =
        m.request(0, IOCTL_VIDEO_SET_COLOR_REGISTERS, clut(c.count, c.first, c.length), 0);
    EXPECT_EQ(r.returned, TRUE);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.information_written);
    EXPECT_EQ(briefs(m.trace()).size(), c.status == NO_ERROR ? 4u * c.count : 0u);
  }
}

TEST(Palette, EntriesGoToTheDacIndexThenRedGreenBlueAndTheFourthByteNever) {
  Machine m(machine({board(3)}));
  m.boot();
  DisplayClient client(m, 0);
  m.open(0);

  std::vector<VIDEO_CLUTDATA> entries;
  entries.reserve(256);
  for (int i = 0; i < 256; i++)
    entries.push_back({static_cast<UCHAR>(i), static_cast<UCHAR>(255 - i),
                       static_cast<UCHAR>(i ^ 0x5A), 0xEE});
  const auto writes_of = [&](int i) {
    return std::vector<std::string>{
        "write8 DAC_WR_INDEX " + hex(i), "write8 DAC_DATA " + hex(entries[i].Red),
        "write8 DAC_DATA " + hex(entries[i].Green), "write8 DAC_DATA " + hex(entries[i].Blue)};
  };

  m.clear_trace();
  ASSERT_EQ(client.set_palette(0, entries), NO_ERROR);
  std::vector<std::string> expected;
  for (int i = 0; i < 256; i++)
    for (const auto &w : writes_of(i)) expected.push_back(w);
  EXPECT_EQ(expected.size(), 1024u);
  EXPECT_EQ(briefs(m.trace()), expected);
  for (int i = 0; i < 256; i++)
    EXPECT_EQ(m.board(3).palette(static_cast<uint32_t>(i)),
              (std::array<uint8_t, 3>{entries[i].Red, entries[i].Green, entries[i].Blue}))
        << "entry " << i;

  // The last entry alone: its index, its three components, nothing else.
  entries[255] = {1, 2, 3, 4};
  m.clear_trace();
  ASSERT_EQ(client.set_palette(255, {entries[255]}), NO_ERROR);
  EXPECT_EQ(briefs(m.trace()), writes_of(255));
  EXPECT_EQ(m.board(3).palette(255), (std::array<uint8_t, 3>{1, 2, 3}));
  EXPECT_EQ(m.board(3).palette(254)[0], 254);
}

}  // namespace
}  // namespace torvic::test
