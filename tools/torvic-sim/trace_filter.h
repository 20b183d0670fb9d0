// SPDX-License-Identifier: MIT
// --trace-filter: which trace events to keep, by board, slot, service,
// register and request, the way an emulator's trace events are narrowed.
#pragma once

#include <string>
#include <vector>

#include "host/port/trace.h"

namespace torvic::sim {

class TraceFilter {
 public:
  TraceFilter() = default;
  // Terms KEY=VALUE separated by commas; KEY is board, slot, service,
  // register or request, and service, register and request take shell
  // patterns (VideoPortWrite*, DAC_*, SET_CURRENT_MODE). Terms of one key
  // are alternatives; different keys must all hold. InputError for a term
  // it cannot read.
  explicit TraceFilter(const std::string &terms_text);

  // board_slots[i] is the slot of the driver's board i; request is the
  // name of the request whose start-I/O call the event belongs to (its
  // markers included), empty outside one.
  bool keeps(const host::TraceEvent &e, const std::vector<int> &board_slots, const std::string &request) const;
  // The terms as given; empty when the trace is not narrowed.
  const std::string &terms() const { return terms_; }

 private:
  bool request_matches(const std::string &request) const;

  std::string terms_;
  std::vector<int> slots_, boards_;
  std::vector<std::string> services_, registers_, requests_;
};

}  // namespace torvic::sim
