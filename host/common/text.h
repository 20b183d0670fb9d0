// SPDX-License-Identifier: MIT
// Small text helpers shared by the host video port, torvic-sim and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvic::host {

// 0x1F3A: upper-case hexadecimal digits after "0x".
std::string hex(uint64_t value);

// printf's text as a string, as long as the text is: never cut short.
std::string formatted(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A UTF-16 string as ASCII, with '?' for anything else.
std::string narrow(const std::u16string &text);
// The text of NUL-terminated UTF-16LE bytes, as narrow() gives it.
std::string utf16z(const uint8_t *data, size_t length);

}  // namespace torvic::host
