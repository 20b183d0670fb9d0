#include "host/driver_image.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace torvic::host {

std::string DriverImage::default_path() {
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
  if (!in) throw std::runtime_error("cannot read the driver image " + path);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());

  // The dynamic loader shares an image among all who open the same file;
  // a memory file of our own gives this machine its own copy.
  fd_ = memfd_create("torvic-driver", MFD_CLOEXEC);
  if (fd_ < 0 || write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("cannot copy the driver image");
  const std::string proc_path = "/proc/self/fd/" + std::to_string(fd_);
  handle_ = dlopen(proc_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error(std::string("cannot load the driver image: ") + dlerror());
  entry_ = reinterpret_cast<DriverEntryFn>(dlsym(handle_, "DriverEntry"));
  if (!entry_) throw std::runtime_error("the driver image has no DriverEntry");
}

DriverImage::~DriverImage() {
  if (handle_) dlclose(handle_);
  if (fd_ >= 0) close(fd_);
}

}  // namespace torvic::host
