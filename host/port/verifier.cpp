// SPDX-License-Identifier: MIT
// A stop's message, and the rule on the interrupt request level of services.
#include "host/port/verifier.h"

#include <cstdio>

namespace torvic::host {

void Verifier::write_message(const char *format, va_list args) {
  (void)vsnprintf(message_, sizeof message_, format, args);  // a longer message is cut short
}

void Verifier::require_passive(const char *service) {
  if (irql_ != Irql::Passive)
    stop("%s called from %s at raised IRQL: NT allows it only at PASSIVE_LEVEL; a callback "
         "that may run at any IRQL may only reach registers and ports, stall, and zero resident "
         "memory",
         service, callback_ ? callback_ : "the driver");
}

}  // namespace torvic::host
