// SPDX-License-Identifier: MIT
// Where torvic-sim writes its files, checked before anything runs.
#include "output_paths.h"

#include <filesystem>
#include <system_error>

#include "commands.h"
#include "machine_file.h"

namespace torvic::sim {

void check_output_path(const std::string &option, const std::string &path) {
  namespace fs = std::filesystem;
  if (path.empty()) throw InputError(option + ": give a file name");
  std::error_code ec;
  if (fs::is_directory(path, ec))
    throw InputError(option + " " + path + ": is a folder; give a file name");
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec))
    throw InputError(option + " " + path + ": the folder " + folder.string() + " does not exist");
}

void make_out_dir(const std::string &out_dir) {
  std::error_code made;
  std::filesystem::create_directories(out_dir, made);
  if (made) throw OutputError("--out-dir " + out_dir + ": " + made.message());
}

std::string picture_path(const std::string &out_dir, int slot) {
  return (std::filesystem::path(out_dir) / ("torvic-slot" + std::to_string(slot) + ".png")).string();
}

}  // namespace torvic::sim
