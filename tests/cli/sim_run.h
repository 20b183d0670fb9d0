// SPDX-License-Identifier: MIT
// Running torvic-sim as a user does, for the command-line tests: the
// program's output and exit status, a scratch folder, and what it wrote.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace torvic::cli_test {

namespace fs = std::filesystem;
using nlohmann::json;

struct SimRun {
  int status = -1;
  std::string out, err;
};

// Runs torvic-sim with the arguments (shell words) in dir; `as` comes before
// the program on the command line (a change of user, say).
inline SimRun sim_as(const std::string &as, const std::string &args, const fs::path &dir) {
  // Tests run side by side: each run keeps its error output in a file of its own.
  std::string err_template = (fs::temp_directory_path() / "torvic-cli-stderr-XXXXXX").string();
  const int fd = mkstemp(err_template.data());
  if (fd >= 0) close(fd);
  const fs::path err_file = err_template;
  const std::string command = "cd '" + dir.string() + "' && " + as + " " TORVIC_SIM_RUNNER " '" TORVIC_SIM
                              "' " + args + " 2>'" + err_file.string() + "'";
  SimRun r;
  FILE *pipe = popen(command.c_str(), "r");  // NOLINT(cert-env33-c): the shell runs it as a user would
  if (!pipe) {
    ADD_FAILURE() << "cannot run torvic-sim " << args.substr(0, 80);
    return r;
  }
  std::array<char, 4096> buffer{};
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
  const int raw = pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream err(err_file);
  r.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  fs::remove(err_file);
  return r;
}

inline SimRun sim(const std::string &args, const fs::path &dir = fs::temp_directory_path()) {
  return sim_as("", args, dir);
}

// Runs torvic-sim as a user without special rights, so that file permissions
// hold for it: as is, or, when the tests run as root, as the user nobody.
inline SimRun sim_unprivileged(const std::string &args, const fs::path &dir) {
  return sim_as(geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "", args, dir);
}

// Starts a shell command that runs torvic-sim and returns at once with its
// process id (-1 when it cannot), for tests that signal the run midway.
inline pid_t start_in_background(const std::string &command) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    // The same test may run twice at once (against each driver image).
    dir = fs::temp_directory_path() /
          ("torvic-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
           "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path write(const std::string &name, const std::string &text) {
    std::ofstream(dir / name) << text;
    return dir / name;
  }
  fs::path dir;
};

struct Png {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  std::array<uint8_t, 3> at(uint32_t x, uint32_t y) const {
    const size_t i = (size_t(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

inline Png read_png(const fs::path &path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Png p;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
  image.format = PNG_FORMAT_RGB;
  p.width = image.width;
  p.height = image.height;
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) p = Png{};
  return p;
}

using Rgb = std::array<uint8_t, 3>;

inline std::string file_text(const fs::path &path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<json> json_lines(const fs::path &path) {
  std::vector<json> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

// The events of a JSON trace: every line after its header.
inline std::vector<json> trace_events(const fs::path &path) {
  std::vector<json> lines = json_lines(path);
  EXPECT_TRUE(!lines.empty() && lines.front().contains("program")) << path << " begins without its header";
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

}  // namespace torvic::cli_test
