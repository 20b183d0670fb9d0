// SPDX-License-Identifier: MIT
// The ordered record of every video port service call of a machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvic::host {

struct TraceEvent {
  uint64_t seq = 0;
  uint64_t time_us = 0;   // virtual time when the call was made
  int slot = -1;          // board the call reached, -1 for none
  std::string service;    // e.g. "VideoPortWriteRegisterUlong"
  std::string block;      // "cfg", "reg", "io", "fb" or empty
  uint32_t offset = 0;
  std::string reg;        // register name, or empty
  int width = 0;          // 8 or 32 for register accesses, 0 otherwise
  bool is_read = false;
  uint64_t value = 0;     // value written, or value returned by a read
  std::string detail;     // arguments of other services, in words
  // The same by name, as the JSON form gives them: registry data, BIOS
  // registers, mapped ranges, the indexed DAC register a data write reaches.
  // Each value is kept written as JSON (host/port/trace_args.h sets them).
  struct Arg {
    std::string name, json;
  };
  std::vector<Arg> args;
  // "begin" or "end" on a marker that brackets a driver callback (service
  // is then the callback's name); empty on a service call.
  std::string phase;
  uint64_t repeat = 1;    // identical reads or stalls in a row are one event
  std::string fault;      // how the call failed when the machine injected a fault

  bool is_marker() const { return !phase.empty(); }
  // A named value as text (a string without its quotes); empty when absent.
  std::string arg(const std::string &name) const;
  // One line of text in aligned columns, as printed by the trace.
  std::string text() const;
  // One JSON object on one line.
  std::string json() const;
  // Compact form for tests: "read CONFIG1 -> 0x400", "write8 DAC_INDEX_LOW 0x15",
  // "write CONFIG2 0x1F00", "cfg-read 3 0x2C -> 0xA1F3A", "stall 50", or the
  // service name followed by detail for the others. A poll read more than
  // once ends in " (x N)".
  // A call into which the machine injected a fault ends in " (fault)".
  std::string brief() const;

 private:
  std::string brief_of_call() const;
};

using Trace = std::vector<TraceEvent>;

}  // namespace torvic::host
