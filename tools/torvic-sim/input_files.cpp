// SPDX-License-Identifier: MIT
// What torvic-sim reads, checked before anything runs.
#include "input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "machine_file.h"

namespace torvic::sim {

namespace {

// "--machine m.json", "--in @bytes.bin", "script - (standard input)".
std::string named(const std::string &option, const std::string &path) {
  if (path == "-") return option + " - (standard input)";
  return option + (option.back() == '@' ? "" : " ") + path;
}

// A pipe counts as a file, so that a shell's process substitution works.
void check_kind(const std::string &option, const std::string &path, const struct stat &st) {
  if (S_ISDIR(st.st_mode)) throw InputError(named(option, path) + ": is a folder; give a file");
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
    throw InputError(named(option, path) + ": not a regular file or a pipe");
}

}  // namespace

void check_input_file(const std::string &option, const std::string &path) {
  struct stat st {};
  if (path == "-") {
    if (fstat(STDIN_FILENO, &st) != 0)
      throw InputError(named(option, path) + ": standard input is closed");
  } else {
    if (path.empty()) throw InputError(option + ": give a file name");
    if (stat(path.c_str(), &st) != 0) throw InputError(named(option, path) + ": " + strerror(errno));
    if (access(path.c_str(), R_OK) != 0) throw InputError(named(option, path) + ": " + strerror(errno));
  }
  check_kind(option, path, st);
}

std::string read_input_file(const std::string &option, const std::string &path, size_t most) {
  check_input_file(option, path);
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw InputError(named(option, path) + ": " + strerror(errno));
  std::string bytes;
  char chunk[65536];
  int failure = 0;
  while (bytes.size() < most) {
    const ssize_t got = read(fd, chunk, std::min(sizeof chunk, most - bytes.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failure = errno;
    if (got <= 0) break;
    bytes.append(chunk, size_t(got));
  }
  if (fd != STDIN_FILENO) close(fd);
  if (failure != 0) throw InputError(named(option, path) + ": " + strerror(failure));
  return bytes;
}

}  // namespace torvic::sim
