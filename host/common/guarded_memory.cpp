// SPDX-License-Identifier: MIT
// Fenced blocks and reserved address space (guarded_memory.h).
#include "host/common/guarded_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <new>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace torvic::host {

size_t page_size() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

void make_pages_writable(void *at, size_t length) { (void)madvise(at, length, MADV_POPULATE_WRITE); }

static size_t round_up(size_t n, size_t to) { return (n + to - 1) / to * to; }

GuardedBlock::GuardedBlock(size_t size, uint8_t fill) : size_(size) {
  const size_t body = round_up(kFrontGuard + size + kAlignment, page_size());
  map_size_ = body + page_size();
  void *p = mmap(nullptr, map_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  map_ = static_cast<uint8_t *>(p);
  mprotect(map_ + body, page_size(), PROT_NONE);
  data_ = reinterpret_cast<uint8_t *>(reinterpret_cast<uintptr_t>(map_ + body - size) &
                                      ~uintptr_t{kAlignment - 1});
  back_slack_ = static_cast<size_t>(map_ + body - (data_ + size));
  memset(data_ - kFrontGuard, kGuardPattern, kFrontGuard);
  memset(data_, fill, size);
  memset(data_ + size, kGuardPattern, back_slack_);
}

GuardedBlock::~GuardedBlock() {
  if (map_) munmap(map_, map_size_);
}

bool GuardedBlock::guards_intact() const {
  for (size_t i = 1; i <= kFrontGuard; i++)
    if (data_[-static_cast<ptrdiff_t>(i)] != kGuardPattern) return false;
  for (size_t i = 0; i < back_slack_; i++)
    if (data_[size_ + i] != kGuardPattern) return false;
  return true;
}

void GuardedBlock::poison() {
  memset(data_, kPoisonPattern, size_);
  mprotect(map_, map_size_, PROT_NONE);
}

Reservation::Reservation(size_t size, void *hint) : size_(round_up(size ? size : 1, page_size())) {
  void *p = mmap(hint, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  base_ = static_cast<uint8_t *>(p);
}

Reservation::~Reservation() {
  if (base_) munmap(base_, size_);
}

}  // namespace torvic::host
