// SPDX-License-Identifier: MIT
// The recorder (recorder.h): trace events numbered and timed as they are
// made, callback marks, stalls counted like polls, and the calls that name
// no board filed under the board the driver is programming.
#include "host/port/recorder.h"

#include <nlohmann/json.hpp>

#include "host/port/trace_args.h"

namespace torvic::host {

TraceEvent &Recorder::append(const char *service, int slot) {
  TraceEvent e;
  e.seq = trace_.size() + 1;
  e.time_us = clock_us_;
  e.slot = slot;
  e.service = service;
  trace_.push_back(std::move(e));
  return trace_.back();
}

TraceEvent &Recorder::record(const char *service, int slot) {
  if (slot >= 0) {
    // A stall between two accesses to one board waits for that board, and
    // one before a board's first access lets that board settle: the calls
    // that named none belong to the board the driver touches next.
    attribute_unplaced(slot);
    last_touched_slot_ = slot;
    return append(service, slot);
  }
  unplaced_.push_back(trace_.size());
  return append(service, fallback_slot());
}

void Recorder::attribute_unplaced(int slot) {
  for (size_t i : unplaced_) trace_[i].slot = slot;
  unplaced_.clear();
}

void Recorder::mark(const char *callback, const char *phase, int slot) {
  mark(callback, phase, slot, nlohmann::ordered_json::object());
}

void Recorder::mark(const char *callback, const char *phase, int slot,
                    const nlohmann::ordered_json &args) {
  // What the callback did after its last access to a board belongs to that
  // board.
  attribute_unplaced(fallback_slot());
  TraceEvent &e = append(callback, slot);
  e.phase = phase;
  if (!args.is_null()) set_args(e, args);
  const bool begins = std::string(phase) == "begin";
  callback_slot_ = begins ? slot : -1;
  last_touched_slot_ = -1;
  callbacks_running_ += begins ? 1 : -1;
  if (callbacks_running_ == 0 && on_settled) on_settled();
}

void Recorder::notify(const TraceEvent &event) const {
  if (listener) listener(event);
  // The video port's own calls, made outside every callback, are complete at once.
  if (callbacks_running_ == 0 && on_settled) on_settled();
}

void Recorder::stall(uint32_t microseconds) {
  // Stalls of one length in a row wait for one board: one event.
  if (!trace_.empty()) {
    TraceEvent &last = trace_.back();
    if (last.service == "VideoPortStallExecution" && last.value == microseconds) {
      last.repeat++;
      clock_us_ += microseconds;
      notify(last);
      return;
    }
  }
  TraceEvent &e = record("VideoPortStallExecution");
  e.value = microseconds;
  clock_us_ += microseconds;
  notify(e);
}

void Recorder::clear() {
  trace_.clear();
  unplaced_.clear();
}

}  // namespace torvic::host
