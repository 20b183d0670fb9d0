// SPDX-License-Identifier: MIT
// torvic-sim modes: the modes the driver offers on every board, or on one.
#include <iostream>

#include "commands.h"
#include "host/display/display_client.h"
#include "host/common/text.h"
#include "json_output.h"
#include "session.h"

namespace torvic::sim {

using host::DisplayClient;

int run_modes(const GlobalOptions &o, std::optional<size_t> only) {
  Session s(o);
  if (only) s.require_board(*only);
  s.require_usable_board();
  ordered_json j = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++) {
    if (only && *only != i) continue;
    DisplayClient client(s.machine(), i);
    ordered_json board = {{"board", i}, {"slot", s.machine().adapters()[i].slot}, {"modes", ordered_json::array()}};
    for (const auto &m : client.modes()) board["modes"].push_back(mode_json(m));
    j.push_back(board);
  }
  if (o.json) {
    emit(o, j, &s);
    return 0;
  }
  for (const auto &board : j) {
    std::cout << "board " << board["board"].get<size_t>() << " (slot " << board["slot"].get<int>() << "): "
              << board["modes"].size() << " modes\n";
    std::cout << "  index  resolution   bpp  rate   bitmap height\n";
    for (const auto &m : board["modes"]) {
      std::cout << host::formatted("  %5u  %4u x %-5u  %3u  %2u Hz  %u\n", m["index"].get<ULONG>(),
                                   m["width"].get<ULONG>(), m["height"].get<ULONG>(),
                                   m["bits_per_pixel"].get<ULONG>(), m["refresh_hz"].get<ULONG>(),
                                   m["bitmap_height"].get<ULONG>());
    }
  }
  return 0;
}

}  // namespace torvic::sim
