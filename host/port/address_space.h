// SPDX-License-Identifier: MIT
// The driver's address space as the host video port makes it: the device
// extensions and request buffers it hands out, fenced; the mappings of board
// memory and ports, which the driver reaches only through the register and
// port services (decoded here to a board's block and offset,
// register_access.cpp); and the fault handler that turns any other access
// into a verifier stop.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "host/board/board.h"
#include "host/board/vram_views.h"
#include "host/image/loaded_image.h"
#include "host/port/arbiter.h"
#include "host/port/fault_injector.h"
#include "host/common/guarded_memory.h"
#include "host/port/recorder.h"
#include "host/port/verifier.h"
#include "platform/video_port_interface.h"

namespace torvic::host {

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

class AddressSpace {
 public:
  AddressSpace(Arbiter &arbiter, Verifier &verifier, Recorder &recorder, FaultInjector &faults)
      : arbiter_(arbiter), verifier_(verifier), recorder_(recorder), faults_(faults) {}
  AddressSpace(const AddressSpace &) = delete;
  AddressSpace &operator=(const AddressSpace &) = delete;
  ~AddressSpace();

  // The fault handler, installed once for the process, hands a fault on a
  // thread to the address space made active there (while a driver callback
  // runs); a fault on a thread with none goes to whatever handled it before.
  // Returns the address space active before.
  static AddressSpace *activate(AddressSpace *space);
  static void install_fault_handler();
  // A stray access by the driver: stops the run with what the address was.
  void on_memory_fault(void *address);
  // The image whose pageable part the fault handler names.
  void set_image(const LoadedImage *image) { image_ = image; }

  // ---- Device extensions ----
  void *new_extension(ULONG size);  // zeroed
  // Stops the run unless the port handed the extension out and still holds it.
  void check_extension(const void *ext, const char *service);
  // After its find-adapter call: the board the extension claimed, or -1; a
  // failed call's extension is freed (poisoned) and any access to it faults.
  void settle_extension(const void *ext, int slot, bool freed);
  // Stops the run when the driver wrote into the fence of a live extension.
  void check_extension_guards();
  // The extension most recently handed out, or null.
  void *last_extension() const {
    return extensions_.empty() ? nullptr : extensions_.back().block->data();
  }

  // ---- Request buffers: the system buffer of each request in progress ----
  GuardedBlock &push_request_buffer(size_t size, uint8_t fill);
  void pop_request_buffer() { request_buffers_.pop_back(); }
  uint8_t *request_buffer() const {
    return request_buffers_.empty() ? nullptr : request_buffers_.back()->data();
  }

  // ---- The services, once the port has checked the caller's IRQL and extension ----
  PVOID get_device_base(PVOID ext, PHYSICAL_ADDRESS address, ULONG length, UCHAR io);
  VOID free_device_base(PVOID ext, PVOID mapped);
  VP_STATUS map_memory(PVOID ext, PHYSICAL_ADDRESS address, PULONG length, const ULONG *io,
                       PVOID *virt);
  VP_STATUS unmap_memory(PVOID ext, PVOID virt, HANDLE process);
  // register_access.cpp; zero_device_memory after the port checked the IRQL.
  ULONG read(const char *service, void *address, bool port);
  VOID write(const char *service, void *address, ULONG value, int width, bool port);
  VOID zero_device_memory(PVOID destination, ULONG length);

  // ---- Mappings ----
  std::vector<const Mapping *> client_mappings() const;  // mappings still open for clients
  // The driver's own mappings from VideoPortGetDeviceBase, boards it passed over included.
  std::vector<const Mapping *> device_base_mappings() const;

 private:
  struct Extension {
    std::unique_ptr<GuardedBlock> block;
    int slot = -1;
    bool freed = false;
  };
  struct Decoded {
    Board *board;
    Block block;
    uint32_t offset;
  };
  Decoded decode(const char *service, void *address, int width, bool port);
  Mapping &add_mapping(PVOID ext, uint64_t phys, uint64_t length, bool io);
  // Marks an event whose range reaches past the memory the board carries
  // into the addresses that repeat it.
  static void mark_aliases(TraceEvent &e, const Board &b);

  Arbiter &arbiter_;
  Verifier &verifier_;
  Recorder &recorder_;
  FaultInjector &faults_;
  const LoadedImage *image_ = nullptr;
  std::vector<Extension> extensions_;
  std::vector<std::unique_ptr<GuardedBlock>> request_buffers_;
  std::map<int, std::unique_ptr<VramViews>> vram_views_;  // by slot; outlive the mappings
  std::vector<std::unique_ptr<Mapping>> mappings_;
  uintptr_t next_mapping_ = 0;  // where the next mapping is placed if that stretch is free
};

}  // namespace torvic::host
