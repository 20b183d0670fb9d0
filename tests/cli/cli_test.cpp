// SPDX-License-Identifier: MIT
// torvic-sim as a person uses it: each subcommand's output and exit status,
// its JSON output read back, the pictures it writes, and bad input.
// Why this file is long: every subcommand is run the one way a user runs it,
// through the helpers of sim_run.h. The trace, scripts and the program's
// inputs and outputs have files of their own beside this one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "platform/video_port_interface.h"
#include "tests/documented_block.h"

#include "tests/cli/sim_run.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;

TEST_F(Scratch, DemoShowsBoardsModesPicturesAndTheReturnToText) {
  const SimRun r = sim("", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("board 0: slot 3, variant code 0 (RGB526 video-RAM board)"));
  EXPECT_THAT(r.out, HasSubstr("board 1: slot 9, variant code 10 (RGB528 video-RAM board)"));
  EXPECT_THAT(r.out, HasSubstr("HardwareInformation.DacType = \"IBM RGB528\""));
  EXPECT_THAT(r.out, HasSubstr("Modes offered to every board (69)"));
  EXPECT_THAT(r.out, HasSubstr("monitor: 1024 x 768 at 8 bpp, total 1344 x 806, pixel clock 65.035 MHz, "
                               "48.39 kHz, 60.04 Hz"));
  // NT's own text-mode call after the reset reaches only the primary display.
  EXPECT_THAT(r.out, HasSubstr("Reset: every board let go of the display; the primary display "
                               "(slot 3) is back in VGA text mode"));
  EXPECT_THAT(r.out, HasSubstr("board 0: VGA text mode 3"));
  EXPECT_THAT(r.out, HasSubstr("board 1: VGA (the board's CRT controller does not drive the display)"));

  // 1024x768 at 8 bpp through the palette: colour bars over a grey ramp.
  const Png first = read_png(dir / "torvic-slot3.png");
  ASSERT_EQ(first.width, 1024u);
  ASSERT_EQ(first.height, 768u);
  EXPECT_EQ(first.at(10, 10), (Rgb{255, 255, 255}));   // white bar
  EXPECT_EQ(first.at(200, 100), (Rgb{255, 255, 0}));   // yellow
  EXPECT_EQ(first.at(700, 300), (Rgb{255, 0, 0}));     // red
  EXPECT_EQ(first.at(1000, 500), (Rgb{0, 0, 0}));      // black
  EXPECT_EQ(first.at(0, 767), (Rgb{0, 0, 0}));         // the ramp starts black
  EXPECT_EQ(first.at(1023, 767), (Rgb{255, 255, 255}));  // and ends white

  // 1152x864 at 32 bpp: red across, green down, blue fixed.
  const Png second = read_png(dir / "torvic-slot9.png");
  ASSERT_EQ(second.width, 1152u);
  ASSERT_EQ(second.height, 864u);
  EXPECT_EQ(second.at(0, 0), (Rgb{0, 0, 128}));
  EXPECT_EQ(second.at(1151, 0), (Rgb{255, 0, 128}));
  EXPECT_EQ(second.at(0, 863), (Rgb{0, 255, 128}));
  EXPECT_EQ(second.at(1151, 863), (Rgb{255, 255, 128}));
}

TEST_F(Scratch, OutDirServesTheDemoWithOrWithoutItsName) {
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  ASSERT_EQ(sim("--out-dir a", dir).status, 0);
  ASSERT_EQ(sim("demo --out-dir b", dir).status, 0);
  EXPECT_TRUE(fs::exists(dir / "a" / "torvic-slot3.png"));
  EXPECT_TRUE(fs::exists(dir / "b" / "torvic-slot9.png"));
}

TEST_F(Scratch, DemoJsonCarriesTheSameFacts) {
  fs::create_directories(dir / "pictures");
  const SimRun r = sim("--json demo --out-dir pictures", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  ASSERT_EQ(j["boards"].size(), 2u);
  EXPECT_EQ(j["boards"][1]["registry"]["HardwareInformation.MemorySize"], 0x800000);
  ASSERT_EQ(j["modes"].size(), 2u);
  EXPECT_EQ(j["modes"][1]["slot"], 9);
  EXPECT_EQ(j["modes"][1]["modes"].size(), 69u);
  EXPECT_EQ(j["shown"][1]["monitor"]["width"], 1152);
  EXPECT_EQ(j["after_reset"][0]["state"], "vga-text");
  EXPECT_TRUE(fs::exists(dir / "pictures" / "torvic-slot9.png"));
}

TEST(Cli, BootListsBoardsAndTheirCount) {
  const SimRun r = sim("boot");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("memory 0xC0000000 +0x2000000"));
  EXPECT_THAT(r.out, HasSubstr("phys 0xD100 length 0x100 io"));
  EXPECT_THAT(r.out, HasSubstr("boards found: 2"));
  const json j = json::parse(sim("boot --json").out);
  EXPECT_EQ(j["num_boards"], 2);
  EXPECT_EQ(j["boards"][0]["claimed"][5]["space"], "io");
}

TEST(Cli, ModesTableAndJson) {
  const SimRun r = sim("modes --board 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("board 1 (slot 9): 69 modes"));
  EXPECT_THAT(r.out, HasSubstr("     25  1024 x 768     16  60 Hz  4096"));
  const json j = json::parse(sim("--json modes").out);
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0]["modes"].size(), 69u);
  EXPECT_EQ(j[0]["modes"][0]["bitmap_height"], 6553);  // 640x480x8 on 4 MiB
}

TEST_F(Scratch, SetModeByNameOrIndexDecodesTheMonitor) {
  const SimRun r = sim("set-mode 640x480x16@60 --png m.png --pattern checker", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("640 x 480 at 16 bpp, total 800 x 525, pixel clock 25.175 MHz, 31.47 kHz, 59.94 Hz"));
  const Png p = read_png(dir / "m.png");
  EXPECT_EQ(p.width, 640u);
  EXPECT_EQ(p.at(0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(p.at(8, 0), (Rgb{255, 255, 255}));

  const json j = json::parse(sim("--json set-mode 25 --board 1", dir).out);
  EXPECT_EQ(j["mode"]["mode"], "1024x768x16@60");
  EXPECT_EQ(j["monitor"]["refresh_hz"], 60.04);
}


TEST_F(Scratch, MachineCheckShowsAFileWithEveryDefaultFilledIn) {
  write("m.json", R"({"boards": [{"slot": 5, "variant_code": 8}],
                      "faults": [{"service": "VideoPortWriteRegisterUchar", "call": 3},
                                 {"service": "VideoPortMapMemory", "call": 1, "status": 8}]})");
  const SimRun text = sim("machine --check m.json", dir);
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_THAT(text.out, HasSubstr("m.json: a valid machine file: 1 board(s), 2 fault(s)"));
  EXPECT_THAT(text.out, HasSubstr("slot 5: 0x1F3A:0x4B21, variant code 8 (DRAM board with an RGB526), 4 MiB"));
  EXPECT_THAT(text.out, HasSubstr("fault: call 3 of VideoPortWriteRegisterUchar: the board never sees the write"));
  EXPECT_THAT(text.out, HasSubstr("fault: call 1 of VideoPortMapMemory: returns ERROR_NOT_ENOUGH_MEMORY"));
  const json j = json::parse(sim("--json machine --check m.json", dir).out);
  EXPECT_EQ(j["boards"][0]["memory_mib"], 4);
  EXPECT_EQ(j["boards"][0]["bars"][5]["io"], true);
  // What it prints is a machine file that reads back as the same machine.
  write("again.json", j.dump());
  const SimRun again = sim("--json machine --check again.json", dir);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(json::parse(again.out), j);
  write("bad.json", R"({"boards": [{"slot": 5, "slot": 6}]})");
  const SimRun bad = sim("machine --check bad.json", dir);
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("$.boards[0].slot: given twice"));
  // Two faults at one call: the second could never fire.
  write("twice.json", R"({"faults": [{"service": "VideoPortMapMemory", "call": 2, "status": 8},
                                     {"service": "VideoPortMapMemory", "call": 2, "status": 87}]})");
  EXPECT_THAT(sim("machine --check twice.json", dir).err,
              HasSubstr("$.faults[1]: call 2 of VideoPortMapMemory already fails by $.faults[0]"));
  // A number beyond 64 bits is refused without being shown rounded.
  write("huge.json", R"({"config_info_length": 99999999999999999999})");
  const SimRun huge = sim("machine --check huge.json", dir);
  EXPECT_EQ(huge.status, 2);
  EXPECT_THAT(huge.err, HasSubstr("$.config_info_length: a number this large is out of range; allowed 0 to 4096"));
  // Faults alone fail a service on the default machine's boards.
  write("faults.json", R"({"faults": [{"service": "VideoPortInt10", "call": 1, "status": 87}]})");
  EXPECT_THAT(sim("machine --check faults.json", dir).out, HasSubstr("2 board(s), 1 fault(s)"));
  EXPECT_THAT(sim("--machine faults.json boot", dir).out, HasSubstr("boards found: 2"));
  EXPECT_EQ(sim("machine", dir).status, 2);
}

TEST_F(Scratch, DefaultMachineFileRoundTrips) {
  const SimRun printed = sim("machine --default", dir);
  ASSERT_EQ(printed.status, 0);
  write("m.json", printed.out);
  const SimRun boot = sim("--machine m.json boot", dir);
  EXPECT_EQ(boot.status, 0) << boot.err;
  EXPECT_EQ(boot.out, sim("boot", dir).out);
}

TEST_F(Scratch, MachineFileDescribesBoardsAndFaults) {
  write("m.json", R"({"boards": [{"slot": 5, "variant_code": 8, "memory_mib": 2},
                                 {"slot": 7, "variant_code": 12}],
                      "faults": [{"service": "VideoPortSetRegistryParameters", "call": 4, "status": 87}]})");
  const json j = json::parse(sim("--machine m.json --json boot", dir).out);
  ASSERT_EQ(j["boards"].size(), 1u);  // the unknown variant is passed over
  EXPECT_EQ(j["boards"][0]["slot"], 5);
  EXPECT_EQ(j["boards"][0]["registry"]["HardwareInformation.ChipType"], "Torvic Calvorn E");
}

// The machine file's "reactos" switches run the video port as ReactOS's does:
// one find-adapter call drives the first of two boards; a board whose ranges
// ReactOS's own VGA driver holds is not taken, and is shown as passed over.
TEST_F(Scratch, MachineFileRunsTheVideoPortAsReactOsDoes) {
  write("m.json", R"({"reactos": {"one_find_adapter_call": true, "claim_returns_bus_number": true}})");
  const json one = json::parse(sim("--machine m.json --json boot", dir).out);
  ASSERT_EQ(one["boards"].size(), 1u);
  EXPECT_EQ(one["boards"][0]["slot"], 3);
  const json file = json::parse(sim("--json machine --check m.json", dir).out);
  EXPECT_EQ(file["reactos"]["one_find_adapter_call"], true);
  EXPECT_EQ(file["reactos"]["board_ranges_held_by_pnp_node"], false);
  EXPECT_THAT(sim("machine --check m.json", dir).out,
              HasSubstr("video port: ReactOS's ways: the bus number written back as the slot; one find-adapter call\n"));

  write("m.json", R"({"reactos": {"board_ranges_held_by_pnp_node": true}})");
  const SimRun held = sim("--machine m.json boot", dir);
  EXPECT_EQ(held.status, 0) << held.err;
  EXPECT_THAT(held.out, HasSubstr("passed over: the video port refused its resources (0xC0000018)"));
  EXPECT_THAT(held.out, HasSubstr("The driver found no usable board on this machine."));
}

TEST_F(Scratch, MachinesWithOddBoardsAndMixedKindsBootAsAUserDescribesThem) {
  // Register block missing, or of 4 KiB, with a good board in slot 9; then a
  // 4 MiB aperture on 8 MiB straps.
  const auto bars = [](const std::string &bar0, const std::string &bar4) {
    return R"("bars": [)" + bar0 + R"(, {"size": "0x2000000", "address": "0xC2000000"},
        {"size": "0x10000", "address": "0xC4000000"}, {"size": "0x10000", "address": "0xC4010000"},
        )" + bar4 + R"(, {"io": true, "size": "0x100", "address": "0xD000"}, null])";
  };
  const std::string bar0 = R"({"size": "0x2000000", "address": "0xC0000000"})";
  for (const std::string &bar4 : {std::string("null"),
                                  std::string(R"({"size": "0x1000", "address": "0xC4020000"})")}) {
    write("m.json", R"({"boards": [{"slot": 2, )" + bars(bar0, bar4) + R"(}, {"slot": 9}]})");
    const SimRun r = sim("--machine m.json --json boot", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j["boards"].size(), 1u) << bar4;
    EXPECT_EQ(j["boards"][0]["slot"], 9);
  }
  write("m.json", R"({"boards": [{"slot": 2, "memory_mib": 8, )" +
                      bars(R"({"size": "0x400000", "address": "0xC0000000"})",
                           R"({"size": "0x10000", "address": "0xC4020000"})") +
                      "}]}");
  // 7.3 MiB of frame: more than the 4 MiB the aperture reaches.
  EXPECT_EQ(sim("--machine m.json set-mode 1600x1200x32", dir).status, 2);
  const SimRun fits = sim("--machine m.json set-mode 1600x1200x16", dir);
  EXPECT_EQ(fits.status, 0) << fits.err;

  // A 2 MiB DRAM board and an 8 MiB video-RAM board: each its own table.
  write("m.json", R"({"boards": [{"slot": 1, "variant_code": 8, "memory_mib": 2},
                                 {"slot": 2, "variant_code": 0, "memory_mib": 8}]})");
  const json modes = json::parse(sim("--machine m.json --json modes", dir).out);
  EXPECT_EQ(modes[0]["modes"].size(), 49u);
  EXPECT_EQ(modes[1]["modes"].size(), 79u);
  EXPECT_EQ(sim("--machine m.json set-mode 1600x1200x32@80 --board 0", dir).status, 2);
  EXPECT_EQ(sim("--machine m.json set-mode 1600x1200x32@80 --board 1", dir).status, 0);
}

TEST_F(Scratch, BoardsGivenOnlyTheirSlotOrTheirSizesAreAllPlaced) {
  std::string boards;
  for (int slot = 0; slot < 32; slot++) boards += (slot ? ", " : "") + std::string(R"({"slot": )") + std::to_string(slot) + "}";
  write("full.json", R"({"boards": [)" + boards + "]}");
  const SimRun full = sim("--machine full.json --json boot", dir);
  ASSERT_EQ(full.status, 0) << full.err;
  EXPECT_EQ(json::parse(full.out)["num_boards"], 32);

  // Sizes without addresses keep the default places, aligned to the sizes.
  write("sizes.json", R"({"boards": [{"slot": 2, "memory_mib": 8, "bars": [
      {"size": "0x4000000"}, {"size": "0x2000000"}, {"size": "0x10000"}, {"size": "0x10000"},
      {"size": "0x10000"}, {"io": true, "size": "0x100"}, null]}]})");
  const SimRun sizes = sim("--machine sizes.json --json boot", dir);
  ASSERT_EQ(sizes.status, 0) << sizes.err;
  const json j = json::parse(sizes.out);
  ASSERT_EQ(j["boards"].size(), 1u);
  EXPECT_EQ(j["boards"][0]["slot"], 2);
}

TEST_F(Scratch, DemoFallsBackToModesEveryBoardOffers) {
  // Two 2 MiB DRAM boards: the second cannot show the demo's 1152x864 at 32 bpp.
  write("m.json", R"({"boards": [{"slot": 1, "variant_code": 8, "memory_mib": 2},
                                 {"slot": 2, "variant_code": 9, "memory_mib": 2}]})");
  const SimRun r = sim("--machine m.json --json demo", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["shown"][0]["mode"]["mode"], "1024x768x8@60");
  EXPECT_TRUE(j["shown"][0]["fallback"].is_null());
  EXPECT_EQ(j["shown"][1]["mode"]["mode"], "800x600x32@60");
  EXPECT_EQ(j["shown"][1]["fallback"],
            "1152x864x32 is not offered on this board; 800x600x32@60 is the widest mode it offers at 32 bpp");
  EXPECT_EQ(j["shown"][1]["monitor"]["width"], 800);
  EXPECT_THAT(sim("--machine m.json demo", dir).out,
              HasSubstr("board 1: 1152x864x32 is not offered on this board; 800x600x32@60 is the widest"));
}

TEST_F(Scratch, DemoKeepsWhatItShowedWhenABoardFailsAndNamesTheBoard) {
  write("m.json", R"({"boards": [{"slot": 3}, {"slot": 9, "variant_code": 10}],
                      "faults": [{"service": "VideoPortMapMemory", "call": 1, "status": 8}]})");
  const SimRun text = sim("--machine m.json demo", dir);
  EXPECT_EQ(text.status, 1);
  EXPECT_THAT(text.out, HasSubstr("The driver found 2 board(s)"));
  EXPECT_THAT(text.out, HasSubstr("board 0, slot 3: failed: map video memory: ERROR_NOT_ENOUGH_MEMORY"));
  EXPECT_THAT(text.out, HasSubstr("board 1: set 1152x864x32@60"));
  EXPECT_THAT(text.out, HasSubstr("Reset: every board let go of the display"));
  EXPECT_FALSE(fs::exists(dir / "torvic-slot3.png"));
  EXPECT_TRUE(fs::exists(dir / "torvic-slot9.png"));

  const SimRun r = sim("--machine m.json --json demo", dir);
  EXPECT_EQ(r.status, 1);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["shown"][0]["error"], "map video memory: ERROR_NOT_ENOUGH_MEMORY");
  EXPECT_EQ(j["shown"][0]["slot"], 3);
  EXPECT_TRUE(j["shown"][1]["error"].is_null());
  EXPECT_TRUE(j["error"].is_null());
  EXPECT_EQ(j["after_reset"][1]["slot"], 9);
  EXPECT_EQ(j["faults_fired"][0]["service"], "VideoPortMapMemory");

  // A run that stops part way still gives what it did, and where it stopped:
  // here the first picture cannot be written.
  fs::create_directories(dir / "pictures" / "torvic-slot3.png");
  const SimRun stopped = sim("--json demo --out-dir pictures", dir);
  EXPECT_EQ(stopped.status, 3);
  const json s = json::parse(stopped.out);
  EXPECT_EQ(s["boards"].size(), 2u);
  EXPECT_EQ(s["error"]["board"], 0);
  EXPECT_EQ(s["error"]["slot"], 3);
  EXPECT_THAT(s["error"]["message"].get<std::string>(), HasSubstr("torvic-slot3.png"));
  const SimRun stopped_text = sim("demo --out-dir pictures", dir);
  EXPECT_EQ(stopped_text.status, 3);
  EXPECT_THAT(stopped_text.out, HasSubstr("The driver found 2 board(s)"));
  EXPECT_THAT(stopped_text.out, HasSubstr("board 0, slot 3: stopped"));
}

TEST_F(Scratch, BootListsEverySlotAndWhyABoardWasPassedOver) {
  write("m.json", R"({"boards": [{"slot": 1, "variant_code": 12}, {"slot": 3},
      {"slot": 5, "vendor_id": "0x8086", "device_id": "0x1234"},
      {"slot": 7, "bars": [{"size": "0x2000000"}, {"size": "0x2000000"}, {"size": "0x10000"},
                           {"size": "0x10000"}, {"size": "0x1000"}, {"io": true, "size": "0x100"}, null]},
      {"slot": 9, "variant_code": 8, "memory_mib": 2}, {"slot": 11, "variant_code": 10}],
      "faults": [{"service": "VideoPortGetAccessRanges", "call": 3, "status": 87},
                 {"service": "VideoPortGetDeviceBase", "call": 4}]})");
  const SimRun r = sim("--machine m.json boot", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *line : {
           "slot 1: 1F3A:4B21 subsystem 1F3A:000C, variant code 12 (unknown variant)",
           "  passed over: variant code 12 is not one the driver knows (0 to 11)",
           "slot 3: 1F3A:4B21 subsystem 1F3A:0000, variant code 0 (RGB526 video-RAM board)",
           "  BAR5  io                    256 ports  found 0xD100      now 0xD100",
           "  the driver's board 0: 4 MiB, IBM RGB526, Torvic Calvorn, 69 modes",
           "slot 5: 8086:1234 subsystem 1F3A:0000\n",
           "  passed over: not a board of the family",
           "  passed over: BAR4 cannot hold the register block (0x6014 bytes of memory space)",
           "  passed over: the video port refused its resources (ERROR_INVALID_PARAMETER)",
           "  passed over: mapping its registers failed"})
    EXPECT_THAT(r.out, HasSubstr(line));
  const json j = json::parse(sim("--machine m.json --json boot", dir).out);
  ASSERT_EQ(j["slots"].size(), 6u);
  EXPECT_EQ(j["slots"][5]["passed_over"], "mapping its registers failed");
  EXPECT_EQ(j["slots"][1]["board"], 0);
  EXPECT_EQ(j["slots"][1]["found"]["memory_mib"], 4);
  EXPECT_EQ(j["slots"][1]["bars"][0]["size"], 0x2000000);
  EXPECT_TRUE(j["slots"][1]["passed_over"].is_null());
  EXPECT_TRUE(j["slots"][0]["board"].is_null());
  EXPECT_EQ(j["num_boards"], 1);
}

TEST_F(Scratch, SweepTakesFiltersAndRefusesWhatItCannotHonour) {
  const json j = json::parse(sim("--json sweep --variant dram --memory 2", dir).out);
  EXPECT_EQ(j["modes"], 49);
  EXPECT_EQ(j["rows"][0]["variant"], "DRAM board with an RGB526");
  EXPECT_TRUE(j["rows"][0]["problem"].is_null());
  EXPECT_EQ(sim("sweep --variant vga", dir).status, 2);
  EXPECT_EQ(sim("sweep --memory 16", dir).status, 2);
  write("m.json", R"({"boards": [{"slot": 3}]})");
  const SimRun machine = sim("--machine m.json sweep", dir);
  EXPECT_EQ(machine.status, 2);
  EXPECT_THAT(machine.err, HasSubstr("the sweep builds its own machine"));
  EXPECT_EQ(sim("--trace t.txt sweep", dir).status, 2);
}

TEST_F(Scratch, EightBitBarsShowAGreyRampWhoseStepsMeetTheBars) {
  ASSERT_EQ(sim("set-mode 1024x768x8 --png bars.png", dir).status, 0);
  const Png png = read_png(dir / "bars.png");
  ASSERT_EQ(png.width, 1024u);
  const uint32_t y = png.height - 1;
  for (uint32_t x = 0; x < png.width; x++) {
    const Rgb c = png.at(x, y);
    ASSERT_TRUE(c[0] == c[1] && c[1] == c[2]) << "x " << x;
    if (x % 128 == 0 && x > 0) {
      EXPECT_NE(png.at(x - 1, y), c) << "a step begins under the bar at x " << x;
    } else if (x % 32 != 0) {
      EXPECT_EQ(png.at(x - 1, y), c) << "no step inside a step at x " << x;
    }
  }
}

TEST_F(Scratch, BadMachineFilesNameTheFieldAndRunNothing) {
  const struct {
    const char *text;
    const char *message;
  } cases[] = {
      {R"({"boards": [{"slot": 3, "colour": 1}]})", "$.boards[0].colour: unknown key; allowed keys: slot,"},
      {R"({"boards": [{"slot": "three"}]})", "$.boards[0].slot: \"three\" is not a number"},
      {R"({"boards": [{"slot": 32}]})", "$.boards[0].slot: 32 is out of range; allowed 0 to 31"},
      {R"({"boards": [{"slot": 3, "memory_mib": 3}]})", "$.boards[0].memory_mib: 3 is not a board size"},
      {R"({"boards": [{"slot": 3}, {"slot": 3}]})", "$.boards[1].slot: slot 3 already holds $.boards[0]"},
      {R"({"boards": [{"slot": 3,}]})", "invalid JSON at line 1"},
      {R"({"boards": [], "faults": [{"service": "VideoPortNothing"}]})",
       "$.faults[0].service: \"VideoPortNothing\" is not a video port service that can fail; allowed: "
       "VideoPortInitialize, VideoPortGetBusData,"},
      {R"({"boards": [], "faults": [{"service": "VideoPortStallExecution"}]})",
       "$.faults[0].service: VideoPortStallExecution cannot fail; services that can: "},
      {R"({"boards": [], "faults": [{"service": "VideoPortMapMemory"}]})",
       "$.faults[0].status: missing; VideoPortMapMemory fails with a status"},
      {R"({"boards": [], "faults": [{"service": "VideoPortMapMemory", "status": 0}]})",
       "$.faults[0].status: 0 is out of range; allowed 1 to 4294967295"},
      {R"({"boards": [], "faults": [{"service": "VideoPortReadRegisterUlong", "status": 87}]})",
       "$.faults[0].status: VideoPortReadRegisterUlong returns no status; a fault in it the board does "
       "not answer: all ones"},
      {R"({"boards": [{"slot": 3, "slot": 4}]})", "$.boards[0].slot: given twice in one object"},
      {R"({"boards": [{"slot": 3}], "faults": [], "faults": []})", "$.faults: given twice in one object"},
      {R"({"boards": [{"slot": 3, "memory_mib": 16}]})", "$.boards[0].memory_mib: 16 is not a board size; allowed 2, 4 or 8"},
      {R"({"boards": [{"slot": 3, "memory_mib": 4.5}]})", "$.boards[0].memory_mib: 4.5 is not a board size; allowed 2, 4 or 8"},
      {R"({"boards": [{"slot": 18446744073709551616}]})", "$.boards[0].slot: a number this large is out of range; allowed 0 to 31"},
      {R"({"boards": [{"slot": 3, "bars": [{"size": "0x2000000"}, null, null, null, null,
                                           {"io": true, "size": "0x100000"}, null]}]})",
       "$.boards[0].bars[5].size: 1048576 is out of range; allowed 4 to 256"},
      {R"({"boards": [{"slot": 3, "bars": [{"size": "0x2000000", "address": "0xC1000000"}, null, null,
                                           null, null, null, null]}]})",
       "$.boards[0].bars[0].address: 0xC1000000 is not aligned to the register's size 0x2000000"},
      {R"({"boards": [{"slot": 1, "bars": [null]}]})", "$.boards[0].bars: must be an array of 7 entries"},
      {R"({"boards": [{"slot": 27526E05000}]})", "number overflow"},
      {R"({"reactos": {"one_find_adapter_call": 1}})", "$.reactos.one_find_adapter_call: must be true or false"},
      {R"({"reactos": {"slot": true}})", "$.reactos.slot: unknown key; allowed keys: claim_returns_bus_number,"},
  };
  for (const auto &c : cases) {
    write("bad.json", c.text);
    const SimRun r = sim("--machine bad.json boot --trace t.jsonl", dir);
    EXPECT_EQ(r.status, 2) << c.text;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.text;
    EXPECT_TRUE(r.out.empty()) << c.text;
    EXPECT_FALSE(fs::exists(dir / "t.jsonl")) << c.text;
  }
}

TEST_F(Scratch, DriverOptionRunsTheImagesThisBuildCanRunAndRefusesOthers) {
  write("junk.sys", "not a driver");
  const SimRun junk = sim("--driver junk.sys boot", dir);
  EXPECT_EQ(junk.status, 2);
  EXPECT_THAT(junk.err, HasSubstr("junk.sys is neither a driver image for this host (ELF) nor an NT image"));
  EXPECT_EQ(sim("--driver missing.sys boot", dir).status, 2);
#ifdef TORVIC_NT_IMAGE
  // The 32-bit build runs the NT image, and it shows exactly what the host
  // build of the same sources shows, down to the bus trace.
  const SimRun host = sim("demo --trace host.txt --trace-format text", dir);
  const SimRun nt = sim("--driver '" TORVIC_NT_IMAGE "' demo --trace nt.txt --trace-format text", dir);
  ASSERT_EQ(nt.status, 0) << nt.err;
  EXPECT_EQ(nt.out, host.out);
  // The headers name different images; the events are the same.
  const std::string a = file_text(dir / "host.txt"), b = file_text(dir / "nt.txt");
  EXPECT_GT(a.size(), 10000u);
  EXPECT_THAT(b, HasSubstr("  driver " TORVIC_NT_IMAGE "  sha256 "));
  EXPECT_EQ(a.substr(a.find('\n')), b.substr(b.find('\n')));
#else
  write("torvic.sys", std::string("MZ") + std::string(62, '\0'));
  const SimRun pe = sim("--driver torvic.sys boot", dir);
  EXPECT_EQ(pe.status, 2);
  EXPECT_THAT(pe.err, HasSubstr("torvic.sys is an NT image (PE32, i386); only the 32-bit host build runs it"));
#endif
}

TEST(Cli, BadModesCodesAndBytesGetAClearMessage) {
  const struct {
    const char *args;
    const char *message;
  } cases[] = {
      // withdrawn: the 4 MiB board cannot hold it; the nearest modes are named
      {"set-mode 1280x1024x32@60", "mode 1280x1024x32@60 is not offered on this board; the nearest are:"},
      {"set-mode 1280x1024x32@60", "1280x1024x16@60 (index 49)"},
      {"set-mode big", "write WIDTHxHEIGHTxBPP@HZ"},
      {"set-mode 25 --pattern stripes", "--pattern stripes: the patterns are bars gradient checker grid"},
      {"request NOT_A_REQUEST", "give a number (0x230404) or a name"},
      {"request SET_CURRENT_MODE --in 0x1z", "pairs of hex digits"},
      {"set-mode 25 --board 7", "the driver found 2 board(s)"},
      {"frobnicate", "frobnicate"},
  };
  for (const auto &c : cases) {
    const SimRun r = sim(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.args;
  }
}

TEST_F(Scratch, UsageErrorsSpeakInTheProgramsVoiceAndNameWhatIsAllowed) {
  const SimRun unknown = sim("mdoes");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_THAT(unknown.err, HasSubstr("torvic-sim: The following argument was not expected: mdoes"));
  EXPECT_THAT(unknown.err, HasSubstr("the subcommands are: demo boot modes set-mode request script sweep faults machine"));
  EXPECT_THAT(unknown.err, HasSubstr("did you mean modes?"));
  EXPECT_THAT(sim("frobnicate").err, ::testing::Not(HasSubstr("did you mean")));
  for (const char *board : {"-1", "99999999999999999999", "x"}) {
    const SimRun r = sim(std::string("modes --board ") + board);
    EXPECT_EQ(r.status, 2) << board;
    EXPECT_THAT(r.err, ::testing::StartsWith("torvic-sim: --board")) << board;
    EXPECT_THAT(r.err, HasSubstr(board)) << board;
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("18446744073709551615"))) << board;
  }
  const SimRun version = sim("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_THAT(version.out, ::testing::MatchesRegex("torvic-sim [0-9]+\\.[0-9]+\\.[0-9]+\n"));
  EXPECT_EQ(sim("boot --out-dir pictures").status, 2);
}

TEST_F(Scratch, FaultsThatFireAreReportedAndNothingTheyStoppedIsShownAsDone) {
  write("m.json", R"({"boards": [{"slot": 3}],
                      "faults": [{"service": "VideoPortSetRegistryParameters", "call": 2, "status": 87},
                                 {"service": "VideoPortInt10", "call": 1, "status": 31}]})");
  const SimRun boot = sim("--machine m.json boot", dir);
  EXPECT_EQ(boot.status, 0) << boot.err;
  EXPECT_THAT(boot.out, HasSubstr("HardwareInformation.DacType: not stored, the registry answered "
                                  "ERROR_INVALID_PARAMETER"));
  EXPECT_THAT(boot.out, ::testing::Not(HasSubstr("HardwareInformation.DacType = ")));
  EXPECT_THAT(boot.err, HasSubstr("torvic-sim: injected fault fired: VideoPortSetRegistryParameters call 2, "
                                  "slot 3: stores nothing and returns the status 0x57"));

  const json j = json::parse(sim("--machine m.json --json request RESET_DEVICE", dir).out);
  EXPECT_EQ(j["status"], "0x1F");
  ASSERT_EQ(j["faults_fired"].size(), 2u);
  EXPECT_EQ(j["faults_fired"][1]["service"], "VideoPortInt10");
  EXPECT_EQ(j["faults_fired"][1]["slot"], 3);

  // The trace marks the call the fault made fail.
  const SimRun demo = sim("--machine m.json --trace t.txt --trace-format text demo", dir);
  EXPECT_EQ(demo.status, 0) << demo.err;
  std::ifstream trace(dir / "t.txt");
  const std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
  EXPECT_THAT(text, HasSubstr("FAULT: stores nothing and returns the status 0x57"));
}

// A 2 MiB board whose straps say 8 MiB: the driver takes the straps' word,
// and the board answers past its memory with its memory again.
constexpr const char *kShortBoard =
    R"({"boards": [{"slot": 3, "variant_code": 0, "memory_mib": 2, "config1": "0x8400"}]})";
// An 8 MiB RGB528 board, then a 2 MiB DRAM board whose CONFIG1 read fails:
// all ones, which are the straps of 8 MiB.
constexpr const char *kTwoBoards =
    R"({"boards": [{"slot": 2, "variant_code": 10, "memory_mib": 8}, {"slot": 5, "variant_code": 8, "memory_mib": 2}])";

TEST_F(Scratch, BoardShortOfItsStrapsIsDrawnOnAndShown) {
  write("short.json", kShortBoard);
  const SimRun r = sim("--machine short.json --trace t.txt --trace-format text set-mode 1280x1024x32", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("monitor: 1280 x 1024 at 32 bpp, total 1696 x 1066"));
  std::ifstream trace(dir / "t.txt");
  const std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
  EXPECT_THAT(text, HasSubstr("length 0x800000 memory aliases 2 MiB installed"));

  write("two.json", std::string(kTwoBoards) +
                        R"(, "faults": [{"service": "VideoPortReadPortUlong", "call": 7}]})");
  const SimRun demo = sim("--machine two.json demo", dir);
  EXPECT_EQ(demo.status, 0) << demo.err;
  EXPECT_THAT(demo.err, HasSubstr("VideoPortReadPortUlong call 7, slot 5: the board does not answer"));
  EXPECT_THAT(demo.out, HasSubstr("board 1: set 1024x768x32@60"));  // 3 MiB of frame on 2 MiB
}

// The sweep of every failure on a machine where one failure makes a board
// look larger than it is runs to its end. It runs once, in the 64-bit build,
// as the documented fault table does.
TEST(Cli, FaultTableRunsToTheEndWhereAFailedReadMakesABoardLookLarger) {
  if (sizeof(void *) == 4) GTEST_SKIP() << "the fault sweep runs in the 64-bit build";
  const fs::path file = fs::temp_directory_path() / ("torvic-cli-two-boards-" + std::to_string(getpid()) + ".json");
  std::ofstream(file) << kTwoBoards << "}";
  const SimRun r = sim("--machine '" + file.string() + "' --json faults");
  fs::remove(file);
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["verifier_stops"], 0);
  bool straps_read = false;
  for (const auto &row : j["rows"])
    straps_read |= row["slot"] == 5 && row["target"] == "CONFIG1";
  EXPECT_TRUE(straps_read);
}

// A fault of torvic-sim itself, outside any driver callback, ends the run
// with one line and its own status, not with the signal.
TEST_F(Scratch, AFaultOutsideTheDriverEndsTheRunWithItsOwnStatus) {
#ifdef TORVIC_SANITIZED
  GTEST_SKIP() << "the sanitizers keep the signals in this build";
#else
  // torvic-sim opens the script, a pipe with no writer yet, only once it
  // runs, so the signal comes when it has set itself up, whatever the host.
  const fs::path fifo = dir / "script";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path err = dir / "err";
  const std::string command = "exec " TORVIC_SIM_RUNNER " '" TORVIC_SIM "' script '" + fifo.string() +
                              "' 2>'" + err.string() + "' >/dev/null";
  const pid_t pid = start_in_background(command);
  ASSERT_GE(pid, 0);
  // The pipe takes a writer once torvic-sim has opened it to read.
  int writer = -1, raw = 0;
  for (int tries = 0; writer < 0 && tries < 6000; tries++) {
    writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0 && waitpid(pid, &raw, WNOHANG) == pid) FAIL() << "torvic-sim ended before it read the script";
    if (writer < 0) usleep(10000);
  }
  if (writer < 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &raw, 0);
    FAIL() << "torvic-sim did not open the script within a minute";
  }
  kill(pid, SIGSEGV);
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  close(writer);
  ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw);
  EXPECT_EQ(WEXITSTATUS(raw), 4);
  std::ifstream in(err);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "torvic-sim: internal error: invalid memory access (SIGSEGV) outside the driver; "
                  "the run is abandoned\n");
#endif
}

TEST(Cli, HelpNeedsNoFurtherReading) {
  const SimRun r = sim("--help");
  EXPECT_EQ(r.status, 0);
  for (const char *word : {"demo", "boot", "modes", "set-mode", "request", "sweep", "machine", "--machine",
                           "--trace", "--json"})
    EXPECT_THAT(r.out, HasSubstr(word));
  EXPECT_THAT(sim("set-mode --help").out, HasSubstr("WIDTHxHEIGHTxBPP@HZ"));
  const SimRun sub = sim("modes --help");
  EXPECT_THAT(sub.out, HasSubstr("Options of torvic-sim itself, given before or after the subcommand:"));
  EXPECT_THAT(sub.out, HasSubstr("--machine FILE"));
  EXPECT_THAT(sub.out, HasSubstr("--json"));
}

TEST(Cli, SweepSetsEveryModeAndChecksTheMonitor) {
  const SimRun r = sim("--json sweep");
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["modes"], 551);  // 199 + 199 video-RAM modes, 153 DRAM modes
  EXPECT_EQ(j["failed"], 0);
}

// The documented table of what the driver does when each service fails at
// each place it is called is the command's output: a change in what the
// driver does on a failure must show there.
TEST(Cli, FaultTableInTheDocsIsWhatTheDriverDoes) {
  const SimRun r = sim("faults --markdown");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto table = torvic::test::documented_block("fault-table.md", "<!-- fault table: torvic-sim faults --markdown -->\n",
                                                    "<!-- end of fault table -->");
  ASSERT_TRUE(table) << "docs/fault-table.md lost its markers";
  EXPECT_EQ(*table, r.out)
      << "update docs/fault-table.md with: scripts/update-fault-table.sh";
  EXPECT_THAT(r.out, HasSubstr(", 0 verifier stops"));
}

}  // namespace
