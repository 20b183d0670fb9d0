// SPDX-License-Identifier: MIT
// Choosing and loading the driver image (driver_image.h) by its file kind.
#include "host/image/driver_image.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "host/image/elf_image.h"
#if defined(__i386__)
#include "host/image/pe_image.h"
#endif

namespace torvic::host {

std::string DriverImage::default_path() {
  if (const char *chosen = std::getenv("TORVIC_DRIVER"); chosen && *chosen) return chosen;
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = self.parent_path() / "torvic_driver.so";
    if (std::filesystem::exists(beside)) return beside.string();
  }
  return TORVIC_DRIVER_IMAGE;
}

DriverImage::DriverImage(const std::string &path) : path_(path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ImageRefused("cannot read the driver image " + path);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());

  if (bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' &&
      bytes[3] == 'F') {
    kind_ = Kind::Elf;
    loaded_ = std::make_unique<ElfImage>(path, bytes);
  } else if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
    kind_ = Kind::Pe;
#if defined(__i386__)
    loaded_ = std::make_unique<PeImage>(path, bytes);
#else
    throw ImageRefused(path + " is an NT image (PE32, i386); only the 32-bit host build "
                       "runs it (preset m32: build/m32/bin/torvic-sim)");
#endif
  } else {
    throw ImageRefused(path + " is neither a driver image for this host (ELF) nor an NT "
                       "image (PE32)");
  }
}

}  // namespace torvic::host
