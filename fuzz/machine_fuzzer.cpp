// SPDX-License-Identifier: MIT
// Builds a whole machine from its input: up to 32 boards of any variant
// code, memory straps, base address registers and power-on register values,
// other devices of the family's vendor, a drawing engine that is slow or
// never idle, and services that fail at a given call. It boots the machine,
// initialises every board the driver finds and drives each as a display
// driver does. A crash, a sanitizer report or a verifier stop (which is
// how the host video port reports any access outside what the driver was
// given) ends the run; so does a board claimed twice, and, on a machine of
// good boards where no fault fired, a board not found.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fuzz/input_reader.h"
#include "host/display/display_client.h"
#include "host/display/test_pattern.h"
#include "host/port/machine.h"
#include "host/port/service_faults.h"
#include "tools/torvic-sim/machine_file.h"

namespace {

using torvic::host::BoardConfig;
using torvic::host::DisplayClient;
using torvic::host::Machine;
using torvic::host::MachineConfig;

[[noreturn]] void fail(const std::string &why) {
  (void)fprintf(stderr, "machine fuzzer: %s\n", why.c_str());
  abort();
}

// A board from the input: one of the family at its default layout, or
// (when the first byte has its top bit) one with everything the input says.
BoardConfig board_from(Reader &in, uint32_t slot, uint32_t index, bool &good) {
  const uint32_t kind = in.take(1);
  const uint16_t code = static_cast<uint16_t>(in.take(1) % 14);  // 12 and 13 are not variants
  const uint32_t memory = (2u << (in.take(1) % 3)) * torvic::host::kMiB;
  BoardConfig c = torvic::host::default_board(slot, code, memory, index);
  if (code > 11) good = false;
  if (!(kind & 0x80)) return c;
  good = false;
  if (kind & 1) c.device_id = static_cast<uint16_t>(in.take(2));  // another device of the vendor
  if (kind & 2) c.subsystem_vendor_id = static_cast<uint16_t>(in.take(2));
  if (kind & 4) c.config1 = in.take(4);
  if (kind & 8)
    for (int i = 0; i < torvic::host::kNumBars; i++) {
      // Sizes PCI allows: 4 to 256 ports, 16 bytes to 2 GiB of memory, and
      // from 2 KiB for the expansion ROM, which is never an I/O register.
      auto &bar = c.bars[i];
      const uint32_t flags = in.take(1);
      const bool rom = i == torvic::host::kRomBar;
      bar.implemented = !(flags & 1);
      bar.io = !rom && (flags & 2);
      bar.prefetchable = !rom && (flags & 4);
      bar.rom_enabled = rom && (flags & 8);
      const uint32_t shift = in.take(1);
      bar.size = 1u << (bar.io ? 2 + shift % 7 : rom ? 11 + shift % 21 : 4 + shift % 28);
      bar.power_on_address = in.take(4) & ~(bar.size - 1) & (bar.io ? 0xFFFFu : 0xFFFFFFFFu);
    }
  if (kind & 16) c.command_power_on = static_cast<uint16_t>(in.take(2));
  if (kind & 32) {
    c.config2_power_on = in.take(4);
    c.config3_power_on = in.take(4);
    c.vga_ctrl_power_on = in.take(4);
    c.xya_ctrl_power_on = in.take(4);
    c.xyb_ctrl_power_on = in.take(4);
  }
  if (kind & 64) {
    const uint32_t busy = in.take(1);
    c.engine.busy_reads = busy == 0xFF ? -1 : busy * 16;
  }
  return c;
}

MachineConfig machine_from(Reader &in, bool &good) {
  MachineConfig config;
  std::set<uint32_t> used;
  const uint32_t boards = in.take(1) % 33;
  for (uint32_t k = 0; k < boards; k++) {
    uint32_t slot = in.take(1) % 32;
    while (used.contains(slot)) slot = (slot + 1) % 32;
    used.insert(slot);
    config.boards.push_back(board_from(in, slot, k, good));
  }
  std::vector<const char *> fallible;
  for (const auto &info : torvic::host::service_fault_table())
    if (info.kind != torvic::host::FaultKind::CannotFail) fallible.push_back(info.service);
  const VP_STATUS statuses[] = {ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_FUNCTION,
                                ERROR_DEV_NOT_EXIST};
  for (uint32_t n = in.take(1) % 4; n > 0; n--) {
    torvic::host::ServiceFault f{fallible[in.take(1) % fallible.size()], 1 + in.take(2) % 3000,
                                 statuses[in.take(1) % std::size(statuses)]};
    if (torvic::host::service_fault_info(f.service)->kind != torvic::host::FaultKind::Status) f.status = NO_ERROR;
    config.faults.push_back(f);
  }
  return config;
}

// What a display driver does with a board: the modes, one of them set, video
// memory mapped and drawn into, the palette, the public ranges taken and
// given back, the mapping given back, and the board handed back to VGA.
void drive(Machine &m, size_t adapter, uint32_t pick) {
  DisplayClient client(m, adapter);
  const auto modes = client.modes();
  if (!modes.empty()) {
    const VIDEO_MODE_INFORMATION &mode = modes[pick % modes.size()];
    if (client.set_mode(mode.ModeIndex) == NO_ERROR) {
      const auto memory = client.map_video_memory();
      if (memory.status == NO_ERROR) {
        if (mode.BitsPerPlane == 8) client.set_palette(0, torvic::host::pattern_palette());
        if (client.frame_fits(memory, mode))
          torvic::host::draw_pattern(torvic::host::Pattern::Grid, memory.frame, mode);
        const auto ranges = client.query_public_ranges();
        if (ranges.status == NO_ERROR) client.free_public_ranges(ranges.bytes);
        client.unmap_video_memory(memory.ram);
      }
    }
  }
  client.reset_device();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Reader in{data, size};
  bool good = true;
  MachineConfig config = machine_from(in, good);
  // Only machines a machine file can describe: the reader's rules are the
  // model's limits (an I/O register above 256 ports, an address off its
  // size, and so on), not the driver's.
  try {
    config = torvic::sim::parse_machine(torvic::sim::machine_to_json(config).dump());
  } catch (const torvic::sim::InputError &) {
    return 0;
  }
#ifdef TORVIC_UNCOUNTED_DRIVER
  Machine m(config, TORVIC_UNCOUNTED_DRIVER);
#else
  Machine m(config);
#endif
  try {
    m.boot();
    std::set<int> claimed;
    for (const auto &a : m.adapters())
      if (!claimed.insert(a.slot).second) fail("slot " + std::to_string(a.slot) + " claimed twice");
    if (good && m.fired_faults().empty() && m.adapters().size() != config.boards.size())
      fail("found " + std::to_string(m.adapters().size()) + " of " + std::to_string(config.boards.size()) +
           " good boards");
    // As NT does: every board is initialised before any request, and one
    // whose initialisation fails gets none.
    std::vector<bool> started;
    for (size_t i = 0; i < m.adapters().size(); i++) started.push_back(m.initialize(i));
    for (size_t i = 0; i < m.adapters().size(); i++)
      if (started[i]) drive(m, i, in.take(1));
    if (!m.adapters().empty()) m.shut_down();
  } catch (const torvic::host::VerifierStop &stop) {
    fail(stop.what());
  }
  return 0;
}
