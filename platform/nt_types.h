// SPDX-License-Identifier: MIT
// NT kernel base types at their NT widths, for builds that do not have the
// DDK headers. Only what the driver and the video port interface need.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef void VOID;
typedef void *PVOID;
typedef void *HANDLE;
typedef char CHAR;
typedef uint8_t UCHAR, *PUCHAR;
typedef uint8_t BOOLEAN, *PBOOLEAN;
typedef int16_t SHORT;
typedef uint16_t USHORT, *PUSHORT;
typedef int32_t LONG;
typedef uint32_t ULONG, *PULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR, *PULONG_PTR;
typedef ULONG_PTR KAFFINITY;
typedef char16_t WCHAR;  // UTF-16 code unit, as on NT
typedef WCHAR *PWSTR;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define IN
#define OUT
#define OPTIONAL

// The video port's calling convention: stdcall on 32-bit x86, the platform
// default elsewhere.
#if defined(__i386__)
#define NTAPI __attribute__((stdcall))
#else
#define NTAPI
#endif

// NT aligns a LARGE_INTEGER to 8 bytes on x86 too; i386 Linux would give a
// 64-bit integer inside a record only 4-byte alignment.
typedef union alignas(8) _LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  };
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

typedef LONG NTSTATUS;
