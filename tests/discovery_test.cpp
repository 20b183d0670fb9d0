// SPDX-License-Identifier: MIT
// Registration and discovery: the driver image registers itself, then finds,
// claims, maps, chains and counts the boards of a machine.
#include <cstring>

#include "test_support.h"

namespace torvic::test {
namespace {

using host::ClaimRequest;

struct Shape {
  UCHAR option;
  UCHAR type;
  USHORT flags;
  ULONG length;
  uint64_t min;
  uint64_t max;
};

// The descriptors of the n-th implemented register: a preferred entry with
// its alternative, or one entry.
std::vector<Shape> shapes(const ClaimRequest &req, size_t n) {
  std::vector<Shape> v;
  size_t group = 0;
  for (size_t i = 0; i < req.descriptors.size(); i++) {
    const auto &d = req.descriptors[i];
    if (i > 0 && !(d.Option & IO_RESOURCE_ALTERNATIVE)) group++;
    if (group != n) continue;
    EXPECT_EQ(d.ShareDisposition, CmResourceShareDeviceExclusive);
    EXPECT_EQ(d.u.Generic.Alignment, d.u.Generic.Length);
    v.push_back({d.Option, d.Type, d.Flags, d.u.Generic.Length,
                 static_cast<uint64_t>(d.u.Generic.MinimumAddress.QuadPart),
                 static_cast<uint64_t>(d.u.Generic.MaximumAddress.QuadPart)});
  }
  return v;
}

bool operator==(const Shape &a, const Shape &b) {
  return a.option == b.option && a.type == b.type && a.flags == b.flags && a.length == b.length &&
         a.min == b.min && a.max == b.max;
}

void PrintTo(const Shape &s, std::ostream *os) {
  *os << "{option " << int(s.option) << " type " << int(s.type) << " flags " << s.flags
      << " length 0x" << std::hex << s.length << " [0x" << s.min << ", 0x" << s.max << "]}";
}

// A default board with one register changed.
BoardConfig board_with_register(int bar, const host::BarConfig &config) {
  BoardConfig b = board(0);
  b.bars[bar] = config;
  return b;
}

TEST(Registration, RecordCarriesTheCallbacksAndNoInterruptOrTimer) {
  Machine m(machine({}));
  m.boot();
  const auto &r = m.registration();
  EXPECT_EQ(r.HwInitDataSize, TORVIC_HW_INIT_DATA_FORM_SIZE);
  EXPECT_EQ(r.AdapterInterfaceType, PCIBus);
  EXPECT_NE(r.HwFindAdapter, nullptr);
  EXPECT_NE(r.HwInitialize, nullptr);
  EXPECT_NE(r.HwStartIO, nullptr);
  EXPECT_NE(r.HwResetHw, nullptr);
  EXPECT_EQ(r.HwInterrupt, nullptr);
  EXPECT_EQ(r.HwTimer, nullptr);
  EXPECT_EQ(r.HwDeviceExtensionSize, sizeof(HW_DEVICE_EXTENSION));
  EXPECT_EQ(r.StartingDeviceNumber, 0u);
  // The record is cleared over its registered size before it is filled.
  EXPECT_EQ(briefs(m.trace()).front(),
            "VideoPortZeroMemory length " + std::to_string(TORVIC_HW_INIT_DATA_FORM_SIZE));
}

TEST(Registration, DriverEntryReturnsWhatVideoPortInitializeReturns) {
  Machine none(machine({}));
  EXPECT_EQ(none.boot(), static_cast<ULONG>(ERROR_DEV_NOT_EXIST));

  MachineConfig c = machine({board(3)});
  c.faults.push_back({"VideoPortInitialize", 1, 0x1234});
  Machine failing(c);
  EXPECT_EQ(failing.boot(), 0x1234u);

  Machine one(machine({board(3)}));
  EXPECT_EQ(one.boot(), static_cast<ULONG>(NO_ERROR));
}

TEST(Discovery, OneBoardIsClaimedRewrittenEnabledAndMapped) {
  BoardConfig b = board(0);
  b.command_power_on = 0x0007;  // bus master on, decoding on as the firmware left it
  Machine m(machine({b}));
  ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));

  const std::vector<std::string> config_accesses = {
      "cfg-read 0 0x0 -> 0x4B211F3A",
      "cfg-read 0 0x2C -> 0x1F3A",
      "cfg-read 0 0x4 -> 0x2000007",
      "cfg-write 0 0x4 0x2000004",  // decoding off while sizing
      "cfg-read 0 0x10 -> 0xC0000008", "cfg-write 0 0x10 0xFFFFFFFF",
      "cfg-read 0 0x10 -> 0xFE000008", "cfg-write 0 0x10 0xC0000008",
      "cfg-read 0 0x14 -> 0xC2000000", "cfg-write 0 0x14 0xFFFFFFFF",
      "cfg-read 0 0x14 -> 0xFE000000", "cfg-write 0 0x14 0xC2000000",
      "cfg-read 0 0x18 -> 0xC4000000", "cfg-write 0 0x18 0xFFFFFFFF",
      "cfg-read 0 0x18 -> 0xFFFF0000", "cfg-write 0 0x18 0xC4000000",
      "cfg-read 0 0x1C -> 0xC4010000", "cfg-write 0 0x1C 0xFFFFFFFF",
      "cfg-read 0 0x1C -> 0xFFFF0000", "cfg-write 0 0x1C 0xC4010000",
      "cfg-read 0 0x20 -> 0xC4020000", "cfg-write 0 0x20 0xFFFFFFFF",
      "cfg-read 0 0x20 -> 0xFFFF0000", "cfg-write 0 0x20 0xC4020000",
      "cfg-read 0 0x24 -> 0xD001", "cfg-write 0 0x24 0xFFFFFFFF",
      "cfg-read 0 0x24 -> 0xFFFFFF01", "cfg-write 0 0x24 0xD001",
      "cfg-read 0 0x30 -> 0xC4030000", "cfg-write 0 0x30 0xFFFFFFFF",
      "cfg-read 0 0x30 -> 0xFFFF0001", "cfg-write 0 0x30 0xC4030000",
      // the assigned addresses go back into the registers, bit 0 kept
      "cfg-read 0 0x10 -> 0xC0000008", "cfg-write 0 0x10 0xC0000000",
      "cfg-read 0 0x14 -> 0xC2000000", "cfg-write 0 0x14 0xC2000000",
      "cfg-read 0 0x18 -> 0xC4000000", "cfg-write 0 0x18 0xC4000000",
      "cfg-read 0 0x1C -> 0xC4010000", "cfg-write 0 0x1C 0xC4010000",
      "cfg-read 0 0x20 -> 0xC4020000", "cfg-write 0 0x20 0xC4020000",
      "cfg-read 0 0x24 -> 0xD001", "cfg-write 0 0x24 0xD001",
      "cfg-read 0 0x30 -> 0xC4030000", "cfg-write 0 0x30 0xC4030000",
      "cfg-write 0 0x4 0x2000007",  // decoding on
      // the next call finds no further board
      "cfg-read 1 0x0 -> 0xFFFFFFFF",
  };
  auto seen = briefs(m.trace(), is_config_access);
  seen.resize(config_accesses.size());
  EXPECT_EQ(seen, config_accesses);

  ASSERT_EQ(m.find_calls().size(), 2u);
  EXPECT_EQ(m.find_calls()[0].status, NO_ERROR);
  EXPECT_EQ(m.find_calls()[0].again, TRUE);
  EXPECT_EQ(m.find_calls()[1].status, ERROR_DEV_NOT_EXIST);
  ASSERT_EQ(m.adapters().size(), 1u);
  EXPECT_EQ(m.adapters()[0].slot, 0);

  host::Board &hw = m.board(0);
  EXPECT_TRUE(hw.memory_decoding());
  EXPECT_TRUE(hw.io_decoding());
  EXPECT_EQ(hw.command() & 0x4, 0x4);

  const HW_DEVICE_EXTENSION &ext = extension_of(m, 0);
  EXPECT_EQ(ext.next_extension, nullptr);
  EXPECT_NE(ext.reg_base, nullptr);
  EXPECT_NE(ext.io_base, nullptr);
  EXPECT_NE(ext.fb_base, nullptr);
  EXPECT_EQ(ext.access_ranges[0].RangeStart.QuadPart, 0xC0000000);
  EXPECT_EQ(ext.access_ranges[0].RangeLength, 32 * kMiB);
  EXPECT_EQ(ext.access_ranges[5].RangeStart.QuadPart, 0xD000);
  EXPECT_EQ(ext.access_ranges[5].RangeInIoSpace, 1);
  for (int i = 0; i < 7; i++)
    EXPECT_EQ(ext.access_ranges[i].RangeVisible, i == 2 || i == 4 ? 1 : 0) << "range " << i;

  // The mappings: register block, I/O block, then the frame buffer's whole aperture.
  const auto mappings = briefs(m.trace(), [](const host::TraceEvent &e) {
    return e.service == "VideoPortGetDeviceBase";
  });
  EXPECT_EQ(mappings, (std::vector<std::string>{
                          "VideoPortGetDeviceBase phys 0xC4020000 length 0x10000 memory",
                          "VideoPortGetDeviceBase phys 0xD000 length 0x100 io",
                          "VideoPortGetDeviceBase phys 0xC0000000 length 0x2000000 memory"}));
}

TEST(Discovery, ClearsTheEmulationFieldsOfTheConfigurationRecord) {
  Machine m(machine({board(4)}));
  m.boot();
  const VIDEO_PORT_CONFIG_INFO &info = m.find_calls().at(0).config_info;
  EXPECT_EQ(info.VdmPhysicalVideoMemoryAddress.QuadPart, 0);
  EXPECT_EQ(info.VdmPhysicalVideoMemoryLength, 0u);
  EXPECT_EQ(info.NumEmulatorAccessEntries, 0u);
  EXPECT_EQ(info.EmulatorAccessEntries, nullptr);
  EXPECT_EQ(info.EmulatorAccessEntriesContext, 0u);
  EXPECT_EQ(info.HardwareStateSize, 0u);
  // Fields the driver has no business with keep what the video port put there.
  EXPECT_EQ(info.DmaChannel, 0x5A5A5A5Au);
}

TEST(Discovery, BoardsAreChainedAndCountedInSlotOrder) {
  Machine m(machine({board(9, 10, 8 * kMiB, 1), board(3, 0, 4 * kMiB, 0)}));
  ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
  ASSERT_EQ(m.adapters().size(), 2u);
  EXPECT_EQ(m.adapters()[0].slot, 3);
  EXPECT_EQ(m.adapters()[1].slot, 9);
  EXPECT_EQ(extension_of(m, 0).next_extension, &extension_of(m, 1));
  EXPECT_EQ(extension_of(m, 1).next_extension, nullptr);
  ASSERT_EQ(m.find_calls().size(), 3u);
  EXPECT_EQ(m.find_calls()[2].status, ERROR_DEV_NOT_EXIST);
  EXPECT_EQ(m.find_calls()[2].again, FALSE);
  // The last call scans from slot 10 to the end of the bus, and no further.
  const auto ids = briefs(m.trace(), [](const host::TraceEvent &e) {
    return e.block == "cfg" && e.offset == 0 && e.is_read;
  });
  EXPECT_EQ(ids.size(), 32u);
}

TEST(Discovery, BoardInTheLastSlotEndsTheScan) {
  Machine m(machine({board(31)}));
  m.boot();
  ASSERT_EQ(m.adapters().size(), 1u);
  EXPECT_EQ(m.adapters()[0].slot, 31);
  ASSERT_EQ(m.find_calls().size(), 2u);
  EXPECT_EQ(m.find_calls()[1].status, ERROR_DEV_NOT_EXIST);
  // Once the scan has passed slot 31 a call touches the bus no more: the
  // last event is the first call's frame-buffer mapping.
  EXPECT_EQ(briefs(m.trace()).back().substr(0, 22), "VideoPortGetDeviceBase");
}

TEST(Discovery, BoardsInTheTwoHighestSlotsAreBothFound) {
  Machine m(machine({board(30, 0, 4 * kMiB, 0), board(31, 10, 8 * kMiB, 1)}));
  m.boot();
  ASSERT_EQ(m.adapters().size(), 2u);
  EXPECT_EQ(m.adapters()[0].slot, 30);
  EXPECT_EQ(m.adapters()[1].slot, 31);
  EXPECT_EQ(extension_of(m, 0).next_extension, &extension_of(m, 1));
}

TEST(Discovery, UnusableBoardInTheLastSlotLeavesTheBoardBelowItFound) {
  for (const bool refused : {false, true}) {
    MachineConfig c = machine({board(30, 0, 4 * kMiB, 0), board(31, refused ? 0 : 12, 4 * kMiB, 1)});
    if (refused) c.faults.push_back({"VideoPortGetAccessRanges", 2, ERROR_INVALID_PARAMETER});
    Machine m(c);
    ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR)) << refused;
    ASSERT_EQ(m.adapters().size(), 1u) << refused;
    EXPECT_EQ(m.adapters()[0].slot, 30);
    ASSERT_EQ(m.find_calls().size(), 2u) << refused;
    EXPECT_EQ(m.find_calls()[1].status, ERROR_DEV_NOT_EXIST) << refused;
  }
}

TEST(Discovery, NoBoardAndForeignDevicesFindNothing) {
  BoardConfig other_device = board(5);
  other_device.device_id = 0x1234;  // our vendor, another device
  Machine m(machine({other_device}));
  EXPECT_EQ(m.boot(), static_cast<ULONG>(ERROR_DEV_NOT_EXIST));
  EXPECT_TRUE(m.adapters().empty());
  EXPECT_EQ(briefs(m.trace(), [](const host::TraceEvent &e) { return e.is_read; }).size(), 32u);
  EXPECT_TRUE(briefs(m.trace(), [](const host::TraceEvent &e) {
                return e.service == "VideoPortSetBusData";
              }).empty());
}

TEST(Discovery, ShortConfigurationRecordIsRefusedWithoutBusAccess) {
  MachineConfig c = machine({board(3)});
  c.config_info_length = TORVIC_CONFIG_INFO_FORM_SIZE - 1;
  Machine short_record(c);
  EXPECT_EQ(short_record.boot(), static_cast<ULONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(short_record.find_calls().at(0).status, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(short_record.find_calls().at(0).again, FALSE);
  EXPECT_TRUE(briefs(short_record.trace(), is_config_access).empty());

  c.config_info_length = TORVIC_CONFIG_INFO_FORM_SIZE;
  Machine form_size(c);
  EXPECT_EQ(form_size.boot(), static_cast<ULONG>(NO_ERROR));
  EXPECT_EQ(form_size.adapters().size(), 1u);
}

TEST(Discovery, DescriptorsOfIoRegisters) {
  // Below 0x100 a port address is not worth keeping.
  Machine low(machine({board_with_register(5, {true, true, false, 0x100, 0xFC})}));
  low.boot();
  EXPECT_EQ(shapes(low.claim_requests().at(0), 5),
            (std::vector<Shape>{{0, CmResourceTypePort, CM_RESOURCE_PORT_IO, 0x100, 0, 0xFFFF}}));

  Machine high(machine({board_with_register(5, {true, true, false, 0x100, 0x100})}));
  high.boot();
  EXPECT_EQ(shapes(high.claim_requests().at(0), 5),
            (std::vector<Shape>{
                {IO_RESOURCE_PREFERRED, CmResourceTypePort, CM_RESOURCE_PORT_IO, 0x100, 0x100, 0x1FF},
                {IO_RESOURCE_ALTERNATIVE, CmResourceTypePort, CM_RESOURCE_PORT_IO, 0x100, 0, 0xFFFF}}));
}

TEST(Discovery, DescriptorsOfMemoryRegisters) {
  constexpr USHORT rw = CM_RESOURCE_MEMORY_READ_WRITE;
  constexpr USHORT pf = CM_RESOURCE_MEMORY_PREFETCHABLE;
  const UCHAR mem = CmResourceTypeMemory;
  const struct Case {
    host::BarConfig bar;
    std::vector<Shape> expected;
  } cases[] = {
      // address bits all ones: only a loose entry
      {{true, false, false, 0x1000, 0xFFFFF000}, {{0, mem, rw, 0x1000, 0, 0xFFFFEFFF}}},
      {{true, false, false, 0x100000, 0}, {{0, mem, rw, 0x100000, 0, 0xFFEFFFFF}}},
      {{true, false, false, 0x400000, 0}, {{0, mem, rw, 0x400000, 0, 0x3FFFFF}}},
      {{true, false, false, 0x400000, 0x400000},
       {{IO_RESOURCE_PREFERRED, mem, rw, 0x400000, 0x400000, 0x7FFFFF},
        {IO_RESOURCE_ALTERNATIVE, mem, rw, 0x400000, 0, 0x7FFFFF}}},
      {{true, false, true, 0x400000, 0x400000},
       {{IO_RESOURCE_PREFERRED, mem, pf, 0x400000, 0x400000, 0x7FFFFF},
        {IO_RESOURCE_ALTERNATIVE, mem, pf, 0x400000, 0, 0x7FFFFF}}},
  };
  for (const Case &c : cases) {
    Machine m(machine({board_with_register(1, c.bar)}));
    m.boot();
    EXPECT_EQ(shapes(m.claim_requests().at(0), 1), c.expected)
        << "register at 0x" << std::hex << c.bar.power_on_address << " size 0x" << c.bar.size;
  }

  Machine rom(machine({board_with_register(6, {true, false, false, 0x10000, 0xC4030000, true})}));
  rom.boot();
  EXPECT_EQ(shapes(rom.claim_requests().at(0), 6),
            (std::vector<Shape>{
                {IO_RESOURCE_PREFERRED, mem, CM_RESOURCE_MEMORY_READ_ONLY, 0x10000, 0xC4030000,
                 0xC403FFFF},
                {IO_RESOURCE_ALTERNATIVE, mem, CM_RESOURCE_MEMORY_READ_ONLY, 0x10000, 0, 0xC403FFFF}}));
}

TEST(Discovery, UnimplementedRegisterShiftsTheRangesAndTheBoardIsPassedOver) {
  BoardConfig b = board(2);
  b.bars[3].implemented = false;
  b.bars[5].power_on_address = 0x100;  // inside legacy I/O: the loose entry must serve
  b.command_power_on = 0x7;             // decoding on, as the firmware left it
  Machine m(machine({b, board(7, 0, 4 * kMiB, 1)}));
  m.boot();
  const ClaimRequest &req = m.claim_requests().at(0);
  EXPECT_EQ(req.status, NO_ERROR);
  EXPECT_EQ(req.descriptors.size(), 12u);  // six registers, each with an alternative
  // BAR0, BAR1, BAR2, BAR4 and the ROM keep their places; BAR5 is placed anew.
  ASSERT_EQ(req.assigned.size(), 6u);
  EXPECT_EQ(req.assigned[0].RangeStart.QuadPart, 0xC0000000);
  EXPECT_EQ(req.assigned[3].RangeStart.QuadPart, 0xC4020000);
  EXPECT_EQ(req.assigned[4].RangeStart.QuadPart, 0x1000);  // first free port above legacy I/O
  EXPECT_EQ(req.assigned[5].RangeStart.QuadPart, 0xC4030000);
  // Range 4, where the register block belongs, is now the I/O block: the
  // board is not driven, its registers stay as found and so does decoding.
  host::Board &hw = m.board(2);
  EXPECT_EQ(hw.bar_register(5), 0x101u);
  EXPECT_EQ(hw.command(), 0x7u);
  ASSERT_EQ(m.adapters().size(), 1u);
  EXPECT_EQ(m.adapters()[0].slot, 7);
}

TEST(Discovery, AssignedAddressesDifferingFromTheBoardsAreWrittenBack) {
  // Two boards that came up at the same addresses: the second must move.
  Machine m(machine({board(1, 0, 4 * kMiB, 0), board(2, 0, 4 * kMiB, 0)}));
  m.boot();
  ASSERT_EQ(m.adapters().size(), 2u);
  const HW_DEVICE_EXTENSION &second = extension_of(m, 1);
  host::Board &hw = m.board(2);
  for (int bar = 0; bar < 6; bar++) {
    const auto start = static_cast<uint32_t>(second.access_ranges[bar].RangeStart.QuadPart);
    EXPECT_EQ(hw.bar_register(bar) & ~0xFu, start & ~0xFu) << "BAR" << bar;
  }
  EXPECT_NE(second.access_ranges[0].RangeStart.QuadPart,
            extension_of(m, 0).access_ranges[0].RangeStart.QuadPart);
  EXPECT_EQ(hw.bar_register(5) & 1u, 1u);
}

TEST(Discovery, RefusedClaimRestoresTheBoardAndTheScanGoesOn) {
  BoardConfig refused = board(2, 0, 4 * kMiB, 0);
  refused.command_power_on = 0x0001;  // came up with I/O decoding only
  MachineConfig c = machine({refused, board(5, 0, 4 * kMiB, 1)});
  c.faults.push_back({"VideoPortGetAccessRanges", 1, ERROR_INVALID_PARAMETER});
  Machine m(c);
  ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));

  host::Board &hw = m.board(2);
  EXPECT_EQ(hw.command(), 0x0001);
  for (int bar = 0; bar < 7; bar++)
    EXPECT_EQ(hw.bar_register(bar), host::Board(refused).bar_register(bar)) << "BAR" << bar;
  // The board above the refused one is found in the same call.
  ASSERT_EQ(m.adapters().size(), 1u);
  EXPECT_EQ(m.adapters()[0].slot, 5);
  EXPECT_EQ(m.find_calls().at(0).status, NO_ERROR);
}

// A board with the family's identifiers whose base address registers are
// not the family's: driving it would reach past what was claimed for it.
TEST(Discovery, BoardWhoseRangesAreNotTheFamilysIsPassedOverAfterItsClaim) {
  const struct {
    const char *what;
    int bar;
    std::function<void(host::BarConfig &)> change;
  } boards[] = {
      {"register block missing", 4, [](host::BarConfig &b) { b.implemented = false; }},
      {"register block of 4 KiB", 4, [](host::BarConfig &b) { b.size = 0x1000; }},
      {"I/O block of 128 bytes", 5, [](host::BarConfig &b) { b.size = 0x80; }},
      {"XY window of 4 KiB", 2, [](host::BarConfig &b) { b.size = 0x1000; }},
      {"frame buffer of 1 MiB", 0, [](host::BarConfig &b) { b.size = kMiB; }},
      // Long enough for what is reached through them: only their space is wrong.
      {"frame buffer in I/O space", 0,
       [](host::BarConfig &b) { b.io = true, b.size = 4 * kMiB, b.power_on_address = 0x400000; }},
      {"XY window in I/O space", 2,
       [](host::BarConfig &b) { b.io = true, b.size = 0x2000, b.power_on_address = 0xE000; }},
      {"register block in I/O space", 4,
       [](host::BarConfig &b) { b.io = true, b.size = 0x8000, b.power_on_address = 0x8000; }},
      {"I/O block in memory space", 5,
       [](host::BarConfig &b) { b.io = false, b.size = 0x100, b.power_on_address = 0xC4040000; }},
  };
  for (const auto &c : boards) {
    BoardConfig odd = board(2, 0, 4 * kMiB, 0);
    odd.command_power_on = 0x3;  // decoding on, as the firmware left it
    c.change(odd.bars[c.bar]);
    Machine m(machine({odd, board(31, 0, 4 * kMiB, 1)}));
    ASSERT_NO_THROW(m.boot()) << c.what;
    // Claimed, then left as found: decoding as it was, nothing programmed.
    EXPECT_EQ(m.claim_requests().at(0).status, NO_ERROR) << c.what;
    host::Board &hw = m.board(2);
    EXPECT_EQ(hw.command(), 0x3) << c.what;
    for (int bar = 0; bar < 7; bar++)
      EXPECT_EQ(hw.bar_register(bar), host::Board(odd).bar_register(bar)) << c.what << " BAR" << bar;
    // The good board in the last slot is found in the same call.
    ASSERT_EQ(m.adapters().size(), 1u) << c.what;
    EXPECT_EQ(m.adapters()[0].slot, 31) << c.what;
    EXPECT_EQ(m.find_calls().at(0).status, NO_ERROR) << c.what;
  }
}

TEST(Discovery, UnknownVariantIsPassedOverWithoutAnyWrite) {
  Machine m(machine({board(2, 12, 4 * kMiB, 0), board(5, 11, 4 * kMiB, 1)}));
  ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
  ASSERT_EQ(m.adapters().size(), 1u);
  EXPECT_EQ(m.adapters()[0].slot, 5);
  EXPECT_TRUE(briefs(m.trace(), [](const host::TraceEvent &e) {
                return e.service == "VideoPortSetBusData" && e.slot == 2;
              }).empty());
  EXPECT_EQ(m.find_calls().size(), 2u);  // one board, then the end of the bus
}

TEST(Discovery, EachBoardKeepsItsOwnVariant) {
  // An RGB528 board, an RGB526 board, then a rejected board examined last.
  Machine m(machine({board(1, 10, 8 * kMiB, 0), board(4, 3, 4 * kMiB, 1),
                     board(7, 0x7777, 4 * kMiB, 2)}));
  m.boot();
  ASSERT_EQ(m.adapters().size(), 2u);
  EXPECT_EQ(extension_of(m, 0).variant_dword, (10u << 16) | host::kTorvicVendorId);
  EXPECT_EQ(extension_of(m, 1).variant_dword, (3u << 16) | host::kTorvicVendorId);
}

TEST(Discovery, FailedMappingLeavesTheBoardUncountedAsFoundAndEndsDiscovery) {
  for (uint64_t failing = 1; failing <= 3; failing++) {
    MachineConfig c = machine({board(3, 0, 4 * kMiB, 0), board(6, 0, 4 * kMiB, 1)});
    c.boards[0].command_power_on = 0x0003;  // the firmware left it decoding
    c.boards[0].bars[1].power_on_address = 0xFE000000;  // and one register unplaced
    c.faults.push_back({"VideoPortGetDeviceBase", failing, ERROR_INVALID_PARAMETER});
    Machine m(c);
    EXPECT_EQ(m.boot(), static_cast<ULONG>(ERROR_INVALID_PARAMETER)) << "mapping " << failing;
    EXPECT_TRUE(m.adapters().empty());
    EXPECT_EQ(m.find_calls().at(0).again, FALSE);
    // No mapping is tried after the one that failed.
    const auto tried = briefs(m.trace(), [](const host::TraceEvent &e) {
      return e.service == "VideoPortGetDeviceBase";
    });
    EXPECT_EQ(tried.size(), failing);
    // What was mapped of it is given back, the last mapping first.
    const std::vector<std::string> freed = briefs(m.trace(), [](const host::TraceEvent &e) {
      return e.service == "VideoPortFreeDeviceBase";
    });
    const std::vector<std::string> all_freed = {
        "VideoPortFreeDeviceBase phys 0xD000 length 0x100 io",
        "VideoPortFreeDeviceBase phys 0xC4020000 length 0x10000 memory"};
    EXPECT_EQ(freed, std::vector<std::string>(all_freed.end() - static_cast<long>(failing - 1),
                                              all_freed.end()));
    EXPECT_THAT(m.device_base_mappings(), testing::IsEmpty());
    // The board is given back as the firmware left it.
    const host::Board &b = m.board(3);
    EXPECT_EQ(b.command(), 0x0003);
    EXPECT_EQ(b.bar_register(0), 0xC0000008u);
    EXPECT_EQ(b.bar_register(1), 0xFE000000u);
    EXPECT_EQ(b.bar_register(5), 0xD001u);
  }
}

TEST(Discovery, BoardWhoseMappingFailsIsNotLinkedBehindTheLastBoard) {
  Machine m(second_board_cannot_be_mapped());
  m.boot();
  ASSERT_EQ(m.adapters().size(), 1u);
  EXPECT_EQ(extension_of(m, 0).next_extension, nullptr);
}

}  // namespace
}  // namespace torvic::test
