// SPDX-License-Identifier: MIT
// The video port services the driver image imports, each handed to the
// machine whose callback is running.
#include "host/image/service_exports.h"

#include "host/port/machine.h"

using torvic::host::Machine;

// The NT image keeps the stack only 4-byte aligned, as the NT kernel does;
// host code built for 32-bit Linux assumes 16 bytes, so every service that
// the image enters realigns first.
#if defined(__i386__)
#define ENTERED_FROM_DRIVER __attribute__((force_align_arg_pointer))
#else
#define ENTERED_FROM_DRIVER
#endif

extern "C" {

ENTERED_FROM_DRIVER ULONG NTAPI VideoPortInitialize(PVOID Argument1, PVOID Argument2,
                                PVIDEO_HW_INITIALIZATION_DATA HwInitializationData,
                                PVOID HwContext) {
  return Machine::active().vp_initialize(Argument1, Argument2, HwInitializationData, HwContext);
}

ENTERED_FROM_DRIVER VOID NTAPI VideoPortZeroMemory(PVOID Destination, ULONG Length) {
  Machine::active().vp_zero_memory(Destination, Length);
}

ENTERED_FROM_DRIVER ULONG NTAPI VideoPortGetBusData(PVOID HwDeviceExtension, BUS_DATA_TYPE BusDataType,
                                ULONG SlotNumber, PVOID Buffer, ULONG Offset, ULONG Length) {
  return Machine::active().vp_bus_data(false, HwDeviceExtension, BusDataType, SlotNumber, Buffer,
                                       Offset, Length);
}

ENTERED_FROM_DRIVER ULONG NTAPI VideoPortSetBusData(PVOID HwDeviceExtension, BUS_DATA_TYPE BusDataType,
                                ULONG SlotNumber, PVOID Buffer, ULONG Offset, ULONG Length) {
  return Machine::active().vp_bus_data(true, HwDeviceExtension, BusDataType, SlotNumber, Buffer,
                                       Offset, Length);
}

ENTERED_FROM_DRIVER VP_STATUS NTAPI VideoPortGetAccessRanges(PVOID HwDeviceExtension, ULONG NumRequestedResources,
                                         PIO_RESOURCE_DESCRIPTOR RequestedResources,
                                         ULONG NumAccessRanges, PVIDEO_ACCESS_RANGE AccessRanges,
                                         PVOID VendorId, PVOID DeviceId, PULONG Slot) {
  return Machine::active().vp_get_access_ranges(HwDeviceExtension, NumRequestedResources,
                                                RequestedResources, NumAccessRanges, AccessRanges,
                                                VendorId, DeviceId, Slot);
}

ENTERED_FROM_DRIVER PVOID NTAPI VideoPortGetDeviceBase(PVOID HwDeviceExtension, PHYSICAL_ADDRESS IoAddress,
                                   ULONG NumberOfUchars, UCHAR InIoSpace) {
  return Machine::active().vp_get_device_base(HwDeviceExtension, IoAddress, NumberOfUchars,
                                              InIoSpace);
}

ENTERED_FROM_DRIVER VOID NTAPI VideoPortFreeDeviceBase(PVOID HwDeviceExtension, PVOID MappedAddress) {
  Machine::active().vp_free_device_base(HwDeviceExtension, MappedAddress);
}

ENTERED_FROM_DRIVER VP_STATUS NTAPI VideoPortMapMemory(PVOID HwDeviceExtension, PHYSICAL_ADDRESS PhysicalAddress,
                                   PULONG Length, PULONG InIoSpace, PVOID *VirtualAddress) {
  return Machine::active().vp_map_memory(HwDeviceExtension, PhysicalAddress, Length, InIoSpace,
                                         VirtualAddress);
}

ENTERED_FROM_DRIVER VP_STATUS NTAPI VideoPortUnmapMemory(PVOID HwDeviceExtension, PVOID VirtualAddress,
                                     HANDLE ProcessHandle) {
  return Machine::active().vp_unmap_memory(HwDeviceExtension, VirtualAddress, ProcessHandle);
}

ENTERED_FROM_DRIVER ULONG NTAPI VideoPortReadPortUlong(PULONG Port) {
  return Machine::active().vp_read("VideoPortReadPortUlong", Port, true);
}

ENTERED_FROM_DRIVER VOID NTAPI VideoPortWritePortUlong(PULONG Port, ULONG Value) {
  Machine::active().vp_write("VideoPortWritePortUlong", Port, Value, 32, true);
}

ENTERED_FROM_DRIVER ULONG NTAPI VideoPortReadRegisterUlong(PULONG Register) {
  return Machine::active().vp_read("VideoPortReadRegisterUlong", Register, false);
}

ENTERED_FROM_DRIVER VOID NTAPI VideoPortWriteRegisterUlong(PULONG Register, ULONG Value) {
  Machine::active().vp_write("VideoPortWriteRegisterUlong", Register, Value, 32, false);
}

ENTERED_FROM_DRIVER VOID NTAPI VideoPortWriteRegisterUchar(PUCHAR Register, UCHAR Value) {
  Machine::active().vp_write("VideoPortWriteRegisterUchar", Register, Value, 8, false);
}

ENTERED_FROM_DRIVER VOID NTAPI VideoPortZeroDeviceMemory(PVOID Destination, ULONG Length) {
  Machine::active().vp_zero_device_memory(Destination, Length);
}

ENTERED_FROM_DRIVER VOID NTAPI VideoPortStallExecution(ULONG Microseconds) {
  Machine::active().vp_stall(Microseconds);
}

ENTERED_FROM_DRIVER VP_STATUS NTAPI VideoPortSetRegistryParameters(PVOID HwDeviceExtension, PWSTR ValueName,
                                               PVOID ValueData, ULONG ValueLength) {
  return Machine::active().vp_set_registry(HwDeviceExtension, ValueName, ValueData, ValueLength);
}

ENTERED_FROM_DRIVER VP_STATUS NTAPI VideoPortInt10(PVOID HwDeviceExtension, PVIDEO_X86_BIOS_ARGUMENTS BiosArguments) {
  return Machine::active().vp_int10(HwDeviceExtension, BiosArguments);
}

}  // extern "C"

namespace torvic::host {

std::span<const ServiceExport> video_port_services() {
#define SERVICE(name) {#name, reinterpret_cast<void *>(&(name))}
  static const ServiceExport services[] = {
      SERVICE(VideoPortInitialize),          SERVICE(VideoPortZeroMemory),
      SERVICE(VideoPortGetBusData),          SERVICE(VideoPortSetBusData),
      SERVICE(VideoPortGetAccessRanges),     SERVICE(VideoPortGetDeviceBase),
      SERVICE(VideoPortMapMemory),           SERVICE(VideoPortUnmapMemory),
      SERVICE(VideoPortReadPortUlong),       SERVICE(VideoPortWritePortUlong),
      SERVICE(VideoPortReadRegisterUlong),   SERVICE(VideoPortWriteRegisterUlong),
      SERVICE(VideoPortWriteRegisterUchar),  SERVICE(VideoPortZeroDeviceMemory),
      SERVICE(VideoPortStallExecution),      SERVICE(VideoPortSetRegistryParameters),
      SERVICE(VideoPortInt10),               SERVICE(VideoPortFreeDeviceBase),
  };
#undef SERVICE
  return services;
}

}  // namespace torvic::host
