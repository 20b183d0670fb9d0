// SPDX-License-Identifier: MIT
// The fault handler, the fenced blocks the port hands the driver, and the
// mappings of board memory and ports: VideoPortGetDeviceBase and
// VideoPortFreeDeviceBase for the driver's own register access,
// VideoPortMapMemory and VideoPortUnmapMemory for its clients.
#include "host/port/address_space.h"

#include <signal.h>

#include <algorithm>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "host/port/request_names.h"
#include "host/common/text.h"
#include "host/port/trace_args.h"

namespace torvic::host {

namespace {

// The address space whose driver runs on this thread: machines on different
// threads are independent.
thread_local AddressSpace *g_active = nullptr;

// The fault handler turns a stray access by the driver into a verifier stop.
// It is installed once for the process; a fault on a thread that runs no
// driver callback goes to whatever handled it before.
struct sigaction g_previous_segv {};
struct sigaction g_previous_bus {};

void on_fault(int signal_number, siginfo_t *info, void *context) {
  if (g_active) g_active->on_memory_fault(info->si_addr);
  const struct sigaction &previous = signal_number == SIGSEGV ? g_previous_segv : g_previous_bus;
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal_number, info, context);
  } else if (previous.sa_handler != SIG_IGN && previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal_number);
  } else {
    (void)signal(signal_number, SIG_DFL);
    (void)raise(signal_number);
  }
}

}  // namespace

AddressSpace *AddressSpace::activate(AddressSpace *space) {
  AddressSpace *previous = g_active;
  g_active = space;
  return previous;
}

void AddressSpace::install_fault_handler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGSEGV, &sa, &g_previous_segv);
    sigaction(SIGBUS, &sa, &g_previous_bus);
  });
}

AddressSpace::~AddressSpace() {
  if (g_active == this) g_active = nullptr;
}

void AddressSpace::on_memory_fault(void *address) {
  const auto *a = static_cast<const uint8_t *>(address);
  if (verifier_.irql() != Irql::Passive && image_ && image_->pageable(address)) {
    const std::string routine = image_->routine_at(address);
    verifier_.stop("%s touched pageable memory at %p%s%s%s: NT may call it at raised IRQL, where "
                   "a paged-out page is fatal",
                   verifier_.callback() ? verifier_.callback() : "the driver", address,
                   routine.empty() ? "" : " (", routine.c_str(), routine.empty() ? "" : ")");
  }
  for (const auto &e : extensions_) {
    if (a < e.block->data() - GuardedBlock::kFrontGuard ||
        a >= e.block->data() + e.block->size() + GuardedBlock::kAlignment + page_size())
      continue;
    if (e.freed)
      verifier_.stop("access at %p to the device extension of a failed find-adapter call, which "
                     "the video port has freed",
                     address);
    verifier_.stop("the driver wrote outside the device extension of slot %d (at %p, %zu bytes "
                   "past its end)",
                   arbiter_.slot_of(e.block->data()), address,
                   static_cast<size_t>(a - (e.block->data() + e.block->size())));
  }
  for (const auto &m : mappings_)
    if (m->reservation && a >= m->reservation->base() &&
        a < m->reservation->base() + m->reservation->size())
      verifier_.stop("direct access at %p to mapped device memory (physical %s); the board must "
                     "be reached through the video port's register and port services",
                     address, hex(m->phys + (a - m->reservation->base())).c_str());
  for (const auto &b : request_buffers_)
    if (a >= b->data() && a < b->data() + b->size() + GuardedBlock::kAlignment + page_size())
      verifier_.stop("access at %p past the end of the request buffer (%zu bytes)", address,
                     b->size());
  verifier_.stop("invalid memory access at %p", address);
}

// ---- Device extensions and request buffers ----------------------------------------------

void *AddressSpace::new_extension(ULONG size) {
  Extension e;
  e.block = std::make_unique<GuardedBlock>(size, 0);
  extensions_.push_back(std::move(e));
  return extensions_.back().block->data();
}

void AddressSpace::check_extension(const void *ext, const char *service) {
  for (const auto &e : extensions_)
    if (e.block->data() == ext) {
      if (e.freed)
        verifier_.stop("%s: device extension %p belongs to a failed find-adapter call", service,
                       ext);
      return;
    }
  verifier_.stop("%s: %p is not a device extension the video port handed out", service, ext);
}

void AddressSpace::settle_extension(const void *ext, int slot, bool freed) {
  for (auto &e : extensions_)
    if (e.block->data() == ext) {
      e.slot = slot;
      if (freed) {
        e.freed = true;
        e.block->poison();
      }
    }
}

void AddressSpace::check_extension_guards() {
  for (const auto &e : extensions_)
    if (!e.freed && !e.block->guards_intact())
      verifier_.stop("the driver wrote outside the device extension of slot %d", e.slot);
}

GuardedBlock &AddressSpace::push_request_buffer(size_t size, uint8_t fill) {
  request_buffers_.push_back(std::make_unique<GuardedBlock>(size, fill));
  return *request_buffers_.back();
}

// ---- Mappings -------------------------------------------------------------------------------

std::vector<const Mapping *> AddressSpace::client_mappings() const {
  std::vector<const Mapping *> v;
  for (const auto &m : mappings_)
    if (!m->device_base) v.push_back(m.get());
  return v;
}

std::vector<const Mapping *> AddressSpace::device_base_mappings() const {
  std::vector<const Mapping *> v;
  for (const auto &m : mappings_)
    if (m->device_base) v.push_back(m.get());
  return v;
}

void AddressSpace::mark_aliases(TraceEvent &e, const Board &b) {
  const uint64_t size = b.memory_size();
  const std::string installed =
      (size % kMiB == 0 ? std::to_string(size / kMiB) + " MiB" : hex(size) + " bytes") + " installed";
  e.detail += " aliases " + installed;
  set_arg(e, "aliases", installed);
}

PVOID AddressSpace::get_device_base(PVOID ext, PHYSICAL_ADDRESS address, ULONG length, UCHAR io) {
  const char *service = "VideoPortGetDeviceBase";
  const uint64_t phys = quad(address);
  TraceEvent &e = recorder_.record(service, arbiter_.slot_of(ext));
  e.detail = "phys " + hex(phys) + " length " + hex(length) + (io ? " io" : " memory");
  set_args(e, {{"phys", hex(phys)}, {"length", length}, {"space", io ? "io" : "memory"}, {"result", "mapped"}});
  if (length == 0)
    verifier_.stop("%s: a mapping of no bytes (NT's memory manager asserts on one)", service);
  if (!arbiter_.claimed_by(ext, phys, length, io != 0))
    verifier_.stop("%s: %s range %s length %s was not claimed by this board", service,
                   io ? "I/O" : "memory", hex(phys).c_str(), hex(length).c_str());
  if (faults_.injected(service, e)) {
    e.detail += " -> null";
    set_arg(e, "result", nullptr);
    recorder_.notify(e);
    return nullptr;
  }
  Mapping &m = add_mapping(ext, phys, length, io != 0);
  m.device_base = true;
  recorder_.notify(e);
  return m.virt;
}

VOID AddressSpace::free_device_base(PVOID ext, PVOID mapped) {
  const char *service = "VideoPortFreeDeviceBase";
  const int slot = arbiter_.slot_of(ext);
  auto it = std::find_if(mappings_.begin(), mappings_.end(), [&](const auto &m) {
    return m->device_base && m->virt == mapped && m->slot == slot;
  });
  if (it == mappings_.end())
    verifier_.stop("%s: %p is not a device base mapped for this board", service, mapped);
  TraceEvent &e = recorder_.record(service, slot);
  e.detail = "phys " + hex((*it)->phys) + " length " + hex((*it)->length) +
             ((*it)->io ? " io" : " memory");
  set_args(e, {{"phys", hex((*it)->phys)}, {"length", (*it)->length},
               {"space", (*it)->io ? "io" : "memory"}});
  mappings_.erase(it);
  recorder_.notify(e);
}

Mapping &AddressSpace::add_mapping(PVOID ext, uint64_t phys, uint64_t length, bool io) {
  // Mappings go one after another from a fixed address, so that the
  // addresses a run shows are the same in every run of it.
  constexpr uintptr_t kFirstMapping = sizeof(void *) == 8 ? uintptr_t(0x200000000000) : uintptr_t(0x50000000);
  if (!next_mapping_) next_mapping_ = kFirstMapping;
  auto m = std::make_unique<Mapping>();
  m->reservation = std::make_unique<Reservation>(length, reinterpret_cast<void *>(next_mapping_));
  // 2 MiB or more apart, each on a 2 MiB boundary, where a view of video
  // memory can be moved in whole.
  constexpr uint64_t kStep = VramViews::kAlignment;
  next_mapping_ += static_cast<uintptr_t>((length + 2 * kStep - 1) / kStep * kStep);
  m->virt = m->reservation->base();
  m->length = length;
  m->phys = phys;
  m->io = io;
  m->slot = arbiter_.slot_of(ext);
  mappings_.push_back(std::move(m));
  return *mappings_.back();
}

VP_STATUS AddressSpace::map_memory(PVOID ext, PHYSICAL_ADDRESS address, PULONG length,
                                   const ULONG *io, PVOID *virt) {
  const char *service = "VideoPortMapMemory";
  if (!length || !io || !virt)
    verifier_.stop("%s: null length, in-I/O-space or address pointer", service);
  const uint64_t phys = quad(address);
  const HANDLE process = *virt;
  TraceEvent &e = recorder_.record(service, arbiter_.slot_of(ext));
  set_args(e, {{"phys", hex(phys)}, {"length", *length}, {"space", *io ? "io" : "memory"},
               {"process", process ? nlohmann::ordered_json(hex(reinterpret_cast<uintptr_t>(process)))
                                   : nlohmann::ordered_json()},
               {"status", "NO_ERROR"}});
  e.detail = "phys " + hex(phys) + " length " + hex(*length) + (*io ? " io" : " memory") +
             (process ? " process " + hex(reinterpret_cast<uintptr_t>(process)) : "");
  if (*length == 0)
    verifier_.stop("%s: a mapping of no bytes (NT's memory manager asserts on one)", service);
  if (!arbiter_.claimed_by(ext, phys, *length, *io != 0))
    verifier_.stop("%s: %s range %s length %s was not claimed by this board", service,
                   *io ? "I/O" : "memory", hex(phys).c_str(), hex(*length).c_str());
  // The part of the range in the frame-buffer aperture, where video memory
  // answers; past the installed memory it answers with that memory again.
  const Board &b = arbiter_.board(static_cast<uint32_t>(arbiter_.slot_of(ext)));
  const auto fb = b.decoded_base(kFrameBufferBar);
  const uint64_t aperture = b.config().bars[kFrameBufferBar].size;
  const bool in_video_memory = *io == 0 && fb && phys >= *fb && phys < *fb + aperture;
  const uint64_t offset = in_video_memory ? phys - *fb : 0;
  const uint64_t view_length = in_video_memory ? std::min<uint64_t>(*length, aperture - offset) : 0;
  if (offset + view_length > b.memory_size()) mark_aliases(e, b);
  if (auto f = faults_.injected(service, e)) {
    e.detail += " -> " + hex(static_cast<uint32_t>(*f));
    set_arg(e, "status", status_name(*f));
    recorder_.notify(e);
    return *f;
  }

  Mapping &m = add_mapping(ext, phys, *length, *io != 0);
  m.process = process;
  // A view of video memory aliases the board's own storage, so that what a
  // client draws is what the board holds, wherever in the range it draws.
  if (view_length > 0 && offset % page_size() == 0) {
    auto &views = vram_views_[m.slot];
    if (!views) views = std::make_unique<VramViews>(b.vram_fd(), b.memory_size());
    m.view = views->place(m.virt, offset, view_length);
    if (!m.view) verifier_.stop("%s: cannot map a view of video memory", service);
    m.view_length = view_length;
  }
  *virt = m.virt;
  recorder_.notify(e);
  return NO_ERROR;
}

VP_STATUS AddressSpace::unmap_memory(PVOID ext, PVOID virt, HANDLE process) {
  const char *service = "VideoPortUnmapMemory";
  TraceEvent &e = recorder_.record(service, arbiter_.slot_of(ext));
  e.detail = process ? "process " + hex(reinterpret_cast<uintptr_t>(process)) : "";
  auto it = std::find_if(mappings_.begin(), mappings_.end(), [&](const auto &m) {
    return !m->device_base && m->virt == virt && m->process == process;
  });
  if (it == mappings_.end())
    verifier_.stop("%s: %p is not mapped%s", service, virt,
                   process ? " in that process" : " for the display driver");
  if (auto f = faults_.injected(service, e)) {
    recorder_.notify(e);
    return *f;
  }
  e.detail = "phys " + hex((*it)->phys) + (e.detail.empty() ? "" : " " + e.detail);
  set_args(e, {{"phys", hex((*it)->phys)},
               {"process", process ? nlohmann::ordered_json(hex(reinterpret_cast<uintptr_t>(process)))
                                   : nlohmann::ordered_json()}});
  mappings_.erase(it);
  recorder_.notify(e);
  return NO_ERROR;
}

}  // namespace torvic::host
