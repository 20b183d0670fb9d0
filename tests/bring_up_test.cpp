// SPDX-License-Identifier: MIT
// Bring-up of a found board: memory size, variant, memory clock, the three
// memory windows, CONFIG2/CONFIG3, the modes that fit the memory and the
// hardware description in the registry.
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <tuple>

#include "miniport/board_registers.h"
#include "test_support.h"

namespace torvic::test {
namespace {

// What each board variant must end up with.
struct Variant {
  const char *name;
  uint16_t code;  // variant code in the PCI subsystem dword
  ULONG dac_type;
  uint8_t mclk_ref, mclk_vco;  // memory-clock dividers for the board's own modes
  const char16_t *chip_type;
  size_t chip_type_bytes;
  const char16_t *dac_name;
};
const Variant kRgb526Board{"RGB526 VRAM board", 0, 0, 0x06, 0x42, u"Torvic Calvorn", 30, u"IBM RGB526"};
const Variant kRgb528Board{"RGB528 VRAM board", 10, 1, 0x06, 0x42, u"Torvic Calvorn", 30, u"IBM RGB528"};
const Variant kDramBoard{"DRAM board", 8, 2, 0x08, 0x53, u"Torvic Calvorn E", 34, u"IBM RGB526"};
const Variant kVariants[] = {kRgb526Board, kRgb528Board, kDramBoard};

struct MemorySize {
  uint32_t bytes;
  uint32_t straps;  // CONFIG1 as such a board reads
  ULONG mw0_code;   // aperture code: 4 KiB doubled this often
};
const MemorySize kSizes[] = {{2 * kMiB, 0x0, 9}, {4 * kMiB, 0x400, 10}, {8 * kMiB, 0x8400, 11}};

bool is_bring_up_event(const host::TraceEvent &e) {
  return is_register_access(e) || e.service == "VideoPortSetRegistryParameters";
}

// One initialisation of a board that came up with CONFIG2 0xC, CONFIG3 0x3
// and both XY window controls 0.
std::vector<std::string> expected_initialisation(uint32_t config1, uint8_t mclk_ref,
                                                 uint8_t mclk_vco, ULONG mw0_code,
                                                 size_t chip_type_bytes) {
  std::vector<std::string> t = {
      "read CONFIG1 -> " + hex(config1),
      "read CONFIG2 -> 0xC", "write CONFIG2 0x1F0C",  // windows off, bits 8-12 on
      "write8 DAC_INDEX_HIGH 0x0", "write8 DAC_INDEX_CONTROL 0x1", "write8 DAC_INDEX_LOW 0x15",
      "write8 DAC_INDEX_DATA " + hex(mclk_ref), "write8 DAC_INDEX_DATA " + hex(mclk_vco),
  };
  t.push_back("stall 50 (x 50)");  // the memory-clock PLL needs 2.5 ms to lock
  const std::vector<std::string> windows_and_report = {
      "write MW0_CTRL 0x0", "write MW0_SIZE " + hex(mw0_code), "write MW0_REG_200C 0x0",
      "write MW0_REG_2010 0x0", "write MW0_MASK 0xFFFFFFFF",
      "read CONFIG2 -> 0x1F0C", "write CONFIG2 0x11F0C",  // memory window 0 on
      "read XYA_CTRL -> 0x0", "write XYA_CTRL 0x100",
      "read CONFIG2 -> 0x11F0C", "write CONFIG2 0x111F0C",  // XY window A on
      "read XYB_CTRL -> 0x0", "write XYB_CTRL 0x100",
      "read CONFIG2 -> 0x111F0C", "write CONFIG2 0x311F0C",  // XY window B on
      "read CONFIG3 -> 0x3", "write CONFIG3 0x100000",
      "VideoPortSetRegistryParameters HardwareInformation.ChipType " +
          std::to_string(chip_type_bytes) + " bytes",
      "VideoPortSetRegistryParameters HardwareInformation.DacType 22 bytes",
      "VideoPortSetRegistryParameters HardwareInformation.MemorySize 4 bytes",
      "VideoPortSetRegistryParameters HardwareInformation.AdapterString 16 bytes",
  };
  t.insert(t.end(), windows_and_report.begin(), windows_and_report.end());
  return t;
}

// A booted machine with every board found initialised once.
std::unique_ptr<Machine> initialised(MachineConfig config) {
  auto m = std::make_unique<Machine>(std::move(config));
  EXPECT_EQ(m->boot(), static_cast<ULONG>(NO_ERROR));
  for (size_t i = 0; i < m->adapters().size(); i++) EXPECT_TRUE(m->initialize(i));
  return m;
}

std::unique_ptr<Machine> initialised_board(BoardConfig b) { return initialised(machine({b})); }

// ---- What the display driver sees of the mode list ----

using Mode = std::tuple<ULONG, ULONG, ULONG, ULONG>;  // width, height, depth, rate

ULONG mode_count(Machine &m, size_t adapter) {
  return static_cast<ULONG>(DisplayClient(m, adapter).modes().size());
}

std::vector<Mode> mode_list(Machine &m, size_t adapter) {
  std::vector<Mode> modes;
  for (const auto &info : DisplayClient(m, adapter).modes())
    modes.emplace_back(info.VisScreenWidth, info.VisScreenHeight, info.BitsPerPlane,
                       info.Frequency);
  return modes;
}

// Every mode of a variant's catalogue, as an 8 MiB board lists it.
std::vector<Mode> whole_catalogue(const Variant &v) {
  auto m = initialised_board(board(4, v.code, 8 * kMiB));
  return mode_list(*m, 0);
}

std::set<Mode> missing_from(const std::vector<Mode> &all, const std::vector<Mode> &listed) {
  std::set<Mode> missing(all.begin(), all.end());
  for (const Mode &mode : listed) missing.erase(mode);
  return missing;
}

const std::set<Mode> kVramWithdrawnOn4MiB = {
    {1280, 1024, 32, 60}, {1280, 1024, 32, 75}, {1280, 1024, 32, 85},
    {1600, 1200, 32, 60}, {1600, 1200, 32, 70}, {1600, 1200, 32, 75}, {1600, 1200, 32, 80},
    {1600, 1024, 32, 76}, {1920, 1080, 32, 60}, {1920, 1080, 32, 72}};

std::set<Mode> vram_withdrawn_on_2mib() {
  std::set<Mode> s = kVramWithdrawnOn4MiB;
  s.insert({{1024, 768, 32, 60},  {1024, 768, 32, 70},  {1024, 768, 32, 75},  {1024, 768, 32, 85},
            {1152, 864, 32, 60},  {1152, 864, 32, 70},  {1152, 864, 32, 75},  {1152, 864, 32, 85},
            {1280, 1024, 16, 60}, {1280, 1024, 16, 75}, {1280, 1024, 16, 85},
            {1600, 1200, 16, 60}, {1600, 1200, 16, 70}, {1600, 1200, 16, 75}, {1600, 1200, 16, 80},
            {1600, 1024, 16, 76}, {1920, 1080, 16, 60}, {1920, 1080, 16, 72}});
  return s;
}

// ---- Registry ----

std::vector<uint8_t> utf16z(const char16_t *s) {
  std::vector<uint8_t> bytes;
  for (; *s; s++) {
    bytes.push_back(static_cast<uint8_t>(*s & 0xFF));
    bytes.push_back(static_cast<uint8_t>(*s >> 8));
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::vector<uint8_t> le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

using Value = std::pair<std::string, std::vector<uint8_t>>;

std::vector<Value> registry_of(const Machine &m, int slot) {
  std::vector<Value> v;
  for (const auto &w : m.registry())
    if (w.slot == slot) v.emplace_back(narrow(w.name), w.data);
  return v;
}

std::vector<Value> expected_report(const Variant &v, uint32_t memory) {
  return {{"HardwareInformation.ChipType", utf16z(v.chip_type)},
          {"HardwareInformation.DacType", utf16z(v.dac_name)},
          {"HardwareInformation.MemorySize", le32(memory)},
          {"HardwareInformation.AdapterString", utf16z(u"Morvane")}};
}

// ---- Initialisation --------------------------------------------------------------------

TEST(Initialisation, AccessSequenceForEveryVariantAndMemorySize) {
  for (const Variant &v : kVariants) {
    for (const MemorySize &size : kSizes) {
      Machine m(machine({board(5, v.code, size.bytes)}));
      ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
      m.clear_trace();
      const uint64_t start = m.now_us();
      EXPECT_TRUE(m.initialize(0));
      EXPECT_EQ(briefs(m.trace(), is_bring_up_event),
                expected_initialisation(size.straps, v.mclk_ref, v.mclk_vco, size.mw0_code,
                                        v.chip_type_bytes))
          << v.name << ", " << size.bytes / kMiB << " MiB";
      EXPECT_EQ(m.now_us() - start, 2500u) << v.name;
    }
  }
}

TEST(Initialisation, MemorySizeComesFromTheTwoStrapsAlone) {
  const struct {
    uint32_t config1;
    uint32_t memory;
    ULONG mw0_code;
  } cases[] = {
      {0x00000000, 2 * kMiB, 9},  {0x00000400, 4 * kMiB, 10}, {0x00008000, 4 * kMiB, 10},
      {0x00008400, 8 * kMiB, 11}, {0xFFFF7BFF, 2 * kMiB, 9},  {0xFFFF7FFF, 4 * kMiB, 10},
      {0xFFFFFBFF, 4 * kMiB, 10}, {0xFFFFFFFF, 8 * kMiB, 11},
  };
  for (const auto &c : cases) {
    BoardConfig b = board(3, 0, c.memory);
    b.config1 = c.config1;
    auto m = initialised_board(b);
    EXPECT_EQ(extension_of(*m, 0).access_ranges[RANGE_FRAME_BUFFER].RangeLength, c.memory)
        << "CONFIG1 " << hex(c.config1);
    EXPECT_EQ(m->board(3).reg(MW0_SIZE), c.mw0_code) << "CONFIG1 " << hex(c.config1);
    EXPECT_EQ(registry_of(*m, 3).at(2).second, le32(c.memory)) << "CONFIG1 " << hex(c.config1);
  }
}

// Each register initialisation changes by read-modify-write keeps the bits
// it has no business with, whatever the board came up with. On an 8 MiB
// board, so that the XY windows cannot be sized from the memory.
TEST(Initialisation, ReadModifyWritesKeepTheBoardsOtherBits) {
  const struct {
    const char *name;
    uint32_t BoardConfig::*power_on;
    bool io;
    uint32_t offset;
    uint32_t before, after;
  } cases[] = {
      // The XY windows take the 8 KiB code 1 in bits 8-11.
      {"XYA_CTRL", &BoardConfig::xya_ctrl_power_on, false, XYA_CTRL, 0xFFFFFFFF, 0xFFFFF1FF},
      {"XYA_CTRL", &BoardConfig::xya_ctrl_power_on, false, XYA_CTRL, 0x00000000, 0x00000100},
      {"XYB_CTRL", &BoardConfig::xyb_ctrl_power_on, false, XYB_CTRL, 0xFFFFFFFF, 0xFFFFF1FF},
      {"XYB_CTRL", &BoardConfig::xyb_ctrl_power_on, false, XYB_CTRL, 0x00000000, 0x00000100},
      // CONFIG2: bits 1, 5-7, 14-23, 26 and 27 cleared, 8-12 set, then the
      // three window enables 16, 20 and 21 set again.
      {"CONFIG2", &BoardConfig::config2_power_on, true, CONFIG2, 0xFFFFFFFF, 0xF3313F1D},
      {"CONFIG2", &BoardConfig::config2_power_on, true, CONFIG2, 0x0CFFC0E2, 0x00311F00},
      {"CONFIG2", &BoardConfig::config2_power_on, true, CONFIG2, 0x00000000, 0x00311F00},
      // CONFIG3: bits 0 and 1 cleared, bit 20 set.
      {"CONFIG3", &BoardConfig::config3_power_on, true, CONFIG3, 0x3, 0x100000},
      {"CONFIG3", &BoardConfig::config3_power_on, true, CONFIG3, 0x100000, 0x100000},
      {"CONFIG3", &BoardConfig::config3_power_on, true, CONFIG3, 0xFFFFFFFF, 0xFFFFFFFC},
  };
  for (const auto &c : cases) {
    BoardConfig b = board(3, 0, 8 * kMiB);
    b.*c.power_on = c.before;
    auto m = initialised_board(b);
    const host::Board &hw = m->board(3);
    EXPECT_EQ(c.io ? hw.io(c.offset) : hw.reg(c.offset), c.after)
        << c.name << " before " << hex(c.before);
  }
}

TEST(Initialisation, InitialisingTwiceChangesNothing) {
  Machine m(machine({board(3, 0, 2 * kMiB)}));
  m.boot();
  auto state = [&m] {
    const host::Board &hw = m.board(3);
    const HW_DEVICE_EXTENSION &ext = extension_of(m, 0);
    return std::vector<uint64_t>{mode_count(m, 0),   hw.io(CONFIG2),      hw.io(CONFIG3),
                                 hw.reg(XYA_CTRL),   hw.reg(XYB_CTRL),    hw.reg(MW0_SIZE),
                                 hw.reg(MW0_MASK),   hw.dac_index_reg(0x15), hw.dac_index_reg(0x16),
                                 ext.access_ranges[RANGE_FRAME_BUFFER].RangeLength, ext.dac_type};
  };
  EXPECT_TRUE(m.initialize(0));
  const auto first = state();
  EXPECT_EQ(first.front(), 51u);
  EXPECT_TRUE(m.initialize(0));
  EXPECT_EQ(state(), first);
}

// ---- Variant and memory clock -----------------------------------------------------------

TEST(BringUp, EachBoardTakesTheVariantOfItsOwnCode) {
  const struct {
    uint16_t code;
    ULONG dac_type;
    const char16_t *dac_name;
  } boards[] = {{0, 0, u"IBM RGB526"},  {7, 0, u"IBM RGB526"}, {8, 2, u"IBM RGB526"},
                {9, 2, u"IBM RGB526"},  {10, 1, u"IBM RGB528"}, {11, 1, u"IBM RGB528"}};
  std::vector<BoardConfig> configs;
  for (uint32_t i = 0; i < std::size(boards); i++)
    configs.push_back(board(i + 1, boards[i].code, 4 * kMiB, i));
  auto m = initialised(machine(configs));
  ASSERT_EQ(m->adapters().size(), std::size(boards));
  for (size_t i = 0; i < std::size(boards); i++) {
    EXPECT_EQ(extension_of(*m, i).dac_type, boards[i].dac_type) << "variant " << boards[i].code;
    EXPECT_EQ(registry_of(*m, m->adapters()[i].slot).at(1).second, utf16z(boards[i].dac_name))
        << "variant " << boards[i].code;
  }
}

TEST(BringUp, RejectedBoardExaminedLastLeavesTheOthersTheirVariants) {
  auto m = initialised(machine({board(2, 0, 4 * kMiB, 0), board(5, 10, 8 * kMiB, 1),
                                board(9, 12, 4 * kMiB, 2)}));
  ASSERT_EQ(m->adapters().size(), 2u);
  EXPECT_EQ(extension_of(*m, 0).dac_type, 0u);
  EXPECT_EQ(extension_of(*m, 1).dac_type, 1u);
  EXPECT_EQ(registry_of(*m, 2), expected_report(kRgb526Board, 4 * kMiB));
  EXPECT_EQ(registry_of(*m, 5), expected_report(kRgb528Board, 8 * kMiB));
  for (uint32_t slot : {2u, 5u}) {
    EXPECT_EQ(m->board(slot).dac_index_reg(DAC_MCLK_REF_DIV), 0x06) << "slot " << slot;
    EXPECT_EQ(m->board(slot).dac_index_reg(DAC_MCLK_VCO_DIV), 0x42) << "slot " << slot;
  }
  EXPECT_EQ(mode_count(*m, 1), 69u);  // the video-RAM table, fitted to the smaller board
}

TEST(BringUp, MemoryClockDividersSuitEachBoardsMemory) {
  // All three variants in one machine: each board's DAC gets its own dividers.
  auto m = initialised(machine({board(1, kRgb526Board.code, 4 * kMiB, 0),
                                board(2, kRgb528Board.code, 4 * kMiB, 1),
                                board(3, kDramBoard.code, 4 * kMiB, 2)}));
  for (uint32_t slot = 1; slot <= 3; slot++) {
    const Variant &v = kVariants[slot - 1];
    EXPECT_EQ(extension_of(*m, slot - 1).dac_type, v.dac_type) << v.name;
    const host::Board &hw = m->board(slot);
    EXPECT_EQ(hw.dac_index_reg(DAC_MCLK_REF_DIV), v.mclk_ref) << v.name;
    EXPECT_EQ(hw.dac_index_reg(DAC_MCLK_VCO_DIV), v.mclk_vco) << v.name;
    const auto data = briefs(m->trace(), [slot](const host::TraceEvent &e) {
      return e.slot == static_cast<int>(slot) && e.reg == "DAC_INDEX_DATA";
    });
    EXPECT_EQ(data, (std::vector<std::string>{"write8 DAC_INDEX_DATA " + hex(v.mclk_ref),
                                              "write8 DAC_INDEX_DATA " + hex(v.mclk_vco)}))
        << v.name;
  }
}

// ---- Modes that fit the memory ------------------------------------------------------------

TEST(ModeFit, VideoRamBoardsKeepTheModesTheirMemoryHolds) {
  for (const Variant *v : {&kRgb526Board, &kRgb528Board}) {
    const auto all = whole_catalogue(*v);
    EXPECT_EQ(all.size(), 79u) << v->name;
    EXPECT_EQ(std::set<Mode>(all.begin(), all.end()).size(), 79u) << v->name;
    const struct {
      uint32_t memory;
      ULONG count;
      std::set<Mode> withdrawn;
    } cases[] = {{4 * kMiB, 69, kVramWithdrawnOn4MiB}, {2 * kMiB, 51, vram_withdrawn_on_2mib()}};
    for (const auto &c : cases) {
      auto m = initialised_board(board(4, v->code, c.memory));
      EXPECT_EQ(mode_count(*m, 0), c.count) << v->name << ", " << c.memory / kMiB << " MiB";
      EXPECT_EQ(missing_from(all, mode_list(*m, 0)), c.withdrawn)
          << v->name << ", " << c.memory / kMiB << " MiB";
    }
  }
}

TEST(ModeFit, DramBoardKeepsTheModesItsMemoryHolds) {
  const auto all = whole_catalogue(kDramBoard);
  EXPECT_EQ(all.size(), 52u);
  auto four = initialised_board(board(4, kDramBoard.code, 4 * kMiB));
  EXPECT_EQ(mode_count(*four, 0), 52u);
  auto two = initialised_board(board(4, kDramBoard.code, 2 * kMiB));
  EXPECT_EQ(mode_count(*two, 0), 49u);
  EXPECT_EQ(missing_from(all, mode_list(*two, 0)),
            (std::set<Mode>{{1024, 768, 32, 60}, {1280, 1024, 16, 60}, {1280, 1024, 16, 75}}));
}

TEST(ModeFit, SmallerBoardWithdrawsModesForEveryBoard) {
  const auto all = whole_catalogue(kRgb526Board);
  const struct {
    uint32_t first, second;
    ULONG count_after_first;
  } orders[] = {{8 * kMiB, 4 * kMiB, 79}, {4 * kMiB, 8 * kMiB, 69}};
  for (const auto &o : orders) {
    Machine m(machine({board(2, 0, o.first, 0), board(6, 0, o.second, 1)}));
    ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
    m.initialize(0);
    EXPECT_EQ(mode_count(m, 0), o.count_after_first);
    m.initialize(1);
    for (size_t adapter : {0u, 1u}) {
      EXPECT_EQ(mode_count(m, adapter), 69u)
          << o.first / kMiB << " then " << o.second / kMiB << " MiB, adapter " << adapter;
      EXPECT_EQ(missing_from(all, mode_list(m, adapter)), kVramWithdrawnOn4MiB)
          << o.first / kMiB << " then " << o.second / kMiB << " MiB, adapter " << adapter;
    }
  }
}

// Boards of different kinds use different tables: each board is offered
// its own kind's table, fitted to the boards of that kind only, whichever is
// initialised first.
TEST(ModeFit, MixedKindsEachUseTheirOwnTable) {
  const BoardConfig dram = board(1, kDramBoard.code, 2 * kMiB, 0);
  const BoardConfig vram = board(2, kRgb526Board.code, 8 * kMiB, 1);
  const auto dram_on_2mib = mode_list(*initialised_board(dram), 0);
  const auto vram_on_8mib = mode_list(*initialised_board(vram), 0);
  ASSERT_EQ(dram_on_2mib.size(), 49u);
  ASSERT_EQ(vram_on_8mib.size(), 79u);

  for (bool dram_first : {true, false}) {
    Machine m(machine({dram, vram}));
    m.boot();
    m.open(dram_first ? 0 : 1);
    m.open(dram_first ? 1 : 0);
    EXPECT_EQ(mode_list(m, 0), dram_on_2mib) << dram_first;
    EXPECT_EQ(mode_list(m, 1), vram_on_8mib) << dram_first;
    // The DRAM board refuses what only the video-RAM table holds:
    // 1600x1200x32@80, entry 78 there, is no entry of the DRAM table.
    DisplayClient dram_client(m, 0), vram_client(m, 1);
    EXPECT_EQ(dram_client.set_mode(78), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(vram_client.set_mode(78), NO_ERROR);
    const VIDEO_MODE_INFORMATION last = dram_client.modes().back();
    EXPECT_EQ(dram_client.set_mode(last.ModeIndex), NO_ERROR);
    ASSERT_TRUE(dram_client.current_mode().has_value());
    EXPECT_EQ(dram_client.current_mode()->VisScreenWidth, last.VisScreenWidth);
  }
}

// Straps that promise more memory than the frame-buffer aperture decodes:
// the driver must never clear, offer or map past the aperture.
TEST(BringUp, MemoryIsCappedAtTheFrameBufferApertureClaimed) {
  BoardConfig small = board(3, kRgb526Board.code, 8 * kMiB, 0);
  small.bars[0].size = 4 * kMiB;
  auto m = initialised(machine({small}));
  EXPECT_EQ(extension_of(*m, 0).access_ranges[0].RangeLength, 4 * kMiB);
  EXPECT_EQ(registry_of(*m, 3), expected_report(kRgb526Board, 4 * kMiB));
  DisplayClient client(*m, 0);
  EXPECT_EQ(client.modes().size(), 69u);  // the table as on a 4 MiB board
  m->clear_trace();
  EXPECT_EQ(client.set_mode(25), NO_ERROR);
  EXPECT_THAT(briefs(m->trace(), [](const host::TraceEvent &e) {
                return e.service == "VideoPortZeroDeviceMemory";
              }),
              ::testing::ElementsAre("VideoPortZeroDeviceMemory length 0x400000"));
}

// ---- Hardware description in the registry ---------------------------------------------------

TEST(RegistryReport, FourValuesInOrderForEveryVariantAndMemorySize) {
  for (const Variant &v : kVariants) {
    for (const MemorySize &size : kSizes) {
      auto m = initialised_board(board(5, v.code, size.bytes));
      const auto values = registry_of(*m, 5);
      EXPECT_EQ(values, expected_report(v, size.bytes)) << v.name << ", " << size.bytes / kMiB;
      // The lengths passed count the terminating NUL of the strings.
      const size_t lengths[] = {v.chip_type_bytes, 22, 4, 16};
      for (size_t i = 0; i < values.size() && i < 4; i++)
        EXPECT_EQ(values[i].second.size(), lengths[i]) << v.name << ", value " << i;
    }
  }
}

TEST(RegistryReport, FailedWritesDoNotStopTheOthersNorTheInitialisation) {
  const std::vector<uint64_t> failing_sets[] = {{1}, {4}, {1, 2, 3, 4}};
  for (const auto &failing : failing_sets) {
    MachineConfig c = machine({board(5, kRgb528Board.code, 8 * kMiB)});
    for (uint64_t n : failing)
      c.faults.push_back({"VideoPortSetRegistryParameters", n, ERROR_INVALID_PARAMETER});
    Machine m(c);
    ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
    EXPECT_TRUE(m.initialize(0)) << failing.size() << " failing, first " << failing.front();
    EXPECT_EQ(registry_of(m, 5), expected_report(kRgb528Board, 8 * kMiB))
        << failing.size() << " failing, first " << failing.front();
    ASSERT_EQ(m.registry().size(), 4u);
    for (size_t i = 0; i < 4; i++) {
      const bool failed = std::find(failing.begin(), failing.end(), i + 1) != failing.end();
      EXPECT_EQ(m.registry()[i].status, failed ? ERROR_INVALID_PARAMETER : NO_ERROR);
    }
  }
}

TEST(RegistryReport, EveryInitialisationWritesTheValuesAgain) {
  Machine m(machine({board(5, kDramBoard.code, 2 * kMiB)}));
  m.boot();
  m.initialize(0);
  m.initialize(0);
  auto twice = expected_report(kDramBoard, 2 * kMiB);
  const auto once = twice;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(registry_of(m, 5), twice);
}

}  // namespace
}  // namespace torvic::test
