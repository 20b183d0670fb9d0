// SPDX-License-Identifier: MIT
// Why the driver passed over a board of the family, worked out from what
// the machine saw the driver do.
#include "passed_over.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "host/common/text.h"
#include "labels.h"
#include "torvic/board_layout.h"

namespace torvic::sim {

using host::hex;

const char *const kBarNames[host::kNumBars] = {"BAR0", "BAR1", "BAR2", "BAR3", "BAR4", "BAR5", "ROM"};

bool is_family_board(const host::Board &board) {
  return board.config().vendor_id == host::kTorvicVendorId && board.config().device_id == host::kTorvicDeviceId;
}

std::string passed_over_reason(const host::Machine &m, const host::Board &board) {
  const int slot = static_cast<int>(board.slot());
  const auto &trace = m.trace();
  const bool examined = std::any_of(trace.begin(), trace.end(), [&](const host::TraceEvent &e) {
    return e.slot == slot && e.block == "cfg" && e.offset == 0 && e.is_read && e.fault.empty();
  });
  if (!examined) {
    // A driver that refuses the video port's configuration record (one
    // shorter than its own, say) gives up before it looks at any slot.
    const auto &calls = m.find_calls();
    if (!calls.empty() && calls.back().status != NO_ERROR && calls.back().status != ERROR_DEV_NOT_EXIST)
      return "HwFindAdapter returned " + status_name(calls.back().status) +
             " before looking at any slot (the video port's configuration record is " +
             std::to_string(calls.back().config_info.Length) + " bytes)";
    return "the driver never read its identifiers";
  }
  if (board.config().variant_code > TORVIC_MAX_VARIANT_CODE)
    return "variant code " + std::to_string(board.config().variant_code) + " is not one the driver knows (0 to " +
           std::to_string(TORVIC_MAX_VARIANT_CODE) + ")";
  const host::ClaimRequest *claim = nullptr;
  for (const auto &c : m.claim_requests())
    if (c.slot == slot) claim = &c;
  if (!claim) return "the driver did not ask for its resources";
  if (claim->status != NO_ERROR)
    return "the video port refused its resources (" + status_name(claim->status) + ")";
  for (const auto &f : m.fired_faults())
    if (f.slot == slot && f.service == "VideoPortSetBusData")
      return "a configuration write failed, so it did not take its addresses or decoding";
  for (const auto &f : m.fired_faults())
    if (f.slot == slot && f.service == "VideoPortGetDeviceBase") return "mapping its registers failed";
  // The family's layout: video memory, the XY window, the register block
  // and the I/O block, each at least as large as the driver reaches.
  const auto &bars = board.config().bars;
  for (const TorvicBoardRange &n : torvic_board_layout)
    if (!bars[n.bar].implemented || bars[n.bar].io != n.io || bars[n.bar].size < n.least)
      return std::string(kBarNames[n.bar]) + " cannot hold " + n.what + " (" + hex(n.least) + (n.io ? " ports" : " bytes") +
             " of " + (n.io ? "I/O" : "memory") + " space)";
  return "its resources do not fit the family's layout";
}

nlohmann::ordered_json family_boards_passed_over(host::Machine &m) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (uint32_t slot = 0; slot < kPciSlots; slot++) {
    const host::Board *board = m.board_at(slot);
    if (!board || !is_family_board(*board) || adapter_in_slot(m, slot)) continue;
    list.push_back({{"board", nullptr},
                    {"slot", slot},
                    {"variant_code", board->config().variant_code},
                    {"reason", passed_over_reason(m, *board)}});
  }
  return list;
}

std::optional<size_t> adapter_in_slot(const host::Machine &m, uint32_t slot) {
  for (size_t i = 0; i < m.adapters().size(); i++)
    if (m.adapters()[i].slot == static_cast<int>(slot)) return i;
  return std::nullopt;
}

}  // namespace torvic::sim
