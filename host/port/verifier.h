// SPDX-License-Identifier: MIT
// The verifier's side of a run: which driver callback runs and at what
// interrupt request level, and the stop that ends the run when the driver
// misuses the platform. The machine starts and ends callbacks; the parts of
// the port that check calls stop the run through it.
#pragma once

#include <csetjmp>
#include <cstdarg>
#include <stdexcept>

namespace torvic::host {

// A misuse of the platform by the driver: the run stops with this message.
class VerifierStop : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The interrupt request level a callback runs at: NT calls the reset
// callback when the machine goes down, at any level; the others at the
// lowest. Most services may only be called at the lowest.
enum class Irql { Passive, Raised };

class Verifier {
 public:
  // Stops the run: the callback in progress is abandoned (back to the frame
  // the callback began with) and the caller of the machine sees a
  // VerifierStop with this message; outside a callback it is thrown here.
  [[noreturn]] void stop(const char *format, ...) __attribute__((format(printf, 2, 3)));
  // The same in two steps, for a caller with its arguments in a va_list:
  // the message (a longer one is cut short), then the stop.
  void write_message(const char *format, va_list args) __attribute__((format(printf, 2, 0)));
  [[noreturn]] void halt();
  // Stops the run when a service that NT allows only at the lowest IRQL is
  // called from a callback at a raised one.
  void require_passive(const char *service);

  // A callback begins: stop() returns to frame.
  void begin(const char *callback, Irql irql, sigjmp_buf *frame) {
    callback_ = callback;
    irql_ = irql;
    // cppcheck-suppress danglingLifetime ; the frame's owner calls end() before the frame goes
    frame_ = frame;
  }
  void end() {
    frame_ = nullptr;
    callback_ = nullptr;
    irql_ = Irql::Passive;
  }
  // The callback in progress, or null; a callback the port makes inside
  // another (find-adapter inside DriverEntry) names itself for its length.
  const char *callback() const { return callback_; }
  void set_callback(const char *callback) { callback_ = callback; }
  Irql irql() const { return irql_; }

  bool stopped() const { return stopped_; }
  const char *message() const { return message_; }

 private:
  const char *callback_ = nullptr;
  Irql irql_ = Irql::Passive;
  sigjmp_buf *frame_ = nullptr;
  bool stopped_ = false;
  char message_[1024] = {};
};

// Defined in the header, so that every caller (and cppcheck) sees that they
// do not return.
// NOLINTNEXTLINE(cert-dcl50-cpp): printf's arguments, which -Wformat checks against the format
inline void Verifier::stop(const char *format, ...) {
  va_list args;
  va_start(args, format);
  write_message(format, args);
  va_end(args);
  halt();
}

inline void Verifier::halt() {
  stopped_ = true;
  if (frame_) siglongjmp(*frame_, 1);
  // Outside a callback the machine's caller is host code: throw directly.
  throw VerifierStop(message_);
}

}  // namespace torvic::host
