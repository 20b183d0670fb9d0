// SPDX-License-Identifier: MIT
// One run of the driver on the machine the options name, and the trace it leaves.
#include "session.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <vector>

#include "host/common/text.h"
#include "filtered_trace.h"
#include "machine_file.h"
#include "trace_filter.h"

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

Session::Session(const GlobalOptions &options)
    : options_(options),
      machine_(options.machine_file.empty() ? host::default_machine()
                                            : load_machine_file(options.machine_file),
               driver_path(options)) {
  boot_status_ = machine_.boot();
  // As at system start, every board found is opened, and so initialised,
  // before any request: the mode list every board shows depends on all of them.
  for (size_t i = 0; i < machine_.adapters().size(); i++) machine_.open(i);
}

Session::~Session() {
  write_trace();
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

void Session::require_board(size_t board) const {
  if (board >= boards())
    throw InputError("--board " + std::to_string(board) + ": the driver found " +
                     std::to_string(boards()) + " board(s); numbers run from 0 in slot order");
}

void Session::write_trace() {
  if (options_.trace_file.empty() || trace_written_) return;
  trace_written_ = true;
  // A run refused for bad input writes nothing; one the verifier stopped
  // keeps the trace that led there.
  if (std::uncaught_exceptions() > 0 && !machine_.stopped()) return;
  const TraceFilter filter(options_.trace_filter);
  std::vector<int> board_slots;
  for (const auto &a : machine_.adapters()) board_slots.push_back(a.slot);
  std::ofstream out(options_.trace_file);
  FilteredTrace kept(filter, [&](const host::TraceEvent &e) {
    out << (options_.trace_format == "text" ? e.text() : e.json()) << '\n';
  });
  for (const auto &e : machine_.trace()) kept.add(e, board_slots);
  out.close();
  if (!out) trace_error_text() = "--trace " + options_.trace_file + ": " + strerror(errno);
  // The run itself went well; an empty file alone would not say why.
  else if (kept.written() == 0)
    std::cerr << "torvic-sim: warning: --trace-filter " << filter.terms() << " matched no event of the run; "
              << options_.trace_file << " is empty\n";
}

const std::string &trace_error() { return trace_error_text(); }

}  // namespace torvic::sim
