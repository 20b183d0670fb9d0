// SPDX-License-Identifier: MIT
// Setting a trace event's named values from JSON, for the code that records
// events; trace.h itself stays free of the JSON library.
#pragma once

#include <nlohmann/json.hpp>

#include "host/port/trace.h"

namespace torvic::host {

// Replaces a value of that name, or adds it at the end.
void set_arg(TraceEvent &event, const std::string &name, const nlohmann::ordered_json &value);
// Replaces all values with the members of an object, in its order.
void set_args(TraceEvent &event, const nlohmann::ordered_json &object);

}  // namespace torvic::host
