// SPDX-License-Identifier: MIT
// What a run of the driver leaves behind on the machine once it is done (the
// boards' PCI configuration, the registry, the modes each board offers, the
// mappings still made), and how that of a run with a fault differs from that
// of the run without. The fault sweep tells each row's by it.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/display/display_client.h"
#include "host/port/machine.h"
#include "host/common/text.h"

namespace torvic::sim {

// What a board's PCI configuration holds that the driver changes: the
// command register's decoding and bus master bits, the base address
// registers and the expansion ROM register.
struct PciState {
  uint16_t command = 0;
  std::array<uint32_t, host::kNumBars> bars{};
  bool operator==(const PciState &) const = default;
};

constexpr uint16_t kIoDecoding = 0x1, kMemoryDecoding = 0x2, kBusMaster = 0x4;

// A registry value as last stored for a board.
struct StoredValue {
  int slot = -1;
  std::string name;
  std::vector<uint8_t> data;
};

struct LeftBehind {
  std::vector<int> found;            // slots of the boards the driver took
  std::map<int, PciState> power_on;  // by slot, every board on the machine, before boot
  std::map<int, PciState> pci;       // the same boards at the end
  std::vector<StoredValue> stored;   // in the order first stored; the last data stored
  std::map<int, ULONG> modes;        // by slot: the modes a started board offers
  std::vector<std::string> client_mappings;    // mappings still held for clients
  std::vector<std::string> passed_over_bases;  // device bases still mapped of boards not taken
};

inline PciState pci_state(const host::Board &b) {
  PciState s;
  s.command = b.command() & (kIoDecoding | kMemoryDecoding | kBusMaster);
  for (int i = 0; i < host::kNumBars; i++) s.bars[size_t(i)] = b.bar_register(i);
  return s;
}

inline std::map<int, PciState> pci_states(host::Machine &m) {
  std::map<int, PciState> states;
  for (const host::Board *b : m.boards()) states[int(b->slot())] = pci_state(*b);
  return states;
}

inline bool has(const std::vector<int> &slots, int slot) {
  return std::find(slots.begin(), slots.end(), slot) != slots.end();
}

inline std::string mapping_text(const host::Mapping &m) {
  return host::hex(m.phys) + " +" + host::hex(m.length) + (m.process ? " shared" : "");
}

// Notes what the machine holds now into left, whose power_on was taken
// before boot. started tells, per board the driver took, whether it was
// started; the driver is asked how many modes each started board offers.
inline void note_what_is_left(host::Machine &m, const std::vector<bool> &started, LeftBehind &left) {
  left.found.clear();
  for (const auto &a : m.adapters()) left.found.push_back(a.slot);
  left.pci = pci_states(m);
  for (const auto &w : m.registry()) {
    if (w.status != NO_ERROR) continue;
    const std::string name = host::narrow(w.name);
    const auto it = std::find_if(left.stored.begin(), left.stored.end(),
                                 [&](const StoredValue &v) { return v.slot == w.slot && v.name == name; });
    if (it == left.stored.end())
      left.stored.push_back({w.slot, name, w.data});
    else
      it->data = w.data;
  }
  for (size_t i = 0; i < started.size() && i < m.adapters().size(); i++)
    if (started[i]) left.modes[m.adapters()[i].slot] = host::DisplayClient(m, i).num_modes();
  for (const host::Mapping *map : m.client_mappings()) left.client_mappings.push_back(mapping_text(*map));
  for (const host::Mapping *map : m.device_base_mappings())
    if (!has(left.found, map->slot))
      left.passed_over_bases.push_back("slot " + std::to_string(map->slot) + " device base " + mapping_text(*map));
}

inline std::string bar_name(int bar) { return bar == host::kRomBar ? "ROM" : "BAR" + std::to_string(bar); }

// How a board's configuration differs from what it should hold, as
// "memory decoding on (found off), BAR1 0xC2000000 (found 0xFE000000)";
// was() words the value it should hold.
inline std::vector<std::string> pci_changes(const PciState &now, const PciState &should,
                                            const std::function<std::string(const std::string &)> &was) {
  static const std::pair<uint16_t, const char *> kBits[] = {
      {kIoDecoding, "I/O decoding"}, {kMemoryDecoding, "memory decoding"}, {kBusMaster, "bus master"}};
  std::vector<std::string> changes;
  for (const auto &[bit, name] : kBits)
    if ((now.command ^ should.command) & bit)
      changes.push_back(std::string(name) + (now.command & bit ? " on" : " off") + " (" +
                        was(should.command & bit ? "on" : "off") + ")");
  for (int i = 0; i < host::kNumBars; i++)
    if (now.bars[size_t(i)] != should.bars[size_t(i)])
      changes.push_back(bar_name(i) + " " + host::hex(now.bars[size_t(i)]) + " (" +
                        was(host::hex(should.bars[size_t(i)])) + ")");
  return changes;
}

// A registry value's data as a person reads it: a ULONG, or a string.
inline std::string data_text(const std::vector<uint8_t> &data) {
  if (data.size() == 4) {
    uint32_t v;
    memcpy(&v, data.data(), 4);
    return host::hex(v);
  }
  return "\"" + host::utf16z(data.data(), data.size()) + "\"";
}

// The items of one list not matched, one for one, by an item of the other.
inline std::vector<std::string> unmatched(const std::vector<std::string> &items, std::vector<std::string> others) {
  std::vector<std::string> rest;
  for (const auto &item : items) {
    const auto it = std::find(others.begin(), others.end(), item);
    if (it == others.end())
      rest.push_back(item);
    else
      others.erase(it);
  }
  return rest;
}

// What the run r leaves otherwise than the run without the fault, base, one
// short phrase each; empty when it leaves the same. A board the driver took
// is set against the run without the fault, one it did not take against
// how it was powered on. A board not found in both runs is told by the
// boards found; its registry values count only where it stored some.
inline std::vector<std::string> left_behind(const LeftBehind &base, const LeftBehind &r) {
  std::vector<std::string> parts;
  for (const auto &[slot, now] : r.pci) {
    const bool taken = has(r.found, slot);
    const auto &baseline = taken ? base.pci : r.power_on;
    const auto should = baseline.find(slot);
    if (should == baseline.end()) continue;
    const auto was = [&](const std::string &v) { return taken ? v + " without the fault" : "found " + v; };
    std::string changes;
    for (const auto &c : pci_changes(now, should->second, was)) changes += (changes.empty() ? "" : ", ") + c;
    if (!changes.empty()) parts.push_back("slot " + std::to_string(slot) + " left " + changes);
  }

  const auto in_both = [&](int slot) { return has(r.found, slot) && has(base.found, slot); };
  const auto find = [](const std::vector<StoredValue> &values, const StoredValue &v) {
    return std::find_if(values.begin(), values.end(),
                        [&](const StoredValue &w) { return w.slot == v.slot && w.name == v.name; });
  };
  for (const auto &v : base.stored) {
    if (!in_both(v.slot)) continue;
    const std::string name = "slot " + std::to_string(v.slot) + " " + v.name;
    const auto it = find(r.stored, v);
    if (it == r.stored.end())
      parts.push_back(name + " not stored");
    else if (it->data != v.data)
      parts.push_back(name + " stored as " + data_text(it->data) + " (" + data_text(v.data) + " without the fault)");
  }
  for (const auto &v : r.stored)
    if (!in_both(v.slot) || find(base.stored, v) == base.stored.end())
      parts.push_back("slot " + std::to_string(v.slot) + " " + v.name + " stored as " + data_text(v.data) +
                      (has(r.found, v.slot) ? ", not without the fault" : " for a board not taken"));

  for (size_t i = 0; i < r.found.size(); i++) {
    const auto now = r.modes.find(r.found[i]), then = base.modes.find(r.found[i]);
    if (now != r.modes.end() && then != base.modes.end() && now->second != then->second)
      parts.push_back("board " + std::to_string(i) + " offers " + std::to_string(now->second) + " modes (" +
                      std::to_string(then->second) + " without the fault)");
  }

  for (const auto &m : unmatched(r.client_mappings, base.client_mappings))
    parts.push_back("mapping of " + m + " still held");
  for (const auto &m : unmatched(base.client_mappings, r.client_mappings))
    parts.push_back("mapping of " + m + " given back (held without the fault)");
  for (const auto &m : unmatched(r.passed_over_bases, base.passed_over_bases)) parts.push_back(m + " still mapped");
  return parts;
}

}  // namespace torvic::sim
