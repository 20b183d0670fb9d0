// SPDX-License-Identifier: MIT
// Register and port access through the address space: an address the driver
// passes to a register or port service is decoded through its device-base
// mapping to the board, block and offset it reaches, and the access is
// checked against what the board allows.
#include "host/port/address_space.h"

#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "host/common/text.h"
#include "host/port/trace_args.h"

namespace torvic::host {

AddressSpace::Decoded AddressSpace::decode(const char *service, void *address, int width,
                                           bool port) {
  const auto *a = static_cast<const uint8_t *>(address);
  const Mapping *m = nullptr;
  for (const auto &candidate : mappings_)
    if (candidate->device_base && a >= candidate->virt &&
        a + width / 8 <= candidate->virt + candidate->length) {
      m = candidate.get();
      break;
    }
  if (!m)
    verifier_.stop("%s: %p is outside every block mapped for a claimed board", service, address);
  if (m->io != port)
    verifier_.stop("%s: %p lies in a %s block; it takes %s accesses", service, address,
                   m->io ? "port (I/O)" : "memory", m->io ? "port" : "register");

  const uint64_t phys = m->phys + static_cast<uint64_t>(a - m->virt);
  Board &b = arbiter_.board(m->slot);
  for (int bar = 0; bar < kNumBars; bar++) {
    const BarConfig &c = b.config().bars[bar];
    if (!c.implemented || c.io != m->io) continue;
    const auto base = b.decoded_base(bar);
    if (!base || phys < *base || phys >= *base + c.size) continue;
    const uint32_t offset = static_cast<uint32_t>(phys - *base);
    switch (bar) {
      case kRegisterBar: return {&b, Block::Registers, offset};
      case kIoBar: return {&b, Block::Io, offset};
      case kFrameBufferBar: return {&b, Block::FrameBuffer, offset};
      default:
        verifier_.stop("%s: %p reaches BAR%d of slot %u, which has no registers", service,
                       address, bar, b.slot());
    }
  }
  if (!(m->io ? b.io_decoding() : b.memory_decoding()))
    verifier_.stop("%s: %p: the board in slot %u has its %s decoding off", service, address,
                   b.slot(), m->io ? "I/O" : "memory");
  verifier_.stop("%s: %p: no register of slot %u decodes physical %s", service, address, b.slot(),
                 hex(phys).c_str());
  // Not reached: stop() does not return, which cppcheck cannot tell through
  // a reference.
  __builtin_unreachable();
}

ULONG AddressSpace::read(const char *service, void *address, bool port) {
  const Decoded d = decode(service, address, 32, port);
  std::string why;
  if (!Board::access_allowed(d.block, d.offset, Access::Read32, &why))
    verifier_.stop("%s: %p: %s", service, address, why.c_str());
  TraceEvent probe;
  probe.slot = static_cast<int>(d.board->slot());
  const bool fails = faults_.injected(service, probe).has_value();
  const uint32_t value = fails ? 0xFFFFFFFF : d.board->read(d.block, d.offset);
  // A poll that reads the same value again stays one event with a count.
  Trace &trace = recorder_.trace();
  if (!fails && !trace.empty()) {
    TraceEvent &last = trace.back();
    if (last.is_read && last.width == 32 && last.value == value && last.offset == d.offset &&
        last.slot == static_cast<int>(d.board->slot()) && last.service == service) {
      last.repeat++;
      recorder_.notify(last);
      return value;
    }
  }
  TraceEvent &e = recorder_.record(service, static_cast<int>(d.board->slot()));
  e.block = block_name(d.block);
  e.offset = d.offset;
  e.reg = register_name(d.block, d.offset);
  e.width = 32;
  e.is_read = true;
  e.value = value;
  e.fault = probe.fault;
  recorder_.notify(e);
  return value;
}

VOID AddressSpace::write(const char *service, void *address, ULONG value, int width, bool port) {
  const Decoded d = decode(service, address, width, port);
  std::string why;
  if (!Board::access_allowed(d.block, d.offset, width == 8 ? Access::Write8 : Access::Write32,
                             &why))
    verifier_.stop("%s: %p: %s", service, address, why.c_str());
  TraceEvent &e = recorder_.record(service, static_cast<int>(d.board->slot()));
  e.block = block_name(d.block);
  e.offset = d.offset;
  e.reg = register_name(d.block, d.offset);
  e.width = width;
  e.value = value;
  // A data write to the DAC's indexed protocol reaches the register the
  // index points at; the DAC then moves the index on by itself.
  if (d.block == Block::Registers && width == 8 && d.offset == kDacIndexData) {
    set_arg(e, "dac_index", hex(d.board->dac_index() & 0xFF));
    set_arg(e, "dac_register", dac_register_name(d.board->dac_index()));
  }
  if (faults_.injected(service, e)) {
    recorder_.notify(e);
    return;
  }
  d.board->write(d.block, d.offset, value, width);
  const std::string fault = d.board->take_fault();
  if (!fault.empty()) verifier_.stop("%s: %s", service, fault.c_str());
  recorder_.notify(e);
}

VOID AddressSpace::zero_device_memory(PVOID destination, ULONG length) {
  const char *service = "VideoPortZeroDeviceMemory";
  const Decoded d = decode(service, destination, 8, false);
  if (d.block != Block::FrameBuffer)
    verifier_.stop("%s: %p is not video memory", service, destination);
  const uint64_t aperture = d.board->config().bars[kFrameBufferBar].size;
  if (uint64_t(d.offset) + length > aperture)
    verifier_.stop("%s: %u bytes from frame-buffer offset 0x%X run past the aperture", service,
                   length, d.offset);
  TraceEvent &e = recorder_.record(service, static_cast<int>(d.board->slot()));
  e.block = "fb";
  e.offset = d.offset;
  e.detail = "length " + hex(length);
  set_args(e, {{"length", length}});
  if (uint64_t(d.offset) + length > d.board->memory_size()) mark_aliases(e, *d.board);
  if (!faults_.injected(service, e)) d.board->clear_vram(d.offset, length);
  recorder_.notify(e);
}

}  // namespace torvic::host
