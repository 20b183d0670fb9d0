// SPDX-License-Identifier: MIT
// torvic-sim script: requests in turn to one machine, and the lines it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/video_port_interface.h"

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


TEST_F(Scratch, EveryScriptLineIsCheckedBeforeTheFirstRequestAndNamedWhenWrong) {
  // A board the machine lacks: nothing is sent, and the line is named.
  write("board.txt", "QUERY_NUM_AVAIL_MODES\nSET_CURRENT_MODE --in 19000000\nQUERY_CURRENT_MODE --board 7\n");
  const SimRun board = sim("script board.txt", dir);
  EXPECT_EQ(board.status, 2);
  EXPECT_EQ(board.out, "") << "no request runs before every line is known good";
  EXPECT_THAT(board.err, HasSubstr("board.txt line 3: --board 7: the driver found 2 board(s)"));
  // A word that is no option is named as such, with or without a value.
  write("bogus.txt", "QUERY_CURRENT_MODE\nQUERY_NUM_AVAIL_MODES --bogus\n");
  EXPECT_THAT(sim("script bogus.txt", dir).err,
              HasSubstr("bogus.txt line 2: --bogus is not a request option; they are --board, --in, --mode, "
                                     "--palette, --address and --out-len"));
  write("value.txt", "QUERY_CURRENT_MODE --board\n");
  EXPECT_THAT(sim("script value.txt", dir).err, HasSubstr("value.txt line 1: --board needs a value"));
}

// The bytes of a pointer-sized address, in memory order, as --in takes them.
std::string address_hex(uintptr_t address) {
  std::string hex;
  for (size_t i = 0; i < sizeof(void *); i++) {
    char pair[3];
    (void)snprintf(pair, sizeof pair, "%02x", unsigned((address >> (8 * i)) & 0xFF));
    hex += pair;
  }
  return hex;
}

// An address as the JSON output gives it ("0x...").
uintptr_t address_of(const json &text) {
  return static_cast<uintptr_t>(std::stoull(text.get<std::string>(), nullptr, 16));
}

TEST_F(Scratch, ReleasingWhatWasNeverMappedIsTheUsersMistakeNotTheDrivers) {
  const std::string map = "MAP_VIDEO_MEMORY --in " + address_hex(0) + "\n";
  write("map.txt", map);
  const json mapped = json::parse(sim("--json script map.txt", dir).out);
  const uintptr_t base = address_of(mapped["requests"][0]["decoded"]["VideoRamBase"]);

  // The address the driver handed out is given back without a word.
  write("good.txt", map + "UNMAP_VIDEO_MEMORY --in " + address_hex(base) + "\n");
  const SimRun good = sim("--json script good.txt --check-status", dir);
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_THAT(good.err, ::testing::Not(HasSubstr("still mapped")));

  // A typo in it, or a second release, stops the script at its line.
  write("typo.txt", map + "UNMAP_VIDEO_MEMORY --in " + address_hex(base + 0x1000) + "\n");
  write("twice.txt", map + "UNMAP_VIDEO_MEMORY --in " + address_hex(base) + "\nUNMAP_VIDEO_MEMORY --in " +
                         address_hex(base) + "\n");
  for (const auto &[script, line] : {std::pair<std::string, int>{"typo.txt", 2}, {"twice.txt", 3}}) {
    const SimRun r = sim("script " + script, dir);
    EXPECT_EQ(r.status, 2) << script;
    EXPECT_THAT(r.err, HasSubstr(script + " line " + std::to_string(line) +
                                 ": IOCTL_VIDEO_UNMAP_VIDEO_MEMORY on board 0: 0x"))
        << script;
    EXPECT_THAT(r.err, HasSubstr("was not mapped in this run")) << script;
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("verifier"))) << script;
  }
  const SimRun alone = sim("request UNMAP_VIDEO_MEMORY --in " + address_hex(base), dir);
  EXPECT_EQ(alone.status, 2);
  EXPECT_THAT(alone.err, HasSubstr("nothing is mapped on that board"));

}

TEST_F(Scratch, PublicRangesAreFreedOnlyAsTheyWereHandedOut) {
  // The records the driver hands out, as a display driver hands them back.
  write("query.txt", "QUERY_PUBLIC_ACCESS_RANGES\n");
  const json queried = json::parse(sim("--json script query.txt", dir).out)["requests"][0]["decoded"];
  ASSERT_EQ(queried.size(), 7u);
  std::vector<VIDEO_PUBLIC_ACCESS_RANGES> records(7);
  size_t mapped = 7;
  for (size_t i = 0; i < 7; i++) {
    records[i].InIoSpace = queried[i]["InIoSpace"];
    records[i].MappedInIoSpace = queried[i]["MappedInIoSpace"];
    records[i].VirtualAddress =
        reinterpret_cast<PVOID>(address_of(queried[i]["VirtualAddress"]));
    if (records[i].VirtualAddress && !records[i].MappedInIoSpace) mapped = i;
  }
  ASSERT_LT(mapped, 7u) << "the board shows a range in memory space";
  write("free.txt", "QUERY_PUBLIC_ACCESS_RANGES\nFREE_PUBLIC_ACCESS_RANGES --in @ranges.bin\n");
  auto write_records = [&](const std::vector<VIDEO_PUBLIC_ACCESS_RANGES> &given) {
    std::ofstream(dir / "ranges.bin", std::ios::binary)
        << std::string(reinterpret_cast<const char *>(given.data()), given.size() * sizeof given[0]);
  };
  write_records(records);
  const SimRun good = sim("script free.txt --check-status", dir);
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_THAT(good.err, ::testing::Not(HasSubstr("still mapped")));

  // One address in two records, or one never handed out, is refused.
  std::vector<VIDEO_PUBLIC_ACCESS_RANGES> twice = records;
  const size_t other = mapped == 0 ? 1 : 0;
  twice[other] = records[mapped];
  std::vector<VIDEO_PUBLIC_ACCESS_RANGES> unknown = records;
  unknown[mapped].VirtualAddress =
      reinterpret_cast<PVOID>(reinterpret_cast<uintptr_t>(records[mapped].VirtualAddress) + 0x1000);
  for (const auto &[given, why] : {std::pair{twice, "is named twice"}, {unknown, "was not mapped in this run"}}) {
    write_records(given);
    const SimRun r = sim("script free.txt", dir);
    EXPECT_EQ(r.status, 2) << why;
    EXPECT_THAT(r.err, HasSubstr("free.txt line 2: IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES on board 0: 0x")) << why;
    EXPECT_THAT(r.err, HasSubstr(why));
  }
  // A range mapped in I/O space has nothing to release, whatever its address.
  unknown[mapped].MappedInIoSpace = 1;
  write_records(unknown);
  EXPECT_THAT(sim("script free.txt", dir).err, ::testing::Not(HasSubstr("was not mapped")));
}

}  // namespace
