// SPDX-License-Identifier: MIT
// torvic-sim on machines whose boards differ: the boards the driver passes
// over, and a machine where it takes none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "tests/cli/sim_run.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(Scratch, DemoNamesTheBoardsOfTheFamilyTheDriverPassedOver) {
  write("m.json", R"({"boards": [{"slot": 1, "variant_code": 12}, {"slot": 3},
      {"slot": 5, "vendor_id": "0x8086", "device_id": "0x1234"}]})");
  const SimRun text = sim("--machine m.json demo", dir);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_THAT(text.out, HasSubstr("\nPassed over by the driver:\n"
                                  "  slot 1: variant code 12 is not one the driver knows (0 to 11)\n\n"));
  EXPECT_THAT(text.out, Not(HasSubstr("slot 5:")));  // not a board of the family
  const SimRun doc = sim("--machine m.json --json demo", dir);
  ASSERT_EQ(doc.status, 0) << doc.err;
  const json passed_over = json::parse(doc.out)["passed_over"];
  ASSERT_EQ(passed_over.size(), 1u);
  EXPECT_TRUE(passed_over[0]["board"].is_null());
  EXPECT_EQ(passed_over[0]["slot"], 1);
  EXPECT_EQ(passed_over[0]["variant_code"], 12);
  EXPECT_EQ(passed_over[0]["reason"], "variant code 12 is not one the driver knows (0 to 11)");

  EXPECT_THAT(sim("demo", dir).out, Not(HasSubstr("Passed over")));
  EXPECT_EQ(json::parse(sim("--json demo", dir).out)["passed_over"], json::array());
}

TEST_F(Scratch, CommandsThatNeedABoardEndWithStatusOneWhenTheDriverTakesNone) {
  const std::string registers_too_small = R"({"boards": [{"slot": 2, "bars": [
      {"size": "0x2000000"}, {"size": "0x2000000"}, {"size": "0x10000"}, {"size": "0x10000"},
      {"size": "0x1000"}, {"io": true, "size": "0x100"}, null]}]})";
  const std::pair<std::string, std::string> machines[] = {
      {R"({"boards": [{"slot": 1, "variant_code": 12}]})",
       "; it passed over:\n  slot 1: variant code 12 is not one the driver knows (0 to 11)\n"},
      {registers_too_small,
       "; it passed over:\n  slot 2: BAR4 cannot hold the register block (0x6014 bytes of memory space)\n"},
      {R"({"boards": []})", ": it holds no board of the family\n"}};
  for (const auto &[machine, why] : machines) {
    write("m.json", machine);
    for (const char *command : {"demo", "demo --display framebuf", "modes", "modes --board 0",
                                "set-mode 640x480x8", "request QUERY_NUM_AVAIL_MODES"}) {
      const SimRun r = sim(std::string("--machine m.json ") + command, dir);
      EXPECT_EQ(r.status, 1) << command << " on " << machine;
      EXPECT_EQ(r.err, "torvic-sim: the driver found no usable board on this machine" + why) << command;
    }
    // The demo's document says what it found, and the trace shows the boot.
    const SimRun doc = sim("--machine m.json --json demo --trace t.json", dir);
    EXPECT_EQ(doc.status, 1);
    const json j = json::parse(doc.out);
    EXPECT_EQ(j["boards"], json::array());
    EXPECT_THAT(j["error"]["message"].get<std::string>(), HasSubstr("no usable board"));
    EXPECT_FALSE(json_lines(dir / "t.json").empty()) << machine;
    fs::remove(dir / "t.json");

    // Saying why each board was passed over is boot's job, done.
    const SimRun boot = sim("--machine m.json boot", dir);
    EXPECT_EQ(boot.status, 0) << boot.err;
    EXPECT_THAT(boot.out, HasSubstr("\nThe driver found no usable board on this machine.\n"));
  }
}

}  // namespace
