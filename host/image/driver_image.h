// SPDX-License-Identifier: MIT
// The driver image a machine runs: the host build (an ELF shared object) or
// the NT kernel image torvic.sys (PE32, in the 32-bit host build only), each
// loaded privately for one machine, so that every machine starts with the
// module's variables as they are at load.
#pragma once

#include <memory>
#include <string>

#include "host/image/loaded_image.h"

namespace torvic::host {

class DriverImage {
 public:
  enum class Kind { Elf, Pe };

  // The image the environment variable TORVIC_DRIVER names; else the host
  // build of the driver that sits next to this program, or the one the build
  // produced.
  static std::string default_path();

  explicit DriverImage(const std::string &path = default_path());

  Kind kind() const { return kind_; }
  const std::string &path() const { return path_; }
  LoadedImage &loaded() const { return *loaded_; }
  DriverEntryFn entry() const { return loaded_->entry(); }

 private:
  std::string path_;
  Kind kind_ = Kind::Elf;
  std::unique_ptr<LoadedImage> loaded_;
};

}  // namespace torvic::host
