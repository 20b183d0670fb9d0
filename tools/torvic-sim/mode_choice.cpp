// SPDX-License-Identifier: MIT
// The mode a subcommand shows: one named on the command line, or the demo's.
#include "mode_choice.h"

#include <algorithm>
#include <cmath>
#include <regex>

#include "labels.h"
#include "machine_file.h"

namespace torvic::sim {

namespace {

// At most nine digits a number: none of them can overflow.
const std::regex &by_name() {
  static const std::regex pattern(R"((\d{1,9})x(\d{1,9})x(\d{1,9})(?:@(\d{1,9}))?)");
  return pattern;
}
const std::regex &by_index() {
  static const std::regex pattern(R"(\d{1,9})");
  return pattern;
}

[[noreturn]] void refuse_mode_text(const std::string &text) {
  throw InputError("mode \"" + text + "\": write WIDTHxHEIGHTxBPP@HZ (for example 1024x768x16@60) "
                   "or a mode index from `torvic-sim modes`");
}

}  // namespace

void check_mode_text(const std::string &text) {
  if (!std::regex_match(text, by_index()) && !std::regex_match(text, by_name())) refuse_mode_text(text);
}

const VIDEO_MODE_INFORMATION &find_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes,
                                        const std::string &text) {
  auto number = [](const std::string &digits) { return static_cast<ULONG>(std::stoul(digits)); };
  std::smatch match;
  if (std::regex_match(text, by_index())) {
    const ULONG index = number(text);
    for (const auto &m : modes)
      if (m.ModeIndex == index) return m;
  } else if (std::regex_match(text, match, by_name())) {
    const ULONG w = number(match[1]), h = number(match[2]), bpp = number(match[3]);
    const ULONG hz = match[4].matched ? number(match[4]) : 0;
    for (const auto &m : modes)
      if (m.VisScreenWidth == w && m.VisScreenHeight == h && m.BitsPerPlane == bpp &&
          (hz == 0 || m.Frequency == hz))
        return m;
    // Not offered: name the nearest modes that are.
    std::vector<std::pair<double, std::string>> near;
    for (const auto &m : modes) {
      const double d = std::abs(double(m.VisScreenWidth) - w) + std::abs(double(m.VisScreenHeight) - h) +
                       8 * std::abs(double(m.BitsPerPlane) - bpp) + std::abs(double(m.Frequency) - hz);
      near.push_back({d, mode_label(m) + " (index " + std::to_string(m.ModeIndex) + ")"});
    }
    std::sort(near.begin(), near.end());
    std::string list;
    for (size_t i = 0; i < std::min<size_t>(5, near.size()); i++) list += "\n  " + near[i].second;
    throw InputError("mode " + text + " is not offered on this board; the nearest are:" + list);
  } else {
    refuse_mode_text(text);
  }
  throw InputError("mode index " + text + " is not offered on this board; `torvic-sim modes` lists them");
}

const DemoChoice &demo_choice(size_t board) {
  static const DemoChoice choices[] = {{"1024x768x8", host::Pattern::Bars},
                                       {"1152x864x32", host::Pattern::Gradient},
                                       {"800x600x16", host::Pattern::Grid}};
  return choices[std::min<size_t>(board, std::size(choices) - 1)];
}

// The demo's mode for a board: the one it prefers, or, where the board does
// not offer it (a DRAM board, a small memory), the widest offered mode of the
// same depth, or the first one offered.
DemoMode demo_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes, const std::string &preferred) {
  try {
    return {find_mode(modes, preferred), ""};
  } catch (const InputError &) {
  }
  if (modes.empty()) throw InputError("the driver offers no mode on this board");
  // The list runs from low to high rates, so the first of a size is its lowest.
  const ULONG bpp = static_cast<ULONG>(std::stoul(preferred.substr(preferred.rfind('x') + 1)));
  const VIDEO_MODE_INFORMATION *best = nullptr;
  for (const auto &m : modes)
    if (m.BitsPerPlane == bpp && (!best || m.VisScreenWidth > best->VisScreenWidth)) best = &m;
  if (best)
    return {*best, preferred + " is not offered on this board; " + mode_label(*best) +
                       " is the widest mode it offers at " + std::to_string(bpp) + " bpp"};
  return {modes.front(), preferred + " is not offered on this board, nor any mode at " + std::to_string(bpp) +
                             " bpp; " + mode_label(modes.front()) + " is the first it offers"};
}

}  // namespace torvic::sim
