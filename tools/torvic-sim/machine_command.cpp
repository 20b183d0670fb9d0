// SPDX-License-Identifier: MIT
// torvic-sim machine: the embedded default machine file, or one of the user's checked.
#include <nlohmann/json.hpp>

#include <iostream>

#include "commands.h"
#include "host/common/text.h"
#include "host/port/service_faults.h"
#include "labels.h"
#include "machine_file.h"

namespace torvic::sim {

using host::hex;

int run_machine_default(const GlobalOptions &o) {
  (void)o;
  std::cout << machine_to_json(host::default_machine()).dump(2) << "\n";
  return 0;
}

int run_machine_check(const GlobalOptions &o, const std::string &file) {
  const host::MachineConfig config = load_machine_file(file, "machine --check");
  if (o.json) {
    std::cout << machine_to_json(config).dump(2) << "\n";
    return 0;
  }
  std::cout << file << ": a valid machine file: " << config.boards.size() << " board(s), "
            << config.faults.size() << " fault(s)\n";
  for (const auto &b : config.boards) {
    std::cout << "  slot " << b.slot << ": " << hex(b.vendor_id) << ":" << hex(b.device_id) << ", variant code "
              << b.variant_code << " (" << variant_name(b.variant_code) << "), " << b.memory_size / host::kMiB
              << " MiB, command " << hex(b.command_power_on) << "\n";
    for (int i = 0; i < host::kNumBars; i++) {
      const host::BarConfig &bar = b.bars[i];
      if (!bar.implemented) continue;
      std::cout << "    " << (i == host::kRomBar ? std::string("ROM ") : "BAR" + std::to_string(i)) << "  "
                << (i == host::kRomBar ? "rom   " : bar.io ? "io    " : "memory") << "  size " << hex(bar.size)
                << "  at " << hex(bar.power_on_address) << (bar.prefetchable ? "  prefetchable" : "") << "\n";
    }
    std::cout << "    power-on: config2 " << hex(b.config2_power_on) << ", config3 " << hex(b.config3_power_on)
              << ", vga_ctrl " << hex(b.vga_ctrl_power_on) << ", engine busy for " << b.engine.busy_reads
              << " reads\n";
  }
  for (const auto &f : config.faults) {
    const host::ServiceFaultInfo *info = host::service_fault_info(f.service);
    std::cout << "  fault: call " << f.call << " of " << f.service << ": "
              << (info && info->kind == host::FaultKind::Status ? "returns " + status_name(f.status)
                                                                 : std::string(info ? info->failure : "fails"))
              << "\n";
  }
  std::cout << "  configuration record length: " << config.config_info_length << " bytes"
            << (config.config_info_length == sizeof(VIDEO_PORT_CONFIG_INFO) ? " (this build's own)" : "") << "\n";
  // How the video port runs the driver: NT 4.0's way, or some of ReactOS's.
  std::string ways;
  for (const ReactOsSwitch &s : kReactOsSwitches)
    if (config.reactos.*s.on) ways += (ways.empty() ? "" : "; ") + std::string(s.meaning);
  std::cout << "  video port: " << (ways.empty() ? "NT 4.0's" : "ReactOS's ways: " + ways) << "\n";
  return 0;
}

}  // namespace torvic::sim
