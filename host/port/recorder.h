// SPDX-License-Identifier: MIT
// A machine's trace as it is made: every service call and the marks where
// driver callbacks begin and end, in order, on the machine's virtual clock,
// each handed to whoever watches the run once it is complete.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "host/port/trace.h"

namespace torvic::host {

class Recorder {
 public:
  // A new event for a service call; the caller fills it in and notifies.
  // A call that names no board (slot -1) is filed under the board the
  // driver is programming, once the driver's next call makes that known.
  TraceEvent &record(const char *service, int slot = -1);
  // A marker in the trace where a callback begins or ends.
  void mark(const char *callback, const char *phase, int slot);
  void mark(const char *callback, const char *phase, int slot, const nlohmann::ordered_json &args);
  // Hands a complete event to the listener.
  void notify(const TraceEvent &event) const;
  // A stall of the driver: the clock moves on. Stalls of one length in a
  // row are one event with a count, like polls.
  void stall(uint32_t microseconds);

  const Trace &trace() const { return trace_; }
  Trace &trace() { return trace_; }
  void clear();
  uint64_t now_us() const { return clock_us_; }
  // Called with every event notified.
  std::function<void(const TraceEvent &)> listener;
  // Called when no event recorded so far can change any more: every
  // callback has returned (a stall or poll may still grow, and a call that
  // names no board still learn its board, while one runs).
  std::function<void()> on_settled;

 private:
  TraceEvent &append(const char *service, int slot);
  // Files the calls that named no board under this one.
  void attribute_unplaced(int slot);
  // The board a call that names none belongs to when no later call of the
  // callback names one: the board last touched, else the callback's own.
  int fallback_slot() const { return last_touched_slot_ >= 0 ? last_touched_slot_ : callback_slot_; }

  Trace trace_;
  uint64_t clock_us_ = 0;
  int callback_slot_ = -1;
  int callbacks_running_ = 0;
  // The board the running callback last touched, -1 before it touched any.
  int last_touched_slot_ = -1;
  // Calls since the last one that named a board, in the running callback,
  // that named none themselves (stalls, zeroing): indexes into trace_.
  std::vector<size_t> unplaced_;
};

}  // namespace torvic::host
