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

#include "commands.h"
#include "trace_filter.h"
#include "host/port/machine.h"
#include "machine_file.h"

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

// --board of a subcommand: board numbers run from 0 in slot order, and a
// machine holds at most 32 boards.
template <class T>
void add_board_option(CLI::App *subcommand, T &board, const char *what) {
  subcommand->add_option("--board", board, what)->type_name("N")->check(CLI::Range(0, 31));
}

// The program, but for what main adds.
int run(int argc, char **argv) {
  using namespace torvic::sim;
  CLI::App app{
      "torvic-sim: run the Torvic miniport driver on a simulated machine and show what the\n"
      "monitor shows. Without a subcommand it runs the demo on the embedded default machine."};
  app.fallthrough();
  app.set_version_flag("--version", "torvic-sim " TORVIC_VERSION);
  GlobalOptions o;
  app.add_option("--machine", o.machine_file,
                 "JSON machine file (start from `torvic-sim machine --default`)")
      ->type_name("FILE");
  app.add_option("--driver", o.driver_file,
                 "driver image to run: the host build (default) or, in the 32-bit build, the NT "
                 "image torvic.sys")
      ->type_name("FILE");
  auto *trace = app.add_option("--trace", o.trace_file, "write every video port call to FILE")
                    ->type_name("FILE");
  auto *trace_format = app.add_option("--trace-format", o.trace_format,
                                      "json (one object a line) or text, for --trace")
                           ->check(CLI::IsMember({"json", "text"}));
  auto *trace_filter =
      app.add_option("--trace-filter", o.trace_filter,
                     "keep only these events in the trace: board=N, slot=N, service=PATTERN, "
                     "register=PATTERN, separated by commas (for example slot=3,register=DAC_*)")
          ->type_name("TERMS");
  app.add_flag("--json", o.json, "machine-readable output");

  std::string out_dir = ".";
  auto *out_dir_option =
      app.add_option("--out-dir", out_dir, "demo: where to write the pictures (default: here)")
          ->type_name("DIR");
  auto *demo = app.add_subcommand("demo", "boot, list boards and modes, show a picture on every board, reset to text");
  std::string display = "own";
  std::string inf_file;
  demo->add_option("--display", display,
                   "own: the demo's own display client; framebuf: NT's frame-buffer display "
                   "driver, each board set up from the install file")
      ->check(CLI::IsMember({"own", "framebuf"}));
  auto *inf_option =
      demo->add_option("--inf", inf_file, "with --display framebuf: the install file to set the boards "
                                          "up from (default: nt/torvic.inf, built in)")
          ->type_name("FILE");
  auto *boot = app.add_subcommand("boot", "boot the machine and list the boards the driver finds");
  std::optional<size_t> modes_board;
  auto *modes = app.add_subcommand("modes", "list the modes the driver offers");
  add_board_option(modes, modes_board, "only this board (0 is the first found)");
  SetModeOptions set;
  auto *set_mode = app.add_subcommand("set-mode", "set a mode, draw a pattern and decode the monitor");
  set_mode->add_option("mode", set.mode, "WIDTHxHEIGHTxBPP@HZ (e.g. 1024x768x16@60) or a mode index")
      ->type_name("MODE")
      ->required();
  add_board_option(set_mode, set.board, "board number (0 is the first found)");
  auto *png = set_mode->add_option("--png", set.png, "write the monitor's picture to FILE")
                  ->type_name("FILE");
  set_mode->add_option("--pattern", set.pattern, "bars, gradient, checker or grid")->type_name("NAME");
  RequestOptions request;
  auto *raw = app.add_subcommand("request", "send one raw video request and show the reply");
  raw->add_option("code", request.code, "request code: a number or a name such as QUERY_NUM_AVAIL_MODES")
      ->type_name("CODE")
      ->required();
  add_board_option(raw, request.board, "board number (0 is the first found)");
  raw->add_option("--in", request.input_hex,
                  "input bytes in hex, in memory order, or @FILE for the bytes of a file; at most 65536")
      ->type_name("HEX");
  raw->add_option("--out-len", request.output_length,
                  "output buffer length in bytes, at most 65536 (default: what the reply of a "
                  "known request needs, 0 for the others)")
      ->type_name("N");
  raw->add_flag("--check-status", request.check_status,
                "exit with status 1 when the driver answers other than NO_ERROR");
  ScriptOptions script;
  auto *script_command = app.add_subcommand(
      "script", "send the requests of FILE, one a line, to one booted machine, in order");
  script_command
      ->add_option("file", script.file,
                   "one request a line, as `request` takes it: CODE [--board N] [--in HEX|@FILE] "
                   "[--out-len N]; # starts a comment; - reads standard input")
      ->type_name("FILE")
      ->required();
  script_command->add_flag("--check-status", script.check_status,
                           "exit with status 1 when the driver answers any request other than NO_ERROR");
  auto *sweep = app.add_subcommand("sweep", "set every mode of every variant and memory size and check the monitor");
  SweepOptions sweep_only;
  sweep->add_option("--variant", sweep_only.variants, "only these variants: rgb526, rgb528, dram (repeatable)")
      ->check(CLI::IsMember({"rgb526", "rgb528", "dram"}))
      ->type_name("NAME");
  sweep->add_option("--memory", sweep_only.memory_mib, "only these memory sizes in MiB: 2, 4, 8 (repeatable)")
      ->check(CLI::IsMember({2u, 4u, 8u}))
      ->type_name("MIB");
  bool faults_markdown = false;
  auto *faults = app.add_subcommand(
      "faults", "make every fallible service fail at each place the driver calls it and show what the driver does");
  faults->add_flag("--markdown", faults_markdown, "the table in Markdown, as the README shows it");
  bool print_default = false;
  std::string check_file;
  auto *machine = app.add_subcommand("machine", "machine files: the default one, or check one of yours");
  auto *default_flag =
      machine->add_flag("--default", print_default, "print the embedded default machine as a JSON file");
  auto *check_option = machine->add_option("--check", check_file,
                                           "check FILE and print the machine it describes, every default "
                                           "filled in (with --json, as a machine file)")
                           ->type_name("FILE");
  default_flag->excludes(check_option);
  machine->require_option(1);
  app.require_subcommand(0, 1);
  // Each subcommand's help names the options every subcommand takes.
  std::string globals = "\nOptions of torvic-sim itself, given before or after the subcommand:\n";
  for (const CLI::Option *option : app.get_options())
    if (option->get_name() != "--help" && option->get_name() != "--version")
      globals += "  " + option->get_name() + (option->get_type_name().empty() || option->get_expected_max() == 0
                                                   ? ""
                                                   : " " + option->get_type_name()) +
                 "\n      " + option->get_description() + "\n";
  for (CLI::App *sub : app.get_subcommands({})) sub->footer(globals);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    report_usage_error(app, e);
    return 2;
  }
  int status = 0;
  try {
    // Everything is checked before anything runs or any output is opened.
    if (trace->count()) check_output_path("--trace", o.trace_file);
    if (png->count()) check_output_path("--png", set.png);
    if (out_dir_option->count() && app.get_subcommands().size() == 1 && !*demo)
      throw InputError("--out-dir is where the demo writes its pictures; " +
                       app.get_subcommands()[0]->get_name() + " writes none");
    if (trace_format->count() && !trace->count())
      throw InputError("--trace-format says how to write the trace: give --trace FILE too");
    if (trace_filter->count() && !trace->count())
      throw InputError("--trace-filter narrows the trace: give --trace FILE too");
    // It refuses terms it cannot read, before anything runs.
    [[maybe_unused]] const TraceFilter checked{o.trace_filter};
    if (*boot) status = run_boot(o);
    else if (*modes) status = run_modes(o, modes_board);
    else if (*set_mode) status = run_set_mode(o, set);
    else if (*raw) status = run_request(o, request);
    else if (*script_command) status = run_script(o, script);
    else if (*sweep) status = run_sweep(o, sweep_only);
    else if (*faults) status = run_fault_sweep(o, faults_markdown);
    else if (*machine) status = check_option->count() ? run_machine_check(o, check_file) : run_machine_default(o);
    else if (display == "framebuf") status = run_demo_framebuf(o, out_dir, inf_file);
    else if (inf_option->count())
      throw InputError("--inf is the install file of --display framebuf; give that too");
    else status = run_demo(o, out_dir);
  } catch (const InputError &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 2;
  } catch (const torvic::host::ImageRefused &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 2;
  } catch (const OutputError &e) {
    std::cerr << "torvic-sim: " << e.what() << "\n";
    status = 3;
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
