// SPDX-License-Identifier: MIT
// The driver's one window onto the platform. Every driver source includes
// this header and nothing else from outside the driver rooms.
//
// On the NT build it pulls in the DDK headers in the order they need and adds
// the few definitions they lack; elsewhere it uses our own declarations of the
// same interface.
#pragma once

#if defined(TORVIC_NT_BUILD)

// offsetof, from the compiler's own freestanding header.
#include <stddef.h>

// dderror.h lives in the DDK directory beside miniport.h, which the NT build
// puts on the include path; video.h declares DriverEntry.
extern "C" {
#include <ntdef.h>
#include <dderror.h>
#include <devioctl.h>
#include <ddk/miniport.h>
#include <ntddvdeo.h>
#include <ddk/video.h>
}

// Resource descriptor values that live in wdm.h, which cannot be included
// beside miniport.h.
#define CmResourceTypePort 1
#define CmResourceTypeMemory 3
#define CmResourceShareDeviceExclusive 1
#define CM_RESOURCE_PORT_IO 0x0001
#define CM_RESOURCE_MEMORY_READ_WRITE 0x0000
#define CM_RESOURCE_MEMORY_READ_ONLY 0x0001
#define CM_RESOURCE_MEMORY_PREFETCHABLE 0x0004
#define IO_RESOURCE_PREFERRED 0x01
#define IO_RESOURCE_ALTERNATIVE 0x08

#define TORVIC_WIDE(s) L##s
// Routines outside the reset path may be paged out.
#define TORVIC_PAGEABLE __attribute__((section("PAGE")))

#else

#include "platform/video_port_interface.h"

#define TORVIC_WIDE(s) u##s
#define TORVIC_PAGEABLE

// The image exports its entry point and nothing else.
extern "C" __attribute__((visibility("default"))) ULONG NTAPI DriverEntry(PVOID Context1,
                                                                       PVOID Context2);

#endif

#include "torvic/requests.h"

// The two record sizes that the platform knows in a shorter "form" than the
// full record: the registration record up to HwTimer, and the configuration
// record up to InterruptShareable, rounded up to the record's alignment.
// miniport/x86_layout.cpp holds them to 40 and 72 on x86.
constexpr ULONG TORVIC_HW_INIT_DATA_FORM_SIZE =
    offsetof(VIDEO_HW_INITIALIZATION_DATA, HwTimer) + sizeof(PVIDEO_HW_TIMER);
constexpr ULONG TORVIC_CONFIG_INFO_FORM_SIZE =
    (offsetof(VIDEO_PORT_CONFIG_INFO, InterruptShareable) + sizeof(UCHAR) +
     alignof(VIDEO_PORT_CONFIG_INFO) - 1) /
    alignof(VIDEO_PORT_CONFIG_INFO) * alignof(VIDEO_PORT_CONFIG_INFO);
