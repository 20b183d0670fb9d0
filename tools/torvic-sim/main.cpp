// SPDX-License-Identifier: MIT
// torvic-sim: runs the driver on a simulated machine and shows what the
// monitor would show.
#include <CLI/CLI.hpp>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "host/port/machine.h"
#include "machine_file.h"
#include "session.h"
#include "trace_file.h"

namespace {

// Letters to change, add or drop to turn a into b.
size_t edit_distance(const std::string &a, const std::string &b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); j++) row[j] = j;
  for (size_t i = 1; i <= a.size(); i++) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); j++) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// A usage error in the program's own voice: what was wrong, and for a word
// that is no subcommand, the subcommands and the nearest one.
void report_usage_error(const CLI::App &app, const CLI::ParseError &e) {
  std::cerr << "torvic-sim: " << e.what() << "\n";
  if (dynamic_cast<const CLI::ExtrasError *>(&e) != nullptr) {
    const std::vector<std::string> extras = app.remaining();
    std::string names, nearest;
    size_t best = 3;  // a closer match than this is worth suggesting
    for (const CLI::App *sub : app.get_subcommands({})) {
      names += " " + sub->get_name();
      for (const std::string &word : extras)
        if (const size_t d = edit_distance(word, sub->get_name()); d < best) {
          best = d;
          nearest = sub->get_name();
        }
    }
    std::cerr << "torvic-sim: the subcommands are:" << names << "\n";
    if (!nearest.empty()) std::cerr << "torvic-sim: did you mean " << nearest << "?\n";
  }
  std::cerr << "torvic-sim: see torvic-sim --help\n";
}

// The program, but for what main adds: the command line parsed and checked,
// the subcommand run, and its errors turned into the exit status.
int run(int argc, char **argv) {
  using namespace torvic::sim;
  CommandLine line;
  declare_command_line(line);
  try {
    line.app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) return line.app.exit(e);  // --help, --version
    report_usage_error(line.app, e);
    return 2;
  }
  int status = 0;
  try {
    // Everything is checked before anything runs or any output is opened.
    check_options(line);
    status = run_subcommand(line);
  } catch (const InputError &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 2;
  } catch (const torvic::host::ImageRefused &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 2;
  } catch (const OutputError &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 3;
  } catch (const NoUsableBoard &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 1;
  } catch (const torvic::host::VerifierStop &stop) {
    std::cerr << "torvic-sim: the verifier stopped the run: " << stop.what() << "\n";
    status = 1;
  } catch (const std::exception &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 1;
  }
  // What was printed must have reached its reader, and the trace its file.
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "torvic-sim: cannot write the standard output: " << strerror(errno) << "\n";
    return 3;
  }
  if (!trace_error().empty()) {
    std::cerr << "torvic-sim: " << trace_error() << "\n";
    return 3;
  }
  return status;
}

// The exit status of a run that ended on an error of torvic-sim itself:
// not a failed check, not bad input, not an output that could not be written.
constexpr int kInternalError = 4;

// Ends the run on an error of torvic-sim itself: one line, then the status.
// Only async-signal-safe calls, since a signal handler comes here too.
[[noreturn]] void internal_error(const char *what) {
  const char kPrefix[] = "torvic-sim: internal error: ";
  const char kSuffix[] = "; the run is abandoned\n";
  // What the trace holds so far is what the run did before it failed.
  torvic::sim::keep_trace_of_failed_run();
  (void)!write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  (void)!write(STDERR_FILENO, what, strlen(what));
  (void)!write(STDERR_FILENO, kSuffix, sizeof kSuffix - 1);
  _exit(kInternalError);
}

#ifndef TORVIC_SANITIZED
// A memory fault inside a driver callback is the host video port's to report
// (it becomes a verifier stop); one anywhere else, which the port hands on
// to the handler that was there before it, is a fault of torvic-sim.
void on_fault(int signal_number) {
  switch (signal_number) {
    case SIGSEGV: internal_error("invalid memory access (SIGSEGV) outside the driver");
    case SIGBUS: internal_error("invalid memory access (SIGBUS) outside the driver");
    case SIGFPE: internal_error("arithmetic fault (SIGFPE)");
    default: internal_error("illegal instruction (SIGILL)");
  }
}
#endif

// Set before any machine exists, so that the host video port's own fault
// handler finds this one to hand on to. In the sanitizer build the
// sanitizers keep the signals, and report what they find themselves.
void install_last_resort_handlers() {
  std::set_terminate([] { internal_error("an error no part of the program handled"); });
#ifndef TORVIC_SANITIZED
  struct sigaction sa {};
  sa.sa_handler = on_fault;
  sigemptyset(&sa.sa_mask);
  for (int signal_number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(signal_number, &sa, nullptr);
#endif
}

}  // namespace

int main(int argc, char **argv) {
  install_last_resort_handlers();
  // Declaring the options can fail too (out of memory): say so, rather than
  // end without a word.
  try {
    return run(argc, argv);
  } catch (const std::exception &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    return 1;
  }
}
