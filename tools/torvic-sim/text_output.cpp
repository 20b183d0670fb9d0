// SPDX-License-Identifier: MIT
// What torvic-sim prints for people: the board reports, the boards passed
// over and the mode summary.
#include "text_output.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "host/common/text.h"

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

// The modes grouped by resolution, as a person scans them.
void print_mode_summary(const std::vector<VIDEO_MODE_INFORMATION> &modes) {
  std::map<std::pair<ULONG, ULONG>, std::pair<std::set<ULONG>, std::set<ULONG>>> by_size;
  for (const auto &m : modes) {
    auto &entry = by_size[{m.VisScreenWidth, m.VisScreenHeight}];
    entry.first.insert(m.BitsPerPlane);
    entry.second.insert(m.Frequency);
  }
  for (const auto &[size, sets] : by_size) {
    std::ostringstream line;
    line << "  " << size.first << "x" << size.second;
    std::cout << line.str() << std::string(std::max<size_t>(13 - line.str().size(), 1), ' ');
    for (ULONG bpp : sets.first) std::cout << bpp << " ";
    std::cout << "bpp at";
    for (ULONG hz : sets.second) std::cout << " " << hz;
    std::cout << " Hz\n";
  }
}

}  // namespace torvic::sim
