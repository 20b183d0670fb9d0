// SPDX-License-Identifier: MIT
// The recorder (recorder.h): trace events numbered and timed as they are
// made, callback marks, and stalls counted like polls.
#include "host/port/recorder.h"

#include <nlohmann/json.hpp>

#include "host/port/trace_args.h"

namespace torvic::host {

TraceEvent &Recorder::record(const char *service, int slot) {
  TraceEvent e;
  e.seq = trace_.size() + 1;
  e.time_us = clock_us_;
  e.slot = slot;
  e.service = service;
  trace_.push_back(std::move(e));
  return trace_.back();
}

void Recorder::mark(const char *callback, const char *phase, int slot) {
  mark(callback, phase, slot, nlohmann::ordered_json::object());
}

void Recorder::mark(const char *callback, const char *phase, int slot,
                    const nlohmann::ordered_json &args) {
  TraceEvent &e = record(callback, slot);
  e.phase = phase;
  if (!args.is_null()) set_args(e, args);
  callback_slot_ = std::string(phase) == "begin" ? slot : -1;
}

void Recorder::notify(const TraceEvent &event) const {
  if (listener) listener(event);
}

void Recorder::stall(uint32_t microseconds) {
  // A stall names no board: it carries the board whose callback made it.
  if (!trace_.empty()) {
    TraceEvent &last = trace_.back();
    if (last.service == "VideoPortStallExecution" && last.value == microseconds &&
        last.slot == callback_slot_) {
      last.repeat++;
      clock_us_ += microseconds;
      notify(last);
      return;
    }
  }
  TraceEvent &e = record("VideoPortStallExecution", callback_slot_);
  e.value = microseconds;
  clock_us_ += microseconds;
  notify(e);
}

}  // namespace torvic::host
