// SPDX-License-Identifier: MIT
// The ELF loader (elf_image.h): the host build of the driver from a private
// memory file.
#include "host/image/elf_image.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

namespace torvic::host {

ElfImage::ElfImage(const std::string &path, const std::vector<uint8_t> &file) {
  // The dynamic loader shares an image among all who open the same file;
  // a memory file of our own gives this machine its own copy.
  fd_ = memfd_create("torvic-driver", MFD_CLOEXEC);
  if (fd_ < 0 || write(fd_, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
    if (fd_ >= 0) close(fd_);
    throw ImageRefused("cannot copy the driver image " + path);
  }
  const std::string proc_path = "/proc/self/fd/" + std::to_string(fd_);
  handle_ = dlopen(proc_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    close(fd_);
    throw ImageRefused("cannot load the driver image " + path + ": " + dlerror());
  }
  entry_ = reinterpret_cast<DriverEntryFn>(dlsym(handle_, "DriverEntry"));
  if (!entry_) {
    dlclose(handle_);
    close(fd_);
    throw ImageRefused("the driver image " + path + " has no DriverEntry");
  }
}

ElfImage::~ElfImage() {
  dlclose(handle_);
  close(fd_);
}

}  // namespace torvic::host
