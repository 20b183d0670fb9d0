// SPDX-License-Identifier: MIT
// torvic-sim sweep: every mode of every variant and memory size set, drawn and checked.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "commands.h"
#include "host/display/display_client.h"
#include "host/port/machine.h"
#include "host/board/monitor.h"
#include "host/display/test_pattern.h"
#include "host/common/text.h"
#include "json_output.h"
#include "labels.h"
#include "machine_file.h"
#include "picture_check.h"
#include "session.h"

namespace torvic::sim {

namespace {

using host::DisplayClient;
using host::Machine;

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

}  // namespace torvic::sim
