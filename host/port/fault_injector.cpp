// SPDX-License-Identifier: MIT
// Injecting a machine's faults into the service calls they name.
#include "host/port/fault_injector.h"

#include <stdexcept>

#include "host/port/service_faults.h"
#include "host/common/text.h"

namespace torvic::host {

FaultInjector::FaultInjector(std::vector<ServiceFault> faults) : faults_(std::move(faults)) {
  for (const ServiceFault &f : faults_) {
    const ServiceFaultInfo *info = service_fault_info(f.service);
    if (!info) throw std::invalid_argument(f.service + " is not a video port service");
    if (info->kind == FaultKind::CannotFail) throw std::invalid_argument(f.service + " cannot fail");
    if (info->kind == FaultKind::Status && f.status == NO_ERROR)
      throw std::invalid_argument(f.service + " cannot fail with NO_ERROR");
  }
}

std::optional<VP_STATUS> FaultInjector::injected(const char *service, TraceEvent &event) {
  const uint64_t n = ++calls_[service];
  for (const ServiceFault &f : faults_)
    if (f.service == service && f.call == n) {
      const ServiceFaultInfo *info = service_fault_info(service);
      event.fault = info->failure;
      if (info->kind == FaultKind::Status) event.fault += " " + hex(static_cast<uint32_t>(f.status));
      fired_.push_back({service, n, event.slot, event.fault});
      return f.status;
    }
  return std::nullopt;
}

}  // namespace torvic::host
