// A private copy of the driver image, loaded for one machine, so that every
// machine starts with the module's variables as they are at load.
#pragma once

#include <string>

#include "platform/video_port_interface.h"

namespace torvic::host {

using DriverEntryFn = ULONG(NTAPI *)(PVOID, PVOID);

class DriverImage {
 public:
  // The host build of the driver that sits next to this program, or the one
  // the build produced.
  static std::string default_path();

  explicit DriverImage(const std::string &path = default_path());
  DriverImage(const DriverImage &) = delete;
  DriverImage &operator=(const DriverImage &) = delete;
  ~DriverImage();

  DriverEntryFn entry() const { return entry_; }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  void *handle_ = nullptr;
  DriverEntryFn entry_ = nullptr;
};

}  // namespace torvic::host
