#include "host/text.h"

#include <cstdio>

namespace torvic::host {

std::string hex(uint64_t value) {
  char b[24];
  snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(value));
  return b;
}

std::string narrow(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace torvic::host
