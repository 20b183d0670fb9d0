// A simulated PCI machine with boards of the family, and the host video
// port that loads the driver image and runs it on that machine.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "host/board/board.h"
#include "host/board/vram_views.h"
#include "host/image/driver_image.h"
#include "host/port/guarded_memory.h"
#include "host/port/trace.h"
#include "platform/video_port_interface.h"

namespace torvic::host {

// A misuse of the platform by the driver: the run stops with this message.
class VerifierStop : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A stretch of the physical address space (memory or I/O).
struct PhysRange {
  uint64_t start = 0;
  uint64_t length = 0;
  bool io = false;
  std::string owner;
  uint64_t end() const { return start + length; }
};

// Makes the call-th call (counted from 1) of a service fail with a status
// (for VideoPortGetDeviceBase: return null).
struct ServiceFault {
  std::string service;
  uint64_t call = 1;
  VP_STATUS status = ERROR_INVALID_PARAMETER;
};

struct MachineConfig {
  std::vector<BoardConfig> boards;
  // The configuration record's Length as the video port fills it.
  ULONG config_info_length = sizeof(VIDEO_PORT_CONFIG_INFO);
  std::vector<ServiceFault> faults;
  // Ranges the system owns; the arbiter never hands them out.
  std::vector<PhysRange> reserved;
  // A granted claim writes the bus number (0) back through the slot
  // pointer, as ReactOS's legacy claim path does.
  bool claim_returns_bus_number = false;
};

std::vector<PhysRange> default_reserved_ranges();
// Two boards: slot 3, video-RAM board with an RGB526 and 4 MiB; slot 9,
// video-RAM board with an RGB528 and 8 MiB.
MachineConfig default_machine();
// A machine with the given boards (at default layouts) and reserved ranges.
MachineConfig machine_with(std::vector<BoardConfig> boards);

// What the arbiter received for one claim, and what it answered.
struct ClaimRequest {
  int slot = -1;
  std::vector<IO_RESOURCE_DESCRIPTOR> descriptors;
  VP_STATUS status = NO_ERROR;
  std::vector<VIDEO_ACCESS_RANGE> assigned;
};

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

// A fault that fired: which call of which service failed, and how.
struct FiredFault {
  std::string service;
  uint64_t call = 0;
  int slot = -1;
  std::string failure;
};

struct RegistryWrite {
  int slot = -1;
  std::u16string name;
  std::vector<uint8_t> data;
  VP_STATUS status = NO_ERROR;
};

struct BiosCall {
  int slot = -1;
  VIDEO_X86_BIOS_ARGUMENTS arguments{};
  bool by_port = false;  // the video port's own call after the reset callback
};

// The interrupt request level a callback runs at: NT calls the reset
// callback when the machine goes down, at any level; the others at the
// lowest. Most services may only be called at the lowest.
enum class Irql { Passive, Raised };

struct Mapping {
  uint8_t *virt = nullptr;
  uint64_t length = 0;
  uint64_t phys = 0;
  bool io = false;
  int slot = -1;
  bool device_base = false;  // made by VideoPortGetDeviceBase for the driver itself
  HANDLE process = nullptr;  // for a display client or another process
  std::unique_ptr<Reservation> reservation;
  std::unique_ptr<VramView> view;  // a view of video memory in the reservation; goes first
  uint64_t view_length = 0;         // bytes from virt the view reaches; the rest faults
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
  uint8_t *request_buffer() const {
    return request_buffers_.empty() ? nullptr : request_buffers_.back()->data();
  }
  // The extension most recently handed to the find-adapter callback.
  void *last_extension() const {
    return extensions_.empty() ? nullptr : extensions_.back().block->data();
  }
  const std::vector<ClaimRequest> &claim_requests() const { return claim_requests_; }
  const std::vector<RegistryWrite> &registry() const { return registry_; }
  const std::vector<BiosCall> &bios_calls() const { return bios_calls_; }
  const std::vector<FiredFault> &fired_faults() const { return fired_faults_; }
  // How many times the driver has called the service so far.
  uint64_t calls_to(const std::string &service) const {
    const auto it = service_calls_.find(service);
    return it == service_calls_.end() ? 0 : it->second;
  }
  std::vector<const Mapping *> client_mappings() const;  // mappings still open for clients
  // The driver's own mappings from VideoPortGetDeviceBase, boards it passed over included.
  std::vector<const Mapping *> device_base_mappings() const {
    std::vector<const Mapping *> v;
    for (const auto &m : mappings_)
      if (m->device_base) v.push_back(m.get());
    return v;
  }
  const Trace &trace() const { return trace_; }
  void clear_trace() { trace_.clear(); }
  uint64_t now_us() const { return clock_us_; }
  bool stopped() const { return stopped_; }
  const DriverImage &image() const { return *image_; }

  Board &board(uint32_t slot);
  Board *board_at(uint32_t slot);
  std::vector<Board *> boards();
  Board &adapter_board(size_t adapter) { return board(adapters_.at(adapter).slot); }

  // Called after every traced service call, for tests that act mid-run.
  std::function<void(Machine &, const TraceEvent &)> on_service;

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
  void on_memory_fault(void *address);  // from the fault handler

 private:
  struct ExtensionRecord {
    std::unique_ptr<GuardedBlock> block;
    int slot = -1;
    bool freed = false;
  };
  struct Claim {
    int slot = -1;
    std::vector<PhysRange> ranges;
  };

  template <class F>
  auto run(const char *callback, F &&f, Irql irql = Irql::Passive);
  // Stops the run when a service that NT allows only at the lowest IRQL is
  // called from a callback at a raised one.
  void require_passive(const char *service);
  // What NT does when a reset callback returns FALSE: the BIOS sets text
  // mode 3 on the primary display (recorded as the port's own call, not the
  // driver's).
  void set_text_mode_for_driver();
  // Calls a driver routine as NT does; stops the run when the routine breaks
  // the calling convention.
  template <class R, class... Params, class... Args>
  R call(const char *routine_name, R(NTAPI *routine)(Params...), Args... args);
  void check_after_callback();
  TraceEvent &record(const char *service, int slot = -1);
  void notify(const TraceEvent &event);
  // A marker in the trace where a callback begins or ends.
  void mark(const char *callback, const char *phase, int slot);
  void mark(const char *callback, const char *phase, int slot, const nlohmann::ordered_json &args);
  // Counts the call; when the machine injects a fault into it, marks the
  // call's trace event and returns the fault's status.
  std::optional<VP_STATUS> injected(const char *service, TraceEvent &event);
  ExtensionRecord &extension(PVOID ext, const char *service);
  Claim *claim_of(PVOID ext);
  int slot_of(PVOID ext);
  Mapping &add_mapping(PVOID ext, uint64_t phys, uint64_t length, bool io);
  bool claimed_by(PVOID ext, uint64_t start, uint64_t length, bool io);
  std::optional<uint64_t> place(const IO_RESOURCE_DESCRIPTOR &d,
                                const std::vector<PhysRange> &taken, int slot);
  // What each board decodes now, BAR by BAR.
  struct Decoding {
    const Board *board;
    int bar;
    PhysRange range;
    bool as_powered_on;  // the firmware left the board decoding exactly this
  };
  std::vector<Decoding> decoding() const;
  // Stops the run when a board decodes a range that neither a live claim of
  // its own slot nor the firmware gave it, or when two boards decode one
  // address (unless the firmware left both so).
  void check_decoding(const std::string &when);
  // Stops the run when all ones go into a range register whose decoding is
  // on: the board would answer at every address the register passes over.
  void check_sizing_write(const Board &board, ULONG offset, uint32_t value);
  struct Decoded {
    Board *board;
    Block block;
    uint32_t offset;
  };
  Decoded decode(const char *service, void *address, int width, bool port);

  MachineConfig config_;
  std::vector<std::unique_ptr<Board>> boards_;
  std::unique_ptr<DriverImage> image_;
  VIDEO_HW_INITIALIZATION_DATA registration_{};
  std::vector<ExtensionRecord> extensions_;
  std::map<const void *, Claim> claims_;
  std::vector<ClaimRequest> claim_requests_;
  std::vector<FindAdapterCall> find_calls_;
  std::vector<Adapter> adapters_;
  std::map<int, std::unique_ptr<VramViews>> vram_views_;  // by slot; outlive the mappings
  std::vector<std::unique_ptr<Mapping>> mappings_;
  std::vector<RegistryWrite> registry_;
  std::vector<BiosCall> bios_calls_;
  std::vector<FiredFault> fired_faults_;
  std::vector<std::unique_ptr<GuardedBlock>> request_buffers_;
  std::map<std::string, uint64_t> service_calls_;
  Trace trace_;
  uint64_t clock_us_ = 0;
  int callback_slot_ = -1;
  uintptr_t next_mapping_ = 0;  // where the next mapping is placed if that stretch is free  // the board whose callback runs, for the calls that name none

  const char *active_callback_ = nullptr;
  Irql irql_ = Irql::Passive;
  sigjmp_buf *frame_ = nullptr;
  bool stopped_ = false;
  std::string stop_message_;
  char stop_buffer_[1024] = {};
};

}  // namespace torvic::host
