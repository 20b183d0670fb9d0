#include <filesystem>
#include <iostream>

#include "host/display_client.h"
#include "machine_file.h"
#include "png_file.h"
#include "session.h"

namespace torvic::sim {

using host::DisplayClient;

int run_demo(const GlobalOptions &o, const std::string &out_dir) {
  struct Choice {
    const char *mode;
    host::Pattern pattern;
  };
  // An 8-bit mode through the palette on the first board, a 32-bit mode on
  // the second, and 16 bits on any further board.
  const Choice choices[] = {{"1024x768x8@60", host::Pattern::Bars},
                            {"1152x864x32@75", host::Pattern::Gradient},
                            {"800x600x16@72", host::Pattern::Grid}};
  Session s(o);
  Machine &m = s.machine();
  ordered_json j;
  j["boards"] = boards_found(s);

  const auto offered = DisplayClient(m, 0).modes();
  j["modes"] = ordered_json::array();
  for (const auto &mode : offered) j["modes"].push_back(mode_label(mode));

  make_out_dir(out_dir);
  j["shown"] = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++) {
    const Choice &choice = choices[std::min<size_t>(i, 2)];
    DisplayClient client(m, i);
    const auto modes = client.modes();
    const VIDEO_MODE_INFORMATION mode = demo_mode(modes, choice.mode);
    const Shown shown = show_mode(m, i, mode, choice.pattern, true);
    if (!shown.error.empty()) throw std::runtime_error(shown.error);
    const std::string png = (std::filesystem::path(out_dir) /
                             ("torvic-slot" + std::to_string(m.adapters()[i].slot) + ".png")).string();
    write_png(png, shown.picture);
    j["shown"].push_back({{"board", i}, {"mode", mode_json(mode)}, {"pattern", host::pattern_names()[size_t(choice.pattern)]},
                          {"monitor", timing_json(shown.timing)}, {"png", png}});
  }
  m.reset_hardware(0);
  j["after_reset"] = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++)
    j["after_reset"].push_back(timing_json(host::decode_monitor(m.adapter_board(i))));

  if (o.json) {
    emit(o, j);
    return 0;
  }
  std::cout << "The driver found " << s.boards() << " board(s):\n";
  for (const auto &b : j["boards"]) print_board_report(b);
  std::cout << "\nModes offered to every board (" << offered.size() << "):\n";
  print_mode_summary(offered);
  for (const auto &shown : j["shown"]) {
    std::cout << "\nboard " << shown["board"].get<size_t>() << ": set " << shown["mode"]["mode"].get<std::string>()
              << ", drew the " << shown["pattern"].get<std::string>() << " pattern through mapped video memory\n"
              << "  monitor: " << shown["monitor"]["description"].get<std::string>() << "\n";
  }
  std::cout << "\nReset: the driver returned every board to VGA text mode\n";
  for (size_t i = 0; i < s.boards(); i++)
    std::cout << "  board " << i << ": " << j["after_reset"][i]["description"].get<std::string>() << "\n";
  std::cout << "\nPictures of what the monitors showed:\n";
  for (const auto &shown : j["shown"]) std::cout << "  " << shown["png"].get<std::string>() << "\n";
  return 0;
}

}  // namespace torvic::sim
