// SPDX-License-Identifier: MIT
// --trace-filter: which trace events to keep, by board, slot, service and
// register, the way an emulator's trace events are narrowed.
#pragma once

#include <string>
#include <vector>

#include "host/port/trace.h"

namespace torvic::sim {

class TraceFilter {
 public:
  TraceFilter() = default;
  // Terms KEY=VALUE separated by commas; KEY is board, slot, service or
  // register, and service and register take shell patterns (VideoPortWrite*,
  // DAC_*). Terms of one key are alternatives; different keys must all hold.
  // InputError for a term it cannot read.
  explicit TraceFilter(const std::string &terms_text);

  // board_slots[i] is the slot of the driver's board i.
  bool keeps(const host::TraceEvent &e, const std::vector<int> &board_slots) const;
  // The terms as given; empty when the trace is not narrowed.
  const std::string &terms() const { return terms_; }

 private:
  std::string terms_;
  std::vector<int> slots_, boards_;
  std::vector<std::string> services_, registers_;
};

}  // namespace torvic::sim
