// SPDX-License-Identifier: MIT
// torvic-sim's command line: declared, checked before anything runs, and dispatched.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "commands.h"

namespace torvic::sim {

// What the options say once parsed, and the parser that fills them in. It
// keeps pointers to its own members: it stays where it was made.
struct CommandLine {
  CommandLine() = default;
  CommandLine(const CommandLine &) = delete;
  CommandLine &operator=(const CommandLine &) = delete;

  CLI::App app;

  GlobalOptions global;
  std::string out_dir = ".";
  std::string display = "own";
  std::string inf_file;
  std::optional<size_t> inf_option;
  std::optional<size_t> modes_board;
  SetModeOptions set_mode;
  RequestOptions request;
  ScriptOptions script;
  SweepOptions sweep;
  bool faults_markdown = false;
  bool print_default = false;
  std::string check_file;

  // The subcommands, and the options whose presence the checks look at.
  struct Subcommands {
    CLI::App *demo, *boot, *modes, *set_mode, *request, *script, *sweep, *faults, *machine;
  } subcommand{};
  struct Given {
    CLI::Option *trace, *trace_format, *trace_filter, *out_dir, *inf, *option, *png, *check;
  } given{};
};

// Every option and subcommand, with its help, into line.app.
void declare_command_line(CommandLine &line);
// Refuses, with an InputError, options that make no sense together or an
// output that cannot be written, before anything runs or any output opens.
void check_options(const CommandLine &line);
// Runs the subcommand the line names (the demo without one); its exit status.
int run_subcommand(const CommandLine &line);

}  // namespace torvic::sim
