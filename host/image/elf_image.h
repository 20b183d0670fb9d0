// SPDX-License-Identifier: MIT
// The host build of the driver (an ELF shared object), loaded from a private
// copy so that every machine starts with the module's variables as at load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/image/loaded_image.h"

namespace torvic::host {

class ElfImage : public LoadedImage {
 public:
  ElfImage(const std::string &path, const std::vector<uint8_t> &file);
  ~ElfImage() override;

  DriverEntryFn entry() const override { return entry_; }

 private:
  int fd_ = -1;
  void *handle_ = nullptr;
  DriverEntryFn entry_ = nullptr;
};

}  // namespace torvic::host
