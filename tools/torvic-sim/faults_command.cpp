// SPDX-License-Identifier: MIT
// torvic-sim faults: every fallible video port service made to fail, once at
// each place the driver calls it, during boot, initialisation, the demo's
// display-driver session and the reset; what the driver then does, set
// against a run without faults.
#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <iostream>
#include <thread>

#include "commands.h"
#include "fault_run.h"
#include "json_output.h"
#include "machine_file.h"
#include "session.h"

namespace torvic::sim {

namespace {

struct Row {
  std::string machine;
  CallSite site;
  std::string outcome;
};

std::vector<Row> sweep_machine_faults(const std::string &name, const host::MachineConfig &config,
                                      const std::string &driver, RunResult &base) {
  host::Trace trace;
  base = run_machine(config, driver, &trace);
  if (!base.stop.empty()) throw std::runtime_error(name + ": the run without a fault stops: " + base.stop);
  const std::vector<CallSite> sites = call_sites(trace);
  std::vector<Row> rows(sites.size());
  std::atomic<size_t> next{0};
  // An error in either thread ends the sweep and reaches the caller, as it
  // would from a run on one thread, rather than ending the program.
  std::exception_ptr errors[2];
  auto worker = [&](std::exception_ptr &error) {
    try {
      for (size_t k; (k = next++) < sites.size();) {
        host::MachineConfig faulty = config;
        faulty.faults = {{sites[k].service, sites[k].call, fault_status(sites[k].service)}};
        rows[k] = {name, sites[k], fault_outcome(base, run_machine(faulty, driver))};
      }
    } catch (...) {
      error = std::current_exception();
      next = sites.size();
    }
  };
  std::thread helper(worker, std::ref(errors[1]));
  worker(errors[0]);
  helper.join();
  for (const auto &error : errors)
    if (error) std::rethrow_exception(error);
  return rows;
}

std::string site_text(const CallSite &s) {
  return s.target.empty() ? "" : (s.slot >= 0 ? "slot " + std::to_string(s.slot) + " " : "") + s.target;
}

// Rows of one machine, callback and service with the same outcome are one
// line, their call sites listed together, in the order the calls came.
void print_table(const std::vector<Row> &rows, bool markdown) {
  if (markdown) {
    std::cout << "| Machine | Callback | Service | Call sites made to fail | Outcome |\n"
              << "|---|---|---|---|---|\n";
  }
  std::vector<bool> printed(rows.size());
  for (size_t i = 0; i < rows.size(); i++) {
    if (printed[i]) continue;
    const Row &r = rows[i];
    std::string sites;
    for (size_t j = i; j < rows.size(); j++) {
      if (printed[j] || rows[j].machine != r.machine || rows[j].site.callback != r.site.callback ||
          rows[j].site.service != r.site.service || rows[j].outcome != r.outcome)
        continue;
      printed[j] = true;
      const std::string s = site_text(rows[j].site);
      if (!s.empty()) sites += (sites.empty() ? "" : ", ") + s;
    }
    if (markdown)
      std::cout << "| " << r.machine << " | " << r.site.callback << " | " << r.site.service << " | " << sites
                << " | " << r.outcome << " |\n";
    else
      std::cout << r.machine << "  " << r.site.callback << "  " << r.site.service << (sites.empty() ? "" : "  ")
                << sites << "\n    -> " << r.outcome << "\n";
  }
}

}  // namespace

int run_fault_sweep(const GlobalOptions &o, bool markdown) {
  if (!o.trace_file.empty())
    throw InputError("--trace: the fault sweep runs hundreds of machines and keeps no trace; "
                     "trace one with a machine file that injects the fault");
  const std::string driver = driver_path(o);
  std::vector<std::pair<std::string, host::MachineConfig>> machines;
  if (!o.machine_file.empty())
    machines.emplace_back(o.machine_file, load_machine_file(o.machine_file));
  else {
    machines.emplace_back("default", host::default_machine());
    machines.emplace_back("DRAM", host::machine_with({host::default_board(3, 8, 4 * host::kMiB)}));
  }
  std::vector<Row> rows;
  std::string baselines;
  ordered_json baselines_json = ordered_json::array();
  for (const auto &[name, config] : machines) {
    if (!config.faults.empty())
      throw InputError(name + ": the machine injects faults of its own; the sweep injects one at a time");
    RunResult base;
    const auto more = sweep_machine_faults(name, config, driver, base);
    rows.insert(rows.end(), more.begin(), more.end());
    for (size_t i = 0; i < base.found.size(); i++) {
      baselines += "- " + name + " machine, board " + std::to_string(i) + " (slot " + std::to_string(base.found[i]) +
                   "): " + base.monitors[i] + "\n";
      baselines_json.push_back({{"machine", name}, {"board", i}, {"slot", base.found[i]}, {"monitor", base.monitors[i]}});
    }
  }
  const size_t stops = size_t(std::count_if(rows.begin(), rows.end(), [](const Row &r) {
    return r.outcome.rfind("VERIFIER STOP", 0) == 0;
  }));
  if (o.json) {
    ordered_json j = ordered_json::array();
    for (const auto &r : rows)
      j.push_back({{"machine", r.machine}, {"callback", r.site.callback},
                   {"slot", r.site.slot >= 0 ? ordered_json(r.site.slot) : ordered_json()},
                   {"service", r.site.service}, {"target", r.site.target}, {"call", r.site.call},
                   {"outcome", r.outcome}});
    emit(o, {{"sites", rows.size()}, {"verifier_stops", stops}, {"without_a_fault", baselines_json}, {"rows", j}});
  } else {
    std::cout << "Without a fault each monitor shows (width x height x bits per pixel, totals, horizontal and\n"
                 "vertical front porch/sync/back porch and sync polarity, pixel clock, refresh):\n"
              << (markdown ? "\n" : "") << baselines << "\n";
    print_table(rows, markdown);
    std::cout << (markdown ? "\n" : "") << "faults: " << rows.size() << " call sites made to fail, " << stops
              << " verifier stops\n";
  }
  return stops ? 1 : 0;
}

}  // namespace torvic::sim
