// SPDX-License-Identifier: MIT
// The demo with NT's own frame-buffer display driver: each board is
// installed from the install file, enabled at the mode its DefaultSettings
// name, drawn on, disabled and reset, as the system does at start and stop.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "host/display/framebuf_session.h"
#include "host/common/text.h"
#include "install_file.h"
#include "json_output.h"
#include "input_files.h"
#include "labels.h"
#include "machine_file.h"
#include "output_paths.h"
#include "passed_over.h"
#include "png_file.h"
#include "session.h"
#include "text_output.h"

namespace torvic::sim {

namespace {

host::InfFile read_install_file(const std::string &path) {
  std::string text = kBuiltInInstallFile;
  if (!path.empty()) text = read_input_file("--inf", path);
  auto inf = host::InfFile::parse(text);
  if (!inf.problems().empty()) {
    std::string list;
    for (const auto &p : inf.problems()) list += "\n  " + p;
    throw InputError("--inf " + (path.empty() ? std::string("(built in)") : path) +
                     ": not a well-formed install file:" + list);
  }
  return inf;
}

// Enables the board at the settings, draws, disables and resets it, as
// framebuf does when the system starts and stops; the session's record.
ordered_json framebuf_session(Machine &m, size_t board, const host::DisplaySettings &settings,
                              const std::string &out_dir, bool &failed) {
  // The patterns the plain demo shows, board by board.
  const host::Pattern patterns[] = {host::Pattern::Bars, host::Pattern::Gradient, host::Pattern::Grid};
  ordered_json session;
  session["default_settings"] = settings.label();
  const auto run = host::run_framebuf_session(m, board, settings, patterns[std::min<size_t>(board, 2)]);
  if (run.mode) session["mode"] = mode_json(*run.mode);
  session["requests"] = ordered_json::array();
  for (const auto &step : run.steps)
    session["requests"].push_back({{"request", step.request}, {"status", status_name(step.status)}});
  if (run.shown.state == host::DisplayState::Graphics) {
    const std::string png = picture_path(out_dir, m.adapters()[board].slot);
    write_png(png, run.picture);
    session["monitor"] = timing_json(run.shown);
    session["png"] = png;
  }
  if (!run.steps.empty() && run.steps.back().request == "RESET_DEVICE")
    session["after_reset"] = timing_json(run.after_reset);
  session["error"] = run.error.empty() ? ordered_json() : ordered_json(run.error);
  failed |= !run.error.empty();
  return session;
}

// Windows 2000 and later: Plug and Play installs every board from the model
// entry with its most specific identifier, and each becomes a display.
ordered_json plug_and_play_sessions(Machine &m, size_t boards, const host::InfFile &inf,
                                    const std::string &inf_name, const std::string &out_dir, bool &failed) {
  ordered_json sessions = ordered_json::array();
  for (size_t i = 0; i < boards; i++) {
    const host::BoardConfig &config = m.adapter_board(i).config();
    const auto install = host::install_for(
        inf, host::pci_hardware_ids(config.vendor_id, config.device_id,
                                    uint32_t(config.variant_code) << 16 | config.subsystem_vendor_id));
    ordered_json session = {{"board", i}, {"slot", m.adapters()[i].slot}};
    if (!install.problem.empty()) {
      session["error"] = inf_name + ": " + install.problem;
      failed = true;
    } else {
      session["install"] = {{"file", inf_name}, {"description", install.description},
                            {"hardware_id", install.hardware_id}, {"section", install.install_section}};
      session.update(framebuf_session(m, i, install.settings, out_dir, failed));
    }
    sessions.push_back(session);
  }
  return sessions;
}

// NT 4.0: the user picks one option of the applet's list, and setup writes
// its settings into the service's first device key only. The video port
// names the boards \Device\Video0, 1, ... in the order the driver finds
// them, and NT 4.0 drives one display: the first. The driver still finds
// and initialises the others, but no display driver opens them.
ordered_json applet_sessions(Machine &m, size_t boards, const host::InfFile &inf, const std::string &inf_name,
                             const std::vector<host::InfOption> &options, size_t option,
                             const std::string &out_dir, bool &failed) {
  const host::InfOption &picked = options[option - 1];
  ordered_json sessions = ordered_json::array();
  for (size_t i = 0; i < boards; i++) {
    ordered_json session = {{"board", i}, {"slot", m.adapters()[i].slot},
                            {"device", "\\Device\\Video" + std::to_string(i)}, {"desktop", i == 0}};
    if (i == 0) {
      session["install"] = {{"file", inf_name}, {"option", option}, {"description", picked.description},
                            {"section", picked.install_section}};
      session.update(framebuf_session(m, i, host::default_settings(inf, picked.install_section), out_dir, failed));
    } else {
      session["monitor"] = timing_json(host::decode_monitor(m.adapter_board(i)));
      session["error"] = nullptr;
    }
    sessions.push_back(session);
  }
  return sessions;
}

// The option the user picks, from 1 as the applet lists them; InputError,
// before the machine boots, for one the file does not have or for a file of
// the other form.
size_t picked_option(const std::vector<host::InfOption> &options, std::optional<size_t> option,
                     const std::string &inf_name) {
  if (options.empty()) {
    if (option)
      throw InputError("--option picks an option of an NT 4.0 Display-applet file; " + inf_name +
                       " is of the Plug and Play form, which matches each board by its identifiers");
    return 0;
  }
  if (!option) return 1;
  if (*option < 1 || *option > options.size()) {
    std::string list;
    for (size_t i = 0; i < options.size(); i++) list += "\n  " + std::to_string(i + 1) + ": " + options[i].description;
    throw InputError("--option " + std::to_string(*option) + ": " + inf_name + " offers " +
                     std::to_string(options.size()) + " option(s):" + list);
  }
  return *option;
}

void print_session(const ordered_json &session) {
  std::cout << "\nboard " << session["board"].get<size_t>() << ", slot " << session["slot"].get<int>();
  if (session.contains("device")) std::cout << ", " << session["device"].get<std::string>();
  if (session.contains("desktop") && !session["desktop"].get<bool>()) {
    std::cout << ": found and initialised by the driver; NT 4.0 drives one display, so no display driver "
                 "opens this board\n  monitor: "
              << session["monitor"]["description"].get<std::string>() << "\n";
    return;
  }
  if (!session.contains("install")) {
    std::cout << ": " << session["error"].get<std::string>() << "\n";
    return;
  }
  const auto &install = session["install"];
  std::cout << ": " << install["file"].get<std::string>() << " installs \"" << install["description"].get<std::string>()
            << "\"";
  if (install.contains("hardware_id")) std::cout << " for " << install["hardware_id"].get<std::string>();
  if (install.contains("option"))
    std::cout << " (option " << install["option"].get<size_t>() << "); this board is the desktop";
  std::cout << "\n  DefaultSettings " << session["default_settings"].get<std::string>();
  if (session.contains("mode"))
    std::cout << ": mode " << session["mode"]["index"].get<ULONG>() << " (" << session["mode"]["mode"].get<std::string>()
              << ")";
  std::cout << "\n  framebuf sent:";
  for (const auto &r : session["requests"])
    std::cout << "\n    " << r["request"].get<std::string>() << " -> " << r["status"].get<std::string>();
  std::cout << "\n";
  if (session.contains("png"))
    std::cout << "  monitor while enabled: " << session["monitor"]["description"].get<std::string>()
              << "\n  picture: " << session["png"].get<std::string>() << "\n";
  if (session.contains("after_reset"))
    std::cout << "  monitor after the reset: " << session["after_reset"]["description"].get<std::string>() << "\n";
  if (!session["error"].is_null()) std::cout << "  failed: " << session["error"].get<std::string>() << "\n";
}

}  // namespace

int run_demo_framebuf(const GlobalOptions &o, const std::string &out_dir, const std::string &inf_path,
                      std::optional<size_t> option) {
  const host::InfFile inf = read_install_file(inf_path);
  const std::string inf_name = inf_path.empty() ? "torvic.inf" : inf_path;
  const std::vector<host::InfOption> options = host::applet_options(inf);
  const size_t picked = picked_option(options, option, inf_name);
  Session s(o);
  Machine &m = s.machine();
  ordered_json j;
  j["boards"] = boards_found(s);
  j["passed_over"] = family_boards_passed_over(m);
  if (picked != 0) {
    j["form"] = "NT 4.0 Display applet";
    j["options"] = ordered_json::array();
    for (const auto &each : options)
      j["options"].push_back({{"description", each.description}, {"section", each.install_section}});
  } else {
    j["form"] = "Plug and Play";
  }
  bool failed = false;
  j["sessions"] = picked != 0 ? applet_sessions(m, s.boards(), inf, inf_name, options, picked, out_dir, failed)
                              : plug_and_play_sessions(m, s.boards(), inf, inf_name, out_dir, failed);
  if (o.json) {
    emit(o, j, &s);
    return failed ? 1 : 0;
  }
  std::cout << "The driver found " << s.boards() << " board(s):\n";
  for (const auto &b : j["boards"]) print_board_report(b);
  print_passed_over(j["passed_over"]);
  if (picked != 0) {
    std::cout << "\n" << inf_name << " is an NT 4.0 Display-applet file of " << options.size() << " option(s)";
    for (size_t i = 0; i < options.size(); i++)
      std::cout << "\n  " << (i + 1 == picked ? "* " : "  ") << i + 1 << ": " << options[i].description;
    std::cout << "\noption " << picked << " picked" << (option ? "" : " (--option N picks another)")
              << "; every option installs the same driver and settings, written for the first board found\n";
  }
  for (const auto &session : j["sessions"]) print_session(session);
  return failed ? 1 : 0;
}

}  // namespace torvic::sim
