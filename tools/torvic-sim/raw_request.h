// SPDX-License-Identifier: MIT
// One raw video request: checked, sent to a booted machine, and its reply shown.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "commands.h"
#include "json_output.h"
#include "session.h"

namespace torvic::sim {

// A request as the driver gets it, everything checked before any machine boots.
struct PreparedRequest {
  size_t board;
  ULONG code;
  std::vector<uint8_t> input;
  std::optional<uint64_t> output_length;
  std::string mode;  // SET_CURRENT_MODE's mode, found in the board's list once it is booted
};

// The request the options describe; InputError for a code, input or length
// that cannot be sent.
PreparedRequest prepare_request(const RequestOptions &r);
// Sends the request to the session's machine (InputError for a board the
// driver did not find): the reply, decoded where its record is known.
ordered_json send_request(Session &s, const PreparedRequest &p);
// A reply as send_request gives it, as lines of text.
void print_reply(const ordered_json &j);

}  // namespace torvic::sim
