// SPDX-License-Identifier: MIT
// Runs a fuzz target without the fuzzing engine: over every file of the
// corpus folders given, then over a fixed number of pseudo-random inputs
// from a fixed seed, so that a plain build checks the same properties on
// every run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  size_t runs = 0;
  int random_inputs = 200;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    if (arg.rfind("--random=", 0) == 0) {
      random_inputs = std::stoi(arg.substr(9));
      continue;
    }
    for (const auto &entry : std::filesystem::directory_iterator(arg)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      runs++;
    }
  }
  // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp): a fixed seed, so that every run replays the same inputs
  std::mt19937 random(20261206);
  for (int i = 0; i < random_inputs; i++) {
    std::vector<uint8_t> bytes(random() % 600);
    for (auto &b : bytes) b = static_cast<uint8_t>(random());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    runs++;
  }
  printf("%zu inputs, no failure\n", runs);
  return 0;
}
