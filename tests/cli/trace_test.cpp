// SPDX-License-Identifier: MIT
// torvic-sim's trace: what it records, how it is filtered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
                        "IOCTL_VIDEO_SET_CURRENT_MODE  input_length 4  output_length 0\n"));
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
    if (e.contains("phase")) continue;  // the callbacks the kept events happened in
    EXPECT_EQ(e["slot"], 9);
    EXPECT_THAT(e["args"]["dac_register"].get<std::string>(), ::testing::StartsWith("DAC_MCLK_"));
  }
  ASSERT_EQ(sim("--trace t.jsonl --trace-filter board=0,service=Hw*,service=VideoPortInt10 request RESET_DEVICE",
                dir).status, 0);
  std::set<std::string> services;
  for (const auto &e : json_lines(dir / "t.jsonl")) {
    // Only the markers of DriverEntry and a find-adapter call's begin name no board.
    if (e.contains("slot")) {
      EXPECT_EQ(e["slot"], 3);
    } else {
      EXPECT_TRUE(e.contains("phase")) << e.dump();
    }
    services.insert(e["service"]);
  }
  EXPECT_THAT(services, ::testing::ElementsAre("DriverEntry", "HwFindAdapter", "HwInitialize", "HwStartIO",
                                               "VideoPortInt10"));
  for (const char *bad : {"colour=red", "slot=32", "slot", "board=x"}) {
    const SimRun r = sim(std::string("--trace t.jsonl --trace-filter ") + bad, dir);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_THAT(r.err, HasSubstr("--trace-filter")) << bad;
  }
  EXPECT_EQ(sim("--trace-filter slot=3 boot", dir).status, 2);
}

// Narrowed to one board, the trace still shows the callbacks that programmed
// it and every stall made while programming it, even when another board's
// callback did the programming: the reset callback walks every board.
TEST_F(Scratch, SlotFilterKeepsTheCallbackAndTheStallsOfProgrammingThatBoard) {
  ASSERT_EQ(sim("--trace t.jsonl --trace-filter slot=9", dir).status, 0);
  const auto events = json_lines(dir / "t.jsonl");
  std::vector<std::string> reset_of_board_0;
  bool inside = false;
  for (const auto &e : events) {
    const std::string phase = e.value("phase", "");
    if (e["service"] == "HwResetHw" && phase == "begin" && e["args"]["board"] == 0) inside = true;
    if (!inside) continue;
    if (phase.empty() && e["service"] != "VideoPortStallExecution") continue;
    reset_of_board_0.push_back(phase + " " + e["service"].get<std::string>() + " " +
                               std::to_string(e.value("slot", -1)));
    if (phase == "end") break;
  }
  EXPECT_THAT(reset_of_board_0,
              ::testing::ElementsAre("begin HwResetHw 3", " VideoPortStallExecution 9",
                                     " VideoPortStallExecution 9", "end HwResetHw 3"));
  // The zeroing in a request to the board is the board's too.
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const json &e) {
    return e["service"] == "VideoPortZeroMemory" && e["slot"] == 9 && e["time_us"] == 10000;
  }));
}

// Whatever a filter keeps, a callback's begin and end markers come in
// pairs, properly nested, so that a reader can always tell which request
// an event belongs to.
TEST_F(Scratch, FilteredTraceKeepsCallbackMarkersInPairs) {
  for (const char *filter : {"slot=3", "slot=9", "board=1", "register=DAC_MCLK_*", "service=VideoPortInt10",
                             "service=HwFindAdapter", "service=VideoPortStallExecution"}) {
    ASSERT_EQ(sim(std::string("--trace t.jsonl --trace-filter ") + filter, dir).status, 0) << filter;
    const auto events = json_lines(dir / "t.jsonl");
    EXPECT_FALSE(events.empty()) << filter;
    std::vector<std::string> open;
    for (const auto &e : events) {
      const std::string phase = e.value("phase", ""), service = e["service"];
      if (phase == "begin") open.push_back(service);
      if (phase != "end") continue;
      ASSERT_FALSE(open.empty()) << filter << ": " << service << " ends without its begin";
      EXPECT_EQ(open.back(), service) << filter;
      open.pop_back();
    }
    EXPECT_THAT(open, ::testing::IsEmpty()) << filter << ": begun and never ended";
  }
}

// An empty trace file alone does not say whether the filter or the run
// was wrong: the run succeeded, and a warning names the filter.
TEST_F(Scratch, FilterThatMatchesNothingWarnsButTheRunSucceeds) {
  const SimRun none = sim("--trace t.jsonl --trace-filter register=NO_SUCH_*,slot=3 boot", dir);
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(file_text(dir / "t.jsonl"), "");
  EXPECT_THAT(none.err, HasSubstr("--trace-filter register=NO_SUCH_*,slot=3 matched no event"));
  const SimRun some = sim("--trace t.jsonl --trace-filter register=CONFIG1 boot", dir);
  EXPECT_EQ(some.status, 0);
  EXPECT_EQ(some.err, "");
}


}  // namespace
