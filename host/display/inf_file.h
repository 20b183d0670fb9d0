// SPDX-License-Identifier: MIT
// A setup information (INF) file as the NT setup programs read it: named
// sections of entries, each entry an optional key and a list of fields, with
// %name% replaced from the [Strings] section. The host reads the install
// files it ships with this, to check them and to act out what NT does with
// them; it does not interpret the install directives themselves.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvic::host {

struct InfEntry {
  int line = 0;                     // where the entry starts, from 1
  std::string key;                  // empty for an entry without "="
  std::vector<std::string> fields;  // comma-separated, unquoted, strings replaced
};

class InfFile {
 public:
  // Never throws: what breaks the format's rules is listed in problems(),
  // each as "line N: what is wrong", and the rest is still read.
  static InfFile parse(std::string_view text);

  const std::vector<std::string> &problems() const { return problems_; }
  // Section and key names compare without regard to case, as setup does;
  // sections given twice are read as one.
  const std::vector<InfEntry> *section(std::string_view name) const;
  // The first field of the first entry with the key, if there is one.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;
  // Every entry with the key, in file order.
  std::vector<const InfEntry *> entries(std::string_view section, std::string_view key) const;

 private:
  struct Section {
    std::string name;
    std::vector<InfEntry> entries;
  };
  std::vector<Section> sections_;
  std::vector<std::string> problems_;
};

bool same_name(std::string_view a, std::string_view b);

}  // namespace torvic::host
