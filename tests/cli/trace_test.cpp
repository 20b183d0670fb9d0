// SPDX-License-Identifier: MIT
// torvic-sim's trace: what it records, how it is filtered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/cli/sim_run.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;

TEST_F(Scratch, TraceShowsWhichRequestCausedWhichWritesAsAnEmulatorWriterNeedsThem) {
  ASSERT_EQ(sim("set-mode 1024x768x8 --trace t.txt --trace-format text", dir).status, 0);
  const std::string text = file_text(dir / "t.txt");
  // Markers around every callback and request, with lengths, status and Information.
  EXPECT_THAT(text, ::testing::ContainsRegex(
                        "#[0-9]+ +[0-9]+ us  slot 3  >> HwStartIO  board 0  request "
                        "IOCTL_VIDEO_SET_CURRENT_MODE  input_length 4  output_length 0  input "
                        "\\{\"RequestedMode\":24\\}\n"));
  EXPECT_THAT(text, ::testing::ContainsRegex("<< HwStartIO  request IOCTL_VIDEO_SET_CURRENT_MODE  status "
                                             "NO_ERROR  information null\n"));
  EXPECT_THAT(text, HasSubstr(">> DriverEntry"));
  EXPECT_THAT(text, HasSubstr("<< HwInitialize  returned TRUE"));
  // The DAC's indexed registers by name; stalls with their length, board and count.
  EXPECT_THAT(text, ::testing::ContainsRegex("slot 3  VideoPortWriteRegisterUchar +reg\\+0x18 +DAC_INDEX_DATA +"
                                             "<- 0x6  \\(DAC 0x15 DAC_MCLK_REF_DIV\\)"));
  EXPECT_THAT(text, ::testing::ContainsRegex("slot 3  VideoPortStallExecution +50 us \\(x 50\\)"));
  EXPECT_THAT(text, ::testing::ContainsRegex("slot 3  VideoPortReadPortUlong +io\\+0x18 +CONFIG1 +-> 0x400"));

  ASSERT_EQ(sim("request RESET_DEVICE --trace t.jsonl", dir).status, 0);
  const auto events = json_lines(dir / "t.jsonl");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()["service"], "DriverEntry");
  EXPECT_EQ(events.front()["phase"], "begin");
  bool registry = false, bios = false;
  for (const auto &e : events) {
    EXPECT_FALSE(e.contains("detail")) << e.dump() << ": fields, not words";
    if (e["service"] == "VideoPortSetRegistryParameters" && e["slot"] == 3 &&
        e["args"]["name"] == "HardwareInformation.MemorySize") {
      registry = true;
      EXPECT_EQ(e["args"]["type"], "REG_DWORD");
      EXPECT_EQ(e["args"]["data"], 0x400000);
    }
    if (e["service"] == "VideoPortInt10") {
      bios = true;
      EXPECT_EQ(e["args"]["eax"], "0x3");
      EXPECT_EQ(e["args"]["ebx"], "0x0");
    }
  }
  EXPECT_TRUE(registry);
  EXPECT_TRUE(bios);
}

TEST_F(Scratch, TraceFilterNarrowsTheTraceByBoardSlotServiceAndRegister) {
  ASSERT_EQ(sim("--trace t.jsonl --trace-filter slot=9,register=DAC_MCLK_*", dir).status, 0);
  const auto dac = json_lines(dir / "t.jsonl");
  ASSERT_FALSE(dac.empty());
  for (const auto &e : dac) {
    EXPECT_EQ(e["slot"], 9);
    EXPECT_THAT(e["args"]["dac_register"].get<std::string>(), ::testing::StartsWith("DAC_MCLK_"));
  }
  ASSERT_EQ(sim("--trace t.jsonl --trace-filter board=0,service=Hw*,service=VideoPortInt10 request RESET_DEVICE",
                dir).status, 0);
  std::set<std::string> services;
  for (const auto &e : json_lines(dir / "t.jsonl")) {
    EXPECT_EQ(e["slot"], 3);
    services.insert(e["service"]);
  }
  EXPECT_THAT(services, ::testing::ElementsAre("HwFindAdapter", "HwInitialize", "HwStartIO", "VideoPortInt10"));
  for (const char *bad : {"colour=red", "slot=32", "slot", "board=x"}) {
    const SimRun r = sim(std::string("--trace t.jsonl --trace-filter ") + bad, dir);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_THAT(r.err, HasSubstr("--trace-filter")) << bad;
  }
  EXPECT_EQ(sim("--trace-filter slot=3 boot", dir).status, 2);
}


TEST_F(Scratch, RequestMarkersCarryTheInputTheDriverWasGiven) {
  write("s.txt", "SET_COLOR_REGISTERS --palette ramp\nMAP_VIDEO_MEMORY\nTORVIC_STALL --in 0a000000\n"
                 "SET_CURRENT_MODE --in 00\n");
  ASSERT_EQ(sim("--trace t.jsonl script s.txt", dir).status, 0);
  std::vector<json> inputs;
  for (const json &e : json_lines(dir / "t.jsonl"))
    if (e["service"] == "HwStartIO" && e["phase"] == "begin") inputs.push_back(e["args"].value("input", json()));
  ASSERT_EQ(inputs.size(), 4u);
  EXPECT_EQ(inputs[0], json::parse(R"({"NumEntries": 256, "FirstEntry": 0})"));
  EXPECT_EQ(inputs[1], json::parse(R"({"RequestedVirtualAddress": "0x0"})"));
  EXPECT_EQ(inputs[2], json::parse(R"({"microseconds": 10})"));
  EXPECT_TRUE(inputs[3].is_null()) << "one byte is no VIDEO_MODE: only its length is shown";
}

}  // namespace
