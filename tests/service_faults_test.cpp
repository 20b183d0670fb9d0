// SPDX-License-Identifier: MIT
// Every video port service that NT can let fail, failing at one call: the
// failure is the one NT gives, and the driver meets it without a crash, a
// verifier stop or a success it did not have.
#include <set>

#include "host/board/monitor.h"
#include "host/display/test_pattern.h"
#include "host/port/service_faults.h"
#include "host/image/service_exports.h"
#include "tests/documented_block.h"
#include "tests/test_support.h"
#include "tools/torvic-sim/left_behind.h"

namespace torvic::test {
namespace {

using host::TraceEvent;

// The number the keep-th event of the service has among all calls of the
// service in a run (polls folded into one event count every read).
uint64_t call_number(const host::Trace &trace, const std::string &service,
                     const std::function<bool(const TraceEvent &)> &keep) {
  uint64_t calls = 0;
  for (const auto &e : trace) {
    if (e.service != service) continue;
    if (keep(e)) return calls + 1;
    calls += e.repeat;
  }
  ADD_FAILURE() << "no such call of " << service;
  return 0;
}

MachineConfig with_fault(MachineConfig c, const std::string &service, uint64_t call,
                         VP_STATUS status = ERROR_INVALID_PARAMETER) {
  c.faults.push_back({service, call, status});
  return c;
}

std::vector<int> slots_found(Machine &m) {
  std::vector<int> slots;
  for (const auto &a : m.adapters()) slots.push_back(a.slot);
  return slots;
}

TEST(ServiceFaults, EveryServiceEitherFailsAsNtCanOrCannotBeMadeTo) {
  std::set<std::string> exported, described;
  for (const auto &s : host::video_port_services()) exported.insert(s.name);
  for (const auto &info : host::service_fault_table()) described.insert(info.service);
  EXPECT_EQ(exported, described);

  EXPECT_THROW(Machine(with_fault(host::default_machine(), "VideoPortStallExecution", 1)), std::invalid_argument);
  EXPECT_THROW(Machine(with_fault(host::default_machine(), "VideoPortZeroMemory", 1)), std::invalid_argument);
  EXPECT_THROW(Machine(with_fault(host::default_machine(), "VideoPortMapMemory", 1, NO_ERROR)),
               std::invalid_argument);
}

TEST(ServiceFaults, AConfigurationReadThatFailsHidesOnlyTheBoardItAskedAbout) {
  Machine clean(host::default_machine());
  clean.boot();
  const uint64_t id_read = call_number(clean.trace(), "VideoPortGetBusData", [](const TraceEvent &e) {
    return e.slot == 3 && e.offset == 0;
  });
  Machine m(with_fault(host::default_machine(), "VideoPortGetBusData", id_read));
  EXPECT_EQ(m.boot(), NO_ERROR);
  EXPECT_THAT(slots_found(m), testing::ElementsAre(9));
  EXPECT_THAT(briefs(m.trace(), is_config_access), testing::Contains("cfg-read 3 0x0 -> 0x0 (fault)"));
  ASSERT_EQ(m.fired_faults().size(), 1u);
  EXPECT_EQ(m.fired_faults()[0].failure, "reads nothing and returns 0 bytes");
}

TEST(ServiceFaults, ABoardThatDoesNotTakeItsAddressesOrDecodingIsLeftAsFoundAndUnused) {
  Machine clean(host::default_machine());
  clean.boot();
  const uint64_t enable = call_number(clean.trace(), "VideoPortSetBusData", [](const TraceEvent &e) {
    return e.slot == 3 && e.offset == 0x4 && (e.value & 3) == 3;
  });
  const uint64_t address = call_number(clean.trace(), "VideoPortSetBusData", [](const TraceEvent &e) {
    return e.slot == 3 && e.offset == 0x10 && e.value == 0xC0000000;
  });
  for (uint64_t call : {enable, address}) {
    SCOPED_TRACE(call);
    Machine m(with_fault(host::default_machine(), "VideoPortSetBusData", call));
    EXPECT_EQ(m.boot(), NO_ERROR);
    EXPECT_THAT(slots_found(m), testing::ElementsAre(9));
    // Decoding stays as the board was powered on: off.
    EXPECT_EQ(m.board(3).config_read(0x4) & 3, 0u);
    m.open(0);
    EXPECT_EQ(DisplayClient(m, 0).set_mode(0), NO_ERROR);
  }
}

// What a run leaves behind, as the fault table tells it: boot, start every
// board, then plant() changes the machine as a fault might have; the rest
// is noted as the sweep notes it.
sim::LeftBehind left_by(const MachineConfig &config, const std::function<void(Machine &)> &plant = {}) {
  Machine m(config);
  sim::LeftBehind left;
  left.power_on = sim::pci_states(m);
  m.boot();
  std::vector<bool> started;
  for (size_t i = 0; i < m.adapters().size(); i++) started.push_back(m.initialize(i));
  if (plant) plant(m);
  sim::note_what_is_left(m, started, left);
  return left;
}

TEST(ServiceFaults, WhatAFaultLeavesBehindIsNamedAgainstTheRightBaseline) {
  Machine clean(host::default_machine());
  clean.boot();
  const sim::LeftBehind base = left_by(host::default_machine());
  EXPECT_THAT(sim::left_behind(base, left_by(host::default_machine())), testing::IsEmpty());

  // A board the driver took is set against the run without the fault, not
  // against power-on (where its decoding was off).
  const auto taken = left_by(host::default_machine(), [](Machine &m) {
    m.board(3).config_write(0x4, m.board(3).command() | 0x4);
    m.board(3).config_write(0x14, 0xD2000000);
    DisplayClient(m, 1).map_video_memory();
  });
  EXPECT_THAT(sim::left_behind(base, taken),
              testing::ElementsAre("slot 3 left bus master on (off without the fault), "
                                   "BAR1 0xD2000000 (0xC2000000 without the fault)",
                                   "mapping of 0xC8000000 +0x800000 still held"));

  // A board passed over once its addresses were programmed is set against
  // how it was powered on: the driver gives it back as found, with what it
  // had mapped of it.
  const uint64_t frame_buffer = call_number(clean.trace(), "VideoPortGetDeviceBase", [](const TraceEvent &e) {
    return e.slot == 9 && e.arg("phys") == "0xC8000000";
  });
  const auto fault = with_fault(host::default_machine(), "VideoPortGetDeviceBase", frame_buffer);
  EXPECT_THAT(sim::left_behind(base, left_by(fault)), testing::IsEmpty());
  const auto planted_decoding = left_by(fault, [](Machine &m) {
    m.board(9).config_write(0x4, 0x2);
    m.board(9).config_write(0x30, 0xCE000000);
  });
  EXPECT_THAT(sim::left_behind(base, planted_decoding),
              testing::ElementsAre("slot 9 left memory decoding on (found off), ROM 0xCE000000 "
                                   "(found 0xCC030000)"));

  // With the 4 MiB board passed over, the 8 MiB one keeps the modes that
  // fit it.
  const uint64_t first_id = call_number(clean.trace(), "VideoPortGetBusData", [](const TraceEvent &e) {
    return e.slot == 3 && e.offset == 0;
  });
  EXPECT_THAT(sim::left_behind(base, left_by(with_fault(host::default_machine(), "VideoPortGetBusData", first_id))),
              testing::ElementsAre("board 0 offers 79 modes (69 without the fault)"));

  // Registry values by data as well as by name.
  auto planted = base;
  planted.stored.at(2).data = {0, 0, 0x80, 0};
  planted.stored.erase(planted.stored.begin() + 5);
  EXPECT_THAT(sim::left_behind(base, planted),
              testing::ElementsAre("slot 3 HardwareInformation.MemorySize stored as 0x800000 "
                                   "(0x400000 without the fault)",
                                   "slot 9 HardwareInformation.DacType not stored"));
}

TEST(ServiceFaults, AnEngineStatusReadTheBoardDoesNotAnswerIsPolledAgain) {
  const auto set_mode = [](Machine &m) {
    m.boot();
    m.open(0);
    return DisplayClient(m, 0).set_mode(25);
  };
  Machine clean(machine({board(3)}));
  ASSERT_EQ(set_mode(clean), NO_ERROR);
  const uint64_t poll = call_number(clean.trace(), "VideoPortReadRegisterUlong",
                                    [](const TraceEvent &e) { return e.reg == "ENGINE_BUSY"; });
  Machine m(with_fault(machine({board(3)}), "VideoPortReadRegisterUlong", poll));
  EXPECT_EQ(set_mode(m), NO_ERROR);
  EXPECT_EQ(m.calls_to("VideoPortReadRegisterUlong"), clean.calls_to("VideoPortReadRegisterUlong") + 1)
      << "all ones reads as busy: the driver asks once more";
  EXPECT_EQ(host::decode_monitor(m.board(3)).width, 1024u);
}

TEST(ServiceFaults, LostWritesShowInTheBoardAndTheTraceNotInTheStatus) {
  // The red of entry 0xE0 lost: the DAC never counted it, so that entry's
  // green lands in its red; the next entry starts from its own index.
  Machine clean(machine({board(3)}));
  clean.boot();
  clean.open(0);
  const uint64_t before = clean.calls_to("VideoPortWriteRegisterUchar");
  ASSERT_EQ(DisplayClient(clean, 0).set_palette(0, host::pattern_palette()), NO_ERROR);
  const auto palette_writes = [&](const TraceEvent &e) { return e.reg == "DAC_DATA"; };
  const uint64_t first = call_number(clean.trace(), "VideoPortWriteRegisterUchar", palette_writes);
  ASSERT_GT(first, before);
  Machine m(with_fault(machine({board(3)}), "VideoPortWriteRegisterUchar", first + uint64_t{4} * 0xE0));
  m.boot();
  m.open(0);
  const auto palette = host::pattern_palette();
  EXPECT_EQ(DisplayClient(m, 0).set_palette(0, palette), NO_ERROR);
  EXPECT_EQ(m.board(3).palette(0xDF), clean.board(3).palette(0xDF));
  EXPECT_NE(m.board(3).palette(0xE0), clean.board(3).palette(0xE0));
  EXPECT_EQ(m.board(3).palette(0xE1), clean.board(3).palette(0xE1));
  EXPECT_THAT(briefs(m.trace()), testing::Contains("write8 DAC_DATA " + hex(palette[0xE0].Red) + " (fault)"));

  // The clear of video memory lost: what was drawn stays.
  Machine z(with_fault(machine({board(3)}), "VideoPortZeroDeviceMemory", 2));
  z.boot();
  z.open(0);
  DisplayClient client(z, 0);
  ASSERT_EQ(client.set_mode(0), NO_ERROR);
  z.board(3).vram()[100] = 0x5A;
  EXPECT_EQ(client.set_mode(0), NO_ERROR);
  EXPECT_EQ(z.board(3).vram()[100], 0x5A);
}

TEST(ServiceFaults, ResetDeviceReportsABiosThatDidNotSetTextMode) {
  Machine m(with_fault(machine({board(3)}), "VideoPortInt10", 1, ERROR_INVALID_FUNCTION));
  m.boot();
  m.open(0);
  DisplayClient client(m, 0);
  ASSERT_EQ(client.set_mode(25), NO_ERROR);
  EXPECT_EQ(client.reset_device(), ERROR_INVALID_FUNCTION);
  EXPECT_NE(host::decode_monitor(m.board(3)).state, host::DisplayState::VgaText);
  EXPECT_EQ(client.reset_device(), NO_ERROR) << "the next call reaches the BIOS";
  EXPECT_EQ(host::decode_monitor(m.board(3)).state, host::DisplayState::VgaText);
}

// The documented table of how each service fails is the host's own table:
// a service added or a failure changed must show in torvic-sim's manual.
TEST(ServiceFaults, TheDocumentedTableIsTheHostsOwn) {
  std::string table = "| Service | A failed call |\n|---|---|\n";
  for (const auto &info : host::service_fault_table()) {
    table += std::string("| `") + info.service + "` | " + info.failure;
    if (info.kind == host::FaultKind::CannotFail) table += "; a fault in it is refused";
    table += " |\n";
  }
  const auto documented = documented_block("torvic-sim.md", "<!-- service faults: ServiceFaults test -->\n",
                                           "<!-- end of service faults -->");
  ASSERT_TRUE(documented) << "docs/torvic-sim.md lost its markers";
  EXPECT_EQ(*documented, table)
      << "replace the table in docs/torvic-sim.md with:\n" << table;
}

}  // namespace
}  // namespace torvic::test
