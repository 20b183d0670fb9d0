// SPDX-License-Identifier: MIT
// A machine's trace as it is made: every service call and the marks where
// driver callbacks begin and end, in order, on the machine's virtual clock,
// each handed to whoever watches the run once it is complete.
#pragma once

#include <cstdint>
#include <functional>

#include <nlohmann/json_fwd.hpp>

#include "host/port/trace.h"

namespace torvic::host {

class Recorder {
 public:
  // A new event for a service call; the caller fills it in and notifies.
  TraceEvent &record(const char *service, int slot = -1);
  // A marker in the trace where a callback begins or ends.
  void mark(const char *callback, const char *phase, int slot);
  void mark(const char *callback, const char *phase, int slot, const nlohmann::ordered_json &args);
  // Hands a complete event to the listener.
  void notify(const TraceEvent &event) const;
  // A stall of the driver: the clock moves on. Stalls of one length in a
  // row from one board's callback are one event with a count, like polls.
  void stall(uint32_t microseconds);

  const Trace &trace() const { return trace_; }
  Trace &trace() { return trace_; }
  void clear() { trace_.clear(); }
  uint64_t now_us() const { return clock_us_; }
  // The board whose callback runs, for the calls that name none; -1 outside
  // a board's callback.
  int callback_slot() const { return callback_slot_; }

  // Called with every event notified.
  std::function<void(const TraceEvent &)> listener;

 private:
  Trace trace_;
  uint64_t clock_us_ = 0;
  int callback_slot_ = -1;
};

}  // namespace torvic::host
