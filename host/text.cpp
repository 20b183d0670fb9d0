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

std::string utf16z(const uint8_t *data, size_t length) {
  std::u16string text;
  for (size_t i = 0; i + 1 < length; i += 2) {
    const auto c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (c == 0) break;
    text += c;
  }
  return narrow(text);
}

}  // namespace torvic::host
