// SPDX-License-Identifier: MIT
// Setting a trace event's named values from JSON (trace_args.h).
#include "host/port/trace_args.h"

namespace torvic::host {

void set_arg(TraceEvent &event, const std::string &name, const nlohmann::ordered_json &value) {
  for (auto &a : event.args)
    if (a.name == name) {
      a.json = value.dump();
      return;
    }
  event.args.push_back({name, value.dump()});
}

void set_args(TraceEvent &event, const nlohmann::ordered_json &object) {
  event.args.clear();
  for (const auto &[name, value] : object.items()) event.args.push_back({name, value.dump()});
}

}  // namespace torvic::host
