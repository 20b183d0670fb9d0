// SPDX-License-Identifier: MIT
// How the host video port calls into a 32-bit x86 driver. Callbacks are
// stdcall there: a routine built to another convention leaves its arguments
// on the stack, and the port measures that on every call. Only the 32-bit
// builds have a calling convention to get wrong.
#include "host/image/driver_call.h"
#include "test_support.h"

#if defined(__i386__)

namespace torvic::test {
namespace {

BOOLEAN NTAPI pops_its_arguments(PVOID, ULONG) { return TRUE; }
__attribute__((cdecl)) BOOLEAN leaves_its_arguments(PVOID, ULONG) { return TRUE; }

TEST(DriverCalls, ARoutineThatLeavesItsArgumentsOnTheStackIsMeasured) {
  int32_t stack_error = 1;
  EXPECT_EQ(host::call_driver(&pops_its_arguments, &stack_error, nullptr, 7u), TRUE);
  EXPECT_EQ(stack_error, 0);
  using Stdcall = BOOLEAN(NTAPI *)(PVOID, ULONG);
  EXPECT_EQ(host::call_driver(reinterpret_cast<Stdcall>(&leaves_its_arguments), &stack_error,
                              nullptr, 7u),
            TRUE);
  EXPECT_EQ(stack_error, -8);
}

}  // namespace
}  // namespace torvic::test

#endif  // __i386__
