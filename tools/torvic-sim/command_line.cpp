// SPDX-License-Identifier: MIT
// torvic-sim's command line: declared, checked before anything runs, and dispatched.
#include "command_line.h"

#include "input_files.h"
#include "output_paths.h"
#include "trace_filter.h"
#include "machine_file.h"

namespace torvic::sim {

namespace {

// --board of a subcommand: board numbers run from 0 in slot order, and a
// machine holds at most 32 boards.
template <class T>
void add_board_option(CLI::App *subcommand, T &board, const char *what) {
  subcommand->add_option("--board", board, what)->type_name("N")->check(CLI::Range(0, 31));
}

}  // namespace

void declare_command_line(CommandLine &line) {
  CLI::App &app = line.app;
  CommandLine::Subcommands &sub = line.subcommand;
  CommandLine::Given &given = line.given;
  GlobalOptions &o = line.global;
  app.description(
      "torvic-sim: run the Torvic miniport driver on a simulated machine and show what the\n"
      "monitor shows. Without a subcommand it runs the demo on the embedded default machine.");
  app.fallthrough();
  app.set_version_flag("--version", "torvic-sim " TORVIC_VERSION);
  app.add_option("--machine", o.machine_file,
                 "JSON machine file (start from `torvic-sim machine --default`)")
      ->type_name("FILE");
  app.add_option("--driver", o.driver_file,
                 "driver image to run: the host build (default) or, in the 32-bit build, the NT "
                 "image torvic.sys")
      ->type_name("FILE");
  given.trace = app.add_option("--trace", o.trace_file,
                               "write every video port call to FILE as the run goes, after a first line "
                               "that names the program, driver image and machine")
                    ->type_name("FILE");
  given.trace_format = app.add_option("--trace-format", o.trace_format,
                                      "json (one object a line) or text, for --trace")
                           ->check(CLI::IsMember({"json", "text"}));
  given.trace_filter =
      app.add_option("--trace-filter", o.trace_filter,
                     "keep only these events in the trace, with the markers of the callbacks they "
                     "happened in: board=N, slot=N, service=PATTERN, register=PATTERN, request=NAME "
                     "(the whole of that request), separated by commas (for example "
                     "slot=3,register=DAC_*)")
          ->type_name("TERMS");
  app.add_flag("--json", o.json, "machine-readable output");

  given.out_dir =
      app.add_option("--out-dir", line.out_dir, "demo: the existing folder to write the pictures into (default: here)")
          ->type_name("DIR");
  sub.demo = app.add_subcommand("demo",
                                "boot, list the boards found and passed over and each board's modes, show a "
                                "picture on every board, reset to text; status 1 when the driver takes no board");
  sub.demo->add_option("--display", line.display,
                       "own: the demo's own display client; framebuf: NT's frame-buffer display "
                       "driver, each board set up from the install file")
      ->check(CLI::IsMember({"own", "framebuf"}));
  given.inf =
      sub.demo->add_option("--inf", line.inf_file, "with --display framebuf: the install file to set the boards "
                                                    "up from (default: nt/torvic.inf, built in)")
          ->type_name("FILE");
  given.option = sub.demo->add_option("--option", line.inf_option,
                                      "with an NT 4.0 Display-applet install file: the option the user picks "
                                      "from its list, 1 the first (default)")
                     ->type_name("N");
  sub.boot = app.add_subcommand("boot",
                                "boot the machine and list every slot: its BARs, command register and expansion "
                                "ROM at power-on and now, and what the driver made of the board or why it passed "
                                "it over");
  sub.modes = app.add_subcommand("modes", "list the modes the driver offers on each board; status 1 when it takes no board");
  add_board_option(sub.modes, line.modes_board, "only this board (0 is the first found)");
  SetModeOptions &set = line.set_mode;
  sub.set_mode = app.add_subcommand("set-mode", "set a mode, draw a pattern and decode the monitor");
  sub.set_mode->add_option("mode", set.mode, "WIDTHxHEIGHTxBPP@HZ (e.g. 1024x768x16@60) or a mode index")
      ->type_name("MODE")
      ->required();
  add_board_option(sub.set_mode, set.board, "board number (0 is the first found)");
  given.png = sub.set_mode->add_option("--png", set.png, "write the monitor's picture to FILE")
                  ->type_name("FILE");
  sub.set_mode->add_option("--pattern", set.pattern, "bars, gradient, checker or grid")->type_name("NAME");
  RequestOptions &request = line.request;
  sub.request = app.add_subcommand("request", "send one raw video request and show the reply");
  sub.request->add_option("code", request.code, "request code: a number or a name such as QUERY_NUM_AVAIL_MODES")
      ->type_name("CODE")
      ->required();
  add_board_option(sub.request, request.board, "board number (0 is the first found)");
  sub.request->add_option("--in", request.input_hex,
                          "input bytes in hex, in memory order, or @FILE for the bytes of a file; at most 65536")
      ->type_name("HEX");
  sub.request->add_option("--mode", request.mode,
                          "SET_CURRENT_MODE: the mode, WIDTHxHEIGHTxBPP@HZ or an index, as set-mode takes it")
      ->type_name("MODE");
  sub.request->add_option("--palette", request.palette,
                          "SET_COLOR_REGISTERS: ramp (256 greys) or a file of lines R G B, 0 to 255, "
                          "loaded from entry 0")
      ->type_name("ramp|FILE");
  sub.request->add_option("--address", request.address,
                          "MAP_VIDEO_MEMORY, UNMAP_VIDEO_MEMORY: the virtual address (MAP_VIDEO_MEMORY "
                          "without input asks for any)")
      ->type_name("ADDR");
  sub.request->add_option("--out-len", request.output_length,
                          "output buffer length in bytes, at most 65536 (default: what the reply of a "
                          "known request needs, 0 for the others)")
      ->type_name("N");
  sub.request->add_flag("--check-status", request.check_status,
                        "exit with status 1 when the driver answers other than NO_ERROR");
  sub.script = app.add_subcommand(
      "script", "send the requests of FILE, one a line, to one booted machine, in order");
  sub.script
      ->add_option("file", line.script.file,
                   "one request a line, as `request` takes it: CODE [--board N] [--in HEX|@FILE | "
                   "--mode MODE | --palette ramp|FILE | --address ADDR] [--out-len N]; # starts a "
                   "comment; - reads standard input")
      ->type_name("FILE")
      ->required();
  sub.script->add_flag("--check-status", line.script.check_status,
                       "exit with status 1 when the driver answers any request other than NO_ERROR");
  sub.sweep = app.add_subcommand("sweep", "set every mode of every variant and memory size and check the monitor");
  sub.sweep->add_option("--variant", line.sweep.variants, "only these variants: rgb526, rgb528, dram (repeatable)")
      ->check(CLI::IsMember({"rgb526", "rgb528", "dram"}))
      ->type_name("NAME");
  sub.sweep->add_option("--memory", line.sweep.memory_mib, "only these memory sizes in MiB: 2, 4, 8 (repeatable)")
      ->check(CLI::IsMember({2u, 4u, 8u}))
      ->type_name("MIB");
  sub.faults = app.add_subcommand(
      "faults", "make every fallible service fail at each place the driver calls it and show what the driver does");
  sub.faults->add_flag("--markdown", line.faults_markdown, "the table in Markdown, as the README shows it");
  sub.machine = app.add_subcommand("machine", "machine files: the default one, or check one of yours");
  auto *default_flag =
      sub.machine->add_flag("--default", line.print_default, "print the embedded default machine as a JSON file");
  given.check = sub.machine->add_option("--check", line.check_file,
                                        "check FILE and print the machine it describes, every default "
                                        "filled in (with --json, as a machine file)")
                    ->type_name("FILE");
  default_flag->excludes(given.check);
  sub.machine->require_option(1);
  app.require_subcommand(0, 1);
  // Each subcommand's help names the options every subcommand takes.
  std::string globals = "\nOptions of torvic-sim itself, given before or after the subcommand:\n";
  for (const CLI::Option *option : app.get_options())
    if (option->get_name() != "--help" && option->get_name() != "--version")
      globals += "  " + option->get_name() + (option->get_type_name().empty() || option->get_expected_max() == 0
                                                   ? ""
                                                   : " " + option->get_type_name()) +
                 "\n      " + option->get_description() + "\n";
  for (CLI::App *each : app.get_subcommands({})) each->footer(globals);
}

void check_options(const CommandLine &line) {
  const CommandLine::Given &given = line.given;
  const CommandLine::Subcommands &sub = line.subcommand;
  const bool demo = line.app.get_subcommands().empty() || *sub.demo;
  if (given.out_dir->count() && !demo)
    throw InputError("--out-dir is where the demo writes its pictures; " +
                     line.app.get_subcommands()[0]->get_name() + " writes none");
  // Every file read and every place written, before anything runs.
  if (!line.global.machine_file.empty()) check_input_file("--machine", line.global.machine_file);
  if (!line.global.driver_file.empty()) check_input_file("--driver", line.global.driver_file);
  if (given.inf->count()) check_input_file("--inf", line.inf_file);
  if (given.check->count()) check_input_file("machine --check", line.check_file);
  if (*sub.script) check_input_file("script", line.script.file);
  if (given.trace->count()) check_output_path("--trace", line.global.trace_file);
  if (given.png->count()) check_output_path("--png", line.set_mode.png);
  if (demo) check_output_folder("--out-dir", line.out_dir);
  if (given.trace_format->count() && !given.trace->count())
    throw InputError("--trace-format says how to write the trace: give --trace FILE too");
  if (given.trace_filter->count() && !given.trace->count())
    throw InputError("--trace-filter narrows the trace: give --trace FILE too");
  // It refuses terms it cannot read, before anything runs.
  [[maybe_unused]] const TraceFilter checked{line.global.trace_filter};
  if (given.inf->count() && line.display != "framebuf")
    throw InputError("--inf is the install file of --display framebuf; give that too");
  if (given.option->count() && line.display != "framebuf")
    throw InputError("--option picks an option of the install file of --display framebuf; give that too");
}

int run_subcommand(const CommandLine &line) {
  const CommandLine::Subcommands &sub = line.subcommand;
  const GlobalOptions &o = line.global;
  if (*sub.boot) return run_boot(o);
  if (*sub.modes) return run_modes(o, line.modes_board);
  if (*sub.set_mode) return run_set_mode(o, line.set_mode);
  if (*sub.request) return run_request(o, line.request);
  if (*sub.script) return run_script(o, line.script);
  if (*sub.sweep) return run_sweep(o, line.sweep);
  if (*sub.faults) return run_fault_sweep(o, line.faults_markdown);
  if (*sub.machine) return line.given.check->count() ? run_machine_check(o, line.check_file) : run_machine_default(o);
  if (line.display == "framebuf") return run_demo_framebuf(o, line.out_dir, line.inf_file, line.inf_option);
  return run_demo(o, line.out_dir);
}

}  // namespace torvic::sim
