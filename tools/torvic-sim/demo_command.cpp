// SPDX-License-Identifier: MIT
// torvic-sim demo: the boards and modes found, a picture on every board, then the reset to text.
#include <filesystem>
#include <iostream>
#include <optional>

#include "commands.h"
#include "host/display/display_client.h"
#include "json_output.h"
#include "labels.h"
#include "machine_file.h"
#include "mode_choice.h"
#include "output_paths.h"
#include "passed_over.h"
#include "picture_check.h"
#include "png_file.h"
#include "session.h"
#include "text_output.h"

namespace torvic::sim {

using host::DisplayClient;

int run_demo(const GlobalOptions &o, const std::string &out_dir) {
  Session s(o);
  Machine &m = s.machine();
  ordered_json j;
  // What was shown is printed as it happens, so a run that stops part way
  // keeps it; with --json the document says where it stopped.
  std::optional<size_t> current;
  int status = 0;
  try {
    // Set before boards_found, which stops a run whose driver took no board:
    // the document then still says there were none, and which were passed over.
    j["boards"] = ordered_json::array();
    j["passed_over"] = family_boards_passed_over(m);
    j["boards"] = boards_found(s);
    if (!o.json) {
      std::cout << "The driver found " << s.boards() << " board(s):\n";
      for (const auto &b : j["boards"]) print_board_report(b);
      print_passed_over(j["passed_over"]);
    }
    // Each board offers its own kind's table, fitted to the boards of that kind.
    std::vector<BoardModes> offered;
    j["modes"] = ordered_json::array();
    for (size_t i = 0; i < s.boards(); i++) {
      offered.push_back({i, m.adapters()[i].slot, DisplayClient(m, i).modes()});
      ordered_json labels = ordered_json::array();
      for (const auto &mode : offered.back().modes) labels.push_back(mode_label(mode));
      j["modes"].push_back({{"board", i}, {"slot", offered.back().slot}, {"modes", labels}});
    }
    if (!o.json) print_offered_modes(offered);

    j["shown"] = ordered_json::array();
    for (size_t i = 0; i < s.boards(); i++) {
      current = i;
      const int slot = m.adapters()[i].slot;
      const DemoChoice &choice = demo_choice(i);  // each at its lowest rate
      const DemoMode chosen = demo_mode(offered[i].modes, choice.mode);
      const VIDEO_MODE_INFORMATION &mode = chosen.mode;
      ordered_json shown_json = {{"board", i}, {"slot", slot}, {"wanted", choice.mode},
                                 {"fallback", chosen.fallback.empty() ? ordered_json() : ordered_json(chosen.fallback)},
                                 {"mode", mode_json(mode)},
                                 {"pattern", host::pattern_names()[size_t(choice.pattern)]}};
      if (!o.json && !chosen.fallback.empty()) std::cout << "\nboard " << i << ": " << chosen.fallback;
      const Shown shown = show_mode(m, i, mode, choice.pattern, true);
      if (!shown.error.empty()) {
        shown_json["error"] = shown.error;
        j["shown"].push_back(shown_json);
        if (!o.json) std::cout << "\nboard " << i << ", slot " << slot << ": failed: " << shown.error << "\n";
        status = 1;
        continue;
      }
      const std::string png = picture_path(out_dir, slot);
      write_png(png, shown.picture);
      shown_json["monitor"] = timing_json(shown.timing);
      shown_json["png"] = png;
      shown_json["error"] = nullptr;
      j["shown"].push_back(shown_json);
      if (!o.json)
        std::cout << "\nboard " << i << ": set " << mode_label(mode) << ", drew the "
                  << shown_json["pattern"].get<std::string>() << " pattern through mapped video memory\n"
                  << "  monitor: " << shown.timing.describe() << "\n"
                  << "  picture: " << png << "\n";
    }
    current.reset();

    m.shut_down();
    j["after_reset"] = ordered_json::array();
    // NT sets text mode through the BIOS, which reaches only the primary
    // display; every other board is back in its VGA core's hands.
    size_t still_graphics = 0;
    for (size_t i = 0; i < s.boards(); i++) {
      ordered_json after = timing_json(host::decode_monitor(m.adapter_board(i)));
      after["board"] = i;
      after["slot"] = m.adapters()[i].slot;
      still_graphics += after["state"] == "graphics";
      j["after_reset"].push_back(after);
    }
    const host::Board *primary = m.primary_display();
    const bool primary_text =
        primary && host::decode_monitor(*primary).state == host::DisplayState::VgaText;
    j["primary_display_slot"] = primary ? ordered_json(primary->slot()) : ordered_json();
    if (!o.json) {
      std::cout << "\nReset: ";
      if (still_graphics)
        std::cout << still_graphics << " of " << s.boards() << " board(s) still show their mode";
      else
        std::cout << "every board let go of the display";
      if (primary)
        std::cout << "; the primary display (slot " << primary->slot() << ") is "
                  << (primary_text ? "back in VGA text mode" : "not in VGA text mode");
      std::cout << "\n";
      for (const auto &after : j["after_reset"])
        std::cout << "  board " << after["board"].get<size_t>() << ": " << after["description"].get<std::string>()
                  << "\n";
    }
  } catch (const std::exception &e) {
    if (o.json) {
      j["error"] = {{"message", e.what()},
                    {"board", current ? ordered_json(*current) : ordered_json()},
                    {"slot", current ? ordered_json(m.adapters()[*current].slot) : ordered_json()}};
      emit(o, j, &s);
    } else if (current) {
      std::cout << "\nboard " << *current << ", slot " << m.adapters()[*current].slot << ": stopped\n";
    }
    throw;
  }
  j["error"] = nullptr;
  emit(o, j, &s);
  return status;
}

}  // namespace torvic::sim
