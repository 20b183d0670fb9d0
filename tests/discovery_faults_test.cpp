// SPDX-License-Identifier: MIT
// Discovery when the configuration bus fails: a board is either taken whole,
// decoding exactly what was claimed for it, or given back as the firmware
// left it, and no value is ever made of a read that delivered nothing.
#include "tests/test_support.h"

namespace torvic::test {
namespace {

using host::TraceEvent;

constexpr uint16_t kFoundCommand = 0x0007;  // decoding and bus mastering on

// Where the firmware leaves a 32 MiB register it never placed: all ones.
constexpr uint32_t kUnplaced = 0xFE000000;

// Two boards; the firmware left the first decoding, with BAR1 never placed.
MachineConfig firmware_machine() {
  MachineConfig c = machine({board(3, 0, 4 * kMiB, 0), board(9, 10, 8 * kMiB, 1)});
  c.boards[0].command_power_on = kFoundCommand;
  c.boards[0].bars[1].power_on_address = kUnplaced;
  return c;
}

// The register values of a board as the firmware left it.
struct Found {
  uint16_t command;
  std::array<uint32_t, host::kNumBars> bars;
};

Found as_found(const MachineConfig &c, uint32_t slot) {
  const host::Board b(*std::find_if(c.boards.begin(), c.boards.end(),
                                    [&](const BoardConfig &x) { return x.slot == slot; }));
  Found f{b.command(), {}};
  for (int i = 0; i < host::kNumBars; i++) f.bars[i] = b.bar_register(i);
  return f;
}

// Which calls of a configuration service reach slot 3, in a run without faults.
std::vector<uint64_t> calls_reaching_slot3(const std::string &service) {
  Machine clean(firmware_machine());
  clean.boot();
  std::vector<uint64_t> calls;
  uint64_t n = 0;
  for (const TraceEvent &e : clean.trace())
    if (e.service == service && ++n && e.slot == 3) calls.push_back(n);
  return calls;
}

bool taken(const Machine &m, int slot) {
  for (const auto &a : m.adapters())
    if (a.slot == slot) return true;
  return false;
}

// What the board decodes must be what was claimed for it, or what the
// firmware left; a board that could not be given back decodes nothing.
void expect_taken_whole_or_as_found(Machine &m, const Found &found) {
  const host::Board &b = m.board(3);
  if (taken(m, 3)) {
    EXPECT_EQ(b.command(), found.command | 0x3);
    const HW_DEVICE_EXTENSION &ext = extension_of(m, 0);
    EXPECT_EQ(b.bar_register(0) & ~0xFu, ext.access_ranges[0].RangeStart.LowPart);
    EXPECT_EQ(b.bar_register(5) & ~0x3u, ext.access_ranges[5].RangeStart.LowPart);
    return;
  }
  if (b.command() != found.command) {
    EXPECT_EQ(b.command(), found.command & ~0x3) << "a board not given back decodes nothing";
    return;
  }
  for (int i = 0; i < host::kNumBars; i++)
    EXPECT_EQ(b.bar_register(i), found.bars[i]) << "BAR " << i;
}

TEST(DiscoveryFaults, EveryFailedConfigurationAccessLeavesTheBoardTakenWholeOrAsFound) {
  const Found found = as_found(firmware_machine(), 3);
  for (const std::string service : {"VideoPortGetBusData", "VideoPortSetBusData"}) {
    const auto calls = calls_reaching_slot3(service);
    ASSERT_GT(calls.size(), 20u) << service;
    for (uint64_t call : calls) {
      SCOPED_TRACE(service + " call " + std::to_string(call));
      MachineConfig c = firmware_machine();
      c.faults.push_back({service, call, ERROR_INVALID_PARAMETER});
      Machine m(c);
      m.boot();  // the host stops a run that leaves two boards decoding one address
      expect_taken_whole_or_as_found(m, found);
      EXPECT_TRUE(taken(m, 9)) << "a failure on one board hides no other";
      // Decoding is only ever switched between off and as found (plus on).
      for (const TraceEvent &e : m.trace()) {
        if (e.slot == 3 && e.service == "VideoPortSetBusData" && e.offset == 0x4) {
          EXPECT_THAT(e.value & 0xFFFF, testing::AnyOf(found.command & ~0x3, found.command,
                                                       found.command | 0x3));
        }
      }
    }
  }
}

TEST(DiscoveryFaults, ABoardWhoseDecodingCannotBeTurnedOffIsNeitherSizedNorTouched) {
  const uint64_t decoding_off = calls_reaching_slot3("VideoPortSetBusData").front();
  MachineConfig c = firmware_machine();
  c.faults.push_back({"VideoPortSetBusData", decoding_off, ERROR_INVALID_PARAMETER});
  Machine m(c);
  m.boot();
  EXPECT_FALSE(taken(m, 3));
  EXPECT_THAT(briefs(m.trace(),
                     [](const TraceEvent &e) {
                       return e.slot == 3 && e.service == "VideoPortSetBusData" && e.fault.empty();
                     }),
              testing::IsEmpty());
}

TEST(DiscoveryFaults, ARegisterThatCannotBeGivenBackLeavesTheBoardDecodingNothing) {
  // BAR0 fails to take its claimed address, then fails again to take back
  // its found one: the board must not decode again at all.
  Machine clean(firmware_machine());
  clean.boot();
  std::vector<uint64_t> bar0_writes;
  uint64_t n = 0;
  for (const TraceEvent &e : clean.trace())
    if (e.service == "VideoPortSetBusData" && ++n && e.slot == 3 && e.offset == 0x10)
      bar0_writes.push_back(n);
  ASSERT_EQ(bar0_writes.size(), 3u);  // all ones, found value, claimed address
  MachineConfig c = firmware_machine();
  c.faults.push_back({"VideoPortSetBusData", bar0_writes[2], ERROR_INVALID_PARAMETER});
  c.faults.push_back({"VideoPortSetBusData", bar0_writes[2] + 1, ERROR_INVALID_PARAMETER});
  Machine m(c);
  m.boot();
  EXPECT_FALSE(taken(m, 3));
  EXPECT_EQ(m.board(3).command(), kFoundCommand & ~0x3);
  EXPECT_TRUE(taken(m, 9));
}

// Three boards whose BAR1 the firmware never placed: when the first cannot
// take its addresses, its BAR1 must not keep the address the next board is
// then given.
TEST(DiscoveryFaults, APassedOverBoardKeepsNoAddressTheNextBoardIsGiven) {
  MachineConfig c = machine({board(3, 0, 4 * kMiB, 0), board(9, 0, 4 * kMiB, 1),
                             board(12, 0, 4 * kMiB, 2)});
  for (auto &b : c.boards) {
    b.bars[1].power_on_address = kUnplaced;
    b.command_power_on = 0x0003;
  }
  const Found found = as_found(c, 3);
  Machine clean(c);
  clean.boot();
  uint64_t n = 0, bar1_placed = 0;
  for (const TraceEvent &e : clean.trace())
    if (e.service == "VideoPortSetBusData" && ++n && e.slot == 3 && e.offset == 0x14 &&
        e.value != kUnplaced && e.value != 0xFFFFFFFF)
      bar1_placed = n;
  ASSERT_NE(bar1_placed, 0u);
  c.faults.push_back({"VideoPortSetBusData", bar1_placed + 2, ERROR_INVALID_PARAMETER});
  Machine m(c);
  m.boot();
  ASSERT_FALSE(taken(m, 3));
  EXPECT_EQ(m.board(3).bar_register(1), found.bars[1]);
  EXPECT_EQ(m.board(3).command(), found.command);
  EXPECT_TRUE(taken(m, 9) && taken(m, 12));
}

}  // namespace
}  // namespace torvic::test
