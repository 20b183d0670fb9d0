// SPDX-License-Identifier: MIT
// A driver image loaded into this process, whatever its file kind.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/video_port_interface.h"

namespace torvic::host {

using DriverEntryFn = ULONG(NTAPI *)(PVOID, PVOID);

// A driver image that cannot be read, is of a kind this program cannot run,
// or fails the loader's checks.
class ImageRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class LoadedImage {
 public:
  virtual ~LoadedImage() = default;
  virtual DriverEntryFn entry() const = 0;

  // NT may page out a driver's pageable section whenever the driver is not
  // running at the lowest IRQL. Images that have one (the NT image) can make
  // it absent, so that touching it faults.
  virtual bool pageable(const void *) const { return false; }
  virtual void set_pageable_present(bool) {}

  // "Torvic_set_mclock+0x1c", or "" when the image has no name for it.
  virtual std::string routine_at(const void *) const { return {}; }
};

}  // namespace torvic::host
