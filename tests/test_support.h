// SPDX-License-Identifier: MIT
// Helpers shared by the tests: machines, trace selections, readable
// expectations.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/display/display_client.h"
#include "host/port/machine.h"
#include "host/common/text.h"
#include "miniport/device_extension.h"

namespace torvic::test {

using host::BoardConfig;
using host::bytes_of;
using host::DisplayClient;
using host::hex;
using host::kMiB;
using host::Machine;
using host::MachineConfig;
using host::narrow;
using host::record_at;
using host::RequestResult;

// Variant codes of the three boards of the family.
constexpr uint16_t kRgb526 = 0;   // video-RAM board with an RGB526
constexpr uint16_t kRgb528 = 10;  // video-RAM board with an RGB528
constexpr uint16_t kDram = 8;     // DRAM board with an RGB526

// A process other than the display driver's, for shared views.
inline const HANDLE kProcess = reinterpret_cast<HANDLE>(uintptr_t{0x4D0});

inline BoardConfig board(uint32_t slot, uint16_t variant = 0, uint32_t memory = 4 * kMiB,
                         uint32_t index = 0) {
  return host::default_board(slot, variant, memory, index);
}

inline MachineConfig machine(std::vector<BoardConfig> boards) {
  return host::machine_with(std::move(boards));
}

// Boards in slots 3 and 6; the second board's frame buffer cannot be mapped,
// so its find-adapter call fails and its extension is freed.
inline MachineConfig second_board_cannot_be_mapped() {
  MachineConfig c = machine({board(3, 0, 4 * kMiB, 0), board(6, 0, 4 * kMiB, 1)});
  c.faults.push_back({"VideoPortGetDeviceBase", 6, ERROR_INVALID_PARAMETER});
  return c;
}

inline HW_DEVICE_EXTENSION &extension_of(Machine &m, size_t adapter) {
  return *static_cast<HW_DEVICE_EXTENSION *>(m.adapters().at(adapter).extension);
}

// The service calls of a trace in their brief form, keeping the events a
// filter accepts; the markers around callbacks are left out.
inline std::vector<std::string> briefs(
    const host::Trace &trace,
    const std::function<bool(const host::TraceEvent &)> &keep = [](const host::TraceEvent &) {
      return true;
    }) {
  std::vector<std::string> out;
  for (const auto &e : trace)
    if (!e.is_marker() && keep(e)) out.push_back(e.brief());
  return out;
}

inline bool is_register_access(const host::TraceEvent &e) {
  return e.width != 0 || e.service == "VideoPortStallExecution";
}

inline bool is_config_access(const host::TraceEvent &e) { return e.block == "cfg"; }

// Runs act once, from inside the driver's nth call of a service, and
// returns the verifier's message (empty when the run did not stop).
inline std::string stop_message_when(Machine &m, const std::string &service, int nth,
                                     const std::function<void(Machine &)> &act) {
  int seen = 0;
  m.on_service = [&](Machine &machine, const host::TraceEvent &e) {
    if (e.service != service || ++seen != nth) return;
    act(machine);
  };
  try {
    m.boot();
    for (size_t i = 0; i < m.adapters().size(); i++) m.initialize(i);
  } catch (const host::VerifierStop &stop) {
    return stop.what();
  }
  return "";
}

}  // namespace torvic::test
