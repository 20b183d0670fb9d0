// SPDX-License-Identifier: MIT
// A reset of the PCI bus, as an emulator gives the board at a machine
// reset: every register and configuration register back to its power-on
// value, video memory as it was.
#include <cstring>

#include "host/display/display_client.h"
#include "test_support.h"

namespace torvic::test {
namespace {

// Everything of the board's state a register read or the monitor sees.
void expect_same_registers(const host::Board &got, const host::Board &want) {
  for (uint32_t offset = 0; offset < 0x10000; offset += 4)
    ASSERT_EQ(got.reg(offset), want.reg(offset)) << "register " << std::hex << offset;
  for (uint32_t offset = 0; offset < 0x100; offset += 4)
    ASSERT_EQ(got.io(offset), want.io(offset)) << "I/O port " << std::hex << offset;
  for (uint32_t offset = 0; offset < 0x40; offset += 4)
    ASSERT_EQ(got.config_read(offset), want.config_read(offset)) << "configuration " << std::hex << offset;
  for (uint32_t index = 0; index < 256; index++) {
    ASSERT_EQ(got.dac_index_reg(index), want.dac_index_reg(index)) << "DAC index " << index;
    ASSERT_EQ(got.palette(index), want.palette(index)) << "palette entry " << index;
  }
  EXPECT_EQ(got.pixel_mask(), want.pixel_mask());
  EXPECT_EQ(got.dac_index(), want.dac_index());
  EXPECT_EQ(got.text_mode(), want.text_mode());
}

TEST(BoardModel, AResetRestoresEveryRegisterAndKeepsVideoMemory) {
  const BoardConfig config = board(3, kRgb528, 8 * kMiB);
  Machine m(machine({config}));
  m.boot();
  m.open(0);
  host::DisplayClient client(m, 0);
  const auto modes = client.modes();
  ASSERT_FALSE(modes.empty());
  ASSERT_EQ(client.set_mode(modes.front().ModeIndex), NO_ERROR);
  host::Board &used = m.board(3);
  memset(used.vram(), 0x5A, used.memory_size());

  used.reset();

  const host::Board fresh(config);
  expect_same_registers(used, fresh);
  EXPECT_EQ(used.command(), config.command_power_on);
  EXPECT_EQ(used.vram()[0], 0x5A);
  EXPECT_EQ(used.vram()[used.memory_size() - 1], 0x5A);
}

}  // namespace
}  // namespace torvic::test
