// SPDX-License-Identifier: MIT
// The table of how each video port service fails (service_faults.h).
#include "host/port/service_faults.h"

namespace torvic::host {

const std::vector<ServiceFaultInfo> &service_fault_table() {
  static const std::vector<ServiceFaultInfo> table = {
      {"VideoPortInitialize", FaultKind::Status, "returns the status"},
      {"VideoPortGetBusData", FaultKind::NoBytes, "reads nothing and returns 0 bytes"},
      {"VideoPortSetBusData", FaultKind::NoBytes, "writes nothing and returns 0 bytes"},
      {"VideoPortGetAccessRanges", FaultKind::Status, "claims nothing and returns the status"},
      {"VideoPortGetDeviceBase", FaultKind::NullBase, "maps nothing and returns NULL"},
      {"VideoPortMapMemory", FaultKind::Status, "maps nothing and returns the status"},
      {"VideoPortUnmapMemory", FaultKind::Status, "keeps the mapping and returns the status"},
      {"VideoPortReadPortUlong", FaultKind::AllOnes, "the board does not answer: all ones"},
      {"VideoPortWritePortUlong", FaultKind::LostWrite, "the board never sees the write"},
      {"VideoPortReadRegisterUlong", FaultKind::AllOnes, "the board does not answer: all ones"},
      {"VideoPortWriteRegisterUlong", FaultKind::LostWrite, "the board never sees the write"},
      {"VideoPortWriteRegisterUchar", FaultKind::LostWrite, "the board never sees the write"},
      {"VideoPortZeroDeviceMemory", FaultKind::LostWrite, "video memory is left as it was"},
      {"VideoPortSetRegistryParameters", FaultKind::Status, "stores nothing and returns the status"},
      {"VideoPortInt10", FaultKind::Status, "the BIOS does nothing and the call returns the status"},
      {"VideoPortZeroMemory", FaultKind::CannotFail, "cannot fail"},
      {"VideoPortStallExecution", FaultKind::CannotFail, "cannot fail"},
      {"VideoPortFreeDeviceBase", FaultKind::CannotFail, "cannot fail"},
  };
  return table;
}

const ServiceFaultInfo *service_fault_info(const std::string &service) {
  for (const auto &info : service_fault_table())
    if (service == info.service) return &info;
  return nullptr;
}

}  // namespace torvic::host
