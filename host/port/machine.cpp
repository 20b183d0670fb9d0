// SPDX-License-Identifier: MIT
// The machine: its boards and driver image, the life of the machine as the
// NT video port runs a miniport, each callback run under the verifier, and
// the services, checked and handed to the part of the port they belong to.
#include "host/port/machine.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "host/image/driver_call.h"
#include "host/port/request_input.h"
#include "host/port/request_names.h"
#include "host/port/trace_args.h"

namespace torvic::host {

namespace {

// The machine whose callback runs on this thread: machines on different
// threads are independent.
thread_local Machine *g_active = nullptr;

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

Machine::Machine(MachineConfig config, const std::string &image)
    : config_(std::move(config)),
      faults_(config_.faults),  // checks the faults first
      arbiter_(boards_, config_.reserved, config_.reactos, verifier_, recorder_, faults_),
      address_(arbiter_, verifier_, recorder_, faults_),
      registry_bios_(verifier_, recorder_, faults_) {
  for (const BoardConfig &b : config_.boards) {
    if (b.slot > 31) throw std::invalid_argument("slot " + std::to_string(b.slot) + " above 31");
    if (board_at(b.slot))
      throw std::invalid_argument("two boards in slot " + std::to_string(b.slot));
    boards_.push_back(std::make_unique<Board>(b));
  }
  image_ = std::make_unique<DriverImage>(image);
  address_.set_image(&image_->loaded());
  recorder_.listener = [this](const TraceEvent &event) {
    if (on_service) on_service(*this, event);
  };
  recorder_.on_settled = [this] {
    if (on_trace_settled) on_trace_settled();
  };
  AddressSpace::install_fault_handler();
}

Machine::~Machine() {
  if (g_active == this) g_active = nullptr;
}

std::vector<Board *> Machine::boards() {
  std::vector<Board *> v;
  for (auto &b : boards_) v.push_back(b.get());
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
  verifier_.write_message(format, args);
  va_end(args);
  verifier_.halt();
}

template <class F>
auto Machine::run(const char *callback, F &&f, Irql irql) {
  if (verifier_.stopped())
    throw VerifierStop(std::string("the machine has stopped: ") + verifier_.message());
  if (verifier_.callback()) stop("%s entered while %s runs", callback, verifier_.callback());

  using Result = decltype(f());
  Result result{};
  sigjmp_buf frame;
  Machine *previous = g_active;
  g_active = this;
  AddressSpace *previous_space = AddressSpace::activate(&address_);
  verifier_.begin(callback, irql, &frame);
  if (sigsetjmp(frame, 1) == 0) result = f();
  verifier_.end();
  AddressSpace::activate(previous_space);
  g_active = previous;
  if (verifier_.stopped()) throw VerifierStop(verifier_.message());
  address_.check_extension_guards();
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

void Machine::check_service(const char *service, PVOID ext) {
  verifier_.require_passive(service);
  address_.check_extension(ext, service);
}

ULONG Machine::boot() {
  void *driver_object = this;
  static const char16_t registry_path[] =
      u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\torvic";
  recorder_.mark("DriverEntry", "begin", -1);
  const ULONG status = run("DriverEntry", [&] {
    return call("DriverEntry", image_->entry(), driver_object,
                const_cast<char16_t *>(registry_path));
  });
  recorder_.mark("DriverEntry", "end", -1,
                 {{"status", status_name(static_cast<VP_STATUS>(status))}});
  return status;
}

bool Machine::initialize(size_t adapter) {
  Adapter &a = adapters_.at(adapter);
  recorder_.mark("HwInitialize", "begin", a.slot, {{"board", adapter}});
  const BOOLEAN ok = run("HwInitialize", [&] {
    return call("HwInitialize", registration_.HwInitialize, a.extension);
  });
  recorder_.mark("HwInitialize", "end", a.slot, {{"returned", ok ? "TRUE" : "FALSE"}});
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
  GuardedBlock *b =
      &address_.push_request_buffer(std::max(input_length, output_length), kBufferFill);
  if (!input.empty()) memcpy(b->data(), input.data(), input.size());

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
  nlohmann::ordered_json begin = {{"board", adapter}, {"request", request_name(code)},
                                  {"input_length", input_length}, {"output_length", output_length}};
  // What the request asks for, so the writes that follow can be read against it.
  if (const auto fields = decoded_request_input(code, input); !fields.is_null()) begin["input"] = fields;
  recorder_.mark("HwStartIO", "begin", slot, begin);
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
  address_.pop_request_buffer();
  recorder_.mark("HwStartIO", "end", slot,
                 {{"request", request_name(code)}, {"status", status_name(r.status)},
                  {"information", r.information_written ? nlohmann::ordered_json(r.information)
                                                        : nlohmann::ordered_json()}});
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
  recorder_.mark("HwResetHw", "begin", slot,
                 {{"board", adapter}, {"columns", columns}, {"rows", rows}});
  const BOOLEAN reset = run("HwResetHw", [&] {
    return call("HwResetHw", registration_.HwResetHw, ext, columns, rows);
  }, Irql::Raised);
  recorder_.mark("HwResetHw", "end", slot, {{"returned", reset ? "TRUE" : "FALSE"}});
  return reset;
}

BOOLEAN Machine::shut_down(ULONG columns, ULONG rows) {
  bool every_board_reset = true;
  for (size_t a = 0; a < adapters_.size(); a++)
    if (adapters_[a].opened) every_board_reset &= reset_hardware(a, columns, rows) != FALSE;
  // FALSE leaves the text mode to the platform, which has only the primary
  // display's BIOS to set it with.
  if (!every_board_reset) {
    Board *primary = primary_display();
    if (primary) registry_bios_.set_text_mode_for_driver(*primary);
  }
  return every_board_reset;
}

Board *Machine::primary_display() {
  Board *primary = nullptr;
  for (auto &b : boards_)
    if (!primary || b->slot() < primary->slot()) primary = b.get();
  return primary;
}

// ---- Registration and discovery ----------------------------------------------------------

ULONG Machine::vp_initialize(PVOID, PVOID, PVIDEO_HW_INITIALIZATION_DATA data, PVOID context) {
  TraceEvent &e = recorder_.record("VideoPortInitialize");
  const char *caller = verifier_.callback();
  if (!caller || strcmp(caller, "DriverEntry") != 0)
    stop("VideoPortInitialize called from %s instead of DriverEntry", caller ? caller : "nowhere");
  if (data == nullptr) stop("VideoPortInitialize: null registration record");
  const ULONG form = offsetof(VIDEO_HW_INITIALIZATION_DATA, HwTimer) + sizeof(PVOID);
  if (data->HwInitDataSize < form || data->HwInitDataSize > sizeof(VIDEO_HW_INITIALIZATION_DATA))
    stop("VideoPortInitialize: HwInitDataSize %u is not between %u and %zu", data->HwInitDataSize,
         form, sizeof(VIDEO_HW_INITIALIZATION_DATA));
  registration_ = VIDEO_HW_INITIALIZATION_DATA{};
  memcpy(&registration_, data, data->HwInitDataSize);
  e.detail = "size " + std::to_string(data->HwInitDataSize);
  set_args(e, {{"size", data->HwInitDataSize}});
  recorder_.notify(e);
  if (!registration_.HwFindAdapter || !registration_.HwInitialize || !registration_.HwStartIO)
    stop("VideoPortInitialize: the find-adapter, initialize and start-I/O callbacks are required");
  if (registration_.HwDeviceExtensionSize == 0)
    stop("VideoPortInitialize: HwDeviceExtensionSize is 0");
  if (auto f = faults_.injected("VideoPortInitialize", e)) return static_cast<ULONG>(*f);
  if (registration_.AdapterInterfaceType != PCIBus) return ERROR_DEV_NOT_EXIST;

  // Call find-adapter with a fresh extension for as long as it finds boards.
  VP_STATUS last = ERROR_DEV_NOT_EXIST;
  const size_t adapters_before = adapters_.size();
  for (int attempt = 0; attempt < 64; attempt++) {
    void *ext = address_.new_extension(registration_.HwDeviceExtensionSize);

    VIDEO_PORT_CONFIG_INFO info;
    memset(&info, kConfigInfoJunk, sizeof info);
    info.Length = config_.config_info_length;
    info.SystemIoBusNumber = 0;
    info.AdapterInterfaceType = PCIBus;
    UCHAR again = FALSE;

    verifier_.set_callback("HwFindAdapter");
    recorder_.mark("HwFindAdapter", "begin", -1, {{"call", attempt + 1}});
    last = call("HwFindAdapter", registration_.HwFindAdapter, ext, context, nullptr, &info, &again);
    recorder_.mark("HwFindAdapter", "end", arbiter_.slot_of(ext),
                   {{"status", status_name(last)}, {"again", again ? "TRUE" : "FALSE"}});
    verifier_.set_callback(caller);
    find_calls_.push_back({last, again, info, ext});

    const int slot = arbiter_.slot_of(ext);
    // A failed call's extension goes, and with it what it claimed.
    address_.settle_extension(ext, slot, last != NO_ERROR);
    if (last != NO_ERROR) arbiter_.release(ext);
    arbiter_.check_decoding("after HwFindAdapter call " + std::to_string(attempt + 1));
    if (last != NO_ERROR) break;
    adapters_.push_back({ext, slot, false});
    if (!again || config_.reactos.one_find_adapter_call) break;
  }
  return adapters_.size() > adapters_before ? NO_ERROR : static_cast<ULONG>(last);
}

// ---- The services the other parts of the port carry out ---------------------------------

ULONG Machine::vp_bus_data(bool write, PVOID ext, BUS_DATA_TYPE type, ULONG slot, PVOID buffer,
                           ULONG offset, ULONG length) {
  check_service(write ? "VideoPortSetBusData" : "VideoPortGetBusData", ext);
  return arbiter_.bus_data(write, type, slot, buffer, offset, length);
}

VP_STATUS Machine::vp_get_access_ranges(PVOID ext, ULONG num_resources,
                                        PIO_RESOURCE_DESCRIPTOR resources, ULONG num_ranges,
                                        PVIDEO_ACCESS_RANGE ranges, PVOID vendor, PVOID device,
                                        PULONG slot) {
  check_service("VideoPortGetAccessRanges", ext);
  return arbiter_.get_access_ranges(ext, num_resources, resources, num_ranges, ranges, vendor,
                                    device, slot);
}

PVOID Machine::vp_get_device_base(PVOID ext, PHYSICAL_ADDRESS address, ULONG length, UCHAR io) {
  check_service("VideoPortGetDeviceBase", ext);
  return address_.get_device_base(ext, address, length, io);
}

VOID Machine::vp_free_device_base(PVOID ext, PVOID mapped) {
  check_service("VideoPortFreeDeviceBase", ext);
  address_.free_device_base(ext, mapped);
}

VP_STATUS Machine::vp_map_memory(PVOID ext, PHYSICAL_ADDRESS address, PULONG length,
                                 const ULONG *io, PVOID *virt) {
  check_service("VideoPortMapMemory", ext);
  return address_.map_memory(ext, address, length, io, virt);
}

VP_STATUS Machine::vp_unmap_memory(PVOID ext, PVOID virt, HANDLE process) {
  check_service("VideoPortUnmapMemory", ext);
  return address_.unmap_memory(ext, virt, process);
}

ULONG Machine::vp_read(const char *service, void *address, bool port) {
  return address_.read(service, address, port);
}

VOID Machine::vp_write(const char *service, void *address, ULONG value, int width, bool port) {
  address_.write(service, address, value, width, port);
}

VOID Machine::vp_zero_device_memory(PVOID destination, ULONG length) {
  verifier_.require_passive("VideoPortZeroDeviceMemory");
  address_.zero_device_memory(destination, length);
}

VOID Machine::vp_zero_memory(PVOID destination, ULONG length) {
  if (!destination && length) stop("VideoPortZeroMemory: null destination");
  // No bytes at a null destination is no fault, but memset may not be given null.
  if (length) memset(destination, 0, length);
  TraceEvent &e = recorder_.record("VideoPortZeroMemory");
  e.detail = "length " + std::to_string(length);
  set_args(e, {{"length", length}});
  recorder_.notify(e);
}

VOID Machine::vp_stall(ULONG microseconds) {
  if (microseconds > 50)
    stop("VideoPortStallExecution: %u microseconds; a stall may not exceed 50", microseconds);
  recorder_.stall(microseconds);
}

VP_STATUS Machine::vp_set_registry(PVOID ext, const WCHAR *name, PVOID data, ULONG length) {
  check_service("VideoPortSetRegistryParameters", ext);
  return registry_bios_.set_registry(arbiter_.slot_of(ext), name, data, length);
}

VP_STATUS Machine::vp_int10(PVOID ext, PVIDEO_X86_BIOS_ARGUMENTS arguments) {
  check_service("VideoPortInt10", ext);
  const int slot = arbiter_.slot_of(ext);
  Board *claimed = slot >= 0 ? arbiter_.board_at(static_cast<uint32_t>(slot)) : nullptr;
  return registry_bios_.int10(slot, claimed, arguments);
}

}  // namespace torvic::host
