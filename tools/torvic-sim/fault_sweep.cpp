// torvic-sim faults: every fallible video port service made to fail, once at
// each place the driver calls it, during boot, initialisation, the demo's
// display-driver session and the reset; what the driver then does, set
// against a run without faults.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <thread>

#include "host/display/display_client.h"
#include "host/port/request_names.h"
#include "host/port/service_faults.h"
#include "host/port/text.h"
#include "left_behind.h"
#include "machine_file.h"
#include "session.h"

namespace torvic::sim {

namespace {

using host::DisplayClient;

// A place the driver calls a service: the callback (and request) it is in,
// the board, the service and what the call reaches. The first call there is
// the one made to fail.
struct CallSite {
  std::string callback;
  int slot = -1;
  std::string service;
  std::string target;
  uint64_t call = 0;  // the service's call number, counted from 1 over the run
};

// What a run did, in the terms the table compares.
struct RunResult {
  std::string stop;            // the verifier's message; empty when it did not stop the run
  std::vector<int> found;      // slots of the boards found
  // Per board found: what went otherwise than asked.
  std::vector<std::vector<std::string>> board_notes;
  std::vector<std::string> monitors;     // per board found: what its monitor shows after the session
  // Every board's monitor after the machine went down, by slot.
  std::map<int, std::string> after_reset;
  std::string later;           // how later requests fared: empty when they all worked

  LeftBehind left;             // what the run leaves behind once the session and the reset are done
};

// The status the fault gives a service that returns one: what NT answers
// when it cannot do what was asked.
VP_STATUS fault_status(const std::string &service) {
  if (service == "VideoPortMapMemory") return ERROR_NOT_ENOUGH_MEMORY;
  if (service == "VideoPortInt10") return ERROR_INVALID_FUNCTION;
  return ERROR_INVALID_PARAMETER;
}

std::string short_request(const std::string &name) {
  const std::string prefix = "IOCTL_VIDEO_";
  return name.rfind(prefix, 0) == 0 ? name.substr(prefix.size()) : name;
}

std::string target_of(const host::TraceEvent &e) {
  if (!e.reg.empty()) {
    const std::string dac = e.arg("dac_register");
    return dac.empty() ? e.reg : e.reg + "/" + dac;
  }
  if (e.service == "VideoPortSetRegistryParameters") return e.arg("name");
  if (e.service == "VideoPortInt10") return "AX " + e.arg("eax");
  if (e.service == "VideoPortUnmapMemory") return e.arg("phys");
  if (!e.arg("length").empty() && !e.arg("phys").empty())
    return e.arg("phys") + " +" + host::hex(std::stoull(e.arg("length"))) +
           (e.arg("process").empty() || e.arg("process") == "null" ? "" : " shared");
  return "";
}

// Every call site of the fallible services in a run's trace, in order.
std::vector<CallSite> call_sites(const host::Trace &trace) {
  std::vector<CallSite> sites;
  std::map<std::string, uint64_t> calls;
  std::string callback;
  for (const auto &e : trace) {
    if (e.is_marker()) {
      if (e.phase == "begin") {
        const std::string request = e.arg("request");
        callback = request.empty() ? e.service : e.service + " " + short_request(request);
      }
      continue;
    }
    // The port's own calls (the BIOS mode set after a reset callback that
    // returns FALSE) are not the driver's and take no fault.
    if (e.arg("caller") == "video port") continue;
    const uint64_t first_call = calls[e.service] + 1;
    calls[e.service] += e.repeat;
    const auto *info = host::service_fault_info(e.service);
    if (!info || info->kind == host::FaultKind::CannotFail || !e.fault.empty()) continue;
    CallSite site{callback, e.slot, e.service, target_of(e), first_call};
    const bool seen = std::any_of(sites.begin(), sites.end(), [&](const CallSite &s) {
      return s.callback == site.callback && s.slot == site.slot && s.service == site.service &&
             s.target == site.target;
    });
    if (!seen) sites.push_back(site);
  }
  return sites;
}

// What a monitor shows, in few words: every timing value it decodes.
std::string monitor_text(const host::Board &board) {
  const host::MonitorTiming t = host::decode_monitor(board);
  if (t.state == host::DisplayState::VgaText) return "VGA text";
  if (t.state == host::DisplayState::Vga) return "VGA";
  return host::formatted("%ux%ux%u, total %ux%u, h %u/%u/%u%c, v %u/%u/%u%c, %.3f MHz, %.2f Hz", t.width,
                         t.height, t.bits_per_pixel, t.total_width, t.total_height, t.h_front_porch, t.h_sync,
                         t.h_back_porch, t.hsync_positive ? '+' : '-', t.v_front_porch, t.v_sync,
                         t.v_back_porch, t.vsync_positive ? '+' : '-', t.pixel_clock_mhz, t.refresh_hz);
}

// Whether the monitor shows the mode and exactly the pattern drawn.
bool shows(const host::Board &board, const VIDEO_MODE_INFORMATION &mode, const host::PatternImage &image) {
  const host::MonitorTiming t = host::decode_monitor(board);
  if (t.state != host::DisplayState::Graphics || t.width != mode.VisScreenWidth ||
      t.height != mode.VisScreenHeight || t.bits_per_pixel != mode.BitsPerPlane)
    return false;
  return first_picture_difference(board, t, image).empty();
}

constexpr const char *kPictureDiffers = "the picture differs from the one drawn";

std::string joined(const std::vector<std::string> &parts) {
  std::string all;
  for (const auto &p : parts) all += (all.empty() ? "" : "; ") + p;
  return all;
}

// The demo's display-driver session on one board: the modes, the mode set,
// video memory mapped, the palette at 8 bits per pixel, a picture drawn, the
// public ranges taken and given back, the mapping given back. Returns what
// went otherwise than asked; empty when all went as asked.
std::vector<std::string> show_on(Machine &m, size_t i, const std::string &wanted, host::Pattern pattern) {
  DisplayClient client(m, i);
  std::vector<std::string> notes;
  auto failed = [&](const char *request, VP_STATUS s) {
    if (s != NO_ERROR) notes.push_back(std::string(request) + " answers " + status_name(s));
    return s != NO_ERROR;
  };
  const auto modes = client.modes();
  if (modes.empty()) return {"no modes listed"};
  const VIDEO_MODE_INFORMATION mode = demo_mode(modes, wanted).mode;
  if (failed("SET_CURRENT_MODE", client.set_mode(mode.ModeIndex))) return notes;
  const auto memory = client.map_video_memory();
  if (failed("MAP_VIDEO_MEMORY", memory.status)) return notes;
  if (mode.BitsPerPlane == 8) failed("SET_COLOR_REGISTERS", client.set_palette(0, host::pattern_palette()));
  const host::PatternImage image(pattern, mode);
  if (client.frame_fits(memory, mode))
    image.draw(memory.frame, mode.ScreenStride);
  else
    notes.push_back("the frame does not fit the mapped frame buffer");
  const auto ranges = client.query_public_ranges();
  if (!failed("QUERY_PUBLIC_ACCESS_RANGES", ranges.status))
    failed("FREE_PUBLIC_ACCESS_RANGES", client.free_public_ranges(ranges.bytes));
  failed("UNMAP_VIDEO_MEMORY", client.unmap_video_memory(memory.ram));
  if (!shows(m.adapter_board(i), mode, image)) notes.push_back(kPictureDiffers);
  return notes;
}

// Later requests: each started board set to its mode again, drawn, checked
// and handed back to VGA. Returns the first that failed, or empty.
std::string later_requests(Machine &m, const std::vector<bool> &started) {
  for (size_t i = 0; i < started.size(); i++) {
    if (!started[i]) continue;
    const std::string prefix = "board " + std::to_string(i) + ": ";
    const std::string shown = joined(show_on(m, i, "800x600x16", host::Pattern::Grid));
    if (!shown.empty()) return prefix + shown;
    const VP_STATUS reset = DisplayClient(m, i).reset_device();
    if (reset != NO_ERROR) return prefix + "RESET_DEVICE answers " + status_name(reset);
    if (host::decode_monitor(m.adapter_board(i)).state != host::DisplayState::VgaText)
      return prefix + "not in text mode after RESET_DEVICE";
  }
  return "";
}

RunResult run(const host::MachineConfig &config, const std::string &driver, host::Trace *trace = nullptr) {
  RunResult r;
  Machine m(config, driver);
  r.left.power_on = pci_states(m);
  try {
    m.boot();
    std::vector<bool> started;
    for (size_t i = 0; i < m.adapters().size(); i++) {
      r.found.push_back(m.adapters()[i].slot);
      started.push_back(m.initialize(i));
    }
    for (size_t i = 0; i < started.size(); i++)
      r.board_notes.push_back(started[i] ? show_on(m, i, demo_choice(i).mode, demo_choice(i).pattern)
                                         : std::vector<std::string>{"HwInitialize returns FALSE: the board is not started"});
    for (size_t i = 0; i < started.size(); i++)
      r.monitors.push_back(monitor_text(m.adapter_board(i)));
    if (!m.adapters().empty()) m.shut_down();
    for (host::Board *b : m.boards())
      r.after_reset[static_cast<int>(b->slot())] = host::decode_monitor(*b).describe();
    // Faults are made at the calls before this point; what is left is
    // taken next (the mode count asked of the driver makes no call site),
    // and the later requests only tell whether the driver still works.
    if (trace) *trace = m.trace();
    note_what_is_left(m, started, r.left);
    r.later = later_requests(m, started);
  } catch (const host::VerifierStop &e) {
    r.stop = e.what();
  }
  return r;
}

std::string slots_text(const std::vector<int> &slots) {
  std::string s;
  for (int slot : slots) s += (s.empty() ? "" : ", ") + std::to_string(slot);
  return s.empty() ? "none" : s;
}

// What a monitor shows of VGA text mode 3.
std::string text_mode_shown() {
  host::MonitorTiming text;
  text.state = host::DisplayState::VgaText;
  return text.describe();
}

// The run with a fault set against the run without: what differs, in words.
std::string outcome(const RunResult &base, const RunResult &r) {
  if (!r.stop.empty()) return "VERIFIER STOP: " + r.stop;
  std::vector<std::string> parts;
  if (r.found != base.found)
    parts.push_back("boards found in slots " + slots_text(r.found) + " (without the fault " +
                    slots_text(base.found) + ")");
  for (size_t i = 0; i < r.board_notes.size(); i++) {
    const std::string board = "board " + std::to_string(i) + ": ";
    // A monitor that locks to other timing shows another picture anyway.
    const bool other_timing = r.found == base.found && r.monitors[i] != base.monitors[i];
    if (other_timing) parts.push_back(board + "the monitor shows " + r.monitors[i]);
    for (const auto &note : r.board_notes[i])
      if (!(other_timing && note == kPictureDiffers)) parts.push_back(board + note);
  }
  // What a board shows once the machine went down, where it differs; a
  // board the faulted run never showed a mode on keeps its text anyway.
  for (const auto &[slot, shown] : r.after_reset) {
    const auto clean = base.after_reset.find(slot);
    if (clean != base.after_reset.end() && clean->second != shown && shown != text_mode_shown())
      parts.push_back("after the reset slot " + std::to_string(slot) + " shows " + shown + " (" +
                      clean->second + " without the fault)");
  }
  if (parts.empty()) parts.push_back("nothing shows");
  const std::vector<std::string> left = left_behind(base.left, r.left);
  if (left.empty())
    parts.push_back("nothing left behind");
  else
    parts.insert(parts.end(), left.begin(), left.end());
  if (r.found.empty())
    parts.push_back("no board to send requests to");
  else
    parts.push_back(r.later.empty() ? "later requests work" : "later requests fail: " + r.later);
  return joined(parts);
}

struct Row {
  std::string machine;
  CallSite site;
  std::string outcome;
};

std::vector<Row> sweep_machine_faults(const std::string &name, const host::MachineConfig &config,
                                      const std::string &driver, RunResult &base) {
  host::Trace trace;
  base = run(config, driver, &trace);
  if (!base.stop.empty()) throw std::runtime_error(name + ": the run without a fault stops: " + base.stop);
  const std::vector<CallSite> sites = call_sites(trace);
  std::vector<Row> rows(sites.size());
  std::atomic<size_t> next{0};
  // An error in either thread ends the sweep and reaches the caller, as it
  // would from a run on one thread, rather than ending the program.
  std::exception_ptr errors[2];
  auto worker = [&](std::exception_ptr &error) {
    try {
      for (size_t k; (k = next++) < sites.size();) {
        host::MachineConfig faulty = config;
        faulty.faults = {{sites[k].service, sites[k].call, fault_status(sites[k].service)}};
        rows[k] = {name, sites[k], outcome(base, run(faulty, driver))};
      }
    } catch (...) {
      error = std::current_exception();
      next = sites.size();
    }
  };
  std::thread helper(worker, std::ref(errors[1]));
  worker(errors[0]);
  helper.join();
  for (const auto &error : errors)
    if (error) std::rethrow_exception(error);
  return rows;
}

std::string site_text(const CallSite &s) {
  return s.target.empty() ? "" : (s.slot >= 0 ? "slot " + std::to_string(s.slot) + " " : "") + s.target;
}

// Rows of one machine, callback and service with the same outcome are one
// line, their call sites listed together, in the order the calls came.
void print_table(const std::vector<Row> &rows, bool markdown) {
  if (markdown) {
    std::cout << "| Machine | Callback | Service | Call sites made to fail | Outcome |\n"
              << "|---|---|---|---|---|\n";
  }
  std::vector<bool> printed(rows.size());
  for (size_t i = 0; i < rows.size(); i++) {
    if (printed[i]) continue;
    const Row &r = rows[i];
    std::string sites;
    for (size_t j = i; j < rows.size(); j++) {
      if (printed[j] || rows[j].machine != r.machine || rows[j].site.callback != r.site.callback ||
          rows[j].site.service != r.site.service || rows[j].outcome != r.outcome)
        continue;
      printed[j] = true;
      const std::string s = site_text(rows[j].site);
      if (!s.empty()) sites += (sites.empty() ? "" : ", ") + s;
    }
    if (markdown)
      std::cout << "| " << r.machine << " | " << r.site.callback << " | " << r.site.service << " | " << sites
                << " | " << r.outcome << " |\n";
    else
      std::cout << r.machine << "  " << r.site.callback << "  " << r.site.service << (sites.empty() ? "" : "  ")
                << sites << "\n    -> " << r.outcome << "\n";
  }
}

}  // namespace

int run_fault_sweep(const GlobalOptions &o, bool markdown) {
  if (!o.trace_file.empty())
    throw InputError("--trace: the fault sweep runs hundreds of machines and keeps no trace; "
                     "trace one with a machine file that injects the fault");
  const std::string driver = driver_path(o);
  std::vector<std::pair<std::string, host::MachineConfig>> machines;
  if (!o.machine_file.empty())
    machines.emplace_back(o.machine_file, load_machine_file(o.machine_file));
  else {
    machines.emplace_back("default", host::default_machine());
    machines.emplace_back("DRAM", host::machine_with({host::default_board(3, 8, 4 * host::kMiB)}));
  }
  std::vector<Row> rows;
  std::string baselines;
  ordered_json baselines_json = ordered_json::array();
  for (const auto &[name, config] : machines) {
    if (!config.faults.empty())
      throw InputError(name + ": the machine injects faults of its own; the sweep injects one at a time");
    RunResult base;
    const auto more = sweep_machine_faults(name, config, driver, base);
    rows.insert(rows.end(), more.begin(), more.end());
    for (size_t i = 0; i < base.found.size(); i++) {
      baselines += "- " + name + " machine, board " + std::to_string(i) + " (slot " + std::to_string(base.found[i]) +
                   "): " + base.monitors[i] + "\n";
      baselines_json.push_back({{"machine", name}, {"board", i}, {"slot", base.found[i]}, {"monitor", base.monitors[i]}});
    }
  }
  const size_t stops = size_t(std::count_if(rows.begin(), rows.end(), [](const Row &r) {
    return r.outcome.rfind("VERIFIER STOP", 0) == 0;
  }));
  if (o.json) {
    ordered_json j = ordered_json::array();
    for (const auto &r : rows)
      j.push_back({{"machine", r.machine}, {"callback", r.site.callback},
                   {"slot", r.site.slot >= 0 ? ordered_json(r.site.slot) : ordered_json()},
                   {"service", r.site.service}, {"target", r.site.target}, {"call", r.site.call},
                   {"outcome", r.outcome}});
    emit(o, {{"sites", rows.size()}, {"verifier_stops", stops}, {"without_a_fault", baselines_json}, {"rows", j}});
  } else {
    std::cout << "Without a fault each monitor shows (width x height x bits per pixel, totals, horizontal and\n"
                 "vertical front porch/sync/back porch and sync polarity, pixel clock, refresh):\n"
              << (markdown ? "\n" : "") << baselines << "\n";
    print_table(rows, markdown);
    std::cout << (markdown ? "\n" : "") << "faults: " << rows.size() << " call sites made to fail, " << stops
              << " verifier stops\n";
  }
  return stops ? 1 : 0;
}

}  // namespace torvic::sim
