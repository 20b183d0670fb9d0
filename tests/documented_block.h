// SPDX-License-Identifier: MIT
// The text between two markers of a page in docs/: a table that a command
// or the host renders, which a test holds to what it renders now.
#pragma once

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace torvic::test {

// Nothing when the page or either marker is missing.
inline std::optional<std::string> documented_block(const std::string &page, const std::string &begin,
                                                   const std::string &end) {
  std::string path = TORVIC_SOURCE_DIR;
  path += "/docs/";
  path += page;
  std::ifstream in(path);
  const std::string doc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t from = doc.find(begin);
  if (from == std::string::npos) return std::nullopt;
  const size_t to = doc.find(end, from + begin.size());
  if (to == std::string::npos) return std::nullopt;
  return doc.substr(from + begin.size(), to - from - begin.size());
}

}  // namespace torvic::test
