#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "host/display_client.h"
#include "session.h"
#include "host/machine.h"
#include "host/monitor.h"
#include "host/test_pattern.h"
#include "host/text.h"
#include "machine_file.h"
#include "png_file.h"

namespace torvic::sim {

namespace {

using host::DisplayClient;
using host::hex;
using host::Machine;
using host::narrow;
using nlohmann::ordered_json;

std::string hex_bytes(const std::vector<uint8_t> &bytes) {
  std::ostringstream s;
  for (size_t i = 0; i < bytes.size(); i++) {
    if (i && i % 16 == 0) s << "\n";
    else if (i) s << " ";
    s << std::hex << std::uppercase;
    s.width(2);
    s.fill('0');
    s << int(bytes[i]);
  }
  return s.str();
}

// ---- Raw requests -------------------------------------------------------------------------

const std::map<std::string, ULONG> &request_codes() {
  static const std::map<std::string, ULONG> codes = {
      {"QUERY_AVAIL_MODES", IOCTL_VIDEO_QUERY_AVAIL_MODES},
      {"QUERY_NUM_AVAIL_MODES", IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES},
      {"QUERY_CURRENT_MODE", IOCTL_VIDEO_QUERY_CURRENT_MODE},
      {"SET_CURRENT_MODE", IOCTL_VIDEO_SET_CURRENT_MODE},
      {"RESET_DEVICE", IOCTL_VIDEO_RESET_DEVICE},
      {"SET_COLOR_REGISTERS", IOCTL_VIDEO_SET_COLOR_REGISTERS},
      {"MAP_VIDEO_MEMORY", IOCTL_VIDEO_MAP_VIDEO_MEMORY},
      {"UNMAP_VIDEO_MEMORY", IOCTL_VIDEO_UNMAP_VIDEO_MEMORY},
      {"QUERY_PUBLIC_ACCESS_RANGES", IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES},
      {"FREE_PUBLIC_ACCESS_RANGES", IOCTL_VIDEO_FREE_PUBLIC_ACCESS_RANGES},
      {"SHARE_VIDEO_MEMORY", IOCTL_VIDEO_SHARE_VIDEO_MEMORY},
      {"UNSHARE_VIDEO_MEMORY", IOCTL_VIDEO_UNSHARE_VIDEO_MEMORY},
      {"TORVIC_STALL", IOCTL_TORVIC_STALL},
      {"TORVIC_QUERY_NUM_BOARDS", IOCTL_TORVIC_QUERY_NUM_BOARDS},
  };
  return codes;
}

ULONG parse_request_code(const std::string &text) {
  std::string name = text;
  for (const char *prefix : {"IOCTL_VIDEO_", "IOCTL_"})
    if (name.rfind(prefix, 0) == 0) name = name.substr(strlen(prefix));
  if (auto it = request_codes().find(name); it != request_codes().end()) return it->second;
  try {
    size_t used = 0;
    const unsigned long long v = std::stoull(text, &used, 0);
    if (used == text.size() && v <= 0xFFFFFFFFull) return static_cast<ULONG>(v);
  } catch (const std::exception &) {
  }
  std::string names;
  for (const auto &[n, code] : request_codes()) names += " " + n;
  throw InputError("request code \"" + text + "\": give a number (0x230404) or a name:" + names);
}

// What the reply of a known request needs. The mode list is as long as the
// board's count of modes, which the driver is asked for first.
ULONG reply_length(Machine &m, size_t board, ULONG code) {
  switch (code) {
    case IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES: return sizeof(VIDEO_NUM_MODES);
    case IOCTL_VIDEO_QUERY_AVAIL_MODES:
      return DisplayClient(m, board).num_modes() * ULONG{sizeof(VIDEO_MODE_INFORMATION)};
    case IOCTL_VIDEO_QUERY_CURRENT_MODE: return sizeof(VIDEO_MODE_INFORMATION);
    case IOCTL_VIDEO_MAP_VIDEO_MEMORY: return sizeof(VIDEO_MEMORY_INFORMATION);
    case IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES: return DisplayClient::kPublicRangesLength;
    case IOCTL_VIDEO_SHARE_VIDEO_MEMORY: return sizeof(VIDEO_SHARE_MEMORY_INFORMATION);
    case IOCTL_TORVIC_QUERY_NUM_BOARDS: return sizeof(ULONG);
    default: return 0;
  }
}

std::vector<uint8_t> parse_hex(const std::string &text) {
  std::string digits;
  for (char c : text)
    if (!isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.rfind("0x", 0) == 0) digits = digits.substr(2);
  if (digits.size() % 2 != 0 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    throw InputError("--in \"" + text + "\": write the input bytes as pairs of hex digits, "
                     "in memory order (for example 19000000 for the ULONG 25)");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

// The reply decoded for the requests whose records are known.
ordered_json decode_reply(ULONG code, const std::vector<uint8_t> &out) {
  using host::record_at;
  ordered_json j;
  switch (code) {
    case IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES: {
      const auto n = record_at<VIDEO_NUM_MODES>(out);
      j = {{"NumModes", n.NumModes}, {"ModeInformationLength", n.ModeInformationLength}};
      break;
    }
    case IOCTL_VIDEO_QUERY_AVAIL_MODES:
    case IOCTL_VIDEO_QUERY_CURRENT_MODE:
      j = ordered_json::array();
      for (size_t at = 0; at + sizeof(VIDEO_MODE_INFORMATION) <= out.size(); at += sizeof(VIDEO_MODE_INFORMATION))
        j.push_back(mode_json(record_at<VIDEO_MODE_INFORMATION>(out, at)));
      break;
    case IOCTL_VIDEO_MAP_VIDEO_MEMORY: {
      const auto v = record_at<VIDEO_MEMORY_INFORMATION>(out);
      j = {{"VideoRamBase", hex(reinterpret_cast<uintptr_t>(v.VideoRamBase))},
           {"VideoRamLength", v.VideoRamLength},
           {"FrameBufferBase", hex(reinterpret_cast<uintptr_t>(v.FrameBufferBase))},
           {"FrameBufferLength", v.FrameBufferLength}};
      break;
    }
    case IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES:
      j = ordered_json::array();
      for (size_t at = 0; at + sizeof(VIDEO_PUBLIC_ACCESS_RANGES) <= out.size(); at += sizeof(VIDEO_PUBLIC_ACCESS_RANGES)) {
        const auto r = record_at<VIDEO_PUBLIC_ACCESS_RANGES>(out, at);
        j.push_back({{"InIoSpace", r.InIoSpace}, {"MappedInIoSpace", r.MappedInIoSpace},
                     {"VirtualAddress", hex(reinterpret_cast<uintptr_t>(r.VirtualAddress))}});
      }
      break;
    case IOCTL_VIDEO_SHARE_VIDEO_MEMORY: {
      const auto s = record_at<VIDEO_SHARE_MEMORY_INFORMATION>(out);
      j = {{"SharedViewOffset", s.SharedViewOffset}, {"SharedViewSize", s.SharedViewSize},
           {"VirtualAddress", hex(reinterpret_cast<uintptr_t>(s.VirtualAddress))}};
      break;
    }
    case IOCTL_TORVIC_QUERY_NUM_BOARDS:
      j = {{"boards", record_at<ULONG>(out)}};
      break;
    default:
      break;
  }
  return j;
}

// ---- Sweep ----------------------------------------------------------------------------------

struct SweepRow {
  std::string variant;
  uint32_t memory_mib = 0;
  VIDEO_MODE_INFORMATION mode{};
  host::MonitorTiming timing;
  std::string problem;  // empty when the monitor shows exactly the mode and the picture
};

// Compares what the monitor shows with the mode asked for and the picture drawn.
std::string check_shown(const VIDEO_MODE_INFORMATION &mode, const Shown &shown, host::Pattern pattern) {
  if (!shown.error.empty()) return shown.error;
  const auto &t = shown.timing;
  if (t.state != host::DisplayState::Graphics) return "the monitor shows no graphics";
  if (t.width != mode.VisScreenWidth || t.height != mode.VisScreenHeight)
    return "geometry " + std::to_string(t.width) + "x" + std::to_string(t.height);
  if (t.bits_per_pixel != mode.BitsPerPlane) return "pixel format of " + std::to_string(t.bits_per_pixel) + " bpp";
  if (std::abs(t.refresh_hz - mode.Frequency) > 0.03 * mode.Frequency)
    return "refresh " + std::to_string(t.refresh_hz) + " Hz";
  const std::vector<uint8_t> expected = host::expected_picture(pattern, mode);
  const auto &shown_rgb = shown.picture.rgb;
  if (shown_rgb == expected) return "";
  const auto differ = std::mismatch(shown_rgb.begin(), shown_rgb.end(), expected.begin(), expected.end());
  const size_t pixel = size_t(differ.first - shown_rgb.begin()) / 3;
  return "picture differs at (" + std::to_string(pixel % t.width) + ", " +
         std::to_string(pixel / t.width) + ")";
}

// One machine of the sweep: a board of one variant and memory size, every
// mode it offers set, drawn and checked.
std::vector<SweepRow> sweep_machine(const std::string &driver, uint16_t code, const std::string &name,
                                    uint32_t mib, const std::function<void()> &progress) {
  const host::Pattern patterns[] = {host::Pattern::Bars, host::Pattern::Gradient, host::Pattern::Grid};
  std::vector<SweepRow> rows;
  Machine m(host::machine_with({host::default_board(0, code, mib * host::kMiB)}), driver);
  m.boot();
  DisplayClient client(m, 0);
  for (const auto &mode : client.modes()) {
    const host::Pattern pattern = patterns[mode.ModeIndex % 3];
    const Shown shown = show_mode(m, 0, mode, pattern, false);
    rows.push_back({name, mib, mode, shown.timing, check_shown(mode, shown, pattern)});
    progress();
  }
  m.reset_hardware();
  return rows;
}

}  // namespace

// ---- The subcommands -----------------------------------------------------------------------


int run_modes(const GlobalOptions &o, std::optional<size_t> only) {
  Session s(o);
  ordered_json j = ordered_json::array();
  for (size_t i = 0; i < s.boards(); i++) {
    if (only && *only != i) continue;
    DisplayClient client(s.machine(), i);
    ordered_json board = {{"board", i}, {"slot", s.machine().adapters()[i].slot}, {"modes", ordered_json::array()}};
    for (const auto &m : client.modes()) board["modes"].push_back(mode_json(m));
    j.push_back(board);
  }
  if (only) s.require_board(*only);
  if (o.json) {
    emit(o, j, &s);
    return 0;
  }
  if (s.boards() == 0) std::cout << "the driver found no board on this machine\n";
  for (const auto &board : j) {
    std::cout << "board " << board["board"].get<size_t>() << " (slot " << board["slot"].get<int>() << "): "
              << board["modes"].size() << " modes\n";
    std::cout << "  index  resolution   bpp  rate   bitmap height\n";
    for (const auto &m : board["modes"]) {
      char line[96];
      snprintf(line, sizeof line, "  %5u  %4u x %-5u  %3u  %2u Hz  %u\n", m["index"].get<ULONG>(),
               m["width"].get<ULONG>(), m["height"].get<ULONG>(), m["bits_per_pixel"].get<ULONG>(),
               m["refresh_hz"].get<ULONG>(), m["bitmap_height"].get<ULONG>());
      std::cout << line;
    }
  }
  return 0;
}

int run_set_mode(const GlobalOptions &o, const SetModeOptions &set) {
  const auto pattern = host::pattern_named(set.pattern);
  if (!pattern) {
    std::string names;
    for (const auto &n : host::pattern_names()) names += " " + n;
    throw InputError("--pattern " + set.pattern + ": the patterns are" + names);
  }
  Session s(o);
  s.require_board(set.board);
  DisplayClient client(s.machine(), set.board);
  const auto modes = client.modes();
  const VIDEO_MODE_INFORMATION mode = find_mode(modes, set.mode);
  const Shown shown = show_mode(s.machine(), set.board, mode, *pattern, true);
  const int slot = s.machine().adapters()[set.board].slot;
  if (!shown.error.empty()) {
    emit(o, {{"board", set.board}, {"slot", slot}, {"mode", mode_json(mode)}, {"error", shown.error}}, &s);
    std::cerr << "torvic-sim: board " << set.board << ", slot " << slot << ": " << shown.error << "\n";
    return 1;
  }
  if (!set.png.empty()) write_png(set.png, shown.picture);
  ordered_json j = {{"board", set.board}, {"slot", slot}, {"mode", mode_json(mode)},
                    {"monitor", timing_json(shown.timing)}, {"error", nullptr}};
  if (!set.png.empty()) j["png"] = set.png;
  if (o.json) {
    emit(o, j, &s);
    return 0;
  }
  std::cout << "board " << set.board << ": mode " << mode_label(mode) << " (index " << mode.ModeIndex << ")\n"
            << "  monitor: " << shown.timing.describe() << "\n";
  if (!set.png.empty()) std::cout << "  picture: " << set.png << "\n";
  return 0;
}

int run_request(const GlobalOptions &o, const RequestOptions &r) {
  const ULONG code = parse_request_code(r.code);
  const std::vector<uint8_t> input = parse_hex(r.input_hex);
  if (input.size() > kMaxRequestBuffer)
    throw InputError("--in: " + std::to_string(input.size()) + " bytes; at most " +
                     std::to_string(kMaxRequestBuffer));
  if (r.output_length && *r.output_length > kMaxRequestBuffer)
    throw InputError("--out-len " + std::to_string(*r.output_length) + ": at most " +
                     std::to_string(kMaxRequestBuffer) + " bytes");
  Session s(o);
  s.require_board(r.board);
  const ULONG output_length = r.output_length ? static_cast<ULONG>(*r.output_length)
                                              : reply_length(s.machine(), r.board, code);
  const auto reply = s.machine().request(r.board, code, input, output_length);
  ordered_json j;
  j["board"] = r.board;
  j["slot"] = s.machine().adapters()[r.board].slot;
  j["code"] = hex(code);
  j["returned"] = reply.returned ? "TRUE" : "FALSE";
  j["status"] = status_name(reply.status);
  if (reply.information_written) j["information"] = reply.information;
  else j["information"] = nullptr;
  j["output"] = hex_bytes(reply.output);
  const size_t reported = reply.information_written ? std::min<size_t>(reply.information, reply.output.size()) : 0;
  if (reply.status == NO_ERROR) {
    const ordered_json decoded = decode_reply(code, {reply.output.begin(), reply.output.begin() + long(reported)});
    if (!decoded.is_null()) j["decoded"] = decoded;
  }
  if (o.json) {
    emit(o, j, &s);
    return 0;
  }
  std::cout << "request " << j["code"].get<std::string>() << " on board " << r.board << ": "
            << j["status"].get<std::string>() << ", Information "
            << (reply.information_written ? std::to_string(reply.information) : std::string("not written")) << "\n";
  if (!reply.output.empty()) std::cout << "output (" << reply.output.size() << " bytes):\n" << hex_bytes(reply.output) << "\n";
  if (j.contains("decoded")) std::cout << "decoded:\n" << j["decoded"].dump(2) << "\n";
  return 0;
}

int run_sweep(const GlobalOptions &o, const SweepOptions &only) {
  if (!o.machine_file.empty())
    throw InputError("--machine: the sweep builds its own machine for every variant and memory size; "
                     "set-mode --machine FILE shows one mode on your machine");
  if (!o.trace_file.empty())
    throw InputError("--trace: the sweep runs many machines side by side and keeps no trace; "
                     "trace one mode with set-mode");
  const auto started = std::chrono::steady_clock::now();
  struct Job {
    uint16_t code;
    std::string name;
    uint32_t mib;
    std::vector<SweepRow> rows;
  };
  const std::pair<const char *, uint16_t> variants[] = {{"rgb526", 0}, {"rgb528", 10}, {"dram", 8}};
  auto wanted = [](const auto &list, const auto &item) {
    return list.empty() || std::find(list.begin(), list.end(), item) != list.end();
  };
  std::vector<Job> jobs;
  for (const auto &[key, code] : variants)
    for (uint32_t mib : {2u, 4u, 8u})
      if (wanted(only.variants, std::string(key)) && wanted(only.memory_mib, mib))
        jobs.push_back({code, variant_name(code), mib, {}});

  // Every machine loads its own driver image, so they run side by side; a
  // bad image is refused here, before any thread starts.
  const std::string driver = driver_path(o);
  const host::DriverImage probe(driver);
  const bool tty = isatty(STDERR_FILENO) && !o.json;
  std::atomic<size_t> next{0}, done{0};
  std::mutex print;
  auto progress = [&] {
    const size_t n = ++done;
    if (!tty) return;
    std::lock_guard<std::mutex> lock(print);
    std::cerr << "\rsweep: " << n << " modes set and checked" << std::flush;
  };
  auto worker = [&] {
    for (size_t i; (i = next++) < jobs.size();)
      jobs[i].rows = sweep_machine(driver, jobs[i].code, jobs[i].name, jobs[i].mib, progress);
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < std::max(1u, std::min(4u, std::thread::hardware_concurrency())); t++)
    threads.emplace_back(worker);
  for (auto &t : threads) t.join();
  std::vector<SweepRow> rows;
  for (auto &job : jobs) rows.insert(rows.end(), job.rows.begin(), job.rows.end());
  if (tty && !o.json) std::cerr << "\r" << std::string(40, ' ') << "\r";
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const size_t failed = size_t(std::count_if(rows.begin(), rows.end(), [](const SweepRow &r) { return !r.problem.empty(); }));

  if (o.json) {
    ordered_json j;
    j["rows"] = ordered_json::array();
    for (const auto &r : rows)
      j["rows"].push_back({{"variant", r.variant}, {"memory_mib", r.memory_mib}, {"mode", mode_json(r.mode)},
                           {"refresh_hz", std::round(r.timing.refresh_hz * 100) / 100},
                           {"ok", r.problem.empty()},
                           {"problem", r.problem.empty() ? ordered_json() : ordered_json(r.problem)}});
    j["modes"] = rows.size();
    j["failed"] = failed;
    j["seconds"] = std::round(seconds * 100) / 100;
    emit(o, j);
  } else {
    std::cout << "variant                    memory  index  mode              refresh    result\n";
    for (const auto &r : rows) {
      char line[200];
      snprintf(line, sizeof line, "%-26s %2u MiB  %5u  %-16s  %6.2f Hz  %s\n", r.variant.c_str(), r.memory_mib,
               r.mode.ModeIndex, mode_label(r.mode).c_str(), r.timing.refresh_hz,
               r.problem.empty() ? "ok" : r.problem.c_str());
      std::cout << line;
    }
    char summary[128];
    snprintf(summary, sizeof summary, "sweep: %zu modes, %zu passed, %zu failed in %.1f s\n", rows.size(),
             rows.size() - failed, failed, seconds);
    std::cout << summary;
  }
  return failed ? 1 : 0;
}

int run_machine_default(const GlobalOptions &o) {
  (void)o;
  std::cout << machine_to_json(host::default_machine()).dump(2) << "\n";
  return 0;
}

}  // namespace torvic::sim
