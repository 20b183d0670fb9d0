// SPDX-License-Identifier: MIT
// torvic-sim's inputs and outputs: what it refuses before running, and
// the reason it gives when a write fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/cli/sim_run.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;

TEST_F(Scratch, OutputsThatCannotBeWrittenFailWithTheReasonAndBadUsageWritesNothing) {
  // Refused before anything runs.
  for (const std::string &trace : {std::string("''"), dir.string(), std::string("/nonexistent/t.txt")}) {
    const SimRun r = sim("--trace " + trace + " boot", dir);
    EXPECT_EQ(r.status, 2) << trace;
    EXPECT_EQ(r.out, "") << trace;
    EXPECT_THAT(r.err, HasSubstr("torvic-sim: --trace")) << trace;
  }
  EXPECT_EQ(sim("set-mode 0 --png ''", dir).status, 2);
  EXPECT_THAT(sim("--trace-format text boot", dir).err, HasSubstr("give --trace FILE too"));
  // Bad usage leaves an existing file alone.
  write("keep.txt", "kept");
  EXPECT_EQ(sim("--trace keep.txt set-mode 1024x768x24", dir).status, 2);
  std::ifstream kept(dir / "keep.txt");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), "kept");

  // Writes that fail say where and why.
  const SimRun trace = sim("--trace /dev/full boot", dir);
  EXPECT_EQ(trace.status, 3);
  EXPECT_THAT(trace.err, HasSubstr("--trace /dev/full: No space left on device"));
  for (const char *args : {"machine --default", "modes", "--json boot"}) {
    const SimRun r = sim(std::string(args) + " >/dev/full", dir);
    EXPECT_EQ(r.status, 3) << args;
    EXPECT_THAT(r.err, HasSubstr("cannot write the standard output: No space left on device")) << args;
  }
  const SimRun png = sim("set-mode 0 --png /dev/full", dir);
  EXPECT_EQ(png.status, 3);
  EXPECT_THAT(png.err, ::testing::AllOf(HasSubstr("/dev/full"), HasSubstr("No space left on device")));
}

TEST_F(Scratch, OutputsThisUserCannotWriteAreRefusedBeforeAnythingRuns) {
  fs::create_directories(dir / "pictures");
  fs::permissions(dir / "pictures", fs::perms::all);  // whoever the run is as
  ASSERT_EQ(sim_unprivileged("--version", dir).status, 0) << "torvic-sim must run as an ordinary user";
  fs::create_directories(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  write("kept.txt", "kept");
  fs::permissions(dir / "kept.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  write("file", "x");
  const std::pair<std::string, std::string> refused[] = {
      {"boot --trace locked/t.txt", "--trace locked/t.txt: the folder locked: Permission denied"},
      {"--trace kept.txt boot", "--trace kept.txt: Permission denied"},
      {"set-mode 0 --png locked/m.png", "--png locked/m.png: the folder locked: Permission denied"},
      {"demo --out-dir locked", "--out-dir locked: Permission denied"},
      {"demo --out-dir file", "--out-dir file: not a folder"},
      {"demo --out-dir missing", "--out-dir missing: no such folder"},
      {"demo --out-dir file/pictures", "--out-dir file/pictures: no such folder"},
  };
  for (const auto &[args, message] : refused) {
    const SimRun r = sim_unprivileged(args, dir);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args << ": nothing runs";
    EXPECT_THAT(r.err, HasSubstr("torvic-sim: " + message)) << args;
  }
  // The demo writes into the folder it runs in unless told otherwise.
  const SimRun here = sim_unprivileged("", dir / "locked");
  EXPECT_EQ(here.status, 2);
  EXPECT_THAT(here.err, HasSubstr("--out-dir .: Permission denied"));
  EXPECT_EQ(file_text(dir / "kept.txt"), "kept");
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_EQ(sim_unprivileged("demo --out-dir pictures", dir).status, 0);
}

TEST_F(Scratch, InputsMustBeReadableFilesAndAreCheckedBeforeAnythingRuns) {
  const std::string folder = dir.string();
  for (const std::string &args :
       {"--machine " + folder + " boot", "--driver " + folder + " boot", "demo --display framebuf --inf " + folder,
        "script " + folder, "request SET_COLOR_REGISTERS --in @" + folder, "machine --check " + folder}) {
    const SimRun r = sim(args, dir);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_THAT(r.err, HasSubstr(folder + ": is a folder; give a file")) << args;
  }
  const SimRun missing = sim("--machine missing.json boot", dir);
  EXPECT_EQ(missing.status, 2);
  EXPECT_THAT(missing.err, HasSubstr("--machine missing.json: No such file or directory"));
  ASSERT_EQ(sim_unprivileged("--version", dir).status, 0);
  write("secret.json", "{}");
  fs::permissions(dir / "secret.json", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_THAT(sim_unprivileged("--machine secret.json boot", dir).err,
              HasSubstr("--machine secret.json: Permission denied"));

  // Standard input closed, or holding no request, is no script.
  const SimRun closed = sim("script - <&-", dir);
  EXPECT_EQ(closed.status, 2);
  EXPECT_THAT(closed.err, HasSubstr("script - (standard input): standard input is closed"));
  write("comments.txt", "# nothing yet\n\n");
  const SimRun empty = sim("script - < comments.txt", dir);
  EXPECT_EQ(empty.status, 2);
  EXPECT_THAT(empty.err, HasSubstr("holds no request"));
  // A machine file may come from a pipe.
  write("m.json", R"({"boards": [{"slot": 4}]})");
  EXPECT_THAT(sim("--machine /dev/stdin boot < m.json", dir).out, HasSubstr("boards found: 1"));
}


}  // namespace
