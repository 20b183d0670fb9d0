// SPDX-License-Identifier: MIT
// torvic-sim demo --display framebuf: the boards set up from each form of
// install file, as NT 4.0 and as Windows 2000 install them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <utility>

#include "tests/cli/sim_run.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;

// The install file as the floppy carries it, with other DefaultSettings.
std::string install_file_with(const std::string &bpp, const std::string &x, const std::string &y) {
  std::ifstream in(std::string(TORVIC_SOURCE_DIR) + "/nt/torvic.inf");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const auto &[name, value] : {std::pair<std::string, std::string>{"BitsPerPel", bpp},
                                    {"XResolution", x}, {"YResolution", y}}) {
    const std::regex line("(DefaultSettings\\." + name + ", +%REG_DWORD%, +)[0-9]+");
    text = std::regex_replace(text, line, "$1 " + value);
  }
  return text;
}

TEST_F(Scratch, DemoWithFramebufSetsEachBoardUpFromTheInstallFile) {
  const SimRun r = sim("demo --display framebuf", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("board 0, slot 3: torvic.inf installs \"Torvic Morvane (Calvorn, IBM RGB526, "
                               "video RAM)\" for PCI\\VEN_1F3A&DEV_4B21&SUBSYS_00001F3A"));
  EXPECT_THAT(r.out, HasSubstr("board 1, slot 9: torvic.inf installs \"Torvic Morvane (Calvorn, IBM RGB528, "
                               "video RAM)\" for PCI\\VEN_1F3A&DEV_4B21&SUBSYS_000A1F3A"));
  EXPECT_THAT(r.out, HasSubstr("DefaultSettings 1024x768x16@60: mode 25 (1024x768x16@60)"));
  EXPECT_THAT(r.out, HasSubstr("monitor while enabled: 1024 x 768 at 16 bpp"));
  EXPECT_THAT(r.out, HasSubstr("monitor after the reset: VGA text mode 3"));
  EXPECT_TRUE(fs::exists(dir / "torvic-slot3.png"));
  EXPECT_TRUE(fs::exists(dir / "torvic-slot9.png"));

  write("eight.inf", install_file_with("8", "800", "600"));
  const SimRun json_run = sim("--json demo --display framebuf --inf eight.inf", dir);
  ASSERT_EQ(json_run.status, 0) << json_run.err;
  const json j = json::parse(json_run.out);
  ASSERT_EQ(j["sessions"].size(), 2u);
  const json &first = j["sessions"][0];
  EXPECT_EQ(first["install"]["file"], "eight.inf");
  EXPECT_EQ(first["mode"]["mode"], "800x600x8@60");
  EXPECT_EQ(first["monitor"]["width"], 800);
  EXPECT_TRUE(first["error"].is_null());
  std::vector<std::string> requests;
  for (const auto &step : first["requests"]) {
    requests.push_back(step["request"]);
    EXPECT_EQ(step["status"], "NO_ERROR");
  }
  EXPECT_THAT(requests, ::testing::ElementsAre("QUERY_NUM_AVAIL_MODES", "QUERY_AVAIL_MODES", "SET_CURRENT_MODE",
                                               "MAP_VIDEO_MEMORY", "SET_COLOR_REGISTERS", "SET_COLOR_REGISTERS",
                                               "UNMAP_VIDEO_MEMORY", "RESET_DEVICE"));
}

TEST_F(Scratch, DemoWithFramebufSaysWhatAnInstallFileCannotDo) {
  write("huge.inf", install_file_with("32", "1920", "1080"));
  write("two-mib.json", R"({"boards": [{"slot": 3, "memory_mib": 2}]})");
  const SimRun no_mode = sim("--machine two-mib.json demo --display framebuf --inf huge.inf", dir);
  EXPECT_EQ(no_mode.status, 1);
  EXPECT_THAT(no_mode.out, HasSubstr("failed: no mode the driver offers matches DefaultSettings 1920x1080x32@60; "
                                     "NT would start the VGA driver instead"));
  EXPECT_THAT(no_mode.out, ::testing::Not(HasSubstr("after the reset"))) << "no mode was set, nor reset";

  write("broken.inf", "[Version]\nSignature = \"$Windows NT$\nname = %nowhere%\n");
  const SimRun broken = sim("demo --display framebuf --inf broken.inf", dir);
  EXPECT_EQ(broken.status, 2);
  EXPECT_THAT(broken.err, HasSubstr("--inf broken.inf: not a well-formed install file:\n"
                                    "  line 2: a quoted string is not closed"));
  EXPECT_THAT(broken.err, HasSubstr("line 3: %nowhere% is not defined in [Strings]"));

  EXPECT_EQ(sim("demo --display framebuf --inf missing.inf", dir).status, 2);
  EXPECT_EQ(sim("demo --inf huge.inf", dir).status, 2);
  EXPECT_EQ(sim("demo --display vesa", dir).status, 2);
}

TEST_F(Scratch, DemoWithFramebufPlaysNt4WhereOnlyTheFirstBoardFoundIsTheDesktop) {
  // A DRAM board found first, an RGB528 board behind it; the user picks the
  // RGB528 option, which still sets up the first board found.
  write("mixed.json", R"({"boards": [{"slot": 2, "variant_code": 8, "memory_mib": 2},
                                      {"slot": 5, "variant_code": 10, "memory_mib": 8}]})");
  const std::string oem = "--inf " TORVIC_SOURCE_DIR "/nt/oemsetup.inf";
  const SimRun r = sim("--machine mixed.json demo --display framebuf --option 2 " + oem, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("an NT 4.0 Display-applet file of 3 option(s)"));
  EXPECT_THAT(r.out, HasSubstr("* 2: Torvic Morvane (Calvorn, IBM RGB528, video RAM)"));
  EXPECT_THAT(r.out, HasSubstr("board 0, slot 2, \\Device\\Video0: "));
  EXPECT_THAT(r.out, HasSubstr("(option 2); this board is the desktop"));
  EXPECT_THAT(r.out, HasSubstr("board 1, slot 5, \\Device\\Video1: found and initialised by the driver; NT 4.0 "
                               "drives one display"));
  EXPECT_TRUE(fs::exists(dir / "torvic-slot2.png"));
  EXPECT_FALSE(fs::exists(dir / "torvic-slot5.png"));

  const json j = json::parse(sim("--json --machine mixed.json demo --display framebuf " + oem, dir).out);
  EXPECT_EQ(j["form"], "NT 4.0 Display applet");
  ASSERT_EQ(j["sessions"].size(), 2u);
  EXPECT_EQ(j["sessions"][0]["install"]["option"], 1) << "the first option unless the user picks";
  EXPECT_EQ(j["sessions"][0]["desktop"], true);
  EXPECT_EQ(j["sessions"][0]["mode"]["mode"], "1024x768x16@60");
  EXPECT_EQ(j["sessions"][1]["desktop"], false);
  EXPECT_EQ(j["sessions"][1]["slot"], 5);
  EXPECT_FALSE(j["sessions"][1].contains("requests")) << "no display driver talks to it";

  // An option the file lacks, or one for a file that has none, is refused first.
  const SimRun beyond = sim("demo --display framebuf --option 4 " + oem, dir);
  EXPECT_EQ(beyond.status, 2);
  EXPECT_EQ(beyond.out, "");
  EXPECT_THAT(beyond.err, HasSubstr("offers 3 option(s):\n  1: Torvic Morvane"));
  EXPECT_THAT(sim("demo --display framebuf --option 1", dir).err, HasSubstr("is of the Plug and Play form"));
  EXPECT_EQ(sim("demo --option 1", dir).status, 2);
}

}  // namespace
