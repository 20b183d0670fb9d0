// SPDX-License-Identifier: MIT
// The driver on ReactOS's video port, which runs a miniport of NT 4.0's
// registration size in its own way: where a claim is refused, where the
// slot written back is not the slot, and where find-adapter is called once.
// Each way was seen on a running ReactOS (docs/reactos.md); the driver must
// leave every board either taken whole or as the firmware left it.
#include "tests/test_support.h"

namespace torvic::test {
namespace {

using host::TraceEvent;

constexpr uint16_t kDecoding = 0x0003;  // as a PC's firmware leaves a board: I/O and memory on

// What the firmware left in a board's configuration registers.
struct Found {
  uint16_t command;
  std::array<uint32_t, host::kNumBars> bars;
  bool operator==(const Found &) const = default;
};

Found found_in(const host::Board &b) {
  Found f{b.command(), {}};
  for (int i = 0; i < host::kNumBars; i++) f.bars[i] = b.bar_register(i);
  return f;
}

// A board whose Plug and Play node holds its ranges (the system's VGA
// driver runs it) cannot be claimed: the driver reports no board, with the
// status a find-adapter that finds none returns, whatever status the refusal
// came with, and leaves the board as the firmware left it, mapping nothing.
TEST(ReactOsLegacyPath, AClaimRefusedForTheBoardsOwnRangesLeavesItAsFoundAndReportsNoBoard) {
  MachineConfig c = machine({board(3, 10, 8 * kMiB, 0)});
  c.boards[0].command_power_on = kDecoding;
  c.reactos.board_ranges_held_by_pnp_node = true;
  const Found before = found_in(host::Board(c.boards[0]));
  Machine m(c);
  EXPECT_EQ(m.boot(), static_cast<ULONG>(ERROR_DEV_NOT_EXIST));
  ASSERT_FALSE(m.claim_requests().empty());
  EXPECT_EQ(static_cast<uint32_t>(m.claim_requests().back().status), host::kStatusConflictingAddresses);
  ASSERT_FALSE(m.find_calls().empty());
  EXPECT_EQ(m.find_calls().back().status, ERROR_DEV_NOT_EXIST);
  EXPECT_TRUE(m.adapters().empty());
  EXPECT_EQ(found_in(m.board(3)), before);
  EXPECT_TRUE(m.device_base_mappings().empty());
}

// A platform that writes another number back through the claim's slot
// pointer must not have the driver program, or scan again from, that slot.
TEST(ReactOsLegacyPath, TheSlotSizedIsTheSlotProgrammedWhateverTheClaimWritesBack) {
  MachineConfig c = machine({board(0, 0, 4 * kMiB, 0), board(9, 10, 8 * kMiB, 1)});
  c.reactos.claim_returns_bus_number = true;
  Machine m(c);
  ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
  ASSERT_EQ(m.adapters().size(), 2u);
  EXPECT_EQ(m.adapters()[1].slot, 9);
  EXPECT_TRUE(m.board(9).memory_decoding());
  // Slot 0 is sized and programmed once, as the first board, and never again.
  size_t slot0_writes = 0;
  for (const TraceEvent &e : m.trace())
    slot0_writes += e.service == "VideoPortSetBusData" && e.slot == 0;
  EXPECT_EQ(slot0_writes, 1u + 2u * 7u + 7u + 1u);
}

// With one find-adapter call the driver takes the first board it finds,
// whole, and does not touch the boards after it: they stay as the firmware
// left them, for whatever runs them instead.
TEST(ReactOsLegacyPath, OneFindAdapterCallTakesTheFirstBoardAndLeavesTheOthersAsFound) {
  MachineConfig c = machine({board(3, 0, 2 * kMiB, 0), board(9, 8, 4 * kMiB, 1), board(12, 10, 8 * kMiB, 2)});
  c.reactos.one_find_adapter_call = true;
  for (BoardConfig &b : c.boards) b.command_power_on = kDecoding;
  std::vector<Found> before;
  for (const BoardConfig &b : c.boards) before.push_back(found_in(host::Board(b)));
  Machine m(c);
  ASSERT_EQ(m.boot(), static_cast<ULONG>(NO_ERROR));
  ASSERT_EQ(m.find_calls().size(), 1u);
  EXPECT_TRUE(m.find_calls()[0].again);  // asked for, not granted
  ASSERT_EQ(m.adapters().size(), 1u);
  EXPECT_EQ(m.adapters()[0].slot, 3);
  EXPECT_TRUE(m.board(3).memory_decoding());
  EXPECT_EQ(found_in(m.board(9)), before[1]);
  EXPECT_EQ(found_in(m.board(12)), before[2]);
  for (const TraceEvent &e : m.trace())
    EXPECT_FALSE(e.service == "VideoPortSetBusData" && (e.slot == 9 || e.slot == 12)) << e.detail;
}

}  // namespace
}  // namespace torvic::test
