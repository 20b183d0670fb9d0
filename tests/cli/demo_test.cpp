// SPDX-License-Identifier: MIT
// torvic-sim on machines whose boards differ: the modes the demo lists for
// each board, the boards the driver passes over, a machine where it takes
// none, and the PCI state boot shows before and after the driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/cli/sim_run.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;
using ::testing::Not;

// The modes a list of the demo's text offers, read back as
// WIDTHxHEIGHTxBPP@HZ: every depth of a line at every rate given with it.
std::set<std::string> modes_listed_under(const std::string &out, const std::string &heading) {
  std::set<std::string> modes;
  const size_t at = out.find(heading + "\n");
  if (at == std::string::npos) {
    ADD_FAILURE() << "no list headed \"" << heading << "\" in:\n" << out;
    return modes;
  }
  static const std::regex line_form(R"( +(\d+x\d+) +(.*))");
  static const std::regex part_form(R"(([\d ]+) bpp at ([\d ]+) Hz)");
  std::istringstream lines(out.substr(at + heading.size() + 1));
  std::smatch line;
  for (std::string text; std::getline(lines, text) && std::regex_match(text, line, line_form);) {
    const std::string size = line[1], parts = line[2];
    for (std::sregex_iterator part(parts.begin(), parts.end(), part_form), end; part != end; ++part) {
      std::istringstream depths((*part)[1].str());
      for (std::string bpp; depths >> bpp;) {
        std::istringstream rates((*part)[2].str());
        for (std::string hz; rates >> hz;) modes.insert(size + "x" + bpp + "@" + hz);
      }
    }
  }
  return modes;
}

std::set<std::string> as_set(const json &labels) { return {labels.begin(), labels.end()}; }

TEST_F(Scratch, DemoListsForEachBoardExactlyTheModesItCanSet) {
  struct Case {
    const char *machine;
    std::vector<int> slots;
    std::vector<size_t> counts;
    std::vector<std::string> headings;
  };
  const Case cases[] = {
      // One list serves boards that offer the same modes.
      {"", {3, 9}, {69, 69}, {"Modes offered to every board (69):", "Modes offered to every board (69):"}},
      // An 8 MiB video-RAM board and a 2 MiB DRAM board, in either order.
      {R"({"boards":[{"slot":2,"variant_code":10,"memory_mib":8},{"slot":5,"variant_code":8,"memory_mib":2}]})",
       {2, 5},
       {79, 49},
       {"Modes offered to board 0, slot 2 (79):", "Modes offered to board 1, slot 5 (49):"}},
      {R"({"boards":[{"slot":2,"variant_code":8,"memory_mib":2},{"slot":5,"variant_code":10,"memory_mib":8}]})",
       {2, 5},
       {49, 79},
       {"Modes offered to board 0, slot 2 (49):", "Modes offered to board 1, slot 5 (79):"}},
      // The video-RAM table fits the smaller of its boards: both offer it.
      {R"({"boards":[{"slot":2},{"slot":5,"variant_code":8,"memory_mib":2},{"slot":7,"variant_code":10,"memory_mib":8}]})",
       {2, 5, 7},
       {69, 49, 69},
       {"Modes offered to boards 0 and 2, slots 2 and 7 (69):", "Modes offered to board 1, slot 5 (49):",
        "Modes offered to boards 0 and 2, slots 2 and 7 (69):"}},
  };
  for (const Case &c : cases) {
    const std::string machine = *c.machine ? "--machine " + write("m.json", c.machine).string() + " " : "";
    const SimRun text = sim(machine + "demo", dir);
    ASSERT_EQ(text.status, 0) << text.err;
    const SimRun doc = sim(machine + "--json demo", dir);
    ASSERT_EQ(doc.status, 0) << doc.err;
    const json modes = json::parse(doc.out)["modes"];
    ASSERT_EQ(modes.size(), c.slots.size()) << c.machine;
    for (size_t board = 0; board < c.slots.size(); board++) {
      EXPECT_EQ(modes[board]["board"], board) << c.machine;
      EXPECT_EQ(modes[board]["slot"], c.slots[board]) << c.machine;
      EXPECT_EQ(modes[board]["modes"].size(), c.counts[board]) << c.machine;
      // Every depth and rate a line names together can be set, and every
      // mode the board offers is on its list.
      EXPECT_EQ(modes_listed_under(text.out, c.headings[board]), as_set(modes[board]["modes"]))
          << c.machine << " board " << board;
    }
  }
  // 83 Hz is offered at 8 bpp only: the list says so.
  EXPECT_THAT(sim("demo", dir).out, HasSubstr("  1600x1200  8 bpp at 60 70 75 80 83 Hz; 16 bpp at 60 70 75 80 Hz\n"));
}

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
      {R"({"boards": []})", ": it holds no board of the family\n"},
      // A configuration record shorter than any build's own: refused before any slot is read.
      {R"({"boards": [{"slot": 4}], "config_info_length": 16})",
       "; it passed over:\n  slot 4: HwFindAdapter returned ERROR_INVALID_PARAMETER before looking at any slot "
       "(the video port's configuration record is 16 bytes)\n"}};
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

TEST_F(Scratch, BootShowsTheCommandRegisterAndExpansionRomAtPowerOnAndAfterTheDriver) {
  const std::string bars = R"("bars": [{"prefetchable": true, "size": "0x2000000"}, {"size": "0x2000000"},
      {"size": "0x10000"}, {"size": "0x10000"}, {"size": "0x10000"}, {"io": true, "size": "0x100"})";
  write("m.json", R"({"boards": [
      {"slot": 1, "variant_code": 12, "command": "0x4", )" + bars + R"(, {"size": "0x10000", "enabled": true}]},
      {"slot": 3, )" + bars + R"(, {"size": "0x10000", "address": "0xCC030000", "enabled": true}]},
      {"slot": 5, )" + bars + R"(, null]}]})");
  const SimRun text = sim("--machine m.json boot", dir);
  ASSERT_EQ(text.status, 0) << text.err;
  // Passed over: left as found, the ROM enabled but not answering.
  EXPECT_THAT(text.out, HasSubstr("  command        found 0x4     I/O off, memory off, bus master on\n"
                                  "                 now   0x4     I/O off, memory off, bus master on\n"
                                  "  expansion ROM  found enabled, not decoded: memory decoding is off\n"
                                  "                 now   enabled, not decoded: memory decoding is off\n"));
  // Taken from a board the firmware left off: the driver turns decoding on,
  // and with it the ROM the firmware had enabled.
  EXPECT_THAT(text.out, HasSubstr("  command        found 0x0     I/O off, memory off, bus master off\n"
                                  "                 now   0x3     I/O on, memory on, bus master off\n"
                                  "  expansion ROM  found enabled, not decoded: memory decoding is off\n"
                                  "                 now   enabled, decoded at 0xCC030000\n"));
  EXPECT_THAT(text.out, HasSubstr("                 now   0x3     I/O on, memory on, bus master off\n"
                                  "  expansion ROM  not implemented\n"));

  const SimRun doc = sim("--machine m.json --json boot", dir);
  ASSERT_EQ(doc.status, 0) << doc.err;
  const json slots = json::parse(doc.out)["slots"];
  ASSERT_EQ(slots.size(), 3u);
  EXPECT_EQ(slots[0]["command"]["found"],
            (json{{"value", "0x4"}, {"io_decoding", false}, {"memory_decoding", false}, {"bus_master", true}}));
  EXPECT_EQ(slots[0]["rom"]["programmed"], (json{{"enabled", true}, {"decoded_at", nullptr}}));
  EXPECT_EQ(slots[1]["rom"]["programmed"]["decoded_at"], "0xCC030000");
  EXPECT_EQ(slots[2]["command"]["programmed"]["value"], "0x3");
  EXPECT_TRUE(slots[2]["rom"].is_null());
}

}  // namespace
