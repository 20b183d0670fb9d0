// SPDX-License-Identifier: MIT
// torvic-sim on machines whose boards differ: the boards the driver passes
// over.
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

}  // namespace
