// SPDX-License-Identifier: MIT
// Memory the host video port hands to the driver, fenced so that the
// verifier sees any access outside it: a pattern zone before the block, and
// after it the few bytes left by its alignment (also a pattern) and then an
// inaccessible page. The block starts 16-byte aligned, as pool memory does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvic::host {

class GuardedBlock {
 public:
  static constexpr size_t kFrontGuard = 64;
  static constexpr uint8_t kGuardPattern = 0xA5;
  static constexpr uint8_t kPoisonPattern = 0xDD;
  static constexpr size_t kAlignment = 16;

  explicit GuardedBlock(size_t size, uint8_t fill = 0);
  GuardedBlock(const GuardedBlock &) = delete;
  GuardedBlock &operator=(const GuardedBlock &) = delete;
  ~GuardedBlock();

  uint8_t *data() { return data_; }
  const uint8_t *data() const { return data_; }
  size_t size() const { return size_; }
  // True when the zones around the block still hold their pattern.
  bool guards_intact() const;
  // Fills the block with a poison pattern and makes it inaccessible: a later
  // access through a stale pointer faults.
  void poison();

 private:
  uint8_t *map_ = nullptr;
  size_t map_size_ = 0;
  uint8_t *data_ = nullptr;
  size_t size_ = 0;
  size_t back_slack_ = 0;  // pattern bytes between the block and the inaccessible page
};

// Address space that belongs to a device mapping the driver must only reach
// through the video port services: any direct access faults.
class Reservation {
 public:
  // At hint when that stretch is free, so that a run places its mappings
  // alike every time; elsewhere when it is not.
  explicit Reservation(size_t size, void *hint = nullptr);
  Reservation(const Reservation &) = delete;
  Reservation &operator=(const Reservation &) = delete;
  ~Reservation();
  uint8_t *base() const { return base_; }
  size_t size() const { return size_; }

 private:
  uint8_t *base_ = nullptr;
  size_t size_ = 0;
};

size_t page_size();

// Makes every page of a shared mapping present and writable in one go, so
// that the first write to each costs no fault of its own. Best effort: a
// kernel without it leaves the pages to be made one fault at a time.
void make_pages_writable(void *at, size_t length);

}  // namespace torvic::host
