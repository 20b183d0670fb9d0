// SPDX-License-Identifier: MIT
// Finding the next board on the PCI bus, sizing its base address registers
// and claiming its resources.
#include "discovery/discovery.h"

extern "C" {
ULONG pci_slot_number;
ULONG all_ones = 0xFFFFFFFF;
ULONG memory_type;
}

namespace {

constexpr ULONG MAX_PCI_RANGE_REGISTERS = TORVIC_NUM_RANGE_REGISTERS;  // BAR0-BAR5, expansion ROM
constexpr ULONG MAX_RESOURCE_DESCRIPTORS = 2 * MAX_PCI_RANGE_REGISTERS;
// Below these addresses a register's current place is not worth keeping.
constexpr ULONG IO_PREFERRED_THRESHOLD = 0x100;
constexpr ULONG MEMORY_PREFERRED_THRESHOLD = 0x100000;
constexpr ULONG IO_HIGHEST_PORT = 0xFFFF;
constexpr ULONG PCI_COMMAND_DECODING = PCI_COMMAND_IO_SPACE | PCI_COMMAND_MEMORY_SPACE;

// Reads one configuration dword. FALSE when the bus delivered less than the
// whole dword: *value is then not the register's and must not be acted on.
// It starts from all ones, which no device's identifier pair can be, so a
// slot without a device never matches whatever a read delivers.
TORVIC_PAGEABLE BOOLEAN Torvic_read_config(PHW_DEVICE_EXTENSION extension, ULONG slot,
                                           ULONG offset, PULONG value) {
  *value = 0xFFFFFFFF;
  return VideoPortGetBusData(extension, PCIConfiguration, slot, value, offset, sizeof(*value)) ==
         sizeof(*value);
}

// FALSE when the bus took no bytes: the register keeps what it held.
TORVIC_PAGEABLE BOOLEAN Torvic_write_config(PHW_DEVICE_EXTENSION extension, ULONG slot,
                                            ULONG offset, ULONG value) {
  return VideoPortSetBusData(extension, PCIConfiguration, slot, &value, offset, sizeof(value)) ==
         sizeof(value);
}

// The range registers in the order they are sized (0x28 is the CardBus
// pointer and 0x2C the subsystem: neither is a range).
constexpr ULONG range_registers[MAX_PCI_RANGE_REGISTERS] = {
    PCI_BAR0, PCI_BAR0 + 4, PCI_BAR0 + 8, PCI_BAR0 + 12, PCI_BAR0 + 16, PCI_BAR5,
    PCI_EXPANSION_ROM};

struct RegisterKind {
  ULONG address_mask;
  UCHAR type;
  USHORT flags;
  ULONG preferred_threshold;
};

TORVIC_PAGEABLE RegisterKind Torvic_classify_register(ULONG offset, ULONG value) {
  if (offset == PCI_EXPANSION_ROM)
    return {PCI_ROM_ADDRESS_MASK, CmResourceTypeMemory, CM_RESOURCE_MEMORY_READ_ONLY,
            MEMORY_PREFERRED_THRESHOLD};
  if (value & PCI_BAR_IO_SPACE)
    return {PCI_BAR_IO_MASK, CmResourceTypePort, CM_RESOURCE_PORT_IO, IO_PREFERRED_THRESHOLD};
  return {PCI_BAR_MEMORY_MASK, CmResourceTypeMemory,
          static_cast<USHORT>((value & PCI_BAR_PREFETCHABLE) ? CM_RESOURCE_MEMORY_PREFETCHABLE
                                                              : CM_RESOURCE_MEMORY_READ_WRITE),
          MEMORY_PREFERRED_THRESHOLD};
}

// Describes one sized register to the claim: where it may go, preferring the
// place it already holds when that place is worth keeping. Returns the number
// of descriptors used (1 or 2).
TORVIC_PAGEABLE ULONG Torvic_describe_register(PIO_RESOURCE_DESCRIPTOR descriptor,
                                               const RegisterKind &kind, ULONG base,
                                               ULONG length) {
  const ULONG end = base + length;  // 0 when the register's address bits are all ones
  descriptor->Option = 0;
  descriptor->Type = kind.type;
  descriptor->Flags = kind.flags;
  descriptor->ShareDisposition = CmResourceShareDeviceExclusive;
  descriptor->u.Generic.Length = length;
  descriptor->u.Generic.Alignment = length;
  descriptor->u.Generic.MinimumAddress.LowPart = base;
  descriptor->u.Generic.MaximumAddress.LowPart = end - 1;

  ULONG used = 1;
  PIO_RESOURCE_DESCRIPTOR loose = descriptor;
  if (base >= kind.preferred_threshold && end != 0) {
    descriptor->Option = IO_RESOURCE_PREFERRED;
    descriptor[1] = descriptor[0];
    descriptor[1].Option = IO_RESOURCE_ALTERNATIVE;
    loose = &descriptor[1];
    used = 2;
  }

  loose->u.Generic.MinimumAddress.LowPart = 0;
  if (kind.type == CmResourceTypePort) {
    loose->u.Generic.MaximumAddress.LowPart = IO_HIGHEST_PORT;
  } else if (loose->u.Generic.MaximumAddress.LowPart < MEMORY_PREFERRED_THRESHOLD || end == 0) {
    loose->u.Generic.MaximumAddress.LowPart = 0xFFFFFFFF - length;
  }
  return used;
}

// A board that answers with the family's identifiers but decodes other
// resources than the family's (a register missing or too small) would have
// the driver write outside what was claimed for it: each range the driver
// maps or hands out must be of the right space and at least as long as what
// is reached through it, as the family's layout gives them.
TORVIC_PAGEABLE BOOLEAN Torvic_ranges_fit(const VIDEO_ACCESS_RANGE *ranges, ULONG count) {
  for (const TorvicBoardRange &need : torvic_board_layout) {
    if (need.bar >= count) return FALSE;
    const VIDEO_ACCESS_RANGE &range = ranges[need.bar];
    if ((range.RangeInIoSpace != 0) != need.io || range.RangeLength < need.least) return FALSE;
  }
  return TRUE;
}

}  // namespace

// Gives the board back as discovery found it: every range register that may
// have changed, then the command register. A register that cannot be put
// back leaves decoding off: a board that answers nowhere is safe, one that
// answers at an address nobody owns is not.
extern "C" TORVIC_PAGEABLE VOID Torvic_leave_as_found(PHW_DEVICE_EXTENSION extension) {
  PCI_FOUND_CONFIG &found = extension->found_config;
  BOOLEAN restored = TRUE;
  for (ULONG i = 0; i < found.num_saved; i++) {
    if (!(found.changed & (1u << i))) continue;
    if (Torvic_write_config(extension, found.slot, range_registers[i], found.values[i]))
      found.changed &= ~(1u << i);
    else
      restored = FALSE;
  }
  if (restored) Torvic_write_config(extension, found.slot, PCI_COMMAND, found.command);
}

namespace {

// Sizes the i-th range register while the board's decoding is off: all ones
// in, the size mask out, the found value back. FALSE when the bus failed one
// of the three accesses; the register is then marked for the way back.
TORVIC_PAGEABLE BOOLEAN Torvic_size_register(PHW_DEVICE_EXTENSION extension, ULONG i,
                                             PULONG sized) {
  PCI_FOUND_CONFIG &found = extension->found_config;
  const ULONG offset = range_registers[i];
  if (!Torvic_read_config(extension, found.slot, offset, &found.values[i])) return FALSE;
  found.num_saved = i + 1;
  found.changed |= 1u << i;
  if (VideoPortSetBusData(extension, PCIConfiguration, found.slot, &all_ones, offset,
                          sizeof(all_ones)) != sizeof(all_ones) ||
      !Torvic_read_config(extension, found.slot, offset, sized) ||
      !Torvic_write_config(extension, found.slot, offset, found.values[i]))
    return FALSE;
  found.changed &= ~(1u << i);
  return TRUE;
}

// Moves the claimed registers to their assigned addresses and turns decoding
// on. Bit 0 is the I/O indicator of an I/O register and the decode enable of
// the expansion ROM register: it is kept.
TORVIC_PAGEABLE BOOLEAN Torvic_place_registers(PHW_DEVICE_EXTENSION extension,
                                               const VIDEO_ACCESS_RANGE *access_ranges,
                                               const ULONG *register_index, ULONG num_registers) {
  PCI_FOUND_CONFIG &found = extension->found_config;
  for (ULONG i = 0; i < num_registers; i++) {
    const ULONG offset = range_registers[register_index[i]];
    found.changed |= 1u << register_index[i];
    ULONG value;
    if (!Torvic_read_config(extension, found.slot, offset, &value) ||
        !Torvic_write_config(extension, found.slot, offset,
                             (value & 1) | access_ranges[i].RangeStart.LowPart))
      return FALSE;
  }
  return Torvic_write_config(extension, found.slot, PCI_COMMAND,
                             found.command | PCI_COMMAND_DECODING);
}

}  // namespace

extern "C" TORVIC_PAGEABLE BOOLEAN Torvic_get_pci_ranges(PHW_DEVICE_EXTENSION extension,
                                                         PVIDEO_ACCESS_RANGE access_ranges,
                                                         ULONG vendor_id, ULONG device_id,
                                                         PULONG slot) {
  IO_RESOURCE_DESCRIPTOR resources[MAX_RESOURCE_DESCRIPTORS];
  ULONG register_index[MAX_PCI_RANGE_REGISTERS];  // which range register each claimed range is
  ULONG num_registers = 0;
  ULONG num_descriptors = 0;

  const ULONG board_id = (device_id << 16) | vendor_id;
  ULONG s = *slot;
  for (ULONG id; s < PCI_MAX_SLOTS; s++)
    if (Torvic_read_config(extension, s, PCI_ID, &id) && id == board_id) break;
  *slot = s;
  if (s >= PCI_MAX_SLOTS) return FALSE;

  // The variant code must be known before anything is written to the board.
  ULONG subsystem;
  if (!Torvic_read_config(extension, s, PCI_SUBSYSTEM, &subsystem)) return FALSE;
  memory_type = subsystem;
  if ((memory_type >> 16) > TORVIC_MAX_VARIANT_CODE) return FALSE;

  VideoPortZeroMemory(resources, sizeof(resources));

  // Sizing moves the registers through all ones: the board must not decode
  // while they pass over other devices' addresses. A board whose decoding
  // cannot be read or turned off is not sized at all.
  PCI_FOUND_CONFIG &found = extension->found_config;
  found.slot = s;
  found.num_saved = 0;
  found.changed = 0;
  if (!Torvic_read_config(extension, s, PCI_COMMAND, &found.command) ||
      !Torvic_write_config(extension, s, PCI_COMMAND, found.command & ~PCI_COMMAND_DECODING))
    return FALSE;

  for (ULONG i = 0; i < MAX_PCI_RANGE_REGISTERS; i++) {
    ULONG sized;
    if (!Torvic_size_register(extension, i, &sized)) {
      Torvic_leave_as_found(extension);
      return FALSE;
    }
    const ULONG value = found.values[i];
    const RegisterKind kind = Torvic_classify_register(range_registers[i], value);
    const ULONG size_mask = sized & kind.address_mask;
    if (size_mask == 0) continue;  // not implemented

    num_descriptors += Torvic_describe_register(&resources[num_descriptors], kind,
                                                value & kind.address_mask, 0 - size_mask);
    register_index[num_registers++] = i;
  }

  VideoPortZeroMemory(access_ranges, TORVIC_NUM_ACCESS_RANGES * sizeof(VIDEO_ACCESS_RANGE));
  USHORT vendor = static_cast<USHORT>(vendor_id);
  USHORT device = static_cast<USHORT>(device_id);
  ULONG claim_slot = s;
  const VP_STATUS status =
      VideoPortGetAccessRanges(extension, num_descriptors, resources, TORVIC_NUM_ACCESS_RANGES,
                               access_ranges, &vendor, &device, &claim_slot);
  // The board sized is the board programmed, whatever slot number the claim
  // hands back: a platform that writes another number there (one legacy
  // path writes the bus number) must not have another device programmed.
  // A refused claim, a board whose ranges are not the family's, or one that
  // does not take its addresses or its decoding, is left as it was found.
  if (status != NO_ERROR || !Torvic_ranges_fit(access_ranges, num_registers) ||
      !Torvic_place_registers(extension, access_ranges, register_index, num_registers)) {
    Torvic_leave_as_found(extension);
    return FALSE;
  }
  return TRUE;
}

// Takes the next board that can be used. A board of an unknown variant, or
// one whose resources the platform refuses, is passed over so that it cannot
// hide the boards in the slots above it.
extern "C" TORVIC_PAGEABLE BOOLEAN Torvic_get_access_ranges(PHW_DEVICE_EXTENSION extension) {
  while (pci_slot_number < PCI_MAX_SLOTS) {
    if (Torvic_get_pci_ranges(extension, extension->access_ranges, TORVIC_VENDOR_ID,
                              TORVIC_DEVICE_ID, &pci_slot_number)) {
      pci_slot_number++;
      extension->access_ranges[RANGE_XY_WINDOW].RangeVisible = 1;
      extension->access_ranges[RANGE_REGISTERS].RangeVisible = 1;
      return TRUE;
    }
    if (pci_slot_number < PCI_MAX_SLOTS) pci_slot_number++;
  }
  return FALSE;
}
