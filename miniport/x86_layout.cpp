// SPDX-License-Identifier: MIT
// The platform records as the 32-bit x86 video port lays them out. The
// driver reads and writes these records field by field at the offsets the
// video port and the display driver use, so any declaration that puts a field
// elsewhere would corrupt a request or the registration without a word from
// the compiler. On an x86 build, against the DDK headers or our own
// declarations alike, every size and every offset the driver relies on is
// checked here; other builds have pointer-sized fields of their own and only
// compile this file.
#include "miniport/torvic.h"

#if defined(__i386__)

// ---- Base types ----------------------------------------------------------------------
static_assert(sizeof(UCHAR) == 1 && sizeof(BOOLEAN) == 1 && sizeof(USHORT) == 2);
static_assert(sizeof(ULONG) == 4 && sizeof(LONG) == 4 && sizeof(VP_STATUS) == 4);
static_assert(sizeof(PVOID) == 4 && sizeof(ULONG_PTR) == 4 && sizeof(HANDLE) == 4);
static_assert(sizeof(WCHAR) == 2, "registry strings are UTF-16");
static_assert(sizeof(INTERFACE_TYPE) == 4 && sizeof(BUS_DATA_TYPE) == 4);
// A physical address is 8-aligned inside every record, on x86 too.
static_assert(sizeof(PHYSICAL_ADDRESS) == 8 && alignof(PHYSICAL_ADDRESS) == 8);
static_assert(offsetof(PHYSICAL_ADDRESS, LowPart) == 0);
static_assert(offsetof(PHYSICAL_ADDRESS, HighPart) == 4);

// ---- Registration ----------------------------------------------------------------------
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwInitDataSize) == 0);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, AdapterInterfaceType) == 4);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwFindAdapter) == 8);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwInitialize) == 12);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwInterrupt) == 16);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwStartIO) == 20);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwDeviceExtensionSize) == 24);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, StartingDeviceNumber) == 28);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwResetHw) == 32);
static_assert(offsetof(VIDEO_HW_INITIALIZATION_DATA, HwTimer) == 36);
static_assert(TORVIC_HW_INIT_DATA_FORM_SIZE == 40, "registration record up to HwTimer");

// ---- Configuration record: the fields find-adapter reads or clears -----------------------
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, Length) == 0);
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, NumEmulatorAccessEntries) == 24);
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, EmulatorAccessEntries) == 28);
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, EmulatorAccessEntriesContext) == 32);
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, VdmPhysicalVideoMemoryAddress) == 40);
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, VdmPhysicalVideoMemoryLength) == 48);
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, HardwareStateSize) == 52);
static_assert(offsetof(VIDEO_PORT_CONFIG_INFO, InterruptShareable) == 65);
static_assert(alignof(VIDEO_PORT_CONFIG_INFO) == 8);
static_assert(TORVIC_CONFIG_INFO_FORM_SIZE == 72, "configuration record up to InterruptShareable");

// ---- Resources ---------------------------------------------------------------------------
static_assert(sizeof(VIDEO_ACCESS_RANGE) == 16);
static_assert(offsetof(VIDEO_ACCESS_RANGE, RangeStart) == 0);
static_assert(offsetof(VIDEO_ACCESS_RANGE, RangeLength) == 8);
static_assert(offsetof(VIDEO_ACCESS_RANGE, RangeInIoSpace) == 12);
static_assert(offsetof(VIDEO_ACCESS_RANGE, RangeVisible) == 13);
static_assert(offsetof(VIDEO_ACCESS_RANGE, RangeShareable) == 14);

static_assert(sizeof(IO_RESOURCE_DESCRIPTOR) == 32);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, Option) == 0);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, Type) == 1);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, ShareDisposition) == 2);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, Flags) == 4);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, u.Generic.Length) == 8);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, u.Generic.Alignment) == 12);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, u.Generic.MinimumAddress) == 16);
static_assert(offsetof(IO_RESOURCE_DESCRIPTOR, u.Generic.MaximumAddress) == 24);

// ---- Requests ----------------------------------------------------------------------------
static_assert(sizeof(VIDEO_REQUEST_PACKET) == 24);
static_assert(offsetof(VIDEO_REQUEST_PACKET, IoControlCode) == 0);
static_assert(offsetof(VIDEO_REQUEST_PACKET, StatusBlock) == 4);
static_assert(offsetof(VIDEO_REQUEST_PACKET, InputBuffer) == 8);
static_assert(offsetof(VIDEO_REQUEST_PACKET, InputBufferLength) == 12);
static_assert(offsetof(VIDEO_REQUEST_PACKET, OutputBuffer) == 16);
static_assert(offsetof(VIDEO_REQUEST_PACKET, OutputBufferLength) == 20);

static_assert(sizeof(STATUS_BLOCK) == 8);
static_assert(offsetof(STATUS_BLOCK, Status) == 0);
static_assert(offsetof(STATUS_BLOCK, Information) == 4);

// ---- Mode records ------------------------------------------------------------------------
static_assert(sizeof(VIDEO_MODE) == 4);
static_assert(sizeof(VIDEO_NUM_MODES) == 8);
static_assert(offsetof(VIDEO_NUM_MODES, NumModes) == 0);
static_assert(offsetof(VIDEO_NUM_MODES, ModeInformationLength) == 4);

static_assert(sizeof(VIDEO_MODE_INFORMATION) == 80);
static_assert(offsetof(VIDEO_MODE_INFORMATION, Length) == 0);
static_assert(offsetof(VIDEO_MODE_INFORMATION, ModeIndex) == 4);
static_assert(offsetof(VIDEO_MODE_INFORMATION, VisScreenWidth) == 8);
static_assert(offsetof(VIDEO_MODE_INFORMATION, VisScreenHeight) == 12);
static_assert(offsetof(VIDEO_MODE_INFORMATION, ScreenStride) == 16);
static_assert(offsetof(VIDEO_MODE_INFORMATION, NumberOfPlanes) == 20);
static_assert(offsetof(VIDEO_MODE_INFORMATION, BitsPerPlane) == 24);
static_assert(offsetof(VIDEO_MODE_INFORMATION, Frequency) == 28);
static_assert(offsetof(VIDEO_MODE_INFORMATION, XMillimeter) == 32);
static_assert(offsetof(VIDEO_MODE_INFORMATION, YMillimeter) == 36);
static_assert(offsetof(VIDEO_MODE_INFORMATION, NumberRedBits) == 40);
static_assert(offsetof(VIDEO_MODE_INFORMATION, NumberGreenBits) == 44);
static_assert(offsetof(VIDEO_MODE_INFORMATION, NumberBlueBits) == 48);
static_assert(offsetof(VIDEO_MODE_INFORMATION, RedMask) == 52);
static_assert(offsetof(VIDEO_MODE_INFORMATION, GreenMask) == 56);
static_assert(offsetof(VIDEO_MODE_INFORMATION, BlueMask) == 60);
static_assert(offsetof(VIDEO_MODE_INFORMATION, AttributeFlags) == 64);
static_assert(offsetof(VIDEO_MODE_INFORMATION, VideoMemoryBitmapWidth) == 68);
static_assert(offsetof(VIDEO_MODE_INFORMATION, VideoMemoryBitmapHeight) == 72);
static_assert(offsetof(VIDEO_MODE_INFORMATION, DriverSpecificAttributeFlags) == 76);

// ---- Palette ------------------------------------------------------------------------------
static_assert(sizeof(VIDEO_CLUTDATA) == 4);
static_assert(offsetof(VIDEO_CLUTDATA, Red) == 0);
static_assert(offsetof(VIDEO_CLUTDATA, Green) == 1);
static_assert(offsetof(VIDEO_CLUTDATA, Blue) == 2);
static_assert(offsetof(VIDEO_CLUT, NumEntries) == 0);
static_assert(offsetof(VIDEO_CLUT, FirstEntry) == 2);
static_assert(offsetof(VIDEO_CLUT, LookupTable) == 4);
static_assert(sizeof(VIDEO_CLUT::LookupTable[0]) == 4);

// ---- Memory mapping -----------------------------------------------------------------------
static_assert(sizeof(VIDEO_MEMORY) == 4);
static_assert(offsetof(VIDEO_MEMORY, RequestedVirtualAddress) == 0);

static_assert(sizeof(VIDEO_MEMORY_INFORMATION) == 16);
static_assert(offsetof(VIDEO_MEMORY_INFORMATION, VideoRamBase) == 0);
static_assert(offsetof(VIDEO_MEMORY_INFORMATION, VideoRamLength) == 4);
static_assert(offsetof(VIDEO_MEMORY_INFORMATION, FrameBufferBase) == 8);
static_assert(offsetof(VIDEO_MEMORY_INFORMATION, FrameBufferLength) == 12);

static_assert(sizeof(VIDEO_PUBLIC_ACCESS_RANGES) == 12);
static_assert(offsetof(VIDEO_PUBLIC_ACCESS_RANGES, InIoSpace) == 0);
static_assert(offsetof(VIDEO_PUBLIC_ACCESS_RANGES, MappedInIoSpace) == 4);
static_assert(offsetof(VIDEO_PUBLIC_ACCESS_RANGES, VirtualAddress) == 8);

static_assert(sizeof(VIDEO_SHARE_MEMORY) == 16);
static_assert(offsetof(VIDEO_SHARE_MEMORY, ProcessHandle) == 0);
static_assert(offsetof(VIDEO_SHARE_MEMORY, ViewOffset) == 4);
static_assert(offsetof(VIDEO_SHARE_MEMORY, ViewSize) == 8);
static_assert(offsetof(VIDEO_SHARE_MEMORY, RequestedVirtualAddress) == 12);

static_assert(sizeof(VIDEO_SHARE_MEMORY_INFORMATION) == 12);
static_assert(offsetof(VIDEO_SHARE_MEMORY_INFORMATION, SharedViewOffset) == 0);
static_assert(offsetof(VIDEO_SHARE_MEMORY_INFORMATION, SharedViewSize) == 4);
static_assert(offsetof(VIDEO_SHARE_MEMORY_INFORMATION, VirtualAddress) == 8);

// ---- Video BIOS call ----------------------------------------------------------------------
static_assert(sizeof(VIDEO_X86_BIOS_ARGUMENTS) == 28);
static_assert(offsetof(VIDEO_X86_BIOS_ARGUMENTS, Eax) == 0);
static_assert(offsetof(VIDEO_X86_BIOS_ARGUMENTS, Ebx) == 4);
static_assert(offsetof(VIDEO_X86_BIOS_ARGUMENTS, Ecx) == 8);
static_assert(offsetof(VIDEO_X86_BIOS_ARGUMENTS, Edx) == 12);
static_assert(offsetof(VIDEO_X86_BIOS_ARGUMENTS, Esi) == 16);
static_assert(offsetof(VIDEO_X86_BIOS_ARGUMENTS, Edi) == 20);
static_assert(offsetof(VIDEO_X86_BIOS_ARGUMENTS, Ebp) == 24);

#endif  // __i386__
