// The video port services the driver image imports, each handed to the
// machine whose callback is running.
#include "host/machine.h"

using torvic::host::Machine;

extern "C" {

ULONG NTAPI VideoPortInitialize(PVOID Argument1, PVOID Argument2,
                                PVIDEO_HW_INITIALIZATION_DATA HwInitializationData,
                                PVOID HwContext) {
  return Machine::active().vp_initialize(Argument1, Argument2, HwInitializationData, HwContext);
}

VOID NTAPI VideoPortZeroMemory(PVOID Destination, ULONG Length) {
  Machine::active().vp_zero_memory(Destination, Length);
}

ULONG NTAPI VideoPortGetBusData(PVOID HwDeviceExtension, BUS_DATA_TYPE BusDataType,
                                ULONG SlotNumber, PVOID Buffer, ULONG Offset, ULONG Length) {
  return Machine::active().vp_bus_data(false, HwDeviceExtension, BusDataType, SlotNumber, Buffer,
                                       Offset, Length);
}

ULONG NTAPI VideoPortSetBusData(PVOID HwDeviceExtension, BUS_DATA_TYPE BusDataType,
                                ULONG SlotNumber, PVOID Buffer, ULONG Offset, ULONG Length) {
  return Machine::active().vp_bus_data(true, HwDeviceExtension, BusDataType, SlotNumber, Buffer,
                                       Offset, Length);
}

VP_STATUS NTAPI VideoPortGetAccessRanges(PVOID HwDeviceExtension, ULONG NumRequestedResources,
                                         PIO_RESOURCE_DESCRIPTOR RequestedResources,
                                         ULONG NumAccessRanges, PVIDEO_ACCESS_RANGE AccessRanges,
                                         PVOID VendorId, PVOID DeviceId, PULONG Slot) {
  return Machine::active().vp_get_access_ranges(HwDeviceExtension, NumRequestedResources,
                                                RequestedResources, NumAccessRanges, AccessRanges,
                                                VendorId, DeviceId, Slot);
}

PVOID NTAPI VideoPortGetDeviceBase(PVOID HwDeviceExtension, PHYSICAL_ADDRESS IoAddress,
                                   ULONG NumberOfUchars, UCHAR InIoSpace) {
  return Machine::active().vp_get_device_base(HwDeviceExtension, IoAddress, NumberOfUchars,
                                              InIoSpace);
}

VP_STATUS NTAPI VideoPortMapMemory(PVOID HwDeviceExtension, PHYSICAL_ADDRESS PhysicalAddress,
                                   PULONG Length, PULONG InIoSpace, PVOID *VirtualAddress) {
  return Machine::active().vp_map_memory(HwDeviceExtension, PhysicalAddress, Length, InIoSpace,
                                         VirtualAddress);
}

VP_STATUS NTAPI VideoPortUnmapMemory(PVOID HwDeviceExtension, PVOID VirtualAddress,
                                     HANDLE ProcessHandle) {
  return Machine::active().vp_unmap_memory(HwDeviceExtension, VirtualAddress, ProcessHandle);
}

ULONG NTAPI VideoPortReadPortUlong(PULONG Port) {
  return Machine::active().vp_read("VideoPortReadPortUlong", Port, true);
}

VOID NTAPI VideoPortWritePortUlong(PULONG Port, ULONG Value) {
  Machine::active().vp_write("VideoPortWritePortUlong", Port, Value, 32, true);
}

ULONG NTAPI VideoPortReadRegisterUlong(PULONG Register) {
  return Machine::active().vp_read("VideoPortReadRegisterUlong", Register, false);
}

VOID NTAPI VideoPortWriteRegisterUlong(PULONG Register, ULONG Value) {
  Machine::active().vp_write("VideoPortWriteRegisterUlong", Register, Value, 32, false);
}

VOID NTAPI VideoPortWriteRegisterUchar(PUCHAR Register, UCHAR Value) {
  Machine::active().vp_write("VideoPortWriteRegisterUchar", Register, Value, 8, false);
}

VOID NTAPI VideoPortZeroDeviceMemory(PVOID Destination, ULONG Length) {
  Machine::active().vp_zero_device_memory(Destination, Length);
}

VOID NTAPI VideoPortStallExecution(ULONG Microseconds) {
  Machine::active().vp_stall(Microseconds);
}

VP_STATUS NTAPI VideoPortSetRegistryParameters(PVOID HwDeviceExtension, PWSTR ValueName,
                                               PVOID ValueData, ULONG ValueLength) {
  return Machine::active().vp_set_registry(HwDeviceExtension, ValueName, ValueData, ValueLength);
}

VP_STATUS NTAPI VideoPortInt10(PVOID HwDeviceExtension, PVIDEO_X86_BIOS_ARGUMENTS BiosArguments) {
  return Machine::active().vp_int10(HwDeviceExtension, BiosArguments);
}

}  // extern "C"
