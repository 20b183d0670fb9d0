// SPDX-License-Identifier: MIT
// One raw video request: checked, sent to a booted machine, and its reply shown.
#include "raw_request.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "addresses_to_release.h"
#include "host/display/display_client.h"
#include "host/port/request_names.h"
#include "host/common/text.h"
#include "input_files.h"
#include "labels.h"
#include "mode_choice.h"
#include "request_fields.h"
#include "machine_file.h"

namespace torvic::sim {

namespace {

using host::DisplayClient;
using host::hex;

// --in @FILE: the bytes of a file, one more than a request may carry at
// most, so that a file beyond the bound is refused.
std::vector<uint8_t> read_request_bytes(const std::string &path) {
  const std::string bytes = read_input_file("--in @", path, kMaxRequestBuffer + 1);
  return {bytes.begin(), bytes.end()};
}

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

ULONG parse_request_code(const std::string &text) {
  std::string name = text;
  for (const char *prefix : {"IOCTL_VIDEO_", "IOCTL_"})
    if (name.rfind(prefix, 0) == 0) name = name.substr(strlen(prefix));
  if (auto it = host::request_codes().find(name); it != host::request_codes().end()) return it->second;
  try {
    size_t used = 0;
    const unsigned long long v = std::stoull(text, &used, 0);
    if (used == text.size() && v <= 0xFFFFFFFFull) return static_cast<ULONG>(v);
  } catch (const std::exception &) {
  }
  std::string names;
  for (const auto &[n, code] : host::request_codes()) names += " " + n;
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
  if (!text.empty() && text[0] == '@') return read_request_bytes(text.substr(1));
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

// Each field option stands for the whole input of the requests it belongs to.
void check_field_options(const RequestOptions &r, ULONG code) {
  struct Field {
    const char *option;
    bool given;
    std::vector<ULONG> codes;
  };
  const Field fields[] = {
      {"--mode", !r.mode.empty(), {IOCTL_VIDEO_SET_CURRENT_MODE}},
      {"--palette", !r.palette.empty(), {IOCTL_VIDEO_SET_COLOR_REGISTERS}},
      {"--address", r.address.has_value(), {IOCTL_VIDEO_MAP_VIDEO_MEMORY, IOCTL_VIDEO_UNMAP_VIDEO_MEMORY}},
  };
  int given = r.input_hex ? 1 : 0;
  for (const Field &f : fields) {
    if (!f.given) continue;
    given++;
    if (std::find(f.codes.begin(), f.codes.end(), code) != f.codes.end()) continue;
    std::string names;
    for (ULONG c : f.codes) names += (names.empty() ? "" : " and ") + host::request_name(c);
    throw InputError(std::string(f.option) + " gives the input of " + names + ", not of " +
                     host::request_name(code) + "; give its bytes with --in");
  }
  if (given > 1) throw InputError("--in, --mode, --palette and --address each give the whole input: give one");
}

std::vector<uint8_t> request_input(const RequestOptions &r, ULONG code) {
  if (r.input_hex) return parse_hex(*r.input_hex);
  if (!r.palette.empty()) return palette_input(r.palette);
  if (r.address) return address_input(*r.address);
  // A display driver maps video memory wherever the system puts it.
  if (code == IOCTL_VIDEO_MAP_VIDEO_MEMORY) return address_input("0");
  return {};
}

}  // namespace

// Everything a request needs, checked before any machine boots.
PreparedRequest prepare_request(const RequestOptions &r) {
  const ULONG code = parse_request_code(r.code);
  check_field_options(r, code);
  if (!r.mode.empty()) check_mode_text(r.mode);
  PreparedRequest p{r.board, code, request_input(r, code), r.output_length, r.mode};
  if (p.input.size() > kMaxRequestBuffer)
    throw InputError("--in: more than " + std::to_string(kMaxRequestBuffer) + " bytes");
  if (p.output_length && *p.output_length > kMaxRequestBuffer)
    throw InputError("--out-len " + std::to_string(*p.output_length) + ": at most " +
                     std::to_string(kMaxRequestBuffer) + " bytes");
  return p;
}

ordered_json send_request(Session &s, const PreparedRequest &p) {
  s.require_board(p.board);
  Machine &m = s.machine();
  check_addresses_to_release(m, p.board, p.code, p.input);
  // A mode by name is looked up in the board's own list, as a display
  // driver does, so the trace shows those queries first.
  const std::vector<uint8_t> input =
      p.mode.empty() ? p.input : mode_input(find_mode(DisplayClient(m, p.board).modes(), p.mode).ModeIndex);
  const ULONG output_length =
      p.output_length ? static_cast<ULONG>(*p.output_length) : reply_length(m, p.board, p.code);
  const auto reply = m.request(p.board, p.code, input, output_length);
  ordered_json j;
  j["board"] = p.board;
  j["slot"] = m.adapters()[p.board].slot;
  j["code"] = hex(p.code);
  j["request"] = host::request_name(p.code);
  j["returned"] = reply.returned ? "TRUE" : "FALSE";
  j["status"] = status_name(reply.status);
  j["information"] = reply.information_written ? ordered_json(reply.information) : ordered_json();
  j["output"] = hex_bytes(reply.output);
  const size_t reported =
      reply.information_written ? std::min<size_t>(reply.information, reply.output.size()) : 0;
  if (reply.status == NO_ERROR) {
    const ordered_json decoded =
        decode_reply(p.code, {reply.output.begin(), reply.output.begin() + long(reported)});
    if (!decoded.is_null()) j["decoded"] = decoded;
  }
  return j;
}

void print_reply(const ordered_json &j) {
  std::cout << j["request"].get<std::string>() << " (" << j["code"].get<std::string>() << ") on board "
            << j["board"].get<size_t>() << ", slot " << j["slot"].get<int>() << ": "
            << j["status"].get<std::string>() << ", Information "
            << (j["information"].is_null() ? std::string("not written") : j["information"].dump()) << "\n";
  const std::string output = j["output"].get<std::string>();
  if (!output.empty())
    std::cout << "output (" << (output.size() + 1) / 3 << " bytes):\n" << output << "\n";
  if (j.contains("decoded")) std::cout << "decoded:\n" << j["decoded"].dump(2) << "\n";
}

}  // namespace torvic::sim
