// SPDX-License-Identifier: MIT
// A request's input as its record's fields, for the marker that opens the
// request in the trace: which mode, which palette entries, which address.
#pragma once

#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/video_port_interface.h"

namespace torvic::host {

// The fields of the input record of a request that has one; null for a
// request without input, or an input too short for its record (the marker's
// input_length tells that story).
nlohmann::ordered_json decoded_request_input(ULONG code, const std::vector<uint8_t> &input);

}  // namespace torvic::host
