// SPDX-License-Identifier: MIT
// Machines described in JSON: the file format of --machine, and the
// embedded default machine written out as such a file.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <stdexcept>
#include <string>

#include "host/port/machine.h"

namespace torvic::sim {

// Bad input from the user: the message names the field and what is allowed.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The machine file's "reactos" switches: the key, the switch it sets, and
// what it means to a person reading `machine --check`.
struct ReactOsSwitch {
  const char *key;
  bool host::ReactOsLegacyPath::*on;
  const char *meaning;
};
inline constexpr ReactOsSwitch kReactOsSwitches[] = {
    {"claim_returns_bus_number", &host::ReactOsLegacyPath::claim_returns_bus_number,
     "the bus number written back as the slot"},
    {"board_ranges_held_by_pnp_node", &host::ReactOsLegacyPath::board_ranges_held_by_pnp_node,
     "the boards' ranges held by their PnP nodes"},
    {"one_find_adapter_call", &host::ReactOsLegacyPath::one_find_adapter_call, "one find-adapter call"},
};

host::MachineConfig parse_machine(const std::string &text);
// The machine a file describes; `option` names it in a message about the file itself.
host::MachineConfig load_machine_file(const std::string &path, const std::string &option = "--machine");
nlohmann::ordered_json machine_to_json(const host::MachineConfig &config);

}  // namespace torvic::sim
