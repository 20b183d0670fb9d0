// SPDX-License-Identifier: MIT
// Calls into the driver as NT does. On 32-bit x86 every callback and entry
// point is stdcall: the routine pops its own arguments. A routine built with
// another convention returns with the stack pointer off, which NT's caller
// does not survive for long, while ours might never notice; so there the
// call goes through a thunk that measures how far off the stack pointer came
// back (0 when the routine kept the convention), and then puts it right.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/video_port_interface.h"

#if defined(__i386__)
extern "C" uint32_t torvic_call_stdcall(const void *routine, const uint32_t *arguments,
                                        uint32_t count, int32_t *stack_error);
#endif

namespace torvic::host {

template <class T>
uint32_t as_dword(T value) {
  if constexpr (std::is_pointer_v<T>)
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
  else
    return static_cast<uint32_t>(value);
}

template <class R, class... Params, class... Args>
R call_driver(R(NTAPI *routine)(Params...), int32_t *stack_error, Args... args) {
  static_assert(sizeof...(Params) == sizeof...(Args) && sizeof...(Params) > 0);
#if defined(__i386__)
  const uint32_t words[] = {as_dword(static_cast<Params>(args))...};
  const uint32_t eax = torvic_call_stdcall(reinterpret_cast<const void *>(routine), words,
                                           sizeof...(Params), stack_error);
  return static_cast<R>(eax);  // a BOOLEAN comes back in AL
#else
  *stack_error = 0;
  return routine(static_cast<Params>(args)...);
#endif
}

}  // namespace torvic::host
