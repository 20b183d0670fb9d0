// SPDX-License-Identifier: MIT
// The arbiter's rules that keep boards from answering at addresses nobody
// gave them: what a board decodes must be what was claimed for it, or what
// the firmware left; no two boards may decode one address; and a register is
// never sized while the board decodes it.
#include "host/port/arbiter.h"
#include "host/common/text.h"

namespace torvic::host {

namespace {

const char *bar_label(int bar) {
  static const char *const kLabels[kNumBars] = {"BAR0", "BAR1", "BAR2", "BAR3",
                                                "BAR4", "BAR5", "ROM"};
  return kLabels[bar];
}

std::string describe(const PhysRange &r) {
  return std::string(r.io ? "I/O " : "memory ") + hex(r.start) + " +" + hex(r.length);
}

}  // namespace

std::vector<Arbiter::Decoding> Arbiter::decoding() const {
  std::vector<Decoding> v;
  for (const auto &b : boards_)
    for (int bar = 0; bar < kNumBars; bar++) {
      const auto base = b->decoded_base(bar);
      if (!base) continue;
      const BarConfig &c = b->config().bars[bar];
      v.push_back({b.get(), bar, {*base, c.size, c.io, "slot " + std::to_string(b->slot())},
                   b->power_on_decoded_base(bar) == base});
    }
  return v;
}

void Arbiter::check_decoding(const std::string &when) {
  const std::vector<Decoding> now = decoding();
  for (const Decoding &d : now) {
    if (d.as_powered_on) continue;
    bool claimed = false;
    for (const auto &[ext, claim] : claims_)
      for (const PhysRange &r : claim.ranges)
        claimed |= claim.slot == static_cast<int>(d.board->slot()) && r.io == d.range.io &&
                   d.range.start >= r.start && d.range.end() <= r.end();
    if (!claimed)
      verifier_.stop("%s: slot %u decodes %s %s, which no live claim of that board covers and "
                     "the firmware did not leave there",
                     when.c_str(), d.board->slot(), bar_label(d.bar), describe(d.range).c_str());
  }
  for (size_t i = 0; i < now.size(); i++)
    for (size_t j = i + 1; j < now.size(); j++) {
      const PhysRange &a = now[i].range, &b = now[j].range;
      if (now[i].board == now[j].board || a.io != b.io || a.end() <= b.start ||
          b.end() <= a.start || (now[i].as_powered_on && now[j].as_powered_on))
        continue;
      verifier_.stop("%s: slots %u and %u both decode %s (%s and %s)", when.c_str(),
                     now[i].board->slot(), now[j].board->slot(), a.io ? "I/O" : "memory",
                     describe(a).c_str(), describe(b).c_str());
    }
}

void Arbiter::check_sizing_write(const Board &board, ULONG offset, uint32_t value) {
  if (value != 0xFFFFFFFF) return;
  const int bar = range_register_at(offset);
  if (bar < 0 || !board.config().bars[bar].implemented) return;
  const bool io = board.config().bars[bar].io && bar != kRomBar;
  if (io ? board.io_decoding() : board.memory_decoding())
    verifier_.stop("VideoPortSetBusData: all ones written to %s of slot %u while its %s decoding "
                   "is on: the board answers at every address the register passes through",
                   bar_label(bar), board.slot(), io ? "I/O" : "memory");
}

}  // namespace torvic::host
