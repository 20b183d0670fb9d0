// SPDX-License-Identifier: MIT
// One run of the fault sweep, with at most one fault, and how it differs from the run without.
#include "fault_run.h"

#include <algorithm>
#include <exception>

#include "host/display/display_client.h"
#include "host/port/request_names.h"
#include "host/port/service_faults.h"
#include "host/common/text.h"
#include "labels.h"
#include "mode_choice.h"
#include "picture_check.h"

namespace torvic::sim {

namespace {

using host::DisplayClient;

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

}  // namespace

// The status the fault gives a service that returns one: what NT answers
// when it cannot do what was asked.
VP_STATUS fault_status(const std::string &service) {
  if (service == "VideoPortMapMemory") return ERROR_NOT_ENOUGH_MEMORY;
  if (service == "VideoPortInt10") return ERROR_INVALID_FUNCTION;
  return ERROR_INVALID_PARAMETER;
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

RunResult run_machine(const host::MachineConfig &config, const std::string &driver, host::Trace *trace) {
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

// The run with a fault set against the run without: what differs, in words.
std::string fault_outcome(const RunResult &base, const RunResult &r) {
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

}  // namespace torvic::sim
