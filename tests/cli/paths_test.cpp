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
  write("file", "x");
  const SimRun pictures = sim("demo --out-dir file/pictures", dir);
  EXPECT_EQ(pictures.status, 3);
  EXPECT_THAT(pictures.err, HasSubstr("torvic-sim: --out-dir file/pictures: "));
}


}  // namespace
