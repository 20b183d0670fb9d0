// SPDX-License-Identifier: MIT
// Where torvic-sim writes its files, checked before anything runs.
#include "output_paths.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "machine_file.h"

namespace torvic::sim {

namespace fs = std::filesystem;

namespace {

// Writing needs write permission on an existing file, or on the folder a new
// one is made in (and the right to enter it). A read-only file system says
// so here too.
void check_writable(const std::string &named, const std::string &path, int mode) {
  if (access(path.c_str(), mode) != 0) throw InputError(named + ": " + strerror(errno));
}

}  // namespace

void check_output_path(const std::string &option, const std::string &path) {
  if (path.empty()) throw InputError(option + ": give a file name");
  const std::string named = option + " " + path;
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw InputError(named + ": is a folder; give a file name");
  if (fs::exists(path, ec)) return check_writable(named, path, W_OK);
  const fs::path parent = fs::path(path).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  if (!fs::is_directory(folder, ec))
    throw InputError(named + ": the folder " + folder + " does not exist");
  check_writable(named + ": the folder " + folder, folder, W_OK | X_OK);
}

void check_output_folder(const std::string &option, const std::string &folder) {
  const std::string named = option + " " + folder;
  if (folder.empty()) throw InputError(option + ": give a folder");
  std::error_code ec;
  if (!fs::exists(folder, ec)) throw InputError(named + ": no such folder; make it first");
  if (!fs::is_directory(folder, ec)) throw InputError(named + ": not a folder");
  check_writable(named, folder, W_OK | X_OK);
}

std::string picture_path(const std::string &out_dir, int slot) {
  return (fs::path(out_dir) / ("torvic-slot" + std::to_string(slot) + ".png")).string();
}

}  // namespace torvic::sim
