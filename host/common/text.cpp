// SPDX-License-Identifier: MIT
// Small text helpers (text.h).
#include "host/common/text.h"

#include <cstdarg>
#include <cstdio>

namespace torvic::host {

std::string hex(uint64_t value) { return formatted("0x%llX", static_cast<unsigned long long>(value)); }

// NOLINTNEXTLINE(cert-dcl50-cpp): printf's arguments, which -Wformat checks against the format
std::string formatted(const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  // va_start above initialises args; the analyser loses track of it once va_copy has read it.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  // The terminating NUL lands on the string's own.
  if (length > 0 && vsnprintf(text.data(), text.size() + 1, format, again) != length) text.clear();
  va_end(again);
  return text;
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
