// SPDX-License-Identifier: MIT
// The NT kernel image of the driver (a PE32 i386 native image, torvic.sys),
// loaded as the NT loader loads a driver: its sections mapped with their own
// protection at an address other than the one it was linked for, its base
// relocations applied and its imports of videoprt.sys bound by name to the
// host video port's services. Only a 32-bit x86 host can run it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/image/loaded_image.h"

namespace torvic::host {

class PeImage : public LoadedImage {
 public:
  // Checks and loads the file's bytes; a refusal throws ImageRefused naming
  // the file and the reason.
  PeImage(const std::string &path, const std::vector<uint8_t> &file);
  ~PeImage() override;

  DriverEntryFn entry() const override { return entry_; }
  bool pageable(const void *address) const override;
  void set_pageable_present(bool present) override;
  std::string routine_at(const void *address) const override;

  // Where the image lies, and where it was linked to lie.
  uint8_t *base() const { return base_; }
  uint32_t preferred_base() const { return preferred_base_; }

 private:
  struct Section {
    std::string name;
    uint32_t rva = 0;
    uint32_t span = 0;  // bytes in memory, rounded up to whole pages
    int protection = 0;
  };
  struct Routine {
    uint32_t rva = 0;
    std::string name;
  };

  void relocate(uint32_t rva, uint32_t length, uint32_t image_base);
  void bind_imports(uint32_t directory);
  void protect();
  void read_symbols(const std::vector<uint8_t> &file);
  bool executable(uint32_t rva) const;
  [[noreturn]] void refuse(const std::string &why) const;

  std::string path_;
  uint8_t *base_ = nullptr;
  size_t size_ = 0;
  uint32_t preferred_base_ = 0;
  std::vector<Section> sections_;
  std::vector<Routine> routines_;  // sorted by address
  const Section *pageable_ = nullptr;
  DriverEntryFn entry_ = nullptr;
};

}  // namespace torvic::host
