// SPDX-License-Identifier: MIT
// Why the driver passed over a board of the family, worked out from what
// the machine saw the driver do.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "host/board/board.h"
#include "host/port/machine.h"

namespace torvic::sim {

// The name each range register has in what torvic-sim prints.
extern const char *const kBarNames[host::kNumBars];
constexpr uint32_t kPciSlots = 32;

bool is_family_board(const host::Board &board);
// Why the driver did not take this board of the family.
std::string passed_over_reason(const host::Machine &m, const host::Board &board);
// Every board of the family the driver did not take, in slot order, each as
// {"board": null, "slot", "variant_code", "reason"}.
nlohmann::ordered_json family_boards_passed_over(host::Machine &m);
// The driver's number for the board in this slot, if it took one there.
std::optional<size_t> adapter_in_slot(const host::Machine &m, uint32_t slot);

}  // namespace torvic::sim
