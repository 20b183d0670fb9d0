#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <tuple>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "host/display/display_client.h"
#include "session.h"
#include "host/board/monitor.h"
#include "host/display/test_pattern.h"
#include "host/port/machine.h"
#include "host/port/text.h"
#include "machine_file.h"
#include "png_file.h"

namespace torvic::sim {

namespace {

using host::DisplayClient;
using host::hex;
using host::Machine;
using host::narrow;
using nlohmann::ordered_json;

// ---- Sweep ----------------------------------------------------------------------------------

struct SweepRow {
  std::string variant;
  uint32_t memory_mib = 0;
  VIDEO_MODE_INFORMATION mode{};
  host::MonitorTiming timing;
  std::string problem;  // empty when the monitor shows exactly the mode and the picture
};

// Compares what the monitor shows with the mode asked for and the picture
// drawn, row by row as the monitor scans it out.
std::string check_shown(const VIDEO_MODE_INFORMATION &mode, const Shown &shown, const host::Board &board,
                        const host::PatternImage &image) {
  if (!shown.error.empty()) return shown.error;
  const auto &t = shown.timing;
  if (t.state != host::DisplayState::Graphics) return "the monitor shows no graphics";
  if (t.width != mode.VisScreenWidth || t.height != mode.VisScreenHeight)
    return "geometry " + std::to_string(t.width) + "x" + std::to_string(t.height);
  if (t.bits_per_pixel != mode.BitsPerPlane) return "pixel format of " + std::to_string(t.bits_per_pixel) + " bpp";
  if (std::abs(t.refresh_hz - mode.Frequency) > 0.03 * mode.Frequency)
    return "refresh " + std::to_string(t.refresh_hz) + " Hz";
  const std::string at = first_picture_difference(board, t, image);
  return at.empty() ? "" : "picture differs at " + at;
}

// One machine of the sweep: a board of one variant and memory size, every
// mode it offers set, drawn and checked. Modes that share a size, a pixel
// format and a pattern share the pattern's rows, worked out once.
std::vector<SweepRow> sweep_machine(const std::string &driver, uint16_t code, const std::string &name,
                                    uint32_t mib, const std::function<void()> &progress) {
  const host::Pattern patterns[] = {host::Pattern::Bars, host::Pattern::Gradient, host::Pattern::Grid};
  std::map<std::tuple<host::Pattern, ULONG, ULONG, ULONG>, host::PatternImage> images;
  std::vector<SweepRow> rows;
  Machine m(host::machine_with({host::default_board(0, code, mib * host::kMiB)}), driver);
  m.boot();
  DisplayClient client(m, 0);
  for (const auto &mode : client.modes()) {
    const host::Pattern pattern = patterns[mode.ModeIndex % 3];
    const auto &image =
        images.try_emplace({pattern, mode.VisScreenWidth, mode.VisScreenHeight, mode.BitsPerPlane}, pattern, mode)
            .first->second;
    const Shown shown = draw_mode(m, 0, mode, image, false);
    rows.push_back({name, mib, mode, shown.timing, check_shown(mode, shown, m.adapter_board(0), image)});
    progress();
  }
  m.shut_down();
  return rows;
}

}  // namespace

// ---- The subcommands -----------------------------------------------------------------------


int run_modes(const GlobalOptions &o, std::optional<size_t> only) {
  Session s(o);
  ordered_json j = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++) {
    if (only && *only != i) continue;
    DisplayClient client(s.machine(), i);
    ordered_json board = {{"board", i}, {"slot", s.machine().adapters()[i].slot}, {"modes", ordered_json::array()}};
    for (const auto &m : client.modes()) board["modes"].push_back(mode_json(m));
    j.push_back(board);
  }
  if (only) s.require_board(*only);
  if (o.json) {
    emit(o, j, &s);
    return 0;
  }
  if (s.boards() == 0) std::cout << "the driver found no board on this machine\n";
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

int run_sweep(const GlobalOptions &o, const SweepOptions &only) {
  if (!o.machine_file.empty())
    throw InputError("--machine: the sweep builds its own machine for every variant and memory size; "
                     "set-mode --machine FILE shows one mode on your machine");
  if (!o.trace_file.empty())
    throw InputError("--trace: the sweep runs many machines side by side and keeps no trace; "
                     "trace one mode with set-mode");
  const auto started = std::chrono::steady_clock::now();
  struct Job {
    uint16_t code;
    std::string name;
    uint32_t mib;
    std::vector<SweepRow> rows;
  };
  const std::pair<const char *, uint16_t> variants[] = {{"rgb526", 0}, {"rgb528", 10}, {"dram", 8}};
  auto wanted = [](const auto &list, const auto &item) {
    return list.empty() || std::find(list.begin(), list.end(), item) != list.end();
  };
  std::vector<Job> jobs;
  for (const auto &[key, code] : variants)
    for (uint32_t mib : {2u, 4u, 8u})
      if (wanted(only.variants, std::string(key)) && wanted(only.memory_mib, mib))
        jobs.push_back({code, variant_name(code), mib, {}});

  // Every machine loads its own driver image, so they run side by side; a
  // bad image is refused here, before any thread starts.
  const std::string driver = driver_path(o);
  const host::DriverImage probe(driver);
  const bool tty = isatty(STDERR_FILENO) && !o.json;
  std::atomic<size_t> next{0}, done{0};
  std::mutex print;
  auto progress = [&] {
    const size_t n = ++done;
    if (!tty) return;
    std::lock_guard<std::mutex> lock(print);
    std::cerr << "\rsweep: " << n << " modes set and checked" << std::flush;
  };
  auto worker = [&] {
    for (size_t i; (i = next++) < jobs.size();)
      jobs[i].rows = sweep_machine(driver, jobs[i].code, jobs[i].name, jobs[i].mib, progress);
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < std::max(1u, std::min(4u, std::thread::hardware_concurrency())); t++)
    threads.emplace_back(worker);
  for (auto &t : threads) t.join();
  std::vector<SweepRow> rows;
  for (auto &job : jobs) rows.insert(rows.end(), job.rows.begin(), job.rows.end());
  if (tty && !o.json) std::cerr << "\r" << std::string(40, ' ') << "\r";
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const size_t failed = size_t(std::count_if(rows.begin(), rows.end(), [](const SweepRow &r) { return !r.problem.empty(); }));

  if (o.json) {
    ordered_json j;
    j["rows"] = ordered_json::array();
    for (const auto &r : rows)
      j["rows"].push_back({{"variant", r.variant}, {"memory_mib", r.memory_mib}, {"mode", mode_json(r.mode)},
                           {"refresh_hz", std::round(r.timing.refresh_hz * 100) / 100},
                           {"ok", r.problem.empty()},
                           {"problem", r.problem.empty() ? ordered_json() : ordered_json(r.problem)}});
    j["modes"] = rows.size();
    j["failed"] = failed;
    j["seconds"] = std::round(seconds * 100) / 100;
    emit(o, j);
  } else {
    std::cout << "variant                    memory  index  mode              refresh    result\n";
    for (const auto &r : rows)
      std::cout << host::formatted("%-26s %2u MiB  %5u  %-16s  %6.2f Hz  %s\n", r.variant.c_str(),
                                   r.memory_mib, r.mode.ModeIndex, mode_label(r.mode).c_str(),
                                   r.timing.refresh_hz, r.problem.empty() ? "ok" : r.problem.c_str());
    std::cout << host::formatted("sweep: %zu modes, %zu passed, %zu failed in %.1f s\n", rows.size(),
                                 rows.size() - failed, failed, seconds);
  }
  return failed ? 1 : 0;
}

int run_machine_default(const GlobalOptions &o) {
  (void)o;
  std::cout << machine_to_json(host::default_machine()).dump(2) << "\n";
  return 0;
}

int run_machine_check(const GlobalOptions &o, const std::string &file) {
  const host::MachineConfig config = load_machine_file(file);
  if (o.json) {
    std::cout << machine_to_json(config).dump(2) << "\n";
    return 0;
  }
  std::cout << file << ": a valid machine file: " << config.boards.size() << " board(s), "
            << config.faults.size() << " fault(s)\n";
  for (const auto &b : config.boards) {
    std::cout << "  slot " << b.slot << ": " << hex(b.vendor_id) << ":" << hex(b.device_id) << ", variant code "
              << b.variant_code << " (" << variant_name(b.variant_code) << "), " << b.memory_size / host::kMiB
              << " MiB, command " << hex(b.command_power_on) << "\n";
    for (int i = 0; i < host::kNumBars; i++) {
      const host::BarConfig &bar = b.bars[i];
      if (!bar.implemented) continue;
      std::cout << "    " << (i == host::kRomBar ? std::string("ROM ") : "BAR" + std::to_string(i)) << "  "
                << (i == host::kRomBar ? "rom   " : bar.io ? "io    " : "memory") << "  size " << hex(bar.size)
                << "  at " << hex(bar.power_on_address) << (bar.prefetchable ? "  prefetchable" : "") << "\n";
    }
    std::cout << "    power-on: config2 " << hex(b.config2_power_on) << ", config3 " << hex(b.config3_power_on)
              << ", vga_ctrl " << hex(b.vga_ctrl_power_on) << ", engine busy for " << b.engine.busy_reads
              << " reads\n";
  }
  for (const auto &f : config.faults)
    std::cout << "  fault: call " << f.call << " of " << f.service << "\n";
  return 0;
}

}  // namespace torvic::sim
