// SPDX-License-Identifier: MIT
// Trace events as text, JSON and the compact form tests compare (trace.h).
#include "host/port/trace.h"

#include "host/common/text.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace torvic::host {

namespace {
std::string location(const TraceEvent &e) {
  if (!e.reg.empty()) return e.reg;
  return e.block + "+" + hex(e.offset);
}
}  // namespace

std::string TraceEvent::arg(const std::string &name) const {
  for (const Arg &a : args)
    if (a.name == name) {
      const auto parsed = nlohmann::json::parse(a.json);
      return parsed.is_string() ? parsed.get<std::string>() : parsed.dump();
    }
  return {};
}

std::string TraceEvent::brief() const {
  if (!fault.empty()) return brief_of_call() + " (fault)";
  return brief_of_call();
}

std::string TraceEvent::brief_of_call() const {
  if (is_marker()) return phase + " " + service;
  if (block == "cfg")
    return std::string(is_read ? "cfg-read " : "cfg-write ") + std::to_string(slot) + " " +
           hex(offset) + (is_read ? " -> " : " ") + hex(value);
  if (width != 0) {
    if (is_read)
      return "read " + location(*this) + " -> " + hex(value) +
             (repeat > 1 ? " (x " + std::to_string(repeat) + ")" : "");
    return std::string(width == 8 ? "write8 " : "write ") + location(*this) + " " + hex(value);
  }
  if (service == "VideoPortStallExecution")
    return "stall " + std::to_string(value) + (repeat > 1 ? " (x " + std::to_string(repeat) + ")" : "");
  return detail.empty() ? service : service + " " + detail;
}

std::string TraceEvent::text() const {
  std::string s = formatted("#%-6llu %9llu us  %-8s", static_cast<unsigned long long>(seq),
                            static_cast<unsigned long long>(time_us),
                            slot >= 0 ? ("slot " + std::to_string(slot)).c_str() : "");
  if (is_marker()) {
    s += (phase == "begin" ? ">> " : "<< ") + service;
    for (const Arg &a : args) s += "  " + a.name + " " + arg(a.name);
    return s;
  }
  s += formatted("%-31s", service.c_str());
  if (!block.empty()) s += formatted(" %-10s %-18s", (block + "+" + hex(offset)).c_str(), reg.c_str());
  if (width != 0 || block == "cfg") s += is_read ? "-> " + hex(value) : "<- " + hex(value);
  if (!arg("dac_register").empty()) s += "  (DAC " + arg("dac_index") + " " + arg("dac_register") + ")";
  if (service == "VideoPortStallExecution") s += " " + std::to_string(value) + " us";
  if (!detail.empty()) s += " " + detail;
  if (repeat > 1) s += " (x " + std::to_string(repeat) + ")";
  if (!fault.empty()) s += " FAULT: " + fault;
  return s;
}

std::string TraceEvent::json() const {
  nlohmann::ordered_json j;
  j["seq"] = seq;
  j["time_us"] = time_us;
  if (slot >= 0) j["slot"] = slot;
  j["service"] = service;
  if (!block.empty()) {
    j["block"] = block;
    j["offset"] = offset;
  }
  if (!reg.empty()) j["register"] = reg;
  if (width != 0) j["width"] = width;
  if (width != 0 || block == "cfg") {
    j["access"] = is_read ? "read" : "write";
    j["value"] = value;
  }
  if (is_marker()) j["phase"] = phase;
  if (service == "VideoPortStallExecution") j["microseconds"] = value;
  // Fields where the call has them; the words only where it has none.
  if (!args.empty()) {
    j["args"] = nlohmann::ordered_json::object();
    for (const Arg &a : args) j["args"][a.name] = nlohmann::ordered_json::parse(a.json);
  }
  else if (!detail.empty()) j["detail"] = detail;
  if (repeat > 1) j["repeat"] = repeat;
  if (!fault.empty()) j["fault"] = fault;
  return j.dump();
}

}  // namespace torvic::host
