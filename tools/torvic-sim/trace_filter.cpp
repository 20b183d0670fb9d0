// SPDX-License-Identifier: MIT
#include "trace_filter.h"

#include <fnmatch.h>

#include <algorithm>
#include <sstream>

#include "machine_file.h"

namespace torvic::sim {

namespace {

int small_number(const std::string &term, const std::string &text) {
  size_t used = 0;
  int v = -1;
  try {
    v = std::stoi(text, &used);
  } catch (const std::exception &) {
  }
  if (used != text.size() || v < 0 || v > 31)
    throw InputError("--trace-filter " + term + ": give a number from 0 to 31");
  return v;
}

bool matches_any(const std::vector<std::string> &patterns, const std::string &text) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::string &p) { return fnmatch(p.c_str(), text.c_str(), 0) == 0; });
}

}  // namespace

// A request goes by its full name (IOCTL_VIDEO_SET_CURRENT_MODE) or, as
// torvic-sim request takes it, without the IOCTL_VIDEO_ or IOCTL_ prefix.
bool TraceFilter::request_matches(const std::string &request) const {
  if (request.empty()) return false;
  if (matches_any(requests_, request)) return true;
  for (const std::string prefix : {"IOCTL_VIDEO_", "IOCTL_"})
    if (request.rfind(prefix, 0) == 0) return matches_any(requests_, request.substr(prefix.size()));
  return false;
}

TraceFilter::TraceFilter(const std::string &terms_text) : terms_(terms_text) {
  std::stringstream list(terms_text);
  for (std::string term; std::getline(list, term, ',');) {
    const auto eq = term.find('=');
    const std::string key = term.substr(0, eq), value = eq == std::string::npos ? "" : term.substr(eq + 1);
    if (eq == std::string::npos || value.empty())
      throw InputError("--trace-filter \"" + term + "\": write KEY=VALUE with KEY board, slot, service, "
                       "register or request, for example slot=3,service=VideoPortWrite*");
    if (key == "slot") slots_.push_back(small_number(term, value));
    else if (key == "board") boards_.push_back(small_number(term, value));
    else if (key == "service") services_.push_back(value);
    else if (key == "register") registers_.push_back(value);
    else if (key == "request") requests_.push_back(value);
    else
      throw InputError("--trace-filter \"" + term + "\": " + key +
                       " is not a key; the keys are board, slot, service, register and request");
  }
}

bool TraceFilter::keeps(const host::TraceEvent &e, const std::vector<int> &board_slots,
                        const std::string &request) const {
  if (!requests_.empty() && !request_matches(request)) return false;
  if (!slots_.empty() && std::find(slots_.begin(), slots_.end(), e.slot) == slots_.end()) return false;
  if (!boards_.empty() && std::none_of(boards_.begin(), boards_.end(), [&](int b) {
        return b < static_cast<int>(board_slots.size()) && board_slots[size_t(b)] == e.slot;
      }))
    return false;
  if (!services_.empty() && !matches_any(services_, e.service)) return false;
  if (!registers_.empty()) {
    const std::string dac = e.arg("dac_register");
    if (!(matches_any(registers_, e.reg) && !e.reg.empty()) && !(!dac.empty() && matches_any(registers_, dac)))
      return false;
  }
  return true;
}

}  // namespace torvic::sim
