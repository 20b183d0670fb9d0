// SPDX-License-Identifier: MIT
// torvic-sim boot: every slot that holds a device, as lspci shows it, and for
// each board of the family what the driver made of it or why it passed the
// board over, worked out from what the machine saw the driver do.
#include <algorithm>
#include <iostream>
#include <optional>

#include "host/display/display_client.h"
#include "host/common/text.h"
#include "json_output.h"
#include "labels.h"
#include "passed_over.h"
#include "session.h"
#include "text_output.h"

namespace torvic::sim {

namespace {

using host::hex;

constexpr uint16_t kPciCommandIo = 0x1;
constexpr uint16_t kPciCommandMemory = 0x2;
constexpr uint16_t kPciCommandBusMaster = 0x4;

ordered_json bars_json(const host::Board &board) {
  ordered_json bars = ordered_json::array();
  for (int i = 0; i < host::kNumBars; i++) {
    const host::BarConfig &c = board.config().bars[i];
    if (!c.implemented) continue;
    const uint32_t mask = i == host::kRomBar ? ~0x7FFu : c.io ? ~0x3u : ~0xFu;
    bars.push_back({{"bar", kBarNames[i]},
                    {"space", i == host::kRomBar ? "rom" : c.io ? "io" : "memory"},
                    {"prefetchable", c.prefetchable},
                    {"size", c.size},
                    {"found", hex(c.power_on_address)},
                    {"programmed", hex(board.bar_register(i) & mask)}});
  }
  return bars;
}

// The PCI command register's switches that decide what the board answers.
ordered_json command_json(uint16_t command) {
  return {{"value", hex(command)},
          {"io_decoding", (command & kPciCommandIo) != 0},
          {"memory_decoding", (command & kPciCommandMemory) != 0},
          {"bus_master", (command & kPciCommandBusMaster) != 0}};
}

// The expansion ROM's enable bit, and where the board answers for it: only
// with the bit set and memory decoding on.
ordered_json rom_json(bool enabled, std::optional<uint64_t> decoded_at) {
  return {{"enabled", enabled}, {"decoded_at", decoded_at ? ordered_json(hex(*decoded_at)) : ordered_json()}};
}

// What the board held at power-on ("found") and holds after the driver ran
// ("programmed"): the command register and the expansion ROM.
void add_pci_state(ordered_json &j, const host::Board &board) {
  const auto &c = board.config();
  j["command"] = {{"found", command_json(c.command_power_on)}, {"programmed", command_json(board.command())}};
  j["rom"] = nullptr;
  if (c.bars[host::kRomBar].implemented)
    j["rom"] = {{"found", rom_json(c.bars[host::kRomBar].rom_enabled, board.power_on_decoded_base(host::kRomBar))},
                {"programmed", rom_json((board.bar_register(host::kRomBar) & 1) != 0,
                                        board.decoded_base(host::kRomBar))}};
}

std::string command_text(const ordered_json &command) {
  const auto on_off = [&](const char *key) { return command[key].get<bool>() ? "on" : "off"; };
  return host::formatted("%-6s  I/O %s, memory %s, bus master %s", command["value"].get<std::string>().c_str(),
                         on_off("io_decoding"), on_off("memory_decoding"), on_off("bus_master"));
}

std::string rom_text(const ordered_json &rom) {
  if (!rom["enabled"].get<bool>()) return "disabled";
  if (rom["decoded_at"].is_null()) return "enabled, not decoded: memory decoding is off";
  return "enabled, decoded at " + rom["decoded_at"].get<std::string>();
}

void print_pci_state(const ordered_json &slot) {
  std::cout << "  command        found " << command_text(slot["command"]["found"]) << "\n"
            << "                 now   " << command_text(slot["command"]["programmed"]) << "\n";
  if (slot["rom"].is_null()) {
    std::cout << "  expansion ROM  not implemented\n";
    return;
  }
  std::cout << "  expansion ROM  found " << rom_text(slot["rom"]["found"]) << "\n"
            << "                 now   " << rom_text(slot["rom"]["programmed"]) << "\n";
}

ordered_json slot_json(const Machine &m, const host::Board &board) {
  const auto &c = board.config();
  ordered_json j;
  j["slot"] = board.slot();
  j["vendor_id"] = hex(c.vendor_id);
  j["device_id"] = hex(c.device_id);
  j["subsystem_vendor_id"] = hex(c.subsystem_vendor_id);
  j["variant_code"] = c.variant_code;
  j["bars"] = bars_json(board);
  add_pci_state(j, board);
  j["board"] = nullptr;
  j["passed_over"] = nullptr;
  const bool family = is_family_board(board);
  j["variant"] = family ? ordered_json(variant_name(c.variant_code)) : ordered_json();
  if (!family) {
    j["passed_over"] = "not a board of the family";
    return j;
  }
  if (const auto adapter = adapter_in_slot(m, board.slot()))
    j["board"] = *adapter;
  else
    j["passed_over"] = passed_over_reason(m, board);
  return j;
}

// What the driver made of a board it took.
ordered_json found_json(Machine &m, size_t adapter, const ordered_json &report) {
  const auto &registry = report["registry"];
  ordered_json j;
  j["memory_mib"] = registry.contains("HardwareInformation.MemorySize")
                        ? ordered_json(registry["HardwareInformation.MemorySize"].get<uint32_t>() / host::kMiB)
                        : ordered_json();
  for (const auto &[key, name] : {std::pair<const char *, const char *>{"dac", "HardwareInformation.DacType"},
                                  {"chip", "HardwareInformation.ChipType"}})
    j[key] = registry.contains(name) ? registry[name] : ordered_json();
  j["modes"] = host::DisplayClient(m, adapter).num_modes();
  return j;
}

std::string size_text(uint32_t size, bool io) {
  if (io) return std::to_string(size) + " ports";
  if (size >= host::kMiB && size % host::kMiB == 0) return std::to_string(size / host::kMiB) + " MiB";
  if (size >= 1024 && size % 1024 == 0) return std::to_string(size / 1024) + " KiB";
  return std::to_string(size) + " bytes";
}

}  // namespace

int run_boot(const GlobalOptions &o) {
  Session s(o);
  Machine &m = s.machine();
  ordered_json j;
  j["driver_entry_status"] = hex(s.boot_status());
  std::vector<host::Board *> boards = m.boards();
  std::sort(boards.begin(), boards.end(), [](auto *a, auto *b) { return a->slot() < b->slot(); });
  j["slots"] = ordered_json::array();
  j["boards"] = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++) j["boards"].push_back(board_report(m, i));
  for (host::Board *board : boards) {
    ordered_json slot = slot_json(m, *board);
    if (!slot["board"].is_null()) {
      const size_t adapter = slot["board"].get<size_t>();
      slot["found"] = found_json(m, adapter, j["boards"][adapter]);
    }
    j["slots"].push_back(slot);
  }
  j["num_boards"] = s.boards() ? host::DisplayClient(m, 0).num_boards() : 0;
  if (o.json) {
    emit(o, j, &s);
    return 0;
  }
  std::cout << "DriverEntry returned " << j["driver_entry_status"].get<std::string>() << "\n";
  for (const auto &slot : j["slots"]) {
    std::cout << "\nslot " << slot["slot"].get<int>() << ": "
              << host::formatted("%s:%s subsystem %s:%04X", slot["vendor_id"].get<std::string>().c_str() + 2,
                                 slot["device_id"].get<std::string>().c_str() + 2,
                                 slot["subsystem_vendor_id"].get<std::string>().c_str() + 2,
                                 slot["variant_code"].get<unsigned>());
    if (!slot["variant"].is_null())
      std::cout << ", variant code " << slot["variant_code"].get<int>() << " (" << slot["variant"].get<std::string>()
                << ")";
    std::cout << "\n";
    for (const auto &bar : slot["bars"]) {
      std::cout << host::formatted("  %-4s  %-6s  %-12s  %9s  found %-10s  now %s\n",
                                   bar["bar"].get<std::string>().c_str(), bar["space"].get<std::string>().c_str(),
                                   bar["prefetchable"].get<bool>() ? "prefetchable" : "",
                                   size_text(bar["size"].get<uint32_t>(), bar["space"] == "io").c_str(),
                                   bar["found"].get<std::string>().c_str(),
                                   bar["programmed"].get<std::string>().c_str());
    }
    print_pci_state(slot);
    if (slot.contains("found")) {
      const auto &f = slot["found"];
      std::cout << "  the driver's board " << slot["board"].get<size_t>() << ": "
                << (f["memory_mib"].is_null() ? std::string("memory not reported")
                                              : std::to_string(f["memory_mib"].get<uint32_t>()) + " MiB")
                << ", " << (f["dac"].is_null() ? std::string("DAC not reported") : f["dac"].get<std::string>())
                << ", " << (f["chip"].is_null() ? std::string("chip not reported") : f["chip"].get<std::string>())
                << ", " << f["modes"].get<ULONG>() << " modes\n";
    } else {
      std::cout << "  passed over: " << slot["passed_over"].get<std::string>() << "\n";
    }
  }
  // Saying why each board was passed over is this command's job: a machine
  // without a usable board is shown, not failed.
  if (j["boards"].empty()) {
    std::cout << "\nThe driver found no usable board on this machine.\n";
    return 0;
  }
  std::cout << "\nWhat the driver claimed, mapped and reported:\n";
  for (const auto &b : j["boards"]) print_board_report(b);
  std::cout << "boards found: " << j["num_boards"].get<ULONG>() << "\n";
  return 0;
}

}  // namespace torvic::sim
