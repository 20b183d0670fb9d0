// SPDX-License-Identifier: MIT
// The stdcall thunk (driver_call.h) for the 32-bit x86 host, which measures
// how far a driver routine leaves the stack pointer.
#include "host/image/driver_call.h"

#if defined(__i386__)
// torvic_call_stdcall(routine, arguments, count, stack_error): pushes the
// arguments last to first with the stack 16-byte aligned at the call, calls
// the routine and stores how far the stack pointer came back from where it
// was before the pushes. ebx, esi, edi and ebp are kept across the call by
// every x86 convention, so they hold what is needed afterwards.
asm(R"(
    .text
    .globl torvic_call_stdcall
    .type torvic_call_stdcall, @function
torvic_call_stdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl %esp, %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    andl $-16, %esp
    leal (,%ecx,4), %eax
    negl %eax
    andl $15, %eax
    subl %eax, %esp
    movl %esp, %ebx
1:  testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:  call *8(%ebp)
    movl %esp, %edx
    subl %ebx, %edx
    movl 20(%ebp), %ecx
    movl %edx, (%ecx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .size torvic_call_stdcall, .-torvic_call_stdcall
)");
#endif
