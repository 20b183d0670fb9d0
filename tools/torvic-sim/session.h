// SPDX-License-Identifier: MIT
// One run of the driver on the machine the options name, and the trace it leaves.
#pragma once

#include <memory>
#include <string>

#include "commands.h"
#include "filtered_trace.h"
#include "host/port/machine.h"
#include "trace_file.h"
#include "trace_filter.h"

namespace torvic::sim {

using host::Machine;

// The driver image the options name: --driver, or the host build.
std::string driver_path(const GlobalOptions &o);
// The trace's first line: which program, driver image (by path and the
// SHA-256 of its bytes) and machine made it; a # comment in the text form.
std::string trace_header(const GlobalOptions &o, bool text);

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

 private:
  // The trace file and its header, before the driver runs.
  void start_trace();
  // The events no callback can change any more, through the filter.
  void write_settled_events();
  // The run is over: the trace takes its name, or, for a run refused for
  // bad input, goes.
  void finish_trace(bool refused);

  const GlobalOptions &options_;
  Machine machine_;
  ULONG boot_status_ = 0;
  TraceFilter trace_filter_;
  std::unique_ptr<TraceFile> trace_file_;
  std::unique_ptr<FilteredTrace> filtered_trace_;
  size_t events_seen_ = 0;
};

// The trace is written as the run goes and finished when the run's machine
// goes away; a failure to write it is kept here for the exit status.
const std::string &trace_error();

}  // namespace torvic::sim
