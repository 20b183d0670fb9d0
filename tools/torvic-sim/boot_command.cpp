// SPDX-License-Identifier: MIT
// torvic-sim boot: every slot that holds a device, as lspci shows it, and for
// each board of the family what the driver made of it or why it passed the
// board over, worked out from what the machine saw the driver do.
#include <algorithm>
#include <iostream>

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

ordered_json slot_json(Machine &m, const host::Board &board) {
  const auto &c = board.config();
  ordered_json j;
  j["slot"] = board.slot();
  j["vendor_id"] = hex(c.vendor_id);
  j["device_id"] = hex(c.device_id);
  j["subsystem_vendor_id"] = hex(c.subsystem_vendor_id);
  j["variant_code"] = c.variant_code;
  j["bars"] = bars_json(board);
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
