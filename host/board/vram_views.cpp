// SPDX-License-Identifier: MIT
// Views of video memory (vram_views.h): mapped afresh, or the whole memory
// moved with its page tables to each mapping and parked again after.
#include "host/board/vram_views.h"

#include <sys/mman.h>

#include <algorithm>

#ifndef MREMAP_DONTUNMAP
#define MREMAP_DONTUNMAP 4
#endif

namespace torvic::host {

namespace {

// The 32-bit build mostly runs under qemu-i386, which does not emulate
// these moves faithfully (with moved views, a request buffer's guard bytes
// were overwritten there). That build maps every view afresh.
constexpr bool kMoveViews = sizeof(void *) == 8;

bool map_view(uint8_t *at, int fd, uint64_t offset, size_t length) {
  return mmap(at, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd,
              static_cast<off_t>(offset)) != MAP_FAILED;
}

// Moves a view to `to`, leaving `from` mapped (to nothing the view holds) so
// that no hole opens in an address range someone else could then be given.
bool move_view(uint8_t *from, uint8_t *to, size_t length) {
  return mremap(from, length, length, MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP, to) != MAP_FAILED;
}

}  // namespace

VramViews::VramViews(int fd, uint64_t size) : fd_(fd), size_(static_cast<size_t>(size)) {
  if (!kMoveViews) return;
  parking_ = std::make_unique<Reservation>(size_ + kAlignment);
  const uintptr_t base = reinterpret_cast<uintptr_t>(parking_->base());
  parking_place_ = parking_->base() + (kAlignment - base % kAlignment) % kAlignment;
  if (!map_view(parking_place_, fd_, 0, size_)) return;
  // The pages become writable once here rather than on every first write.
  make_pages_writable(parking_place_, size_);
  parked_ = true;
}

std::unique_ptr<VramView> VramViews::place(uint8_t *at, uint64_t offset, uint64_t length) {
  std::unique_ptr<VramView> moved;
  uint8_t *piece_at = at;
  for (uint64_t done = 0; done < length;) {
    const uint64_t from = (offset + done) % size_;
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(length - done, size_ - from));
    bool placed = false;
    if (!moved && parked_ && from == 0 && piece == size_ &&
        reinterpret_cast<uintptr_t>(piece_at) % kAlignment == 0) {
      // When the kernel cannot move a shared view and keep its old place
      // mapped, every view is mapped afresh from then on.
      parked_ = false;
      if (move_view(parking_place_, piece_at, size_)) {
        moved = std::make_unique<VramView>(this, piece_at);
        placed = true;
      }
    }
    // Views mapped afresh go with the caller's reservation; the moved one,
    // if any, is parked again when `moved` goes, here or later.
    if (!placed && !map_view(piece_at, fd_, from, piece)) return nullptr;
    piece_at += piece;
    done += piece;
  }
  return moved ? std::move(moved) : std::make_unique<VramView>(nullptr, at);
}

void VramViews::park(uint8_t *from) {
  // When the view cannot be moved it stays where it is, to be unmapped with
  // the mapping, and views are mapped afresh from then on.
  parked_ = move_view(from, parking_place_, size_);
}

VramView::~VramView() {
  if (owner_) owner_->park(at_);
}

}  // namespace torvic::host
