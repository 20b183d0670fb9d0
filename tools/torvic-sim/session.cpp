// SPDX-License-Identifier: MIT
// One run of the driver on the machine the options name, and the trace it leaves.
#include "session.h"

#include <exception>
#include <iostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/common/text.h"
#include "machine_file.h"
#include "passed_over.h"
#include "sha256.h"

namespace torvic::sim {

using host::hex;

namespace {

std::string &trace_error_text() {
  static std::string text;
  return text;
}

}  // namespace

std::string driver_path(const GlobalOptions &o) {
  return o.driver_file.empty() ? host::DriverImage::default_path() : o.driver_file;
}

std::string trace_header(const GlobalOptions &o, bool text) {
  const std::string version = "torvic-sim " TORVIC_VERSION, driver = driver_path(o),
                    sha256 = sha256_of_file(driver),
                    machine = o.machine_file.empty() ? "default machine" : o.machine_file;
  if (text) return "# " + version + "  driver " + driver + "  sha256 " + sha256 + "  machine " + machine;
  nlohmann::ordered_json j;
  j["program"] = version;
  j["driver"] = driver;
  j["driver_sha256"] = sha256;
  j["machine"] = machine;
  return j.dump();
}

Session::Session(const GlobalOptions &options)
    : options_(options),
      machine_(options.machine_file.empty() ? host::default_machine()
                                            : load_machine_file(options.machine_file),
               driver_path(options)),
      trace_filter_(options.trace_filter) {
  start_trace();
  try {
    boot_status_ = machine_.boot();
    // As at system start, every board found is opened, and so initialised,
    // before any request: the mode list every board shows depends on all of them.
    for (size_t i = 0; i < machine_.adapters().size(); i++) machine_.open(i);
  } catch (...) {
    // No destructor runs for a session that never started.
    finish_trace(!machine_.stopped());
    throw;
  }
}

Session::~Session() {
  // A run refused for bad input writes nothing; one the verifier stopped
  // keeps the trace that led there.
  finish_trace(std::uncaught_exceptions() > 0 && !machine_.stopped());
  // An injected fault changes what the run shows: say which fired.
  for (const host::FiredFault &f : machine_.fired_faults())
    std::cerr << "torvic-sim: injected fault fired: " << f.service << " call " << f.call
              << (f.slot >= 0 ? ", slot " + std::to_string(f.slot) : std::string()) << ": " << f.failure << "\n";
  // A display driver releases what it maps; say so when something is left.
  for (const host::Mapping *m : machine_.client_mappings())
    std::cerr << "torvic-sim: still mapped at the end of the run: slot " << m->slot << ", physical "
              << hex(m->phys) << ", " << hex(m->length) << " bytes"
              << (m->process ? ", process " + hex(reinterpret_cast<uintptr_t>(m->process)) : "") << "\n";
}

void Session::require_board(size_t board) {
  require_usable_board();
  if (board >= boards())
    throw InputError("--board " + std::to_string(board) + ": the driver found " +
                     std::to_string(boards()) + " board(s); numbers run from 0 in slot order");
}

void Session::require_usable_board() {
  if (boards() > 0) return;
  std::string why;
  for (const auto &board : family_boards_passed_over(machine_))
    why += "\n  slot " + std::to_string(board["slot"].get<int>()) + ": " + board["reason"].get<std::string>();
  finish_trace(false);
  throw NoUsableBoard("the driver found no usable board on this machine" +
                      (why.empty() ? std::string(": it holds no board of the family") : "; it passed over:" + why));
}

void Session::start_trace() {
  if (options_.trace_file.empty()) return;
  trace_file_ = std::make_unique<TraceFile>(options_.trace_file);
  const bool text = options_.trace_format == "text";
  trace_file_->write_line(trace_header(options_, text));
  filtered_trace_ = std::make_unique<FilteredTrace>(trace_filter_, [this, text](const host::TraceEvent &e) {
    trace_file_->write_line(text ? e.text() : e.json());
  });
  machine_.on_trace_settled = [this] { write_settled_events(); };
}

void Session::write_settled_events() {
  std::vector<int> board_slots;
  for (const auto &a : machine_.adapters()) board_slots.push_back(a.slot);
  const host::Trace &trace = machine_.trace();
  for (; events_seen_ < trace.size(); events_seen_++) filtered_trace_->add(trace[events_seen_], board_slots);
}

void Session::finish_trace(bool refused) {
  if (!trace_file_) return;
  machine_.on_trace_settled = nullptr;
  if (refused) {
    trace_file_->discard();
    trace_file_.reset();
    return;
  }
  // A stopped run leaves its last callback's events unsettled: they are all there is.
  write_settled_events();
  const std::string error = trace_file_->keep();
  trace_file_.reset();
  if (!error.empty()) trace_error_text() = error;
  // The run itself went well; an empty trace alone would not say why.
  else if (filtered_trace_->written() == 0)
    std::cerr << "torvic-sim: warning: --trace-filter " << trace_filter_.terms() << " matched no event of the run; "
              << options_.trace_file << " holds only its header\n";
}

const std::string &trace_error() { return trace_error_text(); }

}  // namespace torvic::sim
