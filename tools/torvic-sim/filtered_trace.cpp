// SPDX-License-Identifier: MIT
#include "filtered_trace.h"

namespace torvic::sim {

void FilteredTrace::add(const host::TraceEvent &e, const std::vector<int> &board_slots) {
  const std::string request = request_of(e);
  const bool kept = filter_.keeps(e, board_slots, request);
  if (e.is_marker() && e.phase == "begin") {
    open_.push_back({e, request, false});
    if (kept) write_enclosing_markers();
    return;
  }
  if (e.is_marker() && e.phase == "end" && !open_.empty()) {
    // A find-adapter call's begin names no board; its end names the board
    // it found, so either marker keeps the pair.
    if (kept) write_enclosing_markers();
    const bool begin_written = open_.back().written;
    open_.pop_back();
    if (begin_written) write(e);
    return;
  }
  if (!kept) return;
  write_enclosing_markers();
  write(e);
}

std::string FilteredTrace::request_of(const host::TraceEvent &e) const {
  if (e.is_marker() && e.service == "HwStartIO") return e.arg("request");
  for (auto c = open_.rbegin(); c != open_.rend(); ++c)
    if (!c->request.empty()) return c->request;
  return {};
}

void FilteredTrace::write_enclosing_markers() {
  for (OpenCallback &c : open_)
    if (!c.written) {
      write(c.begin);
      c.written = true;
    }
}

void FilteredTrace::write(const host::TraceEvent &e) {
  write_(e);
  written_++;
}

}  // namespace torvic::sim
