// SPDX-License-Identifier: MIT
// Stopping a run, and the rule on the interrupt request level of services.
#include "host/port/verifier.h"

#include <cstdio>

namespace torvic::host {

// NOLINTNEXTLINE(cert-dcl50-cpp): printf's arguments, which -Wformat checks against the format
void Verifier::stop(const char *format, ...) {
  va_list args;
  va_start(args, format);
  write_message(format, args);
  va_end(args);
  halt();
}

void Verifier::write_message(const char *format, va_list args) {
  (void)vsnprintf(message_, sizeof message_, format, args);  // a longer message is cut short
}

void Verifier::halt() {
  stopped_ = true;
  if (frame_) siglongjmp(*frame_, 1);
  // Outside a callback the machine's caller is host code: throw directly.
  throw VerifierStop(message_);
}

void Verifier::require_passive(const char *service) {
  if (irql_ != Irql::Passive)
    stop("%s called from %s at raised IRQL: NT allows it only at PASSIVE_LEVEL; a callback "
         "that may run at any IRQL may only reach registers and ports, stall, and zero resident "
         "memory",
         service, callback_ ? callback_ : "the driver");
}

}  // namespace torvic::host
