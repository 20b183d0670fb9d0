// SPDX-License-Identifier: MIT
// torvic-sim script: requests in turn to one machine, and the lines it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/cli/sim_run.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;

TEST_F(Scratch, ScriptSendsRequestsInTurnToOneMachine) {
  write("mode.bin", std::string("\x19\0\0\0", 4));
  write("s.txt", "# a mode, then the question\n"
                 "SET_CURRENT_MODE --in @mode.bin\n"
                 "\n"
                 "QUERY_CURRENT_MODE   # what is set now\n"
                 "MAP_VIDEO_MEMORY --in 0000000000000000\n"
                 "QUERY_NUM_AVAIL_MODES --board 1\n");
  const SimRun r = sim("--json script s.txt --check-status", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  ASSERT_EQ(j["requests"].size(), 4u);
  EXPECT_EQ(j["requests"][1]["line"], 4);
  EXPECT_EQ(j["requests"][1]["decoded"][0]["mode"], "1024x768x16@60");
  EXPECT_EQ(j["requests"][3]["slot"], 9);
  // The same run shows the same addresses.
  EXPECT_EQ(sim("script s.txt", dir).out, sim("script s.txt", dir).out);
  EXPECT_THAT(sim("script s.txt", dir).out, HasSubstr("line 4: IOCTL_VIDEO_QUERY_CURRENT_MODE (0x230408) on board 0, "
                                                       "slot 3: NO_ERROR, Information 80"));

  write("bad.txt", "SET_CURRENT_MODE --in ff000000\n");
  EXPECT_EQ(sim("script bad.txt", dir).status, 0);
  EXPECT_EQ(sim("script bad.txt --check-status", dir).status, 1);
  EXPECT_EQ(sim("request SET_CURRENT_MODE --in ff000000 --check-status", dir).status, 1);
  write("typo.txt", "QUERY_CURRENT_MODE\nSET_MODE\n");
  const SimRun typo = sim("script typo.txt --trace t.txt", dir);
  EXPECT_EQ(typo.status, 2);
  EXPECT_THAT(typo.err, HasSubstr("typo.txt line 2: request code \"SET_MODE\""));
  EXPECT_EQ(typo.out, "") << "nothing runs when a line is wrong";
  write("option.txt", "QUERY_CURRENT_MODE --board 40\n");
  EXPECT_THAT(sim("script option.txt", dir).err, HasSubstr("option.txt line 1: --board 40: give a number from 0 to 31"));
  EXPECT_EQ(sim("request SET_CURRENT_MODE --in @missing.bin", dir).status, 2);
}


}  // namespace
