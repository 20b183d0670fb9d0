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
  // NoUsableBoard when the driver took no board, InputError when it took
  // fewer than the number names.
  void require_board(size_t board);
  // NoUsableBoard, naming why each board of the family was passed over, when
  // the driver took none; the trace of such a run is written, as it shows why.
  void require_usable_board();
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
