// SPDX-License-Identifier: MIT
// The PCI resource arbiter of a machine: the claims boards make through
// VideoPortGetAccessRanges and where each range goes, the boards by slot, and
// configuration space reads and writes routed to them; with the rules that
// keep boards from decoding addresses nobody gave them (decoding_rules.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/board/board.h"
#include "host/port/fault_injector.h"
#include "host/port/recorder.h"
#include "host/port/verifier.h"
#include "platform/video_port_interface.h"

namespace torvic::host {

// A physical address as the unsigned number the bus decodes.
inline uint64_t quad(const PHYSICAL_ADDRESS &a) { return static_cast<uint64_t>(a.QuadPart); }

// A stretch of the physical address space (memory or I/O).
struct PhysRange {
  uint64_t start = 0;
  uint64_t length = 0;
  bool io = false;
  std::string owner;
  uint64_t end() const { return start + length; }
};

// The NTSTATUS ReactOS's video port hands back, as it is, for a refused claim.
inline constexpr uint32_t kStatusConflictingAddresses = 0xC0000018;

// Where ReactOS's video port runs a miniport of NT 4.0's registration size
// otherwise than NT 4.0 does; all off is NT 4.0.
struct ReactOsLegacyPath {
  // A granted claim writes the bus number (0) back through the slot
  // pointer, not the slot.
  bool claim_returns_bus_number = false;
  // The board's ranges are already assigned to the board's own Plug and
  // Play device node, which ReactOS starts with its VGA driver when a
  // display-class PCI function has no driver of its own: a claim of them is
  // refused with the NTSTATUS STATUS_CONFLICTING_ADDRESSES.
  bool board_ranges_held_by_pnp_node = false;
  // One find-adapter call for the machine's one PCI bus; Again is ignored.
  bool one_find_adapter_call = false;
};

// What the arbiter received for one claim, and what it answered.
struct ClaimRequest {
  int slot = -1;
  std::vector<IO_RESOURCE_DESCRIPTOR> descriptors;
  VP_STATUS status = NO_ERROR;
  std::vector<VIDEO_ACCESS_RANGE> assigned;
};

// The boards of a machine, in the order its configuration lists them.
using Boards = std::vector<std::unique_ptr<Board>>;

class Arbiter {
 public:
  // reserved: ranges the system owns, never handed out; reactos: where the
  // claim follows ReactOS's legacy path instead of NT 4.0's.
  Arbiter(const Boards &boards, const std::vector<PhysRange> &reserved,
          const ReactOsLegacyPath &reactos, Verifier &verifier, Recorder &recorder,
          FaultInjector &faults)
      : boards_(boards), reserved_(reserved), reactos_(reactos), verifier_(verifier),
        recorder_(recorder), faults_(faults) {}
  Arbiter(const Arbiter &) = delete;
  Arbiter &operator=(const Arbiter &) = delete;

  Board *board_at(uint32_t slot) const;  // null for an empty slot
  Board &board(uint32_t slot) const;     // throws std::out_of_range for an empty slot

  // ---- The services, once the port has checked the caller's IRQL and extension ----
  ULONG bus_data(bool write, BUS_DATA_TYPE type, ULONG slot, PVOID buffer, ULONG offset,
                 ULONG length);
  VP_STATUS get_access_ranges(PVOID ext, ULONG num_resources, PIO_RESOURCE_DESCRIPTOR resources,
                              ULONG num_ranges, PVIDEO_ACCESS_RANGE ranges, PVOID vendor,
                              PVOID device, PULONG slot);

  // ---- Claims ----
  const std::vector<ClaimRequest> &requests() const { return requests_; }
  // The slot an extension's claim holds, or -1.
  int slot_of(const void *ext) const;
  // Whether the extension's claim covers the range.
  bool claimed_by(const void *ext, uint64_t start, uint64_t length, bool io) const;
  // A failed find-adapter call's extension goes, and with it what it claimed.
  void release(const void *ext) { claims_.erase(ext); }
  // Stops the run when a board decodes a range that neither a live claim of
  // its own slot nor the firmware gave it, or when two boards decode one
  // address (unless the firmware left both so).
  void check_decoding(const std::string &when);

 private:
  struct Claim {
    int slot = -1;
    std::vector<PhysRange> ranges;
  };
  // What each board decodes now, BAR by BAR.
  struct Decoding {
    const Board *board;
    int bar;
    PhysRange range;
    bool as_powered_on;  // the firmware left the board decoding exactly this
  };
  std::vector<Decoding> decoding() const;
  const Claim *claim_of(const void *ext) const;
  std::optional<uint64_t> place(const IO_RESOURCE_DESCRIPTOR &d,
                                const std::vector<PhysRange> &taken, int slot) const;
  // Stops the run when all ones go into a range register whose decoding is
  // on: the board would answer at every address the register passes over.
  void check_sizing_write(const Board &board, ULONG offset, uint32_t value);

  const Boards &boards_;
  const std::vector<PhysRange> &reserved_;
  const ReactOsLegacyPath &reactos_;
  Verifier &verifier_;
  Recorder &recorder_;
  FaultInjector &faults_;
  std::map<const void *, Claim> claims_;
  std::vector<ClaimRequest> requests_;
};

}  // namespace torvic::host
