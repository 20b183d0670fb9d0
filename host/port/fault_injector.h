// SPDX-License-Identifier: MIT
// The faults a machine injects into the driver's service calls: which call
// of which service fails and with what status, counted call by call, and
// the record of those that fired. How each service fails is in
// service_faults.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/port/trace.h"
#include "platform/video_port_interface.h"

namespace torvic::host {

// Makes the call-th call (counted from 1) of a service fail with a status
// (for VideoPortGetDeviceBase: return null).
struct ServiceFault {
  std::string service;
  uint64_t call = 1;
  VP_STATUS status = ERROR_INVALID_PARAMETER;
};

// A fault that fired: which call of which service failed, and how.
struct FiredFault {
  std::string service;
  uint64_t call = 0;
  int slot = -1;
  std::string failure;
};

class FaultInjector {
 public:
  // Throws std::invalid_argument for a fault no service can have.
  explicit FaultInjector(std::vector<ServiceFault> faults);

  // Counts the call; when a fault is injected into it, marks the call's
  // trace event and returns the fault's status.
  std::optional<VP_STATUS> injected(const char *service, TraceEvent &event);
  // How many times the driver has called the service so far.
  uint64_t calls_to(const std::string &service) const {
    const auto it = calls_.find(service);
    return it == calls_.end() ? 0 : it->second;
  }
  const std::vector<FiredFault> &fired() const { return fired_; }

 private:
  std::vector<ServiceFault> faults_;
  std::map<std::string, uint64_t> calls_;
  std::vector<FiredFault> fired_;
};

}  // namespace torvic::host
