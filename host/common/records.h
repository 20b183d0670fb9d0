// SPDX-License-Identifier: MIT
// The platform's records as the bytes of a request buffer, and back.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace torvic::host {

template <class T>
std::vector<uint8_t> bytes_of(const T &record) {
  std::vector<uint8_t> v(sizeof(T));
  memcpy(v.data(), &record, sizeof(T));
  return v;
}

// The record at offset; all zero where the bytes are too few to hold it.
template <class T>
T record_at(const std::vector<uint8_t> &bytes, size_t offset = 0) {
  T record{};
  if (offset + sizeof(T) <= bytes.size()) memcpy(&record, bytes.data() + offset, sizeof(T));
  return record;
}

}  // namespace torvic::host
