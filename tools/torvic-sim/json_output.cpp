// SPDX-License-Identifier: MIT
// The JSON documents torvic-sim writes, and the board reports both outputs show.
#include "json_output.h"

#include <cmath>
#include <cstring>
#include <iostream>

#include "host/common/text.h"
#include "labels.h"
#include "machine_file.h"

namespace torvic::sim {

using host::hex;
using host::narrow;

namespace {

// A registry value as a person reads it: a string, or a number.
ordered_json registry_value(const host::RegistryWrite &w) {
  if (w.data.size() == 4 && w.name.find(u"MemorySize") != std::u16string::npos) {
    uint32_t v;
    memcpy(&v, w.data.data(), 4);
    return v;
  }
  return host::utf16z(w.data.data(), w.data.size());
}

}  // namespace

// What the driver found and reported for one board: its slot, variant,
// claimed and mapped ranges, and the registry values it wrote.
ordered_json board_report(Machine &m, size_t adapter) {
  m.open(adapter);
  const auto &a = m.adapters().at(adapter);
  const host::Board &board = m.board(static_cast<uint32_t>(a.slot));
  ordered_json j;
  j["board"] = adapter;
  j["slot"] = a.slot;
  j["variant_code"] = board.config().variant_code;
  j["variant"] = variant_name(board.config().variant_code);
  j["claimed"] = ordered_json::array();
  for (const auto &req : m.claim_requests())
    if (req.slot == a.slot && req.status == NO_ERROR)
      for (const auto &r : req.assigned)
        j["claimed"].push_back({{"space", r.RangeInIoSpace ? "io" : "memory"},
                                {"start", hex(static_cast<uint64_t>(r.RangeStart.QuadPart))},
                                {"length", r.RangeLength}});
  j["mapped"] = ordered_json::array();
  for (const auto &e : m.trace())
    if (e.service == "VideoPortGetDeviceBase" && e.slot == a.slot) j["mapped"].push_back(e.detail);
  // What the registry holds: a write the registry refused stored nothing.
  j["registry"] = ordered_json::object();
  for (const auto &w : m.registry())
    if (w.slot == a.slot && w.status == NO_ERROR) j["registry"][narrow(w.name)] = registry_value(w);
  for (const auto &w : m.registry())
    if (w.slot == a.slot && w.status != NO_ERROR)
      j["registry_refused"][narrow(w.name)] = status_name(w.status);
  return j;
}

ordered_json boards_found(Session &s) {
  s.require_usable_board();
  ordered_json boards = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++) boards.push_back(board_report(s.machine(), i));
  return boards;
}

ordered_json mode_json(const VIDEO_MODE_INFORMATION &m) {
  return {{"index", m.ModeIndex}, {"mode", mode_label(m)}, {"width", m.VisScreenWidth},
          {"height", m.VisScreenHeight}, {"bits_per_pixel", m.BitsPerPlane},
          {"refresh_hz", m.Frequency}, {"stride", m.ScreenStride},
          {"bitmap_height", m.VideoMemoryBitmapHeight}, {"attributes", hex(m.AttributeFlags)}};
}

ordered_json timing_json(const host::MonitorTiming &t) {
  ordered_json j;
  j["state"] = t.state == host::DisplayState::Graphics ? "graphics"
               : t.state == host::DisplayState::VgaText ? "vga-text" : "vga";
  j["description"] = t.describe();
  if (t.state == host::DisplayState::Graphics) {
    j["width"] = t.width;
    j["height"] = t.height;
    j["bits_per_pixel"] = t.bits_per_pixel;
    j["total_width"] = t.total_width;
    j["total_height"] = t.total_height;
    j["h_front_porch"] = t.h_front_porch;
    j["h_sync"] = t.h_sync;
    j["h_back_porch"] = t.h_back_porch;
    j["v_front_porch"] = t.v_front_porch;
    j["v_sync"] = t.v_sync;
    j["v_back_porch"] = t.v_back_porch;
    j["pixel_clock_mhz"] = std::round(t.pixel_clock_mhz * 1000) / 1000;
    j["horizontal_khz"] = std::round(t.horizontal_khz * 100) / 100;
    j["refresh_hz"] = std::round(t.refresh_hz * 100) / 100;
    j["hsync"] = t.hsync_positive ? "+" : "-";
    j["vsync"] = t.vsync_positive ? "+" : "-";
    j["start_address"] = hex(t.start_address);
    j["pitch"] = t.pitch;
  }
  return j;
}

ordered_json faults_fired_json(const Machine &m) {
  ordered_json list = ordered_json::array();
  for (const auto &f : m.fired_faults())
    list.push_back({{"service", f.service}, {"call", f.call},
                    {"slot", f.slot >= 0 ? ordered_json(f.slot) : ordered_json()}, {"failure", f.failure}});
  return list;
}

void emit(const GlobalOptions &o, ordered_json j, const Session *session) {
  if (!o.json) return;
  if (session && j.is_object()) j["faults_fired"] = faults_fired_json(session->machine());
  std::cout << j.dump(2) << "\n";
}

}  // namespace torvic::sim
