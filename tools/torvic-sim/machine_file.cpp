// SPDX-License-Identifier: MIT
// The machine-file format: the reader behind --machine and the writer behind
// `machine --default`, kept in one file (past 300 lines) so that a field the
// reader learns is written back next to it; the fuzz target links it alone.
#include "machine_file.h"

#include "host/port/service_faults.h"
#include "host/common/text.h"
#include "input_files.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <set>
#include <sstream>

namespace torvic::sim {

namespace {

using host::hex;
using nlohmann::json;
using nlohmann::ordered_json;

[[noreturn]] void fail(const std::string &path, const std::string &what) {
  throw InputError("machine file: " + path + ": " + what);
}

std::string join(const std::vector<std::string> &keys) {
  std::string s;
  for (const auto &k : keys) s += (s.empty() ? "" : ", ") + k;
  return s;
}

void only_keys(const json &object, const std::string &path, const std::vector<std::string> &allowed) {
  if (!object.is_object()) fail(path, "must be an object");
  for (const auto &[key, value] : object.items())
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
      fail(path + "." + key, "unknown key; allowed keys: " + join(allowed));
}

// An integer, written as a JSON number or as a string of hexadecimal digits
// after "0x", within [low, high].
int64_t integer(const json &value, const std::string &path, int64_t low, int64_t high) {
  const std::string allowed = "allowed " + std::to_string(low) + " to " + std::to_string(high);
  // JSON keeps a number beyond 64 bits as a float, which would be shown
  // rounded (1e+20): say what is wrong without repeating it.
  const bool too_large = (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(INT64_MAX)) ||
                         (value.is_number_float() && std::fabs(value.get<double>()) >= 0x1p63);
  if (too_large) fail(path, "a number this large is out of range; " + allowed);
  int64_t v = 0;
  if (value.is_number_integer()) {
    v = value.get<int64_t>();
  } else if (value.is_string()) {
    const std::string s = value.get<std::string>();
    size_t used = 0;
    try {
      if (s.rfind("0x", 0) != 0 && s.rfind("0X", 0) != 0) throw std::invalid_argument(s);
      v = static_cast<int64_t>(std::stoull(s.substr(2), &used, 16));
      if (used != s.size() - 2) throw std::invalid_argument(s);
    } catch (const std::exception &) {
      fail(path, "\"" + s + "\" is not a number; write a JSON integer or a \"0x\" hexadecimal string");
    }
  } else if (value.is_number()) {
    fail(path, value.dump() + " is not an integer; " + allowed);
  } else {
    fail(path, std::string("must be an integer, not ") + value.type_name());
  }
  if (v < low || v > high)
    fail(path, std::to_string(v) + " is out of range; " + allowed);
  return v;
}

bool boolean(const json &value, const std::string &path) {
  if (!value.is_boolean()) fail(path, std::string("must be true or false, not ") + value.type_name());
  return value.get<bool>();
}

// A register without an address keeps the board's default place for a
// register of its space, aligned to its size.
host::BarConfig parse_bar(const json &j, const std::string &path, int bar,
                          const host::BoardConfig &defaults) {
  host::BarConfig b;
  if (j.is_null()) {
    b.implemented = false;
    return b;
  }
  only_keys(j, path, bar == host::kRomBar ? std::vector<std::string>{"size", "address", "enabled"}
                                          : std::vector<std::string>{"io", "prefetchable", "size", "address"});
  if (j.contains("io")) b.io = boolean(j["io"], path + ".io");
  if (j.contains("prefetchable")) b.prefetchable = boolean(j["prefetchable"], path + ".prefetchable");
  if (j.contains("enabled")) b.rom_enabled = boolean(j["enabled"], path + ".enabled");
  if (!j.contains("size")) fail(path + ".size", "missing; every implemented register has a size");
  // PCI: an I/O register spans 4 to 256 ports, a memory register at least 16
  // bytes, the expansion ROM at least 2 KiB.
  const int64_t min = bar == host::kRomBar ? 0x800 : b.io ? 4 : 16;
  const int64_t max = b.io ? 0x100 : 0x80000000LL;
  const int64_t size = integer(j["size"], path + ".size", min, max);
  if ((size & (size - 1)) != 0) fail(path + ".size", std::to_string(size) + " is not a power of two");
  b.size = static_cast<uint32_t>(size);
  if (j.contains("address")) {
    const int64_t address = integer(j["address"], path + ".address", 0, b.io ? 0xFFFF : 0xFFFFFFFFLL);
    if (address % size != 0)
      fail(path + ".address", hex(static_cast<uint32_t>(address)) + " is not aligned to the register's size " +
                                  hex(static_cast<uint32_t>(size)) + "; a base address register holds only "
                                  "multiples of its size");
    b.power_on_address = static_cast<uint32_t>(address);
  } else {
    const host::BarConfig &place =
        defaults.bars[bar].io == b.io ? defaults.bars[bar]
                                      : defaults.bars[b.io ? host::kIoBar : host::kRegisterBar];
    b.power_on_address = place.power_on_address & ~(b.size - 1);
  }
  return b;
}

host::BoardConfig parse_board(const json &j, const std::string &path, uint32_t index) {
  only_keys(j, path,
            {"slot", "variant_code", "memory_mib", "vendor_id", "device_id", "subsystem_vendor_id",
             "command", "bars", "config1", "config2", "config3", "vga_ctrl", "xya_ctrl", "xyb_ctrl",
             "engine_busy_reads"});
  if (!j.contains("slot")) fail(path + ".slot", "missing; every board sits in a slot from 0 to 31");
  const auto slot = static_cast<uint32_t>(integer(j["slot"], path + ".slot", 0, 31));
  uint16_t variant = 0;
  if (j.contains("variant_code"))
    variant = static_cast<uint16_t>(integer(j["variant_code"], path + ".variant_code", 0, 0xFFFF));
  uint32_t memory = 4;
  if (j.contains("memory_mib")) {
    const json &v = j["memory_mib"];
    const bool known = v.is_number_integer() && (v == 2 || v == 4 || v == 8);
    if (!known)
      fail(path + ".memory_mib", v.dump() + " is not a board size; allowed 2, 4 or 8");
    memory = v.get<uint32_t>();
  }
  host::BoardConfig b = host::default_board(slot, variant, memory * host::kMiB, index);
  auto u16 = [&](const char *key, uint16_t &field) {
    if (j.contains(key)) field = static_cast<uint16_t>(integer(j[key], path + "." + key, 0, 0xFFFF));
  };
  auto u32 = [&](const char *key, uint32_t &field) {
    if (j.contains(key)) field = static_cast<uint32_t>(integer(j[key], path + "." + key, 0, 0xFFFFFFFFLL));
  };
  u16("vendor_id", b.vendor_id);
  u16("device_id", b.device_id);
  u16("subsystem_vendor_id", b.subsystem_vendor_id);
  u16("command", b.command_power_on);
  if (j.contains("config1")) {
    uint32_t v = 0;
    u32("config1", v);
    b.config1 = v;
  }
  u32("config2", b.config2_power_on);
  u32("config3", b.config3_power_on);
  u32("vga_ctrl", b.vga_ctrl_power_on);
  u32("xya_ctrl", b.xya_ctrl_power_on);
  u32("xyb_ctrl", b.xyb_ctrl_power_on);
  if (j.contains("engine_busy_reads"))
    b.engine.busy_reads = integer(j["engine_busy_reads"], path + ".engine_busy_reads", -1, 1LL << 40);
  if (j.contains("bars")) {
    const json &bars = j["bars"];
    if (!bars.is_array() || bars.size() != host::kNumBars)
      fail(path + ".bars", "must be an array of 7 entries (BAR0 to BAR5, then the expansion ROM), "
                           "each an object or null for a register the board does not implement");
    const host::BoardConfig defaults = b;
    for (int i = 0; i < host::kNumBars; i++)
      b.bars[i] = parse_bar(bars[i], path + ".bars[" + std::to_string(i) + "]", i, defaults);
  }
  return b;
}

std::string services_that_fail() {
  std::string list;
  for (const auto &info : host::service_fault_table())
    if (info.kind != host::FaultKind::CannotFail) list += (list.empty() ? "" : ", ") + std::string(info.service);
  return list;
}

// A fault makes the call-th call of a service fail the way NT's own service
// can fail: with a status for the services that return one, otherwise as the
// service's failure is defined (see service_faults.h).
host::ServiceFault parse_fault(const json &j, const std::string &path) {
  only_keys(j, path, {"service", "call", "status"});
  host::ServiceFault f;
  if (!j.contains("service") || !j["service"].is_string())
    fail(path + ".service", "missing; name the video port service that fails: " + services_that_fail());
  f.service = j["service"].get<std::string>();
  const host::ServiceFaultInfo *info = host::service_fault_info(f.service);
  if (!info) fail(path + ".service", "\"" + f.service + "\" is not a video port service that can fail; "
                                     "allowed: " + services_that_fail());
  if (info->kind == host::FaultKind::CannotFail)
    fail(path + ".service", f.service + " cannot fail; services that can: " + services_that_fail());
  if (j.contains("call")) f.call = static_cast<uint64_t>(integer(j["call"], path + ".call", 1, 1LL << 40));
  if (info->kind == host::FaultKind::Status) {
    if (!j.contains("status"))
      fail(path + ".status", "missing; " + f.service + " fails with a status, for example 87 "
                             "(ERROR_INVALID_PARAMETER)");
    f.status = static_cast<VP_STATUS>(integer(j["status"], path + ".status", 1, 0xFFFFFFFFLL));
  } else if (j.contains("status")) {
    fail(path + ".status", f.service + " returns no status; a fault in it " + info->failure);
  }
  return f;
}

// JSON allows a key twice in one object and keeps the last; in a machine
// file that hides a mistake, so the reader refuses it with its path.
class DuplicateKeyCheck {
 public:
  bool operator()(int, json::parse_event_t event, json &parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        if (!frames_.empty() && frames_.back().is_array) frames_.back().index++;
        frames_.push_back({event == json::parse_event_t::array_start, -1, "", {}});
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        if (!frames_.empty()) frames_.pop_back();
        break;
      case json::parse_event_t::key: {
        Frame &f = frames_.back();
        f.key = parsed.get<std::string>();
        if (!f.keys.insert(f.key).second)
          fail(path(), "given twice in one object; give each key once");
        break;
      }
      case json::parse_event_t::value:
        if (!frames_.empty() && frames_.back().is_array) frames_.back().index++;
        break;
    }
    return true;
  }

 private:
  struct Frame {
    bool is_array;
    int index;
    std::string key;
    std::set<std::string> keys;
  };
  std::string path() const {
    std::string p = "$";
    for (const Frame &f : frames_) p += f.is_array ? "[" + std::to_string(f.index) + "]" : "." + f.key;
    return p;
  }
  std::vector<Frame> frames_;
};

// Where the video port runs the driver as ReactOS's does (each switch off:
// as NT 4.0's).
host::ReactOsLegacyPath parse_reactos(const json &j, const std::string &path) {
  if (!j.is_object()) fail(path, "must be an object");
  std::vector<std::string> keys;
  for (const ReactOsSwitch &s : kReactOsSwitches) keys.emplace_back(s.key);
  only_keys(j, path, keys);
  host::ReactOsLegacyPath r;
  for (const ReactOsSwitch &s : kReactOsSwitches)
    if (j.contains(s.key)) r.*s.on = boolean(j[s.key], path + "." + s.key);
  return r;
}

}  // namespace

host::MachineConfig parse_machine(const std::string &text) {
  json j;
  try {
    j = json::parse(text, DuplicateKeyCheck());
  } catch (const json::parse_error &e) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < e.byte && i < text.size(); i++) {
      if (text[i] == '\n') line++, column = 1;
      else column++;
    }
    throw InputError("machine file: invalid JSON at line " + std::to_string(line) + ", column " +
                     std::to_string(column) + ": " + e.what());
  } catch (const json::exception &e) {
    // A number too large for any field, for one.
    throw InputError(std::string("machine file: ") + e.what());
  }
  only_keys(j, "$", {"boards", "faults", "config_info_length", "reactos"});
  // Without "boards" the machine holds the default machine's boards, so that
  // a file of faults alone fails a service on the machine every run knows.
  host::MachineConfig config = host::machine_with({});
  if (!j.contains("boards")) config.boards = host::default_machine().boards;
  else if (!j["boards"].is_array()) fail("$.boards", "must be an array of boards (it may be empty)");
  std::map<uint32_t, std::string> slots;
  for (size_t i = 0; j.contains("boards") && i < j["boards"].size(); i++) {
    const std::string path = "$.boards[" + std::to_string(i) + "]";
    host::BoardConfig b = parse_board(j["boards"][i], path, static_cast<uint32_t>(i));
    if (slots.contains(b.slot))
      fail(path + ".slot", "slot " + std::to_string(b.slot) + " already holds " + slots[b.slot] +
                               "; one board a slot");
    slots[b.slot] = path;
    config.boards.push_back(b);
  }
  if (j.contains("faults")) {
    if (!j["faults"].is_array()) fail("$.faults", "must be an array");
    for (size_t i = 0; i < j["faults"].size(); i++) {
      const std::string path = "$.faults[" + std::to_string(i) + "]";
      const host::ServiceFault f = parse_fault(j["faults"][i], path);
      // Only one fault can fire at one call; a second would silently never do.
      for (size_t k = 0; k < config.faults.size(); k++)
        if (config.faults[k].service == f.service && config.faults[k].call == f.call)
          fail(path, "call " + std::to_string(f.call) + " of " + f.service + " already fails by $.faults[" +
                         std::to_string(k) + "]; one fault a call");
      config.faults.push_back(f);
    }
  }
  if (j.contains("config_info_length"))
    config.config_info_length =
        static_cast<ULONG>(integer(j["config_info_length"], "$.config_info_length", 0, 4096));
  if (j.contains("reactos")) config.reactos = parse_reactos(j["reactos"], "$.reactos");
  return config;
}

host::MachineConfig load_machine_file(const std::string &path, const std::string &option) {
  return parse_machine(read_input_file(option, path));
}

ordered_json machine_to_json(const host::MachineConfig &config) {
  ordered_json out;
  out["boards"] = ordered_json::array();
  for (const auto &b : config.boards) {
    ordered_json j;
    j["slot"] = b.slot;
    j["variant_code"] = b.variant_code;
    j["memory_mib"] = b.memory_size / host::kMiB;
    j["vendor_id"] = hex(b.vendor_id);
    j["device_id"] = hex(b.device_id);
    j["subsystem_vendor_id"] = hex(b.subsystem_vendor_id);
    j["command"] = hex(b.command_power_on);
    j["bars"] = ordered_json::array();
    for (int i = 0; i < host::kNumBars; i++) {
      const host::BarConfig &bar = b.bars[i];
      if (!bar.implemented) {
        j["bars"].push_back(nullptr);
        continue;
      }
      ordered_json e;
      if (i != host::kRomBar) {
        e["io"] = bar.io;
        e["prefetchable"] = bar.prefetchable;
      }
      e["size"] = hex(bar.size);
      e["address"] = hex(bar.power_on_address);
      if (i == host::kRomBar) e["enabled"] = bar.rom_enabled;
      j["bars"].push_back(e);
    }
    if (b.config1) j["config1"] = hex(*b.config1);
    j["config2"] = hex(b.config2_power_on);
    j["config3"] = hex(b.config3_power_on);
    j["vga_ctrl"] = hex(b.vga_ctrl_power_on);
    j["xya_ctrl"] = hex(b.xya_ctrl_power_on);
    j["xyb_ctrl"] = hex(b.xyb_ctrl_power_on);
    j["engine_busy_reads"] = b.engine.busy_reads;
    out["boards"].push_back(j);
  }
  out["faults"] = ordered_json::array();
  for (const auto &f : config.faults) {
    ordered_json fault = {{"service", f.service}, {"call", f.call}};
    // Only a service that returns a status fails with one.
    const host::ServiceFaultInfo *info = host::service_fault_info(f.service);
    if (info && info->kind == host::FaultKind::Status) fault["status"] = hex(static_cast<uint32_t>(f.status));
    out["faults"].push_back(fault);
  }
  out["config_info_length"] = config.config_info_length;
  out["reactos"] = ordered_json::object();
  for (const ReactOsSwitch &s : kReactOsSwitches) out["reactos"][s.key] = config.reactos.*s.on;
  return out;
}

}  // namespace torvic::sim
