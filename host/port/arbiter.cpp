// SPDX-License-Identifier: MIT
// Claims and configuration space: VideoPortGetAccessRanges places each
// register a board asks for where no reserved range, other claim or other
// board's decoding is; VideoPortGetBusData and VideoPortSetBusData reach the
// board in a slot, or the all-ones of an empty one.
#include "host/port/arbiter.h"

#include <cstring>

#include <nlohmann/json.hpp>

#include "host/port/request_names.h"
#include "host/common/text.h"
#include "host/port/trace_args.h"

namespace torvic::host {

Board *Arbiter::board_at(uint32_t slot) const {
  for (const auto &b : boards_)
    if (b->slot() == slot) return b.get();
  return nullptr;
}

Board &Arbiter::board(uint32_t slot) const {
  Board *b = board_at(slot);
  if (!b) throw std::out_of_range("no board in slot " + std::to_string(slot));
  return *b;
}

const Arbiter::Claim *Arbiter::claim_of(const void *ext) const {
  auto it = claims_.find(ext);
  return it == claims_.end() ? nullptr : &it->second;
}

int Arbiter::slot_of(const void *ext) const {
  const Claim *c = claim_of(ext);
  return c ? c->slot : -1;
}

bool Arbiter::claimed_by(const void *ext, uint64_t start, uint64_t length, bool io) const {
  const Claim *c = claim_of(ext);
  if (!c) return false;
  for (const PhysRange &r : c->ranges)
    if (r.io == io && start >= r.start && start + length <= r.end()) return true;
  return false;
}

ULONG Arbiter::bus_data(bool write, BUS_DATA_TYPE type, ULONG slot, PVOID buffer, ULONG offset,
                        ULONG length) {
  const char *service = write ? "VideoPortSetBusData" : "VideoPortGetBusData";
  if (type != PCIConfiguration)
    verifier_.stop("%s: bus data type %d; only PCI configuration space (4) is used", service,
                   int(type));
  if (slot > 31) verifier_.stop("%s: slot %u above 31", service, slot);
  if (length != 4)
    verifier_.stop("%s: length %u; configuration space is accessed a dword at a time", service,
                   length);
  if (offset % 4 != 0 || offset >= 256)
    verifier_.stop("%s: offset 0x%X is not a dword of the header", service, offset);
  if (!buffer) verifier_.stop("%s: null buffer", service);

  Board *b = board_at(slot);
  TraceEvent &e = recorder_.record(service, static_cast<int>(slot));
  e.block = "cfg";
  e.offset = offset;
  e.reg = register_name(Block::Config, offset);
  e.is_read = !write;
  ULONG count = 0;
  if (faults_.injected(service, e)) {
    if (write) memcpy(&e.value, buffer, 4);
    recorder_.notify(e);
    return 0;
  }
  if (write) {
    uint32_t v;
    memcpy(&v, buffer, 4);
    e.value = v;
    if (b) {
      check_sizing_write(*b, offset, v);
      b->config_write(offset, v);
      count = 4;
    }
  } else {
    // An empty slot answers all ones.
    const uint32_t v = b ? b->config_read(offset) : 0xFFFFFFFF;
    memcpy(buffer, &v, 4);
    e.value = v;
    count = b ? 4 : 0;
  }
  recorder_.notify(e);
  return count;
}

std::optional<uint64_t> Arbiter::place(const IO_RESOURCE_DESCRIPTOR &d,
                                       const std::vector<PhysRange> &taken, int slot) const {
  const bool io = d.Type == CmResourceTypePort;
  const uint64_t length = d.u.Generic.Length;
  const uint64_t align = d.u.Generic.Alignment ? d.u.Generic.Alignment : 1;
  const uint64_t min = quad(d.u.Generic.MinimumAddress);
  const uint64_t max = quad(d.u.Generic.MaximumAddress);
  if (length == 0) return std::nullopt;
  auto align_up = [&](uint64_t v) { return (v + align - 1) / align * align; };

  std::vector<PhysRange> blockers;
  for (const PhysRange &r : reserved_)
    if (r.io == io) blockers.push_back(r);
  for (const auto &[ext, claim] : claims_)
    if (claim.slot != slot)
      for (const PhysRange &r : claim.ranges)
        if (r.io == io) blockers.push_back(r);
  for (const PhysRange &r : taken)
    if (r.io == io) blockers.push_back(r);
  // What other boards decode, as their firmware or an earlier claim left them.
  for (const Decoding &other : decoding())
    if (static_cast<int>(other.board->slot()) != slot && other.range.io == io)
      blockers.push_back(other.range);

  uint64_t start = align_up(min);
  while (start + length - 1 <= max) {
    const PhysRange *conflict = nullptr;
    for (const PhysRange &r : blockers)
      if (start < r.end() && r.start < start + length) {
        conflict = &r;
        break;
      }
    if (!conflict) return start;
    start = align_up(conflict->end());
  }
  return std::nullopt;
}

VP_STATUS Arbiter::get_access_ranges(PVOID ext, ULONG num_resources,
                                     PIO_RESOURCE_DESCRIPTOR resources, ULONG num_ranges,
                                     PVIDEO_ACCESS_RANGE ranges, PVOID vendor, PVOID device,
                                     PULONG slot) {
  const char *service = "VideoPortGetAccessRanges";
  if (num_resources > 0 && !resources)
    verifier_.stop("%s: %u descriptors but a null list", service, num_resources);
  if (num_ranges > 0 && !ranges)
    verifier_.stop("%s: %u access ranges but a null array", service, num_ranges);
  if (!vendor || !device || !slot)
    verifier_.stop("%s: null vendor, device or slot pointer", service);

  uint16_t vendor_id, device_id;
  memcpy(&vendor_id, vendor, 2);
  memcpy(&device_id, device, 2);
  TraceEvent &e = recorder_.record(service, static_cast<int>(*slot));
  ClaimRequest req;
  req.slot = static_cast<int>(*slot);
  req.descriptors.assign(resources, resources + num_resources);
  for (const auto &d : req.descriptors)
    if (d.Type != CmResourceTypePort && d.Type != CmResourceTypeMemory)
      verifier_.stop("%s: descriptor of resource type %u; this machine has only ports and memory",
                     service, d.Type);

  auto finish = [&](VP_STATUS status) {
    req.status = status;
    e.detail = std::to_string(num_resources) + " descriptors -> " + hex(static_cast<uint32_t>(status));
    set_args(e, {{"descriptors", num_resources}, {"status", status_name(status)}});
    requests_.push_back(req);
    recorder_.notify(e);
    return status;
  };

  if (auto f = faults_.injected(service, e)) return finish(*f);
  Board *b = *slot <= 31 ? board_at(*slot) : nullptr;
  if (!b || b->config().vendor_id != vendor_id || b->config().device_id != device_id)
    return finish(ERROR_DEV_NOT_EXIST);

  // A preferred descriptor and the alternatives after it describe one register.
  std::vector<std::vector<const IO_RESOURCE_DESCRIPTOR *>> groups;
  for (const auto &d : req.descriptors) {
    if (d.Option & IO_RESOURCE_ALTERNATIVE && !groups.empty())
      groups.back().push_back(&d);
    else
      groups.push_back({&d});
  }
  if (groups.size() > num_ranges) return finish(ERROR_MORE_DATA);
  if (reactos_.board_ranges_held_by_pnp_node)
    return finish(static_cast<VP_STATUS>(kStatusConflictingAddresses));

  std::vector<PhysRange> taken;
  std::vector<VIDEO_ACCESS_RANGE> assigned;
  for (const auto &group : groups) {
    std::optional<uint64_t> where;
    const IO_RESOURCE_DESCRIPTOR *chosen = nullptr;
    for (const IO_RESOURCE_DESCRIPTOR *d : group)
      if ((where = place(*d, taken, req.slot))) {
        chosen = d;
        break;
      }
    if (!chosen) return finish(ERROR_INVALID_PARAMETER);  // conflict: nothing fits
    const bool io = chosen->Type == CmResourceTypePort;
    taken.push_back({*where, chosen->u.Generic.Length, io, "slot " + std::to_string(req.slot)});
    VIDEO_ACCESS_RANGE r{};
    r.RangeStart.QuadPart = static_cast<LONGLONG>(*where);
    r.RangeLength = chosen->u.Generic.Length;
    r.RangeInIoSpace = io;
    r.RangeShareable = chosen->ShareDisposition == CmResourceShareShared;
    assigned.push_back(r);
  }
  for (size_t i = 0; i < assigned.size(); i++) ranges[i] = assigned[i];
  claims_[ext] = Claim{req.slot, taken};
  req.assigned = assigned;
  if (reactos_.claim_returns_bus_number) *slot = 0;
  return finish(NO_ERROR);
}

}  // namespace torvic::host
