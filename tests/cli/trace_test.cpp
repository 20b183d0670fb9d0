// SPDX-License-Identifier: MIT
// torvic-sim's trace: what it records, how it is filtered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

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
  const auto events = trace_events(dir / "t.jsonl");
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
  const auto dac = trace_events(dir / "t.jsonl");
  ASSERT_FALSE(dac.empty());
  for (const auto &e : dac) {
    if (e.contains("phase")) continue;  // the callbacks the kept events happened in
    EXPECT_EQ(e["slot"], 9);
    EXPECT_THAT(e["args"]["dac_register"].get<std::string>(), ::testing::StartsWith("DAC_MCLK_"));
  }
  ASSERT_EQ(sim("--trace t.jsonl --trace-filter board=0,service=Hw*,service=VideoPortInt10 request RESET_DEVICE",
                dir).status, 0);
  std::set<std::string> services;
  for (const auto &e : trace_events(dir / "t.jsonl")) {
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
  const auto events = trace_events(dir / "t.jsonl");
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
    const auto events = trace_events(dir / "t.jsonl");
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
  EXPECT_THAT(trace_events(dir / "t.jsonl"), ::testing::IsEmpty());
  EXPECT_THAT(none.err, HasSubstr("--trace-filter register=NO_SUCH_*,slot=3 matched no event"));
  const SimRun some = sim("--trace t.jsonl --trace-filter register=CONFIG1 boot", dir);
  EXPECT_EQ(some.status, 0);
  EXPECT_EQ(some.err, "");
}


// A trace says what made it: the program, the driver image by path and by
// the SHA-256 of its bytes (as sha256sum gives it), and the machine.
TEST_F(Scratch, TraceBeginsWithWhatMadeIt) {
  std::string version = sim("--version").out;
  version.erase(version.find_last_not_of('\n') + 1);
  ASSERT_EQ(sim("--trace t.jsonl boot", dir).status, 0);
  const json header = json_lines(dir / "t.jsonl").front();
  EXPECT_EQ(header["program"], version);
  EXPECT_EQ(header["machine"], "default machine");
  const std::string driver = header["driver"];
  std::array<char, 65> sum{};
  FILE *pipe = popen(("sha256sum '" + driver + "'").c_str(), "r");  // NOLINT(cert-env33-c): the test's own command
  ASSERT_NE(pipe, nullptr);
  ASSERT_NE(fgets(sum.data(), sum.size(), pipe), nullptr);
  pclose(pipe);
  EXPECT_EQ(header["driver_sha256"], std::string(sum.data()));

  write("m.json", R"({"boards": [{"slot": 4}]})");
  ASSERT_EQ(sim("--machine m.json --trace t.txt --trace-format text boot", dir).status, 0);
  const std::string text = file_text(dir / "t.txt");
  EXPECT_EQ(text.substr(0, text.find('\n')), "# " + version + "  driver " + driver + "  sha256 " +
                                                    header["driver_sha256"].get<std::string>() + "  machine m.json");
}

// request=NAME keeps one request whole: its start-I/O markers and every
// event between them, and nothing of the other requests.
TEST_F(Scratch, RequestFilterKeepsTheWholeSpanOfThatRequest) {
  ASSERT_EQ(sim("--trace all.jsonl set-mode 640x480x8", dir).status, 0);
  ASSERT_EQ(sim("--trace t.jsonl --trace-filter request=SET_CURRENT_MODE set-mode 640x480x8", dir).status, 0);
  std::vector<json> span;
  bool inside = false;
  for (const auto &e : trace_events(dir / "all.jsonl")) {
    inside |= e["service"] == "HwStartIO" && e["args"]["request"] == "IOCTL_VIDEO_SET_CURRENT_MODE";
    if (inside) span.push_back(e);
    if (inside && e["service"] == "HwStartIO" && e["phase"] == "end") break;
  }
  ASSERT_GT(span.size(), 10u);
  EXPECT_EQ(trace_events(dir / "t.jsonl"), span);

  // With another key, only what both allow, still inside its request's markers.
  ASSERT_EQ(sim("--trace t.jsonl --trace-filter request=IOCTL_VIDEO_SET_*,register=CRTC_CONTROL set-mode 640x480x8",
                dir).status, 0);
  const auto crtc = trace_events(dir / "t.jsonl");
  ASSERT_EQ(crtc.size(), 3u);
  EXPECT_EQ(crtc[0]["args"]["request"], "IOCTL_VIDEO_SET_CURRENT_MODE");
  EXPECT_EQ(crtc[1]["register"], "CRTC_CONTROL");
  EXPECT_EQ(crtc[2]["phase"], "end");
}

// A run torvic-sim itself abandons still leaves the trace of everything
// the driver did until then: the trace is written as the run goes.
TEST_F(Scratch, TraceOfAnAbandonedRunKeepsEveryEventUntilThen) {
#ifdef TORVIC_SANITIZED
  GTEST_SKIP() << "the sanitizers keep the signals in this build";
#else
  // The picture is a pipe nobody reads: torvic-sim waits there, after the
  // mode is set, until the signal comes.
  const fs::path picture = dir / "picture.png";
  ASSERT_EQ(mkfifo(picture.c_str(), 0600), 0);
  const std::string command = "cd '" + dir.string() + "' && exec " TORVIC_SIM_RUNNER " '" TORVIC_SIM
                              "' --trace t.jsonl set-mode 640x480x8 --png picture.png >/dev/null 2>err";
  const pid_t pid = start_in_background(command);
  ASSERT_GE(pid, 0);
  // Wait until the last request before the picture, the unmapping, has
  // returned, as far as the trace written so far shows: from then on no
  // driver callback runs, so the signal is torvic-sim's own fault.
  bool unmapped = false;
  for (int tries = 0; !unmapped && tries < 6000; tries++) {
    for (const auto &entry : fs::directory_iterator(dir)) {
      const std::string text = entry.is_regular_file() ? file_text(entry.path()) : "";
      unmapped |= text.find("\"request\":\"IOCTL_VIDEO_UNMAP_VIDEO_MEMORY\",\"status\"") != std::string::npos;
    }
    if (!unmapped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGSEGV);
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(unmapped) << "the trace never showed the memory unmapped";
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 4) << file_text(dir / "err");
  const auto events = trace_events(dir / "t.jsonl");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()["service"], "DriverEntry");
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const json &e) {
    return e["service"] == "HwStartIO" && e["phase"] == "end" && e["args"]["request"] == "IOCTL_VIDEO_SET_CURRENT_MODE";
  }));
  // Nothing is left beside it.
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  EXPECT_THAT(names, ::testing::ElementsAre("err", "picture.png", "t.jsonl"));
#endif
}

TEST_F(Scratch, RequestMarkersCarryTheInputTheDriverWasGiven) {
  write("s.txt", "SET_COLOR_REGISTERS --palette ramp\nMAP_VIDEO_MEMORY\nTORVIC_STALL --in 0a000000\n"
                 "SET_CURRENT_MODE --in 00\n");
  ASSERT_EQ(sim("--trace t.jsonl script s.txt", dir).status, 0);
  std::vector<json> inputs;
  for (const json &e : json_lines(dir / "t.jsonl"))
    if (e.value("service", "") == "HwStartIO" && e.value("phase", "") == "begin")  // past the header
      inputs.push_back(e["args"].value("input", json()));
  ASSERT_EQ(inputs.size(), 4u);
  EXPECT_EQ(inputs[0], json::parse(R"({"NumEntries": 256, "FirstEntry": 0})"));
  EXPECT_EQ(inputs[1], json::parse(R"({"RequestedVirtualAddress": "0x0"})"));
  EXPECT_EQ(inputs[2], json::parse(R"({"microseconds": 10})"));
  EXPECT_TRUE(inputs[3].is_null()) << "one byte is no VIDEO_MODE: only its length is shown";
}

}  // namespace
