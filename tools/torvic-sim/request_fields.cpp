// SPDX-License-Identifier: MIT
// A request's input given by its fields rather than in hex.
#include "request_fields.h"

#include <cstddef>
#include <sstream>

#include "host/common/records.h"
#include "input_files.h"
#include "machine_file.h"

namespace torvic::sim {

namespace {

// One colour value of a palette line: 0 to 255, decimal or 0x hex.
uint8_t colour_value(const std::string &where, const std::string &word) {
  size_t used = 0;
  unsigned long v = 256;
  try {
    if (!word.empty() && word[0] != '-') v = std::stoul(word, &used, 0);
  } catch (const std::exception &) {
  }
  if (used != word.size() || v > 255)
    throw InputError(where + ": \"" + word + "\" is not a colour value from 0 to 255");
  return static_cast<uint8_t>(v);
}

std::vector<VIDEO_CLUTDATA> palette_file(const std::string &path) {
  std::istringstream text(read_input_file("--palette", path));
  std::vector<VIDEO_CLUTDATA> entries;
  int number = 0;
  for (std::string line; std::getline(text, line);) {
    number++;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    const std::string where = "--palette " + path + " line " + std::to_string(number);
    if (w.size() != 3) throw InputError(where + ": write one colour a line as R G B");
    if (entries.size() == 256) throw InputError(where + ": more than 256 colours");
    entries.push_back({colour_value(where, w[0]), colour_value(where, w[1]), colour_value(where, w[2]), 0});
  }
  if (entries.empty()) throw InputError("--palette " + path + ": holds no colour");
  return entries;
}

}  // namespace

std::vector<uint8_t> palette_input(const std::string &palette) {
  std::vector<VIDEO_CLUTDATA> entries;
  if (palette == "ramp")
    for (int i = 0; i < 256; i++) entries.push_back({UCHAR(i), UCHAR(i), UCHAR(i), 0});
  else
    entries = palette_file(palette);
  // The record's header, then its table: one ULONG an entry.
  VIDEO_CLUT header{};
  header.NumEntries = static_cast<USHORT>(entries.size());
  header.FirstEntry = 0;
  std::vector<uint8_t> bytes = host::bytes_of(header);
  bytes.resize(offsetof(VIDEO_CLUT, LookupTable));
  for (const VIDEO_CLUTDATA &e : entries) {
    const std::vector<uint8_t> entry = host::bytes_of(e);
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  return bytes;
}

std::vector<uint8_t> address_input(const std::string &address) {
  size_t used = 0;
  unsigned long long v = 0;
  bool read = false;
  try {
    if (!address.empty() && address[0] != '-') {
      v = std::stoull(address, &used, 0);
      read = used == address.size();
    }
  } catch (const std::exception &) {
  }
  if (!read || v > UINTPTR_MAX)
    throw InputError("--address " + address + ": give an address such as 0x" + std::string(sizeof(void *) * 2, '0') +
                     ", at most " + std::to_string(sizeof(void *) * 8) + " bits");
  VIDEO_MEMORY memory{};
  memory.RequestedVirtualAddress = reinterpret_cast<PVOID>(static_cast<uintptr_t>(v));
  return host::bytes_of(memory);
}

std::vector<uint8_t> mode_input(ULONG index) {
  VIDEO_MODE mode{};
  mode.RequestedMode = index;
  return host::bytes_of(mode);
}

}  // namespace torvic::sim
