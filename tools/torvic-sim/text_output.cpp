// SPDX-License-Identifier: MIT
// What torvic-sim prints for people: the board reports, the boards passed
// over and the mode lists.
#include "text_output.h"

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "host/common/text.h"
#include "labels.h"

namespace torvic::sim {

using host::hex;

void print_board_report(const ordered_json &b) {
  std::cout << "  board " << b["board"].get<size_t>() << ": slot " << b["slot"].get<int>()
            << ", variant code " << b["variant_code"].get<int>() << " ("
            << b["variant"].get<std::string>() << ")\n";
  std::cout << "    claimed:";
  int i = 0;
  for (const auto &r : b["claimed"])
    std::cout << (i++ % 3 == 0 ? "\n      " : "   ") << r["space"].get<std::string>() << " "
              << r["start"].get<std::string>() << " +" << hex(r["length"].get<uint32_t>());
  std::cout << "\n    mapped:";
  for (const auto &d : b["mapped"]) std::cout << "\n      " << d.get<std::string>();
  std::cout << "\n    registry:\n";
  for (const auto &[name, value] : b["registry"].items())
    std::cout << "      " << name << " = "
              << (value.is_number() ? hex(value.get<uint64_t>()) : "\"" + value.get<std::string>() + "\"")
              << "\n";
  if (b.contains("registry_refused"))
    for (const auto &[name, status] : b["registry_refused"].items())
      std::cout << "      " << name << ": not stored, the registry answered " << status.get<std::string>()
                << "\n";
}

void print_passed_over(const ordered_json &passed_over) {
  if (passed_over.empty()) return;
  std::cout << "\nPassed over by the driver:\n";
  for (const auto &p : passed_over)
    std::cout << "  slot " << p["slot"].get<int>() << ": " << p["reason"].get<std::string>() << "\n";
}

namespace {

// "3", "3 and 5", "3, 5 and 9".
std::string spoken_list(const std::vector<std::string> &items) {
  std::string text;
  for (size_t i = 0; i < items.size(); i++)
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return text;
}

// One resolution's line: each depth with exactly the rates it is offered at,
// depths offered at the same rates together, so that every depth and rate on
// a line can be set.
void print_resolution(ULONG width, ULONG height, const std::map<ULONG, std::set<ULONG>> &rates_by_depth) {
  std::vector<std::pair<std::set<ULONG>, std::vector<ULONG>>> depths_by_rates;
  for (const auto &depth : rates_by_depth) {
    const std::set<ULONG> &rates = depth.second;
    auto same = std::find_if(depths_by_rates.begin(), depths_by_rates.end(),
                             [&](const auto &group) { return group.first == rates; });
    if (same == depths_by_rates.end()) same = depths_by_rates.insert(depths_by_rates.end(), {rates, {}});
    same->second.push_back(depth.first);
  }
  std::ostringstream line;
  line << "  " << std::left << std::setw(10) << std::to_string(width) + "x" + std::to_string(height) << " ";
  for (size_t i = 0; i < depths_by_rates.size(); i++) {
    line << (i ? "; " : "");
    for (ULONG bpp : depths_by_rates[i].second) line << bpp << " ";
    line << "bpp at";
    for (ULONG hz : depths_by_rates[i].first) line << " " << hz;
    line << " Hz";
  }
  std::cout << line.str() << "\n";
}

// The modes grouped by resolution, as a person scans them.
void print_mode_summary(const std::vector<VIDEO_MODE_INFORMATION> &modes) {
  std::map<std::pair<ULONG, ULONG>, std::map<ULONG, std::set<ULONG>>> by_size;
  for (const auto &m : modes) by_size[{m.VisScreenWidth, m.VisScreenHeight}][m.BitsPerPlane].insert(m.Frequency);
  for (const auto &[size, rates_by_depth] : by_size) print_resolution(size.first, size.second, rates_by_depth);
}

std::vector<std::string> labels_of(const std::vector<VIDEO_MODE_INFORMATION> &modes) {
  std::vector<std::string> labels;
  labels.reserve(modes.size());
  for (const auto &m : modes) labels.push_back(mode_label(m));
  return labels;
}

}  // namespace

void print_offered_modes(const std::vector<BoardModes> &boards) {
  std::vector<bool> shown(boards.size());
  for (size_t i = 0; i < boards.size(); i++) {
    if (shown[i]) continue;
    std::vector<std::string> numbers, slots;
    for (size_t k = i; k < boards.size(); k++)
      if (!shown[k] && labels_of(boards[k].modes) == labels_of(boards[i].modes)) {
        shown[k] = true;
        numbers.push_back(std::to_string(boards[k].board));
        slots.push_back(std::to_string(boards[k].slot));
      }
    std::cout << "\nModes offered to ";
    if (numbers.size() == boards.size())
      std::cout << "every board";
    else
      std::cout << (numbers.size() == 1 ? "board " : "boards ") << spoken_list(numbers)
                << (slots.size() == 1 ? ", slot " : ", slots ") << spoken_list(slots);
    std::cout << " (" << boards[i].modes.size() << "):\n";
    print_mode_summary(boards[i].modes);
  }
}

}  // namespace torvic::sim
