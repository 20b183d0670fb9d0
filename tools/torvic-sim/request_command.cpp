// SPDX-License-Identifier: MIT
// torvic-sim request: one raw video request to a booted machine, and its reply.
#include "commands.h"
#include "json_output.h"
#include "raw_request.h"
#include "session.h"

namespace torvic::sim {

int run_request(const GlobalOptions &o, const RequestOptions &r) {
  const PreparedRequest p = prepare_request(r);
  Session s(o);
  const ordered_json j = send_request(s, p);
  if (o.json) emit(o, j, &s);
  else print_reply(j);
  return r.check_status && j["status"] != "NO_ERROR" ? 1 : 0;
}

}  // namespace torvic::sim
