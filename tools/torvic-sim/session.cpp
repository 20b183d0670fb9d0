#include "session.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "host/display/display_client.h"
#include "host/port/text.h"
#include "machine_file.h"
#include "trace_filter.h"

namespace torvic::sim {

using host::DisplayClient;
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

std::string &trace_error_text() {
  static std::string text;
  return text;
}

}  // namespace


std::string variant_name(uint16_t code) {
  if (code == 10 || code == 11) return "RGB528 video-RAM board";
  if (code < 8) return "RGB526 video-RAM board";
  if (code < 10) return "DRAM board with an RGB526";
  return "unknown variant";
}

std::string mode_label(const VIDEO_MODE_INFORMATION &m) {
  return std::to_string(m.VisScreenWidth) + "x" + std::to_string(m.VisScreenHeight) + "x" +
         std::to_string(m.BitsPerPlane) + "@" + std::to_string(m.Frequency);
}

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
  ordered_json boards = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++) boards.push_back(board_report(s.machine(), i));
  if (s.boards() == 0) throw InputError("the driver found no board on this machine");
  return boards;
}

void make_out_dir(const std::string &out_dir) {
  std::error_code made;
  std::filesystem::create_directories(out_dir, made);
  if (made) throw OutputError("--out-dir " + out_dir + ": " + made.message());
}

std::string picture_path(const std::string &out_dir, int slot) {
  return (std::filesystem::path(out_dir) / ("torvic-slot" + std::to_string(slot) + ".png")).string();
}

void print_board_report(const ordered_json &b) {
  std::cout << "  board " << b["board"].get<size_t>() << ": slot " << b["slot"].get<int>()
            << ", variant code " << b["variant_code"].get<int>() << " ("
            << b["variant"].get<std::string>() << ")\n";
  std::cout << "    claimed:";
  int i = 0;
  for (const auto &r : b["claimed"])
    std::cout << (i++ % 3 == 0 ? "\n      " : "   ") << r["space"].get<std::string>() << " "
              << r["start"].get<std::string>() << " +" << hex(r["length"].get<uint32_t>());
  std::cout << "\n    mapped:";
  for (const auto &d : b["mapped"]) std::cout << "\n      " << d.get<std::string>();
  std::cout << "\n    registry:\n";
  for (const auto &[name, value] : b["registry"].items())
    std::cout << "      " << name << " = "
              << (value.is_number() ? hex(value.get<uint64_t>()) : "\"" + value.get<std::string>() + "\"")
              << "\n";
  if (b.contains("registry_refused"))
    for (const auto &[name, status] : b["registry_refused"].items())
      std::cout << "      " << name << ": not stored, the registry answered " << status.get<std::string>()
                << "\n";
}

// The modes grouped by resolution, as a person scans them.
void print_mode_summary(const std::vector<VIDEO_MODE_INFORMATION> &modes) {
  std::map<std::pair<ULONG, ULONG>, std::pair<std::set<ULONG>, std::set<ULONG>>> by_size;
  for (const auto &m : modes) {
    auto &entry = by_size[{m.VisScreenWidth, m.VisScreenHeight}];
    entry.first.insert(m.BitsPerPlane);
    entry.second.insert(m.Frequency);
  }
  for (const auto &[size, sets] : by_size) {
    std::ostringstream line;
    line << "  " << size.first << "x" << size.second;
    std::cout << line.str() << std::string(std::max<size_t>(13 - line.str().size(), 1), ' ');
    for (ULONG bpp : sets.first) std::cout << bpp << " ";
    std::cout << "bpp at";
    for (ULONG hz : sets.second) std::cout << " " << hz;
    std::cout << " Hz\n";
  }
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

std::string first_picture_difference(const host::Board &board, const host::MonitorTiming &timing,
                                     const host::PatternImage &image) {
  std::vector<uint8_t> row(size_t(timing.width) * 3);
  for (uint32_t y = 0; y < timing.height; y++) {
    host::render_row(board, timing, y, row.data());
    const uint8_t *expected = image.shown_row(y);
    if (memcmp(row.data(), expected, row.size()) == 0) continue;
    const auto differ = std::mismatch(row.begin(), row.end(), expected);
    return "(" + std::to_string((differ.first - row.begin()) / 3) + ", " + std::to_string(y) + ")";
  }
  return "";
}

Shown draw_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode, const host::PatternImage &image,
                bool exercise_public_ranges) {
  DisplayClient client(m, adapter);
  Shown shown;
  if (VP_STATUS s = client.set_mode(mode.ModeIndex); s != NO_ERROR) {
    shown.error = "set mode " + mode_label(mode) + ": " + status_name(s);
    return shown;
  }
  const auto memory = client.map_video_memory();
  if (memory.status != NO_ERROR) {
    shown.error = "map video memory: " + status_name(memory.status);
    return shown;
  }
  if (mode.BitsPerPlane == 8) client.set_palette(0, host::pattern_palette());
  if (!client.frame_fits(memory, mode))
    shown.error = "the frame of " + mode_label(mode) + " does not fit the mapped frame buffer";
  else
    image.draw(memory.frame, mode.ScreenStride);
  if (exercise_public_ranges) {
    const auto ranges = client.query_public_ranges();
    if (ranges.status == NO_ERROR) client.free_public_ranges(ranges.bytes);
  }
  client.unmap_video_memory(memory.ram);
  shown.timing = host::decode_monitor(m.adapter_board(adapter));
  return shown;
}

Shown show_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode,
                host::Pattern pattern, bool exercise_public_ranges) {
  Shown shown = draw_mode(m, adapter, mode, host::PatternImage(pattern, mode), exercise_public_ranges);
  shown.picture = host::render_frame(m.adapter_board(adapter), shown.timing);
  return shown;
}

std::string driver_path(const GlobalOptions &o) {
  return o.driver_file.empty() ? host::DriverImage::default_path() : o.driver_file;
}

Session::Session(const GlobalOptions &options)
    : options_(options),
      machine_(options.machine_file.empty() ? host::default_machine()
                                            : load_machine_file(options.machine_file),
               driver_path(options)) {
  boot_status_ = machine_.boot();
  // As at system start, every board found is opened, and so initialised,
  // before any request: the mode list every board shows depends on all of them.
  for (size_t i = 0; i < machine_.adapters().size(); i++) machine_.open(i);
}

Session::~Session() {
  write_trace();
  // An injected fault changes what the run shows: say which fired.
  for (const host::FiredFault &f : machine_.fired_faults())
    std::cerr << "torvic-sim: injected fault fired: " << f.service << " call " << f.call
              << (f.slot >= 0 ? ", slot " + std::to_string(f.slot) : std::string()) << ": " << f.failure << "\n";
  // A display driver releases what it maps; say so when something is left.
  for (const host::Mapping *m : machine_.client_mappings())
    std::cerr << "torvic-sim: still mapped at the end of the run: slot " << m->slot << ", physical "
              << hex(m->phys) << ", " << hex(m->length) << " bytes"
              << (m->process ? ", process " + hex(reinterpret_cast<uintptr_t>(m->process)) : "") << "\n";
}

void Session::require_board(size_t board) const {
  if (board >= boards())
    throw InputError("--board " + std::to_string(board) + ": the driver found " +
                     std::to_string(boards()) + " board(s); numbers run from 0 in slot order");
}

void Session::write_trace() {
  if (options_.trace_file.empty() || trace_written_) return;
  trace_written_ = true;
  // A run refused for bad input writes nothing; one the verifier stopped
  // keeps the trace that led there.
  if (std::uncaught_exceptions() > 0 && !machine_.stopped()) return;
  const TraceFilter filter(options_.trace_filter);
  std::vector<int> board_slots;
  for (const auto &a : machine_.adapters()) board_slots.push_back(a.slot);
  std::ofstream out(options_.trace_file);
  for (const auto &e : machine_.trace())
    if (filter.keeps(e, board_slots)) out << (options_.trace_format == "text" ? e.text() : e.json()) << '\n';
  out.close();
  if (!out) trace_error_text() = "--trace " + options_.trace_file + ": " + strerror(errno);
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

const VIDEO_MODE_INFORMATION &find_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes,
                                        const std::string &text) {
  // At most nine digits a number: none of them can overflow.
  static const std::regex by_name(R"((\d{1,9})x(\d{1,9})x(\d{1,9})(?:@(\d{1,9}))?)");
  static const std::regex by_index(R"(\d{1,9})");
  auto number = [](const std::string &digits) { return static_cast<ULONG>(std::stoul(digits)); };
  std::smatch match;
  if (std::regex_match(text, by_index)) {
    const ULONG index = number(text);
    for (const auto &m : modes)
      if (m.ModeIndex == index) return m;
  } else if (std::regex_match(text, match, by_name)) {
    const ULONG w = number(match[1]), h = number(match[2]), bpp = number(match[3]);
    const ULONG hz = match[4].matched ? number(match[4]) : 0;
    for (const auto &m : modes)
      if (m.VisScreenWidth == w && m.VisScreenHeight == h && m.BitsPerPlane == bpp &&
          (hz == 0 || m.Frequency == hz))
        return m;
    // Not offered: name the nearest modes that are.
    std::vector<std::pair<double, std::string>> near;
    for (const auto &m : modes) {
      const double d = std::abs(double(m.VisScreenWidth) - w) + std::abs(double(m.VisScreenHeight) - h) +
                       8 * std::abs(double(m.BitsPerPlane) - bpp) + std::abs(double(m.Frequency) - hz);
      near.push_back({d, mode_label(m) + " (index " + std::to_string(m.ModeIndex) + ")"});
    }
    std::sort(near.begin(), near.end());
    std::string list;
    for (size_t i = 0; i < std::min<size_t>(5, near.size()); i++) list += "\n  " + near[i].second;
    throw InputError("mode " + text + " is not offered on this board; the nearest are:" + list);
  } else {
    throw InputError("mode \"" + text + "\": write WIDTHxHEIGHTxBPP@HZ (for example 1024x768x16@60) "
                     "or a mode index from `torvic-sim modes`");
  }
  throw InputError("mode index " + text + " is not offered on this board; `torvic-sim modes` lists them");
}

const DemoChoice &demo_choice(size_t board) {
  static const DemoChoice choices[] = {{"1024x768x8", host::Pattern::Bars},
                                       {"1152x864x32", host::Pattern::Gradient},
                                       {"800x600x16", host::Pattern::Grid}};
  return choices[std::min<size_t>(board, std::size(choices) - 1)];
}

// The demo's mode for a board: the one it prefers, or, where the board does
// not offer it (a DRAM board, a small memory), the widest offered mode of the
// same depth, or the first one offered.
DemoMode demo_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes, const std::string &preferred) {
  try {
    return {find_mode(modes, preferred), ""};
  } catch (const InputError &) {
  }
  if (modes.empty()) throw InputError("the driver offers no mode on this board");
  // The list runs from low to high rates, so the first of a size is its lowest.
  const ULONG bpp = static_cast<ULONG>(std::stoul(preferred.substr(preferred.rfind('x') + 1)));
  const VIDEO_MODE_INFORMATION *best = nullptr;
  for (const auto &m : modes)
    if (m.BitsPerPlane == bpp && (!best || m.VisScreenWidth > best->VisScreenWidth)) best = &m;
  if (best)
    return {*best, preferred + " is not offered on this board; " + mode_label(*best) +
                       " is the widest mode it offers at " + std::to_string(bpp) + " bpp"};
  return {modes.front(), preferred + " is not offered on this board, nor any mode at " + std::to_string(bpp) +
                             " bpp; " + mode_label(modes.front()) + " is the first it offers"};
}

const std::string &trace_error() { return trace_error_text(); }

void check_output_path(const std::string &option, const std::string &path) {
  namespace fs = std::filesystem;
  if (path.empty()) throw InputError(option + ": give a file name");
  std::error_code ec;
  if (fs::is_directory(path, ec))
    throw InputError(option + " " + path + ": is a folder; give a file name");
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec))
    throw InputError(option + " " + path + ": the folder " + folder.string() + " does not exist");
}

}  // namespace torvic::sim
