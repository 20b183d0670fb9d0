// SPDX-License-Identifier: MIT
// One run of the driver on the machine the options name, and the trace it leaves.
#pragma once

#include <string>

#include "commands.h"
#include "host/port/machine.h"

namespace torvic::sim {

using host::Machine;

// The driver image the options name: --driver, or the host build.
std::string driver_path(const GlobalOptions &o);

// One run of the driver on the machine the options name.
class Session {
 public:
  explicit Session(const GlobalOptions &options);
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  Machine &machine() { return machine_; }
  const Machine &machine() const { return machine_; }
  ULONG boot_status() const { return boot_status_; }
  size_t boards() const { return machine_.adapters().size(); }
  void require_board(size_t board) const;
  void write_trace();

 private:
  const GlobalOptions &options_;
  Machine machine_;
  ULONG boot_status_ = 0;
  bool trace_written_ = false;
};

// The trace is written when a run's machine goes away; a failure to write
// it is kept here for the exit status.
const std::string &trace_error();

}  // namespace torvic::sim
