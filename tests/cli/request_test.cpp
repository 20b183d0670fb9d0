// SPDX-License-Identifier: MIT
// torvic-sim request: raw requests, their replies, and input given by fields.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/video_port_interface.h"
#include "tests/cli/sim_run.h"
#include "tests/documented_block.h"

namespace {

using namespace torvic::cli_test;
using ::testing::HasSubstr;

TEST(Cli, RequestShowsStatusInformationAndDecodedReply) {
  const SimRun r = sim("request QUERY_NUM_AVAIL_MODES --out-len 8");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("NO_ERROR, Information 8"));
  EXPECT_THAT(r.out, HasSubstr("\"NumModes\": 69"));
  const json j = json::parse(sim("--json request 0x233B18 --out-len 4").out);
  EXPECT_EQ(j["decoded"]["boards"], 2);
  const json short_out = json::parse(sim("--json request QUERY_CURRENT_MODE --out-len 79").out);
  EXPECT_EQ(short_out["status"], "ERROR_INSUFFICIENT_BUFFER");
  EXPECT_EQ(short_out["information"], 80);
  const json cursor = json::parse(sim("--json request 0x230444 --in 00000000").out);
  EXPECT_EQ(cursor["status"], "ERROR_INVALID_FUNCTION");
  EXPECT_TRUE(cursor["information"].is_null());
}

TEST(Cli, RequestBuffersDefaultToWhatTheReplyNeedsAndHaveABound) {
  const json count = json::parse(sim("--json request QUERY_NUM_AVAIL_MODES").out);
  EXPECT_EQ(count["status"], "NO_ERROR");
  EXPECT_EQ(count["decoded"]["NumModes"], 69);
  const json list = json::parse(sim("--json request QUERY_AVAIL_MODES --board 1").out);
  EXPECT_EQ(list["status"], "NO_ERROR");
  EXPECT_EQ(list["information"], 69 * sizeof(VIDEO_MODE_INFORMATION));
  EXPECT_EQ(json::parse(sim("--json request TORVIC_QUERY_NUM_BOARDS").out)["decoded"]["boards"], 2);

  // A buffer no reply needs is refused before anything runs.
  for (const char *args : {"--out-len 4294967295", "--out-len 65537"}) {
    const SimRun r = sim(std::string("request QUERY_CURRENT_MODE ") + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_THAT(r.err, HasSubstr("at most 65536 bytes")) << args;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(sim("request QUERY_CURRENT_MODE --out-len 65536").status, 0);
}

// The register accesses of a run's trace, without times or sequence numbers.
std::vector<std::string> accesses(const fs::path &trace) {
  std::vector<std::string> seen;
  for (const json &e : json_lines(trace))
    if (e.contains("register") && e.contains("value"))
      seen.push_back(e["register"].get<std::string>() + " " + e["access"].get<std::string>() + " " +
                     e["value"].dump());
  return seen;
}

TEST_F(Scratch, RequestInputByItsFieldsIsTheInputItsBytesWouldBe) {
  // Each field option against the same input written out in hex.
  std::string ramp = "00010000";  // 256 entries from entry 0
  for (int i = 0; i < 256; i++) {
    char entry[9];
    (void)snprintf(entry, sizeof entry, "%02x%02x%02x00", i, i, i);
    ramp += entry;
  }
  write("three.pal", "# black, an orange, a brown\n0 0 0\n255 16 0\n0x40 0x20 8\n");
  const std::pair<std::string, std::string> same[] = {
      {"SET_CURRENT_MODE --mode 1024x768x16@60", "SET_CURRENT_MODE --in 19000000"},
      {"SET_COLOR_REGISTERS --palette ramp", "SET_COLOR_REGISTERS --in " + ramp},
      {"SET_COLOR_REGISTERS --palette three.pal", "SET_COLOR_REGISTERS --in 0300000000000000ff10000040200800"},
  };
  for (const auto &[fields, bytes] : same) {
    write("fields.txt", "SET_CURRENT_MODE --in 00000000\n" + fields + "\n");
    write("bytes.txt", "SET_CURRENT_MODE --in 00000000\n" + bytes + "\n");
    const SimRun by_fields = sim("--json --trace f.jsonl script fields.txt --check-status", dir);
    ASSERT_EQ(by_fields.status, 0) << fields << ": " << by_fields.err;
    ASSERT_EQ(sim("--trace b.jsonl script bytes.txt --check-status", dir).status, 0) << bytes;
    const std::vector<std::string> wrote = accesses(dir / "f.jsonl");
    EXPECT_FALSE(wrote.empty());
    // A mode by name is first looked up in the board's list: the same writes follow.
    const std::vector<std::string> expected = accesses(dir / "b.jsonl");
    EXPECT_EQ(std::vector<std::string>(wrote.end() - long(std::min(wrote.size(), expected.size())), wrote.end()),
              expected)
        << fields;
  }
  // Video memory mapped where the system likes, then given back by address.
  write("map.txt", "MAP_VIDEO_MEMORY\n");
  const json map = json::parse(sim("--json script map.txt", dir).out)["requests"][0];
  EXPECT_EQ(map["status"], "NO_ERROR");
  write("unmap.txt", "MAP_VIDEO_MEMORY\nUNMAP_VIDEO_MEMORY --address " +
                         map["decoded"]["VideoRamBase"].get<std::string>() + "\n");
  EXPECT_EQ(sim("script unmap.txt --check-status", dir).status, 0);
}

TEST_F(Scratch, RequestFieldsBelongToTheirRequestAndAreCheckedBeforeTheRun) {
  const std::pair<std::string, std::string> refused[] = {
      {"request QUERY_CURRENT_MODE --mode 0", "--mode gives the input of IOCTL_VIDEO_SET_CURRENT_MODE, not of "
                                              "IOCTL_VIDEO_QUERY_CURRENT_MODE"},
      {"request SET_CURRENT_MODE --mode 0 --in 00000000", "each give the whole input: give one"},
      {"request SET_CURRENT_MODE --mode wide", "mode \"wide\": write WIDTHxHEIGHTxBPP@HZ"},
      {"request SET_COLOR_REGISTERS --palette bad.pal", "--palette bad.pal line 2: \"256\" is not a colour value"},
      {"request SET_COLOR_REGISTERS --palette short.pal", "--palette short.pal line 1: write one colour a line"},
      {"request MAP_VIDEO_MEMORY --address -1", "--address -1: give an address"},
  };
  write("bad.pal", "1 2 3\n4 5 256\n");
  write("short.pal", "1 2\n");
  for (const auto &[args, message] : refused) {
    const SimRun r = sim(args, dir);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_THAT(r.err, HasSubstr(message)) << args;
  }
  // In a script, a later line's wrong mode stops everything before it runs;
  // a mode the board lacks is named with its line once the list is known.
  write("late.txt", "QUERY_CURRENT_MODE\nSET_CURRENT_MODE --mode 1024by768\n");
  const SimRun late = sim("script late.txt", dir);
  EXPECT_EQ(late.status, 2);
  EXPECT_EQ(late.out, "");
  write("absent.txt", "SET_CURRENT_MODE --mode 1024x768x24\n");
  EXPECT_THAT(sim("script absent.txt", dir).err,
              HasSubstr("absent.txt line 1: mode 1024x768x24 is not offered on this board; the nearest are:"));
}

TEST_F(Scratch, TheReferencesExamplesRunAsWritten) {
  const auto block = torvic::test::documented_block("reference.md", "<!-- examples: Scratch test -->\n",
                                                    "<!-- end of examples -->");
  ASSERT_TRUE(block) << "docs/reference.md lost its example markers";
  std::string script;
  size_t requests = 0;
  std::istringstream lines(*block);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("```", 0) != 0) {
      script += line + "\n";
      requests += line.find_first_not_of(' ') != std::string::npos && line[0] != '#';
    }
  ASSERT_GE(requests, 10u);
  write("examples.txt", script);
  const SimRun r = sim("--json script examples.txt --check-status", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(json::parse(r.out)["requests"].size(), requests);
}

}  // namespace
