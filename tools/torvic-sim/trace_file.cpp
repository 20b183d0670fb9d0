// SPDX-License-Identifier: MIT
#include "trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "commands.h"

namespace torvic::sim {

namespace {

// The temporary file being written and the name it takes, for the
// last-resort handlers, which may allocate nothing.
char g_temporary[4096];
char g_target[4096];

void remember_for_failed_run(const std::string &temporary, const std::string &target) {
  g_temporary[0] = g_target[0] = '\0';
  if (temporary.size() >= sizeof g_temporary || target.size() >= sizeof g_target) return;
  memcpy(g_target, target.c_str(), target.size() + 1);
  memcpy(g_temporary, temporary.c_str(), temporary.size() + 1);
}

bool written_in_place(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace

TraceFile::TraceFile(const std::string &path) : path_(path) {
  if (!written_in_place(path)) {
    const std::filesystem::path p(path);
    temporary_ = (p.parent_path() / ("." + p.filename().string() + ".torvic-sim-" + std::to_string(getpid())))
                     .string();
  }
  const std::string &opened = temporary_.empty() ? path_ : temporary_;
  fd_ = open(opened.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw OutputError("--trace " + path_ + ": " + strerror(errno));
  if (!temporary_.empty()) remember_for_failed_run(temporary_, path_);
}

TraceFile::~TraceFile() {
  if (fd_ >= 0) discard();
}

void TraceFile::write_line(const std::string &line) {
  if (fd_ < 0 || error_ != 0) return;
  const std::string text = line + '\n';
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : ENOSPC;
      return;
    }
    done += size_t(n);
  }
}

std::string TraceFile::keep() {
  if (fd_ < 0) return {};
  if (close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  remember_for_failed_run("", "");
  if (!temporary_.empty() && rename(temporary_.c_str(), path_.c_str()) != 0 && error_ == 0) error_ = errno;
  if (error_ == 0) return {};
  if (!temporary_.empty()) unlink(temporary_.c_str());
  return "--trace " + path_ + ": " + strerror(error_);
}

void TraceFile::discard() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  remember_for_failed_run("", "");
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

void keep_trace_of_failed_run() {
  if (g_temporary[0] != '\0') (void)rename(g_temporary, g_target);
}

}  // namespace torvic::sim
