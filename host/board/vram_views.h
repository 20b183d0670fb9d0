// SPDX-License-Identifier: MIT
// Views of a board's video memory at the addresses the host video port
// hands out for mappings.
//
// A fresh shared mapping takes a page fault on the first write to each of
// its pages; a client that draws a whole frame into a new mapping for every
// mode spends far more on those faults than on drawing. So the view of the
// whole memory, which is what the display driver maps, is made once and
// moved with its page tables to each mapping's address, then parked again
// when the mapping goes. Any other view is mapped afresh. The kernel moves
// page tables whole only between addresses aligned to what one page-table
// page covers (2 MiB on x86), so views go to such addresses.
//
// A board whose straps claim more memory than it carries answers the
// addresses past its memory with the memory again: the address lines above
// the installed size reach no chip, so the memory repeats every
// installed-size bytes. A view that reaches past the installed memory is
// made of several views of it, one after another, each starting at the
// offset modulo the installed size.
#pragma once

#include <cstdint>
#include <memory>

#include "host/common/guarded_memory.h"

namespace torvic::host {

class VramViews;

// A view placed at a mapping's address. When it goes, a moved view is parked
// again; the mapping's reservation, which goes next, unmaps the address.
class VramView {
 public:
  VramView(VramViews *owner, uint8_t *at) : owner_(owner), at_(at) {}
  VramView(const VramView &) = delete;
  VramView &operator=(const VramView &) = delete;
  ~VramView();

 private:
  VramViews *owner_;  // null for a view mapped afresh
  uint8_t *at_;
};

class VramViews {
 public:
  static constexpr size_t kAlignment = size_t(2) << 20;

  // fd holds size bytes of video memory.
  VramViews(int fd, uint64_t size);
  VramViews(const VramViews &) = delete;
  VramViews &operator=(const VramViews &) = delete;

  // Maps [offset, offset + length) of the board's memory space at `at`,
  // page aligned and inside a reservation of the caller's; past the installed
  // size the memory repeats. The view of the whole memory is moved to the
  // first place that takes all of it from its start at a kAlignment aligned
  // address. Null when it cannot be mapped.
  std::unique_ptr<VramView> place(uint8_t *at, uint64_t offset, uint64_t length);

 private:
  friend class VramView;
  void park(uint8_t *from);

  int fd_;
  size_t size_;
  std::unique_ptr<Reservation> parking_;  // none where views are not moved
  uint8_t *parking_place_ = nullptr;       // where the whole view waits, aligned, inside parking_
  bool parked_ = false;     // false while the view is out, or when views cannot be moved
};

}  // namespace torvic::host
