// SPDX-License-Identifier: MIT
// The --trace file, written a line at a time as the run goes, so that a run
// that ends early (the verifier stops it, torvic-sim itself fails) still
// leaves every event up to then.
#pragma once

#include <string>

namespace torvic::sim {

class TraceFile {
 public:
  // A regular file (or a new one) is written beside its place under a
  // temporary name and takes its name when the run ends, so that a run
  // refused for bad input leaves an existing file as it was; anything else
  // (a device, a pipe) is written in place. OutputError when it cannot be
  // opened.
  explicit TraceFile(const std::string &path);
  ~TraceFile();
  TraceFile(const TraceFile &) = delete;
  TraceFile &operator=(const TraceFile &) = delete;

  // Written at once, not buffered: a line written is in the file whatever
  // happens next. The first failure is kept for keep().
  void write_line(const std::string &line);
  // The run is over: the file takes its name. Returns what went wrong in
  // the program's words ("--trace FILE: reason"), or nothing.
  std::string keep();
  // The run was refused: the temporary file goes, an existing file stays.
  void discard();

 private:
  std::string path_, temporary_;
  int fd_ = -1;
  int error_ = 0;
};

// For the last-resort handlers, when torvic-sim itself fails: the trace
// written so far takes its name. Only async-signal-safe calls.
void keep_trace_of_failed_run();

}  // namespace torvic::sim
