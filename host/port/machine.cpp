#include "host/port/machine.h"
#include "host/port/request_names.h"
#include "host/port/service_faults.h"
#include "host/port/trace_args.h"

#include "host/image/driver_call.h"
#include "host/port/text.h"

#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

namespace torvic::host {

namespace {

// The machine whose callback runs on this thread: machines on different
// threads are independent.
thread_local Machine *g_active = nullptr;

uint64_t quad(const PHYSICAL_ADDRESS &a) { return static_cast<uint64_t>(a.QuadPart); }

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

void install_fault_handler() {
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

constexpr std::u16string_view kStringValues[] = {u"HardwareInformation.ChipType",
                                                 u"HardwareInformation.DacType",
                                                 u"HardwareInformation.AdapterString"};

}  // namespace

bool reply_reaches_caller(VP_STATUS status) {
  return status == NO_ERROR || status == ERROR_MORE_DATA;
}

// ---- Machines ------------------------------------------------------------------------

std::vector<PhysRange> default_reserved_ranges() {
  return {
      {0x0, 0x20000000, false, "system RAM and legacy memory"},
      {0xFEC00000, 0x01400000, false, "interrupt controllers and system BIOS"},
      {0x0, 0x1000, true, "legacy I/O ports"},
  };
}

MachineConfig machine_with(std::vector<BoardConfig> boards) {
  MachineConfig c;
  c.boards = std::move(boards);
  c.reserved = default_reserved_ranges();
  return c;
}

MachineConfig default_machine() {
  return machine_with({default_board(3, 0, 4 * kMiB, 0), default_board(9, 10, 8 * kMiB, 1)});
}

Machine::Machine(MachineConfig config, const std::string &image) : config_(std::move(config)) {
  for (const ServiceFault &f : config_.faults) {
    const ServiceFaultInfo *info = service_fault_info(f.service);
    if (!info) throw std::invalid_argument(f.service + " is not a video port service");
    if (info->kind == FaultKind::CannotFail) throw std::invalid_argument(f.service + " cannot fail");
    if (info->kind == FaultKind::Status && f.status == NO_ERROR)
      throw std::invalid_argument(f.service + " cannot fail with NO_ERROR");
  }
  for (const BoardConfig &b : config_.boards) {
    if (b.slot > 31) throw std::invalid_argument("slot " + std::to_string(b.slot) + " above 31");
    if (board_at(b.slot))
      throw std::invalid_argument("two boards in slot " + std::to_string(b.slot));
    boards_.push_back(std::make_unique<Board>(b));
  }
  image_ = std::make_unique<DriverImage>(image);
  install_fault_handler();
}

Machine::~Machine() {
  if (g_active == this) g_active = nullptr;
}

Board *Machine::board_at(uint32_t slot) {
  for (auto &b : boards_)
    if (b->slot() == slot) return b.get();
  return nullptr;
}

Board &Machine::board(uint32_t slot) {
  Board *b = board_at(slot);
  if (!b) throw std::out_of_range("no board in slot " + std::to_string(slot));
  return *b;
}

std::vector<Board *> Machine::boards() {
  std::vector<Board *> v;
  for (auto &b : boards_) v.push_back(b.get());
  return v;
}

std::vector<const Mapping *> Machine::client_mappings() const {
  std::vector<const Mapping *> v;
  for (const auto &m : mappings_)
    if (!m->device_base) v.push_back(m.get());
  return v;
}

// ---- Running the driver ------------------------------------------------------------------

Machine &Machine::active() {
  if (!g_active) {
    (void)fprintf(stderr, "torvic host: a video port service was called outside any callback\n");
    abort();
  }
  return *g_active;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf's arguments, which -Wformat checks against the format
void Machine::stop(const char *format, ...) {
  va_list args;
  va_start(args, format);
  (void)vsnprintf(stop_buffer_, sizeof stop_buffer_, format, args);  // a longer message is cut short
  va_end(args);
  stopped_ = true;
  if (frame_) siglongjmp(*frame_, 1);
  // Outside a callback the machine's caller is host code: throw directly.
  throw VerifierStop(stop_buffer_);
}

void Machine::on_memory_fault(void *address) {
  const auto *a = static_cast<const uint8_t *>(address);
  if (irql_ != Irql::Passive && image_->loaded().pageable(address)) {
    const std::string routine = image_->loaded().routine_at(address);
    stop("%s touched pageable memory at %p%s%s%s: NT may call it at raised IRQL, where a "
         "paged-out page is fatal",
         active_callback_ ? active_callback_ : "the driver", address,
         routine.empty() ? "" : " (", routine.c_str(), routine.empty() ? "" : ")");
  }
  for (const auto &e : extensions_) {
    if (a < e.block->data() - GuardedBlock::kFrontGuard ||
        a >= e.block->data() + e.block->size() + GuardedBlock::kAlignment + page_size())
      continue;
    if (e.freed)
      stop("access at %p to the device extension of a failed find-adapter call, which the "
           "video port has freed",
           address);
    stop("the driver wrote outside the device extension of slot %d (at %p, %zu bytes past its "
         "end)",
         slot_of(e.block->data()), address,
         static_cast<size_t>(a - (e.block->data() + e.block->size())));
  }
  for (const auto &m : mappings_)
    if (m->reservation && a >= m->reservation->base() &&
        a < m->reservation->base() + m->reservation->size())
      stop("direct access at %p to mapped device memory (physical %s); the board must be "
           "reached through the video port's register and port services",
           address, hex(m->phys + (a - m->reservation->base())).c_str());
  for (const auto &b : request_buffers_)
    if (a >= b->data() && a < b->data() + b->size() + GuardedBlock::kAlignment + page_size())
      stop("access at %p past the end of the request buffer (%zu bytes)", address, b->size());
  stop("invalid memory access at %p", address);
}

template <class F>
auto Machine::run(const char *callback, F &&f, Irql irql) {
  if (stopped_) throw VerifierStop(std::string("the machine has stopped: ") + stop_buffer_);
  if (active_callback_) stop("%s entered while %s runs", callback, active_callback_);

  using Result = decltype(f());
  Result result{};
  sigjmp_buf frame;
  Machine *previous = g_active;
  g_active = this;
  active_callback_ = callback;
  irql_ = irql;
  frame_ = &frame;
  if (sigsetjmp(frame, 1) == 0) result = f();
  frame_ = nullptr;
  active_callback_ = nullptr;
  irql_ = Irql::Passive;
  g_active = previous;
  // cppcheck-suppress knownConditionTrueFalse ; stop() sets it, then longjmps back to the sigsetjmp above
  if (stopped_) throw VerifierStop(stop_buffer_);
  check_after_callback();
  return result;
}

template <class R, class... Params, class... Args>
R Machine::call(const char *routine_name, R(NTAPI *routine)(Params...), Args... args) {
  int32_t stack_error = 0;
  const R result = call_driver(routine, &stack_error, args...);
  if (stack_error != 0)
    stop("%s returned with the stack pointer %+d bytes from where its caller left it: it must "
         "be stdcall and pop its own %zu bytes of arguments",
         routine_name, stack_error, 4 * sizeof...(Params));
  return result;
}

void Machine::require_passive(const char *service) {
  if (irql_ != Irql::Passive)
    stop("%s called from %s at raised IRQL: NT allows it only at PASSIVE_LEVEL; a callback "
         "that may run at any IRQL may only reach registers and ports, stall, and zero resident "
         "memory",
         service, active_callback_ ? active_callback_ : "the driver");
}

void Machine::check_after_callback() {
  for (const auto &e : extensions_)
    if (!e.freed && !e.block->guards_intact())
      stop("the driver wrote outside the device extension of slot %d", e.slot);
}

ULONG Machine::boot() {
  void *driver_object = this;
  static const char16_t registry_path[] =
      u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\torvic";
  mark("DriverEntry", "begin", -1);
  const ULONG status = run("DriverEntry", [&] {
    return call("DriverEntry", image_->entry(), driver_object,
                const_cast<char16_t *>(registry_path));
  });
  mark("DriverEntry", "end", -1, {{"status", status_name(static_cast<VP_STATUS>(status))}});
  return status;
}

bool Machine::initialize(size_t adapter) {
  Adapter &a = adapters_.at(adapter);
  mark("HwInitialize", "begin", a.slot, {{"board", adapter}});
  const BOOLEAN ok = run("HwInitialize", [&] {
    return call("HwInitialize", registration_.HwInitialize, a.extension);
  });
  mark("HwInitialize", "end", a.slot, {{"returned", ok ? "TRUE" : "FALSE"}});
  a.opened = true;
  return ok != FALSE;
}

void Machine::open(size_t adapter) {
  if (!adapters_.at(adapter).opened) initialize(adapter);
}

RequestResult Machine::request(size_t adapter, ULONG code, const std::vector<uint8_t> &input,
                               ULONG output_length) {
  open(adapter);
  const ULONG input_length = static_cast<ULONG>(input.size());
  // METHOD_BUFFERED: one system buffer for both directions.
  auto buffer = std::make_unique<GuardedBlock>(std::max(input_length, output_length), kBufferFill);
  if (!input.empty()) memcpy(buffer->data(), input.data(), input.size());
  GuardedBlock *b = buffer.get();
  request_buffers_.push_back(std::move(buffer));

  STATUS_BLOCK status_block{};
  status_block.Status = static_cast<VP_STATUS>(0x7EADBEEF);
  status_block.Information = kInformationSentinel;
  VIDEO_REQUEST_PACKET packet{};
  packet.IoControlCode = code;
  packet.StatusBlock = &status_block;
  packet.InputBuffer = b->data();
  packet.InputBufferLength = input_length;
  packet.OutputBuffer = b->data();
  packet.OutputBufferLength = output_length;

  RequestResult r;
  const int slot = adapters_[adapter].slot;
  mark("HwStartIO", "begin", slot,
       {{"board", adapter}, {"request", request_name(code)}, {"input_length", input_length},
        {"output_length", output_length}});
  r.returned = run("HwStartIO", [&] {
    return call("HwStartIO", registration_.HwStartIO, adapters_[adapter].extension, &packet);
  });
  if (!b->guards_intact()) stop("request 0x%X wrote outside its buffer", code);
  if (status_block.Status == static_cast<VP_STATUS>(0x7EADBEEF))
    stop("request 0x%X returned without writing its status", code);
  r.status = status_block.Status;
  r.information = status_block.Information;
  r.information_written = status_block.Information != kInformationSentinel;
  if (reply_reaches_caller(r.status) && r.information_written && r.information > output_length)
    stop("request 0x%X returned %s with Information %lu beyond its %u-byte output buffer: the "
         "system would copy that many bytes back to the caller",
         code, status_name(r.status).c_str(), static_cast<unsigned long>(r.information),
         output_length);
  r.system_buffer.assign(b->data(), b->data() + output_length);
  r.output.assign(output_length, 0);
  if (reply_reaches_caller(r.status) && r.information_written)
    memcpy(r.output.data(), b->data(), r.information);
  request_buffers_.pop_back();
  mark("HwStartIO", "end", slot,
       {{"request", request_name(code)}, {"status", status_name(r.status)},
        {"information", r.information_written ? nlohmann::ordered_json(r.information) : nlohmann::ordered_json()}});
  return r;
}

BOOLEAN Machine::reset_hardware(size_t adapter, ULONG columns, ULONG rows) {
  void *ext = adapter < adapters_.size() ? adapters_[adapter].extension : nullptr;
  // The machine is going down: NT calls this callback at raised IRQL, where
  // the image's pageable code and data may be paged out. Here they are.
  struct PagedOut {
    LoadedImage &image;
    explicit PagedOut(LoadedImage &i) : image(i) { image.set_pageable_present(false); }
    ~PagedOut() { image.set_pageable_present(true); }
  } paged_out(image_->loaded());
  const int slot = adapter < adapters_.size() ? adapters_[adapter].slot : -1;
  mark("HwResetHw", "begin", slot, {{"board", adapter}, {"columns", columns}, {"rows", rows}});
  const BOOLEAN reset = run("HwResetHw", [&] {
    return call("HwResetHw", registration_.HwResetHw, ext, columns, rows);
  }, Irql::Raised);
  mark("HwResetHw", "end", slot, {{"returned", reset ? "TRUE" : "FALSE"}});
  return reset;
}

BOOLEAN Machine::shut_down(ULONG columns, ULONG rows) {
  bool every_board_reset = true;
  for (size_t a = 0; a < adapters_.size(); a++)
    if (adapters_[a].opened) every_board_reset &= reset_hardware(a, columns, rows) != FALSE;
  // FALSE leaves the text mode to the platform, which has only the primary
  // display's BIOS to set it with.
  if (!every_board_reset) set_text_mode_for_driver();
  return every_board_reset;
}

Board *Machine::primary_display() {
  Board *primary = nullptr;
  for (auto &b : boards_)
    if (!primary || b->slot() < primary->slot()) primary = b.get();
  return primary;
}

namespace {
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

void Machine::set_text_mode_for_driver() {
  Board *primary = primary_display();
  if (!primary) return;
  const int slot = static_cast<int>(primary->slot());
  VIDEO_X86_BIOS_ARGUMENTS arguments{};
  arguments.Eax = 0x0003;  // function 00h (set mode), mode 03h
  TraceEvent &e = record("VideoPortInt10", slot);
  e.detail = "eax " + hex(arguments.Eax) + ", the video port's own after HwResetHw returned FALSE";
  set_args(e, bios_registers(arguments));
  set_arg(e, "caller", "video port");
  bios_calls_.push_back({slot, arguments, true});
  primary->set_text_mode(true);
  notify(e);
}

// ---- Trace and faults -------------------------------------------------------------------

TraceEvent &Machine::record(const char *service, int slot) {
  TraceEvent e;
  e.seq = trace_.size() + 1;
  e.time_us = clock_us_;
  e.slot = slot;
  e.service = service;
  trace_.push_back(std::move(e));
  return trace_.back();
}

void Machine::mark(const char *callback, const char *phase, int slot) {
  mark(callback, phase, slot, nlohmann::ordered_json::object());
}

void Machine::mark(const char *callback, const char *phase, int slot, const nlohmann::ordered_json &args) {
  TraceEvent &e = record(callback, slot);
  e.phase = phase;
  if (!args.is_null()) set_args(e, args);
  callback_slot_ = std::string(phase) == "begin" ? slot : -1;
}

void Machine::notify(const TraceEvent &event) {
  if (on_service) on_service(*this, event);
}

std::optional<VP_STATUS> Machine::injected(const char *service, TraceEvent &event) {
  const uint64_t n = ++service_calls_[service];
  for (const ServiceFault &f : config_.faults)
    if (f.service == service && f.call == n) {
      const ServiceFaultInfo *info = service_fault_info(service);
      event.fault = info->failure;
      if (info->kind == FaultKind::Status) event.fault += " " + hex(static_cast<uint32_t>(f.status));
      fired_faults_.push_back({service, n, event.slot, event.fault});
      return f.status;
    }
  return std::nullopt;
}

Machine::ExtensionRecord &Machine::extension(PVOID ext, const char *service) {
  for (auto &e : extensions_)
    if (e.block->data() == ext) {
      if (e.freed) stop("%s: device extension %p belongs to a failed find-adapter call", service, ext);
      return e;
    }
  stop("%s: %p is not a device extension the video port handed out", service, ext);
}

Machine::Claim *Machine::claim_of(PVOID ext) {
  auto it = claims_.find(ext);
  return it == claims_.end() ? nullptr : &it->second;
}

int Machine::slot_of(PVOID ext) {
  Claim *c = claim_of(ext);
  return c ? c->slot : -1;
}

bool Machine::claimed_by(PVOID ext, uint64_t start, uint64_t length, bool io) {
  const Claim *c = claim_of(ext);
  if (!c) return false;
  for (const PhysRange &r : c->ranges)
    if (r.io == io && start >= r.start && start + length <= r.end()) return true;
  return false;
}

// ---- Registration and discovery ----------------------------------------------------------

ULONG Machine::vp_initialize(PVOID, PVOID, PVIDEO_HW_INITIALIZATION_DATA data, PVOID context) {
  TraceEvent &e = record("VideoPortInitialize");
  if (!active_callback_ || strcmp(active_callback_, "DriverEntry") != 0)
    stop("VideoPortInitialize called from %s instead of DriverEntry",
         active_callback_ ? active_callback_ : "nowhere");
  if (data == nullptr) stop("VideoPortInitialize: null registration record");
  const ULONG form = offsetof(VIDEO_HW_INITIALIZATION_DATA, HwTimer) + sizeof(PVOID);
  if (data->HwInitDataSize < form || data->HwInitDataSize > sizeof(VIDEO_HW_INITIALIZATION_DATA))
    stop("VideoPortInitialize: HwInitDataSize %u is not between %u and %zu", data->HwInitDataSize,
         form, sizeof(VIDEO_HW_INITIALIZATION_DATA));
  registration_ = VIDEO_HW_INITIALIZATION_DATA{};
  memcpy(&registration_, data, data->HwInitDataSize);
  e.detail = "size " + std::to_string(data->HwInitDataSize);
  set_args(e, {{"size", data->HwInitDataSize}});
  notify(e);
  if (!registration_.HwFindAdapter || !registration_.HwInitialize || !registration_.HwStartIO)
    stop("VideoPortInitialize: the find-adapter, initialize and start-I/O callbacks are required");
  if (registration_.HwDeviceExtensionSize == 0)
    stop("VideoPortInitialize: HwDeviceExtensionSize is 0");
  if (auto f = injected("VideoPortInitialize", e)) return static_cast<ULONG>(*f);
  if (registration_.AdapterInterfaceType != PCIBus) return ERROR_DEV_NOT_EXIST;

  // Call find-adapter with a fresh extension for as long as it finds boards.
  VP_STATUS last = ERROR_DEV_NOT_EXIST;
  const size_t adapters_before = adapters_.size();
  const char *outer = active_callback_;
  for (int attempt = 0; attempt < 64; attempt++) {
    ExtensionRecord rec;
    rec.block = std::make_unique<GuardedBlock>(registration_.HwDeviceExtensionSize, 0);
    void *ext = rec.block->data();
    extensions_.push_back(std::move(rec));

    VIDEO_PORT_CONFIG_INFO info;
    memset(&info, kConfigInfoJunk, sizeof info);
    info.Length = config_.config_info_length;
    info.SystemIoBusNumber = 0;
    info.AdapterInterfaceType = PCIBus;
    UCHAR again = FALSE;

    active_callback_ = "HwFindAdapter";
    mark("HwFindAdapter", "begin", -1, {{"call", attempt + 1}});
    last = call("HwFindAdapter", registration_.HwFindAdapter, ext, context, nullptr, &info, &again);
    mark("HwFindAdapter", "end", slot_of(ext),
         {{"status", status_name(last)}, {"again", again ? "TRUE" : "FALSE"}});
    active_callback_ = outer;
    find_calls_.push_back({last, again, info, ext});

    ExtensionRecord &stored = extensions_.back();
    stored.slot = slot_of(ext);
    if (last != NO_ERROR) {
      // The failed call's extension goes, and with it what it claimed.
      stored.freed = true;
      stored.block->poison();
      claims_.erase(ext);
    }
    check_decoding("after HwFindAdapter call " + std::to_string(attempt + 1));
    if (last != NO_ERROR) break;
    adapters_.push_back({ext, stored.slot, false});
    if (!again) break;
  }
  return adapters_.size() > adapters_before ? NO_ERROR : static_cast<ULONG>(last);
}

ULONG Machine::vp_bus_data(bool write, PVOID ext, BUS_DATA_TYPE type, ULONG slot, PVOID buffer,
                           ULONG offset, ULONG length) {
  const char *service = write ? "VideoPortSetBusData" : "VideoPortGetBusData";
  require_passive(service);
  extension(ext, service);
  if (type != PCIConfiguration)
    stop("%s: bus data type %d; only PCI configuration space (4) is used", service, int(type));
  if (slot > 31) stop("%s: slot %u above 31", service, slot);
  if (length != 4) stop("%s: length %u; configuration space is accessed a dword at a time", service, length);
  if (offset % 4 != 0 || offset >= 256) stop("%s: offset 0x%X is not a dword of the header", service, offset);
  if (!buffer) stop("%s: null buffer", service);

  Board *b = board_at(slot);
  TraceEvent &e = record(service, static_cast<int>(slot));
  e.block = "cfg";
  e.offset = offset;
  e.reg = register_name(Block::Config, offset);
  e.is_read = !write;
  ULONG count = 0;
  if (injected(service, e)) {
    if (write) memcpy(&e.value, buffer, 4);
    notify(e);
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
  notify(e);
  return count;
}

std::optional<uint64_t> Machine::place(const IO_RESOURCE_DESCRIPTOR &d,
                                       const std::vector<PhysRange> &taken, int slot) {
  const bool io = d.Type == CmResourceTypePort;
  const uint64_t length = d.u.Generic.Length;
  const uint64_t align = d.u.Generic.Alignment ? d.u.Generic.Alignment : 1;
  const uint64_t min = quad(d.u.Generic.MinimumAddress);
  const uint64_t max = quad(d.u.Generic.MaximumAddress);
  if (length == 0) return std::nullopt;
  auto align_up = [&](uint64_t v) { return (v + align - 1) / align * align; };

  std::vector<PhysRange> blockers;
  for (const PhysRange &r : config_.reserved)
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

VP_STATUS Machine::vp_get_access_ranges(PVOID ext, ULONG num_resources,
                                        PIO_RESOURCE_DESCRIPTOR resources, ULONG num_ranges,
                                        PVIDEO_ACCESS_RANGE ranges, PVOID vendor, PVOID device,
                                        PULONG slot) {
  const char *service = "VideoPortGetAccessRanges";
  require_passive(service);
  extension(ext, service);
  if (num_resources > 0 && !resources) stop("%s: %u descriptors but a null list", service, num_resources);
  if (num_ranges > 0 && !ranges) stop("%s: %u access ranges but a null array", service, num_ranges);
  if (!vendor || !device || !slot) stop("%s: null vendor, device or slot pointer", service);

  uint16_t vendor_id, device_id;
  memcpy(&vendor_id, vendor, 2);
  memcpy(&device_id, device, 2);
  TraceEvent &e = record(service, static_cast<int>(*slot));
  ClaimRequest req;
  req.slot = static_cast<int>(*slot);
  req.descriptors.assign(resources, resources + num_resources);
  for (const auto &d : req.descriptors)
    if (d.Type != CmResourceTypePort && d.Type != CmResourceTypeMemory)
      stop("%s: descriptor of resource type %u; this machine has only ports and memory", service, d.Type);

  auto finish = [&](VP_STATUS status) {
    req.status = status;
    e.detail = std::to_string(num_resources) + " descriptors -> " + hex(static_cast<uint32_t>(status));
    set_args(e, {{"descriptors", num_resources}, {"status", status_name(status)}});
    claim_requests_.push_back(req);
    notify(e);
    return status;
  };

  if (auto f = injected(service, e)) return finish(*f);
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
  if (config_.claim_returns_bus_number) *slot = 0;
  return finish(NO_ERROR);
}

// ---- Mappings -------------------------------------------------------------------------------

namespace {

// Marks an event whose range reaches past the memory the board carries
// into the addresses that repeat it.
void mark_aliases(TraceEvent &e, const Board &b) {
  const uint64_t size = b.memory_size();
  const std::string installed =
      (size % kMiB == 0 ? std::to_string(size / kMiB) + " MiB" : hex(size) + " bytes") + " installed";
  e.detail += " aliases " + installed;
  set_arg(e, "aliases", installed);
}

}  // namespace

PVOID Machine::vp_get_device_base(PVOID ext, PHYSICAL_ADDRESS address, ULONG length, UCHAR io) {
  const char *service = "VideoPortGetDeviceBase";
  require_passive(service);
  extension(ext, service);
  const uint64_t phys = quad(address);
  TraceEvent &e = record(service, slot_of(ext));
  e.detail = "phys " + hex(phys) + " length " + hex(length) + (io ? " io" : " memory");
  set_args(e, {{"phys", hex(phys)}, {"length", length}, {"space", io ? "io" : "memory"}, {"result", "mapped"}});
  if (length == 0) stop("%s: a mapping of no bytes (NT's memory manager asserts on one)", service);
  if (!claimed_by(ext, phys, length, io != 0))
    stop("%s: %s range %s length %s was not claimed by this board", service, io ? "I/O" : "memory",
         hex(phys).c_str(), hex(length).c_str());
  if (injected(service, e)) {
    e.detail += " -> null";
    set_arg(e, "result", nullptr);
    notify(e);
    return nullptr;
  }
  Mapping &m = add_mapping(ext, phys, length, io != 0);
  m.device_base = true;
  notify(e);
  return m.virt;
}

VOID Machine::vp_free_device_base(PVOID ext, PVOID mapped) {
  const char *service = "VideoPortFreeDeviceBase";
  require_passive(service);
  extension(ext, service);
  const int slot = slot_of(ext);
  auto it = std::find_if(mappings_.begin(), mappings_.end(), [&](const auto &m) {
    return m->device_base && m->virt == mapped && m->slot == slot;
  });
  if (it == mappings_.end())
    stop("%s: %p is not a device base mapped for this board", service, mapped);
  TraceEvent &e = record(service, slot);
  e.detail = "phys " + hex((*it)->phys) + " length " + hex((*it)->length) +
             ((*it)->io ? " io" : " memory");
  set_args(e, {{"phys", hex((*it)->phys)}, {"length", (*it)->length},
               {"space", (*it)->io ? "io" : "memory"}});
  mappings_.erase(it);
  notify(e);
}

Mapping &Machine::add_mapping(PVOID ext, uint64_t phys, uint64_t length, bool io) {
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
  m->slot = slot_of(ext);
  mappings_.push_back(std::move(m));
  return *mappings_.back();
}

VP_STATUS Machine::vp_map_memory(PVOID ext, PHYSICAL_ADDRESS address, PULONG length, const ULONG *io,
                                 PVOID *virt) {
  const char *service = "VideoPortMapMemory";
  require_passive(service);
  extension(ext, service);
  if (!length || !io || !virt) stop("%s: null length, in-I/O-space or address pointer", service);
  const uint64_t phys = quad(address);
  const HANDLE process = *virt;
  TraceEvent &e = record(service, slot_of(ext));
  set_args(e, {{"phys", hex(phys)}, {"length", *length}, {"space", *io ? "io" : "memory"},
               {"process", process ? nlohmann::ordered_json(hex(reinterpret_cast<uintptr_t>(process)))
                                   : nlohmann::ordered_json()},
               {"status", "NO_ERROR"}});
  e.detail = "phys " + hex(phys) + " length " + hex(*length) + (*io ? " io" : " memory") +
             (process ? " process " + hex(reinterpret_cast<uintptr_t>(process)) : "");
  if (*length == 0) stop("%s: a mapping of no bytes (NT's memory manager asserts on one)", service);
  if (!claimed_by(ext, phys, *length, *io != 0))
    stop("%s: %s range %s length %s was not claimed by this board", service,
         *io ? "I/O" : "memory", hex(phys).c_str(), hex(*length).c_str());
  // The part of the range in the frame-buffer aperture, where video memory
  // answers; past the installed memory it answers with that memory again.
  const Board &b = board(static_cast<uint32_t>(slot_of(ext)));
  const auto fb = b.decoded_base(kFrameBufferBar);
  const uint64_t aperture = b.config().bars[kFrameBufferBar].size;
  const bool in_video_memory = *io == 0 && fb && phys >= *fb && phys < *fb + aperture;
  const uint64_t offset = in_video_memory ? phys - *fb : 0;
  const uint64_t view_length = in_video_memory ? std::min<uint64_t>(*length, aperture - offset) : 0;
  if (offset + view_length > b.memory_size()) mark_aliases(e, b);
  if (auto f = injected(service, e)) {
    e.detail += " -> " + hex(static_cast<uint32_t>(*f));
    set_arg(e, "status", status_name(*f));
    notify(e);
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
    if (!m.view) stop("%s: cannot map a view of video memory", service);
    m.view_length = view_length;
  }
  *virt = m.virt;
  notify(e);
  return NO_ERROR;
}

VP_STATUS Machine::vp_unmap_memory(PVOID ext, PVOID virt, HANDLE process) {
  const char *service = "VideoPortUnmapMemory";
  require_passive(service);
  extension(ext, service);
  TraceEvent &e = record(service, slot_of(ext));
  e.detail = process ? "process " + hex(reinterpret_cast<uintptr_t>(process)) : "";
  auto it = std::find_if(mappings_.begin(), mappings_.end(), [&](const auto &m) {
    return !m->device_base && m->virt == virt && m->process == process;
  });
  if (it == mappings_.end())
    stop("%s: %p is not mapped%s", service, virt,
         process ? " in that process" : " for the display driver");
  if (auto f = injected(service, e)) {
    notify(e);
    return *f;
  }
  e.detail = "phys " + hex((*it)->phys) + (e.detail.empty() ? "" : " " + e.detail);
  set_args(e, {{"phys", hex((*it)->phys)},
               {"process", process ? nlohmann::ordered_json(hex(reinterpret_cast<uintptr_t>(process)))
                                   : nlohmann::ordered_json()}});
  mappings_.erase(it);
  notify(e);
  return NO_ERROR;
}

// ---- Register and port access ----------------------------------------------------------

Machine::Decoded Machine::decode(const char *service, void *address, int width, bool port) {
  const auto *a = static_cast<const uint8_t *>(address);
  const Mapping *m = nullptr;
  for (const auto &candidate : mappings_)
    if (candidate->device_base && a >= candidate->virt &&
        a + width / 8 <= candidate->virt + candidate->length) {
      m = candidate.get();
      break;
    }
  if (!m) stop("%s: %p is outside every block mapped for a claimed board", service, address);
  if (m->io != port)
    stop("%s: %p lies in a %s block; it takes %s accesses", service, address,
         m->io ? "port (I/O)" : "memory", m->io ? "port" : "register");

  const uint64_t phys = m->phys + static_cast<uint64_t>(a - m->virt);
  Board &b = board(m->slot);
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
        stop("%s: %p reaches BAR%d of slot %u, which has no registers", service, address, bar,
             b.slot());
    }
  }
  if (!(m->io ? b.io_decoding() : b.memory_decoding()))
    stop("%s: %p: the board in slot %u has its %s decoding off", service, address, b.slot(),
         m->io ? "I/O" : "memory");
  stop("%s: %p: no register of slot %u decodes physical %s", service, address, b.slot(),
       hex(phys).c_str());
}

ULONG Machine::vp_read(const char *service, void *address, bool port) {
  const Decoded d = decode(service, address, 32, port);
  std::string why;
  if (!Board::access_allowed(d.block, d.offset, Access::Read32, &why))
    stop("%s: %p: %s", service, address, why.c_str());
  TraceEvent probe;
  probe.slot = static_cast<int>(d.board->slot());
  const bool fails = injected(service, probe).has_value();
  const uint32_t value = fails ? 0xFFFFFFFF : d.board->read(d.block, d.offset);
  // A poll that reads the same value again stays one event with a count.
  if (!fails && !trace_.empty()) {
    TraceEvent &last = trace_.back();
    if (last.is_read && last.width == 32 && last.value == value && last.offset == d.offset &&
        last.slot == static_cast<int>(d.board->slot()) && last.service == service) {
      last.repeat++;
      notify(last);
      return value;
    }
  }
  TraceEvent &e = record(service, static_cast<int>(d.board->slot()));
  e.block = block_name(d.block);
  e.offset = d.offset;
  e.reg = register_name(d.block, d.offset);
  e.width = 32;
  e.is_read = true;
  e.value = value;
  e.fault = probe.fault;
  notify(e);
  return value;
}

VOID Machine::vp_write(const char *service, void *address, ULONG value, int width, bool port) {
  const Decoded d = decode(service, address, width, port);
  std::string why;
  if (!Board::access_allowed(d.block, d.offset, width == 8 ? Access::Write8 : Access::Write32, &why))
    stop("%s: %p: %s", service, address, why.c_str());
  TraceEvent &e = record(service, static_cast<int>(d.board->slot()));
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
  if (injected(service, e)) {
    notify(e);
    return;
  }
  d.board->write(d.block, d.offset, value, width);
  const std::string fault = d.board->take_fault();
  if (!fault.empty()) stop("%s: %s", service, fault.c_str());
  notify(e);
}

VOID Machine::vp_zero_device_memory(PVOID destination, ULONG length) {
  const char *service = "VideoPortZeroDeviceMemory";
  require_passive(service);
  const Decoded d = decode(service, destination, 8, false);
  if (d.block != Block::FrameBuffer)
    stop("%s: %p is not video memory", service, destination);
  const uint64_t aperture = d.board->config().bars[kFrameBufferBar].size;
  if (uint64_t(d.offset) + length > aperture)
    stop("%s: %u bytes from frame-buffer offset 0x%X run past the aperture", service, length,
         d.offset);
  TraceEvent &e = record(service, static_cast<int>(d.board->slot()));
  e.block = "fb";
  e.offset = d.offset;
  e.detail = "length " + hex(length);
  set_args(e, {{"length", length}});
  if (uint64_t(d.offset) + length > d.board->memory_size()) mark_aliases(e, *d.board);
  if (!injected(service, e)) d.board->clear_vram(d.offset, length);
  notify(e);
}

VOID Machine::vp_zero_memory(PVOID destination, ULONG length) {
  if (!destination && length) stop("VideoPortZeroMemory: null destination");
  // No bytes at a null destination is no fault, but memset may not be given null.
  if (length) memset(destination, 0, length);
  TraceEvent &e = record("VideoPortZeroMemory");
  e.detail = "length " + std::to_string(length);
  set_args(e, {{"length", length}});
  notify(e);
}

VOID Machine::vp_stall(ULONG microseconds) {
  if (microseconds > 50)
    stop("VideoPortStallExecution: %u microseconds; a stall may not exceed 50", microseconds);
  // A stall names no board: it carries the board whose callback made it.
  // Stalls of one length in a row are one event with a count, like polls.
  if (!trace_.empty()) {
    TraceEvent &last = trace_.back();
    if (last.service == "VideoPortStallExecution" && last.value == microseconds &&
        last.slot == callback_slot_) {
      last.repeat++;
      clock_us_ += microseconds;
      notify(last);
      return;
    }
  }
  TraceEvent &e = record("VideoPortStallExecution", callback_slot_);
  e.value = microseconds;
  clock_us_ += microseconds;
  notify(e);
}

// ---- Registry and BIOS ------------------------------------------------------------------------

VP_STATUS Machine::vp_set_registry(PVOID ext, const WCHAR *name, PVOID data, ULONG length) {
  const char *service = "VideoPortSetRegistryParameters";
  require_passive(service);
  extension(ext, service);
  if (!name) stop("%s: null value name", service);
  std::u16string value_name;
  for (size_t i = 0;; i++) {
    if (i == 256) stop("%s: value name not NUL-terminated within 256 characters", service);
    if (name[i] == 0) break;
    value_name += name[i];
  }
  if (length && !data) stop("%s: null data for %u bytes", service, length);
  const auto *bytes = static_cast<const uint8_t *>(data);
  const bool is_string = std::find(std::begin(kStringValues), std::end(kStringValues),
                                   value_name) != std::end(kStringValues);
  if (is_string) {
    size_t chars = 0;
    while (chars * 2 + 1 < length && (bytes[chars * 2] | bytes[chars * 2 + 1]) != 0) chars++;
    if (length % 2 != 0 || chars * 2 + 2 != length)
      stop("%s: %s: a string value must be NUL-terminated UTF-16 and its length (%u) must be "
           "2 x (characters + 1)",
           service, narrow(value_name).c_str(), length);
  }
  TraceEvent &e = record(service, slot_of(ext));
  e.detail = narrow(value_name) + " " + std::to_string(length) + " bytes";
  set_args(e, registry_args(value_name, bytes, length, is_string));
  RegistryWrite w;
  w.slot = slot_of(ext);
  w.name = value_name;
  w.data.assign(bytes, bytes + length);
  w.status = injected(service, e).value_or(NO_ERROR);
  set_arg(e, "status", status_name(w.status));
  registry_.push_back(w);
  notify(e);
  return w.status;
}

VP_STATUS Machine::vp_int10(PVOID ext, PVIDEO_X86_BIOS_ARGUMENTS arguments) {
  const char *service = "VideoPortInt10";
  require_passive(service);
  extension(ext, service);
  if (!arguments) stop("%s: null arguments", service);
  TraceEvent &e = record(service, slot_of(ext));
  e.detail = "eax " + hex(arguments->Eax);
  set_args(e, bios_registers(*arguments));
  bios_calls_.push_back({slot_of(ext), *arguments});
  if (auto f = injected(service, e)) {
    notify(e);
    return *f;
  }
  // Function 00h, mode 03h: 80 x 25 colour text.
  if ((arguments->Eax & 0xFFFF) == 0x0003 && slot_of(ext) >= 0) board(slot_of(ext)).set_text_mode(true);
  notify(e);
  return NO_ERROR;
}

}  // namespace torvic::host
