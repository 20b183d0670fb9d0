// SPDX-License-Identifier: MIT
// Feeds the machine-file reader arbitrary text: it must either describe a
// machine or refuse with a message, never fail in any other way.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/torvic-sim/machine_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  try {
    const auto config = torvic::sim::parse_machine(text);
    for (const auto &b : config.boards)
      if (b.slot > 31 || (b.memory_size != 2 * torvic::host::kMiB && b.memory_size != 4 * torvic::host::kMiB &&
                          b.memory_size != 8 * torvic::host::kMiB)) {
        (void)fprintf(stderr, "machine file fuzzer: accepted a board the model cannot be\n");
        abort();
      }
    // Whatever is accepted must make boards the model can be.
    for (const auto &b : config.boards) torvic::host::Board board(b);
  } catch (const torvic::sim::InputError &) {
  }
  return 0;
}
