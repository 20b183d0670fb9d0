// SPDX-License-Identifier: MIT
// Reads a fuzz target's input as little-endian numbers, one after another;
// past its end every number reads 0, so any input is a whole one.
#pragma once

#include <cstddef>
#include <cstdint>

struct Reader {
  const uint8_t *data;
  size_t size;
  uint32_t take(size_t bytes) {
    uint32_t v = 0;
    for (size_t i = 0; i < bytes && size; i++, data++, size--) v |= uint32_t(*data) << (8 * i);
    return v;
  }
};
