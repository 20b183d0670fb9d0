// SPDX-License-Identifier: MIT
// A simulated PCI machine with boards of the family, and the host video
// port that loads the driver image and runs it on that machine: the life of
// the machine (entry point, find-adapter, initialize, requests, reset), each
// driver callback run under the verifier, and the services the driver calls.
// The machine checks each call's IRQL and extension and hands the service to
// the part of the port it belongs to: the arbiter (claims and configuration
// space), the address space (mappings, registers and ports, faults), the
// registry and BIOS; the recorder keeps the trace and the fault injector
// makes calls fail.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/board/board.h"
#include "host/image/driver_image.h"
#include "host/port/address_space.h"
#include "host/port/arbiter.h"
#include "host/port/fault_injector.h"
#include "host/port/recorder.h"
#include "host/port/registry_bios.h"
#include "host/port/trace.h"
#include "host/port/verifier.h"
#include "platform/video_port_interface.h"

namespace torvic::host {

struct MachineConfig {
  std::vector<BoardConfig> boards;
  // The configuration record's Length as the video port fills it.
  ULONG config_info_length = sizeof(VIDEO_PORT_CONFIG_INFO);
  std::vector<ServiceFault> faults;
  // Ranges the system owns; the arbiter never hands them out.
  std::vector<PhysRange> reserved;
  // NT 4.0's video port unless some of ReactOS's ways are asked for.
  ReactOsLegacyPath reactos;
};

std::vector<PhysRange> default_reserved_ranges();
// Two boards: slot 3, video-RAM board with an RGB526 and 4 MiB; slot 9,
// video-RAM board with an RGB528 and 8 MiB.
MachineConfig default_machine();
// A machine with the given boards (at default layouts) and reserved ranges.
MachineConfig machine_with(std::vector<BoardConfig> boards);

struct FindAdapterCall {
  VP_STATUS status = NO_ERROR;
  UCHAR again = 0;
  VIDEO_PORT_CONFIG_INFO config_info{};  // as the driver left it
  const void *extension = nullptr;
};

struct Adapter {
  void *extension = nullptr;
  int slot = -1;  // the board the extension claimed
  bool opened = false;
};

struct RequestResult {
  BOOLEAN returned = FALSE;
  VP_STATUS status = NO_ERROR;
  ULONG_PTR information = 0;
  bool information_written = false;
  // The caller's output buffer after the call, as NT hands it back: it
  // starts zeroed, and receives Information bytes of the system buffer
  // only when the status is a success or a warning (ERROR_MORE_DATA).
  std::vector<uint8_t> output;
  // The system buffer's first output-length bytes after the call: what the
  // driver wrote, whether or not the caller ever sees it.
  std::vector<uint8_t> system_buffer;
};

// Whether NT copies a request's system buffer back to its caller: the video
// port turns NO_ERROR into a success and ERROR_MORE_DATA into a warning, any
// other status into an error, and the I/O manager copies back only for the
// first two.
bool reply_reaches_caller(VP_STATUS status);

class Machine {
 public:
  static constexpr ULONG_PTR kInformationSentinel = 0x5EB7A11;
  static constexpr uint8_t kBufferFill = 0xCD;
  static constexpr uint8_t kConfigInfoJunk = 0x5A;

  explicit Machine(MachineConfig config, const std::string &image = DriverImage::default_path());
  Machine(const Machine &) = delete;
  Machine &operator=(const Machine &) = delete;
  ~Machine();

  // ---- Life of the machine, as the NT video port runs a miniport ----
  ULONG boot();  // DriverEntry, which registers and discovers the boards
  bool initialize(size_t adapter);
  void open(size_t adapter);  // initialise once, before the first request
  RequestResult request(size_t adapter, ULONG code, const std::vector<uint8_t> &input,
                        ULONG output_length);
  // One call of the reset callback with one board's extension.
  BOOLEAN reset_hardware(size_t adapter = 0, ULONG columns = 80, ULONG rows = 50);
  // What NT does when the machine goes down: the reset callback once for
  // every open board, in the order the boards were found; when one returns
  // FALSE, the BIOS sets text mode 3 on the primary display. Returns whether
  // every callback returned TRUE.
  BOOLEAN shut_down(ULONG columns = 80, ULONG rows = 50);
  // The board whose VGA BIOS the firmware ran: the lowest slot. NT's own
  // text-mode call after a FALSE reset reaches only this board.
  Board *primary_display();

  // ---- What happened ----
  const VIDEO_HW_INITIALIZATION_DATA &registration() const { return registration_; }
  const std::vector<FindAdapterCall> &find_calls() const { return find_calls_; }
  const std::vector<Adapter> &adapters() const { return adapters_; }
  // The system buffer of the request in progress, or null.
  uint8_t *request_buffer() const { return address_.request_buffer(); }
  // The extension most recently handed to the find-adapter callback.
  void *last_extension() const { return address_.last_extension(); }
  const std::vector<ClaimRequest> &claim_requests() const { return arbiter_.requests(); }
  const std::vector<RegistryWrite> &registry() const { return registry_bios_.registry(); }
  const std::vector<BiosCall> &bios_calls() const { return registry_bios_.bios_calls(); }
  const std::vector<FiredFault> &fired_faults() const { return faults_.fired(); }
  // How many times the driver has called the service so far.
  uint64_t calls_to(const std::string &service) const { return faults_.calls_to(service); }
  // Mappings still open for clients.
  std::vector<const Mapping *> client_mappings() const { return address_.client_mappings(); }
  // The driver's own mappings from VideoPortGetDeviceBase, boards it passed over included.
  std::vector<const Mapping *> device_base_mappings() const {
    return address_.device_base_mappings();
  }
  const Trace &trace() const { return recorder_.trace(); }
  void clear_trace() { recorder_.clear(); }
  uint64_t now_us() const { return recorder_.now_us(); }
  bool stopped() const { return verifier_.stopped(); }
  const DriverImage &image() const { return *image_; }

  Board &board(uint32_t slot) { return arbiter_.board(slot); }
  Board *board_at(uint32_t slot) { return arbiter_.board_at(slot); }
  std::vector<Board *> boards();
  Board &adapter_board(size_t adapter) { return board(adapters_.at(adapter).slot); }

  // Called after every traced service call, for tests that act mid-run.
  std::function<void(Machine &, const TraceEvent &)> on_service;
  // Called when every event of the trace so far is final (Recorder::on_settled),
  // for those who write the trace as the run goes.
  std::function<void()> on_trace_settled;

  // ---- The services, as the driver image calls them ----
  static Machine &active();
  ULONG vp_initialize(PVOID a1, PVOID a2, PVIDEO_HW_INITIALIZATION_DATA data, PVOID context);
  VOID vp_zero_memory(PVOID destination, ULONG length);
  ULONG vp_bus_data(bool write, PVOID ext, BUS_DATA_TYPE type, ULONG slot, PVOID buffer,
                    ULONG offset, ULONG length);
  VP_STATUS vp_get_access_ranges(PVOID ext, ULONG num_resources,
                                 PIO_RESOURCE_DESCRIPTOR resources, ULONG num_ranges,
                                 PVIDEO_ACCESS_RANGE ranges, PVOID vendor, PVOID device,
                                 PULONG slot);
  PVOID vp_get_device_base(PVOID ext, PHYSICAL_ADDRESS address, ULONG length, UCHAR io);
  VOID vp_free_device_base(PVOID ext, PVOID mapped);
  VP_STATUS vp_map_memory(PVOID ext, PHYSICAL_ADDRESS address, PULONG length, const ULONG *io,
                          PVOID *virt);
  VP_STATUS vp_unmap_memory(PVOID ext, PVOID virt, HANDLE process);
  ULONG vp_read(const char *service, void *address, bool port);
  VOID vp_write(const char *service, void *address, ULONG value, int width, bool port);
  VOID vp_zero_device_memory(PVOID destination, ULONG length);
  VOID vp_stall(ULONG microseconds);
  VP_STATUS vp_set_registry(PVOID ext, const WCHAR *name, PVOID data, ULONG length);
  VP_STATUS vp_int10(PVOID ext, PVIDEO_X86_BIOS_ARGUMENTS arguments);

  // Stops the run: the callback in progress is abandoned and the caller of
  // the machine sees a VerifierStop with this message.
  [[noreturn]] void stop(const char *format, ...) __attribute__((format(printf, 2, 3)));

 private:
  template <class F>
  auto run(const char *callback, F &&f, Irql irql = Irql::Passive);
  // Calls a driver routine as NT does; stops the run when the routine breaks
  // the calling convention.
  template <class R, class... Params, class... Args>
  R call(const char *routine_name, R(NTAPI *routine)(Params...), Args... args);
  // The checks every service that takes a device extension begins with: the
  // IRQL it may run at, and the extension.
  void check_service(const char *service, PVOID ext);

  MachineConfig config_;
  Verifier verifier_;
  Recorder recorder_;
  FaultInjector faults_;
  Boards boards_;
  std::unique_ptr<DriverImage> image_;
  Arbiter arbiter_;
  AddressSpace address_;
  RegistryAndBios registry_bios_;
  VIDEO_HW_INITIALIZATION_DATA registration_{};
  std::vector<FindAdapterCall> find_calls_;
  std::vector<Adapter> adapters_;
};

}  // namespace torvic::host
