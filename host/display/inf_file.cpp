// SPDX-License-Identifier: MIT
// The setup information file reader (inf_file.h).
#include "host/display/inf_file.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace torvic::host {

namespace {

// Longest section name the setup programs of Windows 2000 and later accept.
constexpr size_t kMaxSectionName = 255;
// Longest line, continuations joined, that they read.
constexpr size_t kMaxLine = 4096;

std::string lower(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

// One logical line: the text before any comment, continuations joined.
struct RawLine {
  int number;
  std::string text;
};

// Cuts a comment (";" outside quotes) off a physical line; reports an
// unclosed quote.
std::string without_comment(std::string_view line, bool &unclosed_quote) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == ';' && !quoted) return std::string(line.substr(0, i));
  }
  unclosed_quote = quoted;
  return std::string(line);
}

std::vector<RawLine> logical_lines(std::string_view text, std::vector<std::string> &problems) {
  std::vector<RawLine> lines;
  std::string pending;
  int pending_start = 0, number = 0;
  bool continued = false;
  auto finish = [&] {
    if (pending.size() > kMaxLine)
      problems.push_back("line " + std::to_string(pending_start) + ": longer than " +
                         std::to_string(kMaxLine) + " characters");
    if (!trim(pending).empty()) lines.push_back({pending_start, trim(pending)});
    pending.clear();
  };
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view physical = text.substr(at, end - at);
    at = end + 1;
    number++;
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    bool unclosed = false;
    const std::string code = trim(without_comment(physical, unclosed));
    if (unclosed) problems.push_back("line " + std::to_string(number) + ": a quoted string is not closed");
    if (!continued) pending_start = number;
    // A backslash as the last character joins the next line to this one.
    continued = !code.empty() && code.back() == '\\';
    pending += continued ? code.substr(0, code.size() - 1) : code;
    if (!continued) finish();
  }
  if (continued) {
    problems.push_back("line " + std::to_string(number) + ": continued past the end of the file");
    finish();
  }
  return lines;
}

// Splits at commas outside quotes; a field in quotes loses them, and "" in
// quotes stands for one quote.
std::vector<std::string> split_fields(std::string_view value) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false, was_quoted = false;
  auto finish = [&] {
    fields.push_back(was_quoted ? field : trim(field));
    field.clear();
    was_quoted = false;
  };
  for (size_t i = 0; i < value.size(); i++) {
    const char c = value[i];
    if (c == '"') {
      if (quoted && i + 1 < value.size() && value[i + 1] == '"') {
        field += '"';
        i++;
      } else {
        if (!quoted && trim(field).empty()) field.clear();
        quoted = !quoted;
        was_quoted = true;
      }
    } else if (c == ',' && !quoted) {
      finish();
    } else if (!(was_quoted && !quoted && (c == ' ' || c == '\t'))) {
      field += c;
    }
  }
  finish();
  return fields;
}

// Position of the "=" that separates key from value, outside quotes.
size_t key_separator(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == '=' && !quoted) return i;
  }
  return std::string_view::npos;
}

}  // namespace

bool same_name(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

InfFile InfFile::parse(std::string_view text) {
  InfFile inf;
  const auto lines = logical_lines(text, inf.problems_);

  // First pass: sections and raw entries; the strings are needed before any
  // substitution, and [Strings] may come last.
  struct Raw {
    int line;                // cppcheck-suppress unusedStructMember ; read below, through auto
    std::string key, value;  // cppcheck-suppress unusedStructMember ; read below, through auto
  };
  std::vector<std::pair<std::string, std::vector<Raw>>> raw;
  std::map<std::string, size_t> index;  // lower-case name -> raw
  std::vector<Raw> *current = nullptr;
  for (const auto &l : lines) {
    const std::string where = "line " + std::to_string(l.number) + ": ";
    if (l.text.front() == '[') {
      const auto close = l.text.find(']');
      if (close == std::string::npos) {
        inf.problems_.push_back(where + "a section name without its closing \"]\"");
        current = nullptr;
        continue;
      }
      const std::string name = trim(std::string_view(l.text).substr(1, close - 1));
      if (!trim(std::string_view(l.text).substr(close + 1)).empty())
        inf.problems_.push_back(where + "text after the section name [" + name + "]");
      if (name.empty()) inf.problems_.push_back(where + "an empty section name");
      if (name.size() > kMaxSectionName)
        inf.problems_.push_back(where + "section name longer than " + std::to_string(kMaxSectionName) +
                                " characters");
      auto [it, added] = index.emplace(lower(name), raw.size());
      if (added) raw.push_back({name, {}});
      current = &raw[it->second].second;
      continue;
    }
    if (!current) {
      inf.problems_.push_back(where + "an entry before the first section");
      continue;
    }
    const auto eq = key_separator(l.text);
    if (eq == std::string::npos) current->push_back({l.number, "", l.text});
    else current->push_back({l.number, trim(std::string_view(l.text).substr(0, eq)),
                             trim(std::string_view(l.text).substr(eq + 1))});
  }

  std::map<std::string, std::string> strings;
  if (auto it = index.find("strings"); it != index.end())
    for (const auto &r : raw[it->second].second) {
      const auto f = split_fields(r.value);
      strings[lower(r.key)] = f.empty() ? "" : f.front();
    }

  // %name% from [Strings]; %% is a percent sign; a number (%12%) is a
  // directory identifier, which setup resolves at install time.
  auto substitute = [&](const std::string &s, int line) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
      if (s[i] != '%') {
        out += s[i];
        continue;
      }
      const auto close = s.find('%', i + 1);
      if (close == std::string::npos) {
        inf.problems_.push_back("line " + std::to_string(line) + ": a \"%\" without its closing \"%\"");
        out += s.substr(i);
        break;
      }
      const std::string token = s.substr(i + 1, close - i - 1);
      if (token.empty()) out += '%';
      else if (std::all_of(token.begin(), token.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        out += "%" + token + "%";
      else if (auto it = strings.find(lower(token)); it != strings.end())
        out += it->second;
      else {
        inf.problems_.push_back("line " + std::to_string(line) + ": %" + token +
                                "% is not defined in [Strings]");
        out += "%" + token + "%";
      }
      i = close;
    }
    return out;
  };

  for (auto &[name, raw_entries] : raw) {
    Section parsed{name, {}};
    const bool is_strings = same_name(name, "Strings");
    for (const auto &r : raw_entries) {
      InfEntry e;
      e.line = r.line;
      e.key = is_strings ? r.key : substitute(r.key, r.line);
      // Fields are split first: a string put in a field stays one field,
      // quotes and commas included.
      e.fields = split_fields(r.value);
      if (!is_strings)
        for (auto &field : e.fields) field = substitute(field, r.line);
      parsed.entries.push_back(std::move(e));
    }
    inf.sections_.push_back(std::move(parsed));
  }
  return inf;
}

const std::vector<InfEntry> *InfFile::section(std::string_view name) const {
  for (const auto &s : sections_)
    if (same_name(s.name, name)) return &s.entries;
  return nullptr;
}

std::optional<std::string> InfFile::value(std::string_view section_name, std::string_view key) const {
  const auto found = entries(section_name, key);
  if (found.empty() || found.front()->fields.empty()) return std::nullopt;
  return found.front()->fields.front();
}

std::vector<const InfEntry *> InfFile::entries(std::string_view section_name, std::string_view key) const {
  std::vector<const InfEntry *> found;
  if (const auto *s = section(section_name))
    for (const auto &e : *s)
      if (same_name(e.key, key)) found.push_back(&e);
  return found;
}

}  // namespace torvic::host
