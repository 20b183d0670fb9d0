// SPDX-License-Identifier: MIT
// One run of the fault sweep, with at most one fault, and how it differs from the run without.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/port/machine.h"
#include "left_behind.h"

namespace torvic::sim {

// A place the driver calls a service: the callback (and request) it is in,
// the board, the service and what the call reaches. The first call there is
// the one made to fail.
struct CallSite {
  std::string callback;
  int slot = -1;
  std::string service;
  std::string target;
  uint64_t call = 0;  // the service's call number, counted from 1 over the run
};

// What a run did, in the terms the table compares.
struct RunResult {
  std::string stop;            // the verifier's message; empty when it did not stop the run
  std::vector<int> found;      // slots of the boards found
  // Per board found: what went otherwise than asked.
  std::vector<std::vector<std::string>> board_notes;
  std::vector<std::string> monitors;     // per board found: what its monitor shows after the session
  // Every board's monitor after the machine went down, by slot.
  std::map<int, std::string> after_reset;
  std::string later;           // how later requests fared: empty when they all worked

  LeftBehind left;             // what the run leaves behind once the session and the reset are done
};

// The status the fault gives a service that returns one: what NT answers
// when it cannot do what was asked.
VP_STATUS fault_status(const std::string &service);

// Every call site of the fallible services in a run's trace, in order.
std::vector<CallSite> call_sites(const host::Trace &trace);

// Boots the machine, starts every board found, runs the demo's display-driver
// session on each and resets the machine, then notes what is left behind and
// whether later requests still work. The trace, when asked for, holds the
// calls from the boot to the reset: those the sweep makes fail.
RunResult run_machine(const host::MachineConfig &config, const std::string &driver, host::Trace *trace = nullptr);

// The run with a fault set against the run without: what differs, in words.
std::string fault_outcome(const RunResult &base, const RunResult &r);

}  // namespace torvic::sim
