// The subcommands of torvic-sim.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace torvic::sim {

struct GlobalOptions {
  std::string machine_file;  // empty: the embedded default machine
  std::string driver_file;   // empty: the host build of the driver
  std::string trace_file;
  std::string trace_format = "json";
  bool json = false;
};

struct SetModeOptions {
  std::string mode;
  size_t board = 0;
  std::string png;
  std::string pattern = "bars";
};

// No request of this driver needs more than a few KiB of buffer; anything
// beyond this is a mistake, refused before the machine boots.
constexpr uint64_t kMaxRequestBuffer = 64 * 1024;

struct RequestOptions {
  std::string code;
  size_t board = 0;
  std::string input_hex;
  // Absent: the size the reply of a known request needs, else 0.
  std::optional<uint64_t> output_length;
};

// Each returns the exit status: 0 success, 1 a check failed or the verifier
// stopped the run, 2 bad usage or input.
int run_demo(const GlobalOptions &options, const std::string &out_dir);
int run_boot(const GlobalOptions &options);
int run_modes(const GlobalOptions &options, std::optional<size_t> board);
int run_set_mode(const GlobalOptions &options, const SetModeOptions &set);
int run_request(const GlobalOptions &options, const RequestOptions &request);
int run_sweep(const GlobalOptions &options);
int run_machine_default(const GlobalOptions &options);

}  // namespace torvic::sim
