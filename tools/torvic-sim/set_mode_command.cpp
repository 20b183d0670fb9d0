// SPDX-License-Identifier: MIT
// torvic-sim set-mode: one mode set on one board, a pattern drawn, the monitor decoded.
#include <iostream>

#include "commands.h"
#include "host/display/display_client.h"
#include "host/display/test_pattern.h"
#include "json_output.h"
#include "labels.h"
#include "machine_file.h"
#include "mode_choice.h"
#include "picture_check.h"
#include "png_file.h"
#include "session.h"

namespace torvic::sim {

using host::DisplayClient;

int run_set_mode(const GlobalOptions &o, const SetModeOptions &set) {
  const auto pattern = host::pattern_named(set.pattern);
  if (!pattern) {
    std::string names;
    for (const auto &n : host::pattern_names()) names += " " + n;
    throw InputError("--pattern " + set.pattern + ": the patterns are" + names);
  }
  Session s(o);
  s.require_board(set.board);
  DisplayClient client(s.machine(), set.board);
  const auto modes = client.modes();
  const VIDEO_MODE_INFORMATION mode = find_mode(modes, set.mode);
  const Shown shown = show_mode(s.machine(), set.board, mode, *pattern, true);
  const int slot = s.machine().adapters()[set.board].slot;
  if (!shown.error.empty()) {
    emit(o, {{"board", set.board}, {"slot", slot}, {"mode", mode_json(mode)}, {"error", shown.error}}, &s);
    std::cerr << "torvic-sim: board " << set.board << ", slot " << slot << ": " << shown.error << "\n";
    return 1;
  }
  if (!set.png.empty()) write_png(set.png, shown.picture);
  ordered_json j = {{"board", set.board}, {"slot", slot}, {"mode", mode_json(mode)},
                    {"monitor", timing_json(shown.timing)}, {"error", nullptr}};
  if (!set.png.empty()) j["png"] = set.png;
  if (o.json) {
    emit(o, j, &s);
    return 0;
  }
  std::cout << "board " << set.board << ": mode " << mode_label(mode) << " (index " << mode.ModeIndex << ")\n"
            << "  monitor: " << shown.timing.describe() << "\n";
  if (!set.png.empty()) std::cout << "  picture: " << set.png << "\n";
  return 0;
}

}  // namespace torvic::sim
