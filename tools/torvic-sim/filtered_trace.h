// SPDX-License-Identifier: MIT
// The trace as --trace-filter narrows it, with its context: the events the
// filter keeps and, around them, the markers of every callback they happened
// in, so that each kept event can still be traced to the request or
// callback that caused it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/port/trace.h"
#include "trace_filter.h"

namespace torvic::sim {

class FilteredTrace {
 public:
  using Writer = std::function<void(const host::TraceEvent &)>;
  FilteredTrace(const TraceFilter &filter, Writer write) : filter_(filter), write_(std::move(write)) {}

  // The next event of the run, in order. A callback's begin and end markers
  // are written as a pair: when the filter keeps either of them, or any
  // event between them.
  void add(const host::TraceEvent &e, const std::vector<int> &board_slots);
  // How many events were written.
  size_t written() const { return written_; }

 private:
  struct OpenCallback {
    host::TraceEvent begin;
    std::string request;  // for a start-I/O call, the request's name
    bool written = false;
  };
  // The request the event belongs to: its own, for a start-I/O marker, else
  // that of the start-I/O call in progress.
  std::string request_of(const host::TraceEvent &e) const;
  void write(const host::TraceEvent &e);
  // Writes the begin markers of the callbacks in progress not yet written,
  // outermost first: a kept event is about to follow them.
  void write_enclosing_markers();

  const TraceFilter &filter_;
  Writer write_;
  std::vector<OpenCallback> open_;
  size_t written_ = 0;
};

}  // namespace torvic::sim
