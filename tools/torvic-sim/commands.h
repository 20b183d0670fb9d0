// SPDX-License-Identifier: MIT
// The subcommands of torvic-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace torvic::sim {

struct GlobalOptions {
  std::string machine_file;  // empty: the embedded default machine
  std::string driver_file;   // empty: the host build of the driver
  std::string trace_file;
  std::string trace_format = "json";
  std::string trace_filter;  // empty: every event
  bool json = false;
};

struct SetModeOptions {
  std::string mode;
  size_t board = 0;
  std::string png;
  std::string pattern = "bars";
};

// The sweep's filters: empty means every variant, every memory size.
struct SweepOptions {
  std::vector<std::string> variants;  // rgb526, rgb528, dram
  std::vector<uint32_t> memory_mib;   // 2, 4, 8
};

// No request of this driver needs more than a few KiB of buffer; anything
// beyond this is a mistake, refused before the machine boots.
constexpr uint64_t kMaxRequestBuffer = uint64_t{64} * 1024;

struct RequestOptions {
  std::string code;
  size_t board = 0;
  // The input: in hex (--in), or by its fields for the requests that have
  // them; none of these, no input (MAP_VIDEO_MEMORY: any address).
  std::optional<std::string> input_hex;
  std::string mode;                    // SET_CURRENT_MODE: by name or index
  std::string palette;                 // SET_COLOR_REGISTERS: "ramp" or a file
  std::optional<std::string> address;  // MAP_VIDEO_MEMORY, UNMAP_VIDEO_MEMORY
  // Absent: the size the reply of a known request needs, else 0.
  std::optional<uint64_t> output_length;
  bool check_status = false;  // exit 1 when the driver answers other than NO_ERROR
};

// A sequence of requests to one booted machine, one a line of FILE ("-":
// standard input), each written as `request` takes it on the command line.
struct ScriptOptions {
  std::string file;
  bool check_status = false;  // exit 1 when any request is answered other than NO_ERROR
};

// An output (standard output, a trace, a picture) that could not be written;
// the message names it and gives the system's reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The driver took no board of the machine, so there is nothing to show or
// send a request to: the run ends with status 1, as a failed check does.
class NoUsableBoard : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Each returns the exit status: 0 success, 1 a check failed, the verifier
// stopped the run or the driver took no board, 2 bad usage or input, 3 an
// output could not be written.
int run_demo(const GlobalOptions &options, const std::string &out_dir);
// The demo as NT's frame-buffer display driver runs it, each board set up
// from the install file (empty: the built-in nt/torvic.inf); for an NT 4.0
// Display-applet file, with the option the user picks (from 1; absent: 1).
int run_demo_framebuf(const GlobalOptions &options, const std::string &out_dir,
                      const std::string &inf_path, std::optional<size_t> option);
int run_boot(const GlobalOptions &options);
// The modes of every board, or only of one.
int run_modes(const GlobalOptions &options, std::optional<size_t> only);
int run_set_mode(const GlobalOptions &options, const SetModeOptions &set);
int run_request(const GlobalOptions &options, const RequestOptions &request);
int run_script(const GlobalOptions &options, const ScriptOptions &script);
int run_sweep(const GlobalOptions &options, const SweepOptions &only);
// Every fallible service made to fail at each call site of the default and a
// DRAM machine (or of --machine FILE); exit 1 when the verifier stops a run.
int run_fault_sweep(const GlobalOptions &options, bool markdown);
int run_machine_default(const GlobalOptions &options);
// Reads a machine file as --machine would, and shows it with every default.
int run_machine_check(const GlobalOptions &options, const std::string &file);

}  // namespace torvic::sim
