// SPDX-License-Identifier: MIT
// How each video port service fails when a machine injects a fault into one
// of its calls: the failure NT itself can give, so that a test sees the
// driver meet it.
#pragma once

#include <string>
#include <vector>

namespace torvic::host {

enum class FaultKind {
  Status,      // returns the fault's status and does nothing else
  NoBytes,     // a bus-data service: transfers nothing and returns 0 bytes
  NullBase,    // returns a null address and maps nothing
  AllOnes,     // a register or port read the device does not answer: all ones
  LostWrite,   // a register, port or memory write the device never sees
  CannotFail,  // no failure NT can give
};

struct ServiceFaultInfo {
  const char *service;
  FaultKind kind;
  const char *failure;  // what the failed call does, in words
};

const std::vector<ServiceFaultInfo> &service_fault_table();
// Null for a name that is not a video port service.
const ServiceFaultInfo *service_fault_info(const std::string &service);

}  // namespace torvic::host
