// SPDX-License-Identifier: MIT
// VideoPortSetRegistryParameters and VideoPortInt10, and the port's own
// text-mode call.
#include "host/port/registry_bios.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/port/request_names.h"
#include "host/common/text.h"
#include "host/port/trace_args.h"

namespace torvic::host {

namespace {

constexpr std::u16string_view kStringValues[] = {u"HardwareInformation.ChipType",
                                                 u"HardwareInformation.DacType",
                                                 u"HardwareInformation.AdapterString"};

nlohmann::ordered_json bios_registers(const VIDEO_X86_BIOS_ARGUMENTS &a) {
  return {{"eax", hex(a.Eax)}, {"ebx", hex(a.Ebx)}, {"ecx", hex(a.Ecx)}, {"edx", hex(a.Edx)},
          {"esi", hex(a.Esi)}, {"edi", hex(a.Edi)}, {"ebp", hex(a.Ebp)}};
}

// A registry value's data as the registry holds it: a string, a DWORD or bytes.
nlohmann::ordered_json registry_args(const std::u16string &name, const uint8_t *data, ULONG length,
                                     bool is_string) {
  nlohmann::ordered_json j = {{"name", narrow(name)}, {"length", length}};
  if (is_string) {
    j["type"] = "REG_SZ";
    j["data"] = utf16z(data, length);
  } else if (length == 4) {
    uint32_t v;
    memcpy(&v, data, 4);
    j["type"] = "REG_DWORD";
    j["data"] = v;
  } else {
    std::string bytes;
    for (ULONG i = 0; i < length; i++) bytes += formatted("%02X", data[i]);
    j["type"] = "REG_BINARY";
    j["data"] = bytes;
  }
  return j;
}

}  // namespace

VP_STATUS RegistryAndBios::set_registry(int slot, const WCHAR *name, PVOID data, ULONG length) {
  const char *service = "VideoPortSetRegistryParameters";
  if (!name) verifier_.stop("%s: null value name", service);
  std::u16string value_name;
  for (size_t i = 0;; i++) {
    if (i == 256) verifier_.stop("%s: value name not NUL-terminated within 256 characters", service);
    if (name[i] == 0) break;
    value_name += name[i];
  }
  if (length && !data) verifier_.stop("%s: null data for %u bytes", service, length);
  const auto *bytes = static_cast<const uint8_t *>(data);
  const bool is_string = std::find(std::begin(kStringValues), std::end(kStringValues),
                                   value_name) != std::end(kStringValues);
  if (is_string) {
    size_t chars = 0;
    while (chars * 2 + 1 < length && (bytes[chars * 2] | bytes[chars * 2 + 1]) != 0) chars++;
    if (length % 2 != 0 || chars * 2 + 2 != length)
      verifier_.stop("%s: %s: a string value must be NUL-terminated UTF-16 and its length (%u) "
                     "must be 2 x (characters + 1)",
                     service, narrow(value_name).c_str(), length);
  }
  TraceEvent &e = recorder_.record(service, slot);
  e.detail = narrow(value_name) + " " + std::to_string(length) + " bytes";
  set_args(e, registry_args(value_name, bytes, length, is_string));
  RegistryWrite w;
  w.slot = slot;
  w.name = value_name;
  w.data.assign(bytes, bytes + length);
  w.status = faults_.injected(service, e).value_or(NO_ERROR);
  set_arg(e, "status", status_name(w.status));
  registry_.push_back(w);
  recorder_.notify(e);
  return w.status;
}

VP_STATUS RegistryAndBios::int10(int slot, Board *board, PVIDEO_X86_BIOS_ARGUMENTS arguments) {
  const char *service = "VideoPortInt10";
  if (!arguments) verifier_.stop("%s: null arguments", service);
  TraceEvent &e = recorder_.record(service, slot);
  e.detail = "eax " + hex(arguments->Eax);
  set_args(e, bios_registers(*arguments));
  bios_calls_.push_back({slot, *arguments});
  if (auto f = faults_.injected(service, e)) {
    recorder_.notify(e);
    return *f;
  }
  // Function 00h, mode 03h: 80 x 25 colour text.
  if ((arguments->Eax & 0xFFFF) == 0x0003 && board) board->set_text_mode(true);
  recorder_.notify(e);
  return NO_ERROR;
}

void RegistryAndBios::set_text_mode_for_driver(Board &primary) {
  const int slot = static_cast<int>(primary.slot());
  VIDEO_X86_BIOS_ARGUMENTS arguments{};
  arguments.Eax = 0x0003;  // function 00h (set mode), mode 03h
  TraceEvent &e = recorder_.record("VideoPortInt10", slot);
  e.detail = "eax " + hex(arguments.Eax) + ", the video port's own after HwResetHw returned FALSE";
  set_args(e, bios_registers(arguments));
  set_arg(e, "caller", "video port");
  bios_calls_.push_back({slot, arguments, true});
  primary.set_text_mode(true);
  recorder_.notify(e);
}

}  // namespace torvic::host
