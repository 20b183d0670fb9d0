#include "host/trace.h"

#include "host/text.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace torvic::host {

namespace {
std::string location(const TraceEvent &e) {
  if (!e.reg.empty()) return e.reg;
  return e.block + "+" + hex(e.offset);
}
}  // namespace

std::string TraceEvent::brief() const {
  if (!fault.empty()) return brief_of_call() + " (fault)";
  return brief_of_call();
}

std::string TraceEvent::brief_of_call() const {
  if (block == "cfg")
    return std::string(is_read ? "cfg-read " : "cfg-write ") + std::to_string(slot) + " " +
           hex(offset) + (is_read ? " -> " : " ") + hex(value);
  if (width != 0) {
    if (is_read)
      return "read " + location(*this) + " -> " + hex(value) +
             (repeat > 1 ? " (x " + std::to_string(repeat) + ")" : "");
    return std::string(width == 8 ? "write8 " : "write ") + location(*this) + " " + hex(value);
  }
  if (service == "VideoPortStallExecution") return "stall " + std::to_string(value);
  return detail.empty() ? service : service + " " + detail;
}

std::string TraceEvent::text() const {
  char head[64];
  snprintf(head, sizeof head, "#%-6llu t=%-9llu ", static_cast<unsigned long long>(seq),
           static_cast<unsigned long long>(time_us));
  std::string s = head;
  s += slot >= 0 ? "slot " + std::to_string(slot) + "  " : "         ";
  s += service;
  if (!block.empty()) s += " " + block + "+" + hex(offset);
  if (!reg.empty()) s += " " + reg;
  if (width != 0 || block == "cfg") s += is_read ? " -> " + hex(value) : " <- " + hex(value);
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
  if (!detail.empty()) j["detail"] = detail;
  if (repeat > 1) j["repeat"] = repeat;
  if (!fault.empty()) j["fault"] = fault;
  return j.dump();
}

}  // namespace torvic::host
