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
  if (!path.empty()) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError("--inf " + path + ": cannot be read");
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
  }
  auto inf = host::InfFile::parse(text);
  if (!inf.problems().empty()) {
    std::string list;
    for (const auto &p : inf.problems()) list += "\n  " + p;
    throw InputError("--inf " + (path.empty() ? std::string("(built in)") : path) +
                     ": not a well-formed install file:" + list);
  }
  return inf;
}

}  // namespace

int run_demo_framebuf(const GlobalOptions &o, const std::string &out_dir, const std::string &inf_path) {
  const host::InfFile inf = read_install_file(inf_path);
  const std::string inf_name = inf_path.empty() ? "torvic.inf" : inf_path;
  // The patterns the plain demo shows, board by board.
  const host::Pattern patterns[] = {host::Pattern::Bars, host::Pattern::Gradient, host::Pattern::Grid};
  Session s(o);
  Machine &m = s.machine();
  ordered_json j;
  j["boards"] = boards_found(s);
  j["passed_over"] = family_boards_passed_over(m);

  make_out_dir(out_dir);
  j["sessions"] = ordered_json::array();
  bool failed = false;
  for (size_t i = 0; i < s.boards(); i++) {
    const host::BoardConfig &config = m.adapter_board(i).config();
    const auto install = host::install_for(
        inf, host::pci_hardware_ids(config.vendor_id, config.device_id,
                                    uint32_t(config.variant_code) << 16 | config.subsystem_vendor_id));
    ordered_json session;
    session["board"] = i;
    session["slot"] = m.adapters()[i].slot;
    if (!install.problem.empty()) {
      session["error"] = inf_name + ": " + install.problem;
      failed = true;
      j["sessions"].push_back(session);
      continue;
    }
    session["install"] = {{"file", inf_name}, {"description", install.description},
                          {"hardware_id", install.hardware_id}, {"section", install.install_section}};
    session["default_settings"] = install.settings.label();
    const auto run = host::run_framebuf_session(m, i, install.settings, patterns[std::min<size_t>(i, 2)]);
    if (run.mode) session["mode"] = mode_json(*run.mode);
    session["requests"] = ordered_json::array();
    for (const auto &step : run.steps)
      session["requests"].push_back({{"request", step.request}, {"status", status_name(step.status)}});
    if (run.shown.state == host::DisplayState::Graphics) {
      const std::string png = picture_path(out_dir, m.adapters()[i].slot);
      write_png(png, run.picture);
      session["monitor"] = timing_json(run.shown);
      session["png"] = png;
    }
    if (!run.steps.empty() && run.steps.back().request == "RESET_DEVICE")
      session["after_reset"] = timing_json(run.after_reset);
    session["error"] = run.error.empty() ? ordered_json() : ordered_json(run.error);
    failed |= !run.error.empty();
    j["sessions"].push_back(session);
  }

  if (o.json) {
    emit(o, j, &s);
    return failed ? 1 : 0;
  }
  std::cout << "The driver found " << s.boards() << " board(s):\n";
  for (const auto &b : j["boards"]) print_board_report(b);
  print_passed_over(j["passed_over"]);
  for (const auto &session : j["sessions"]) {
    std::cout << "\nboard " << session["board"].get<size_t>() << ", slot " << session["slot"].get<int>();
    if (!session.contains("install")) {
      std::cout << ": " << session["error"].get<std::string>() << "\n";
      continue;
    }
    const auto &install = session["install"];
    std::cout << ": " << install["file"].get<std::string>() << " installs \""
              << install["description"].get<std::string>() << "\" for "
              << install["hardware_id"].get<std::string>() << "\n"
              << "  DefaultSettings " << session["default_settings"].get<std::string>();
    if (session.contains("mode"))
      std::cout << ": mode " << session["mode"]["index"].get<ULONG>() << " ("
                << session["mode"]["mode"].get<std::string>() << ")";
    std::cout << "\n  framebuf sent:";
    for (const auto &r : session["requests"])
      std::cout << "\n    " << r["request"].get<std::string>() << " -> " << r["status"].get<std::string>();
    std::cout << "\n";
    if (session.contains("monitor"))
      std::cout << "  monitor while enabled: " << session["monitor"]["description"].get<std::string>()
                << "\n  picture: " << session["png"].get<std::string>() << "\n";
    if (session.contains("after_reset"))
      std::cout << "  monitor after the reset: " << session["after_reset"]["description"].get<std::string>()
                << "\n";
    if (!session["error"].is_null()) std::cout << "  failed: " << session["error"].get<std::string>() << "\n";
  }
  return failed ? 1 : 0;
}

}  // namespace torvic::sim
