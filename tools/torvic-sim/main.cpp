// torvic-sim: runs the driver on a simulated machine and shows what it did.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "host/machine.h"
#include "miniport/torvic_requests.h"

namespace {

using torvic::host::Machine;

struct Options {
  std::string trace_file;
  std::string trace_format = "json";
};

std::string hex(uint64_t v) {
  char b[24];
  snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
  return b;
}

std::string registry_text(const torvic::host::RegistryWrite &w) {
  if (w.data.size() == 4 && w.name.find(u"MemorySize") != std::u16string::npos) {
    uint32_t v;
    memcpy(&v, w.data.data(), 4);
    return hex(v);
  }
  std::string s = "\"";
  for (size_t i = 0; i + 1 < w.data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(w.data[i] | (w.data[i + 1] << 8));
    if (c == 0) break;
    s += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return s + "\"";
}

std::string narrow(const std::u16string &s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

void write_trace(const Machine &m, const Options &o) {
  if (o.trace_file.empty()) return;
  std::ofstream out(o.trace_file);
  for (const auto &e : m.trace()) out << (o.trace_format == "text" ? e.text() : e.json()) << '\n';
}

int boot(const Options &o) {
  Machine m(torvic::host::default_machine());
  const ULONG status = m.boot();
  std::cout << "DriverEntry returned " << hex(status) << "\n";
  for (size_t i = 0; i < m.adapters().size(); i++) {
    const auto &a = m.adapters()[i];
    const auto &board = m.board(a.slot);
    m.initialize(i);
    std::cout << "\nboard " << i << ": slot " << a.slot << ", variant code "
              << board.config().variant_code << "\n";
    for (const auto &req : m.claim_requests())
      if (req.slot == a.slot && req.status == NO_ERROR)
        for (size_t r = 0; r < req.assigned.size(); r++)
          std::cout << "  range " << r << ": " << (req.assigned[r].RangeInIoSpace ? "I/O   " : "memory")
                    << " " << hex(static_cast<uint64_t>(req.assigned[r].RangeStart.QuadPart))
                    << " length " << hex(req.assigned[r].RangeLength) << "\n";
    for (const auto &e : m.trace())
      if (e.service == "VideoPortGetDeviceBase" && e.slot == a.slot)
        std::cout << "  mapped " << e.detail << "\n";
    for (const auto &w : m.registry())
      if (w.slot == a.slot) std::cout << "  " << narrow(w.name) << " = " << registry_text(w) << "\n";
  }
  const auto r = m.request(0, IOCTL_TORVIC_QUERY_NUM_BOARDS, {}, 4);
  uint32_t count = 0;
  memcpy(&count, r.output.data(), 4);
  std::cout << "\nboards found: " << count << "\n";
  write_trace(m, o);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"torvic-sim: run the Torvic miniport driver on a simulated machine"};
  Options o;
  app.add_option("--trace", o.trace_file, "write every video port call to FILE");
  app.add_option("--trace-format", o.trace_format, "json (one object a line) or text")
      ->check(CLI::IsMember({"json", "text"}));
  app.require_subcommand(0, 1);
  app.fallthrough();
  auto *boot_cmd = app.add_subcommand("boot", "boot the machine and list the boards the driver finds");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  try {
    if (*boot_cmd || app.get_subcommands().empty()) return boot(o);
  } catch (const torvic::host::VerifierStop &stop) {
    std::cerr << "torvic-sim: the verifier stopped the run: " << stop.what() << "\n";
    return 1;
  }
  return 0;
}
