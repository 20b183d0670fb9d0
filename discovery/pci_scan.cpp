// Finding the next board on the PCI bus, sizing its base address registers
// and claiming its resources.
#include "miniport/torvic.h"

extern "C" {
ULONG pci_slot_number;
ULONG all_ones = 0xFFFFFFFF;
ULONG memory_type;
}

namespace {

constexpr ULONG MAX_PCI_RANGE_REGISTERS = 7;  // BAR0-BAR5 and the expansion ROM
constexpr ULONG MAX_RESOURCE_DESCRIPTORS = 2 * MAX_PCI_RANGE_REGISTERS;
// Below these addresses a register's current place is not worth keeping.
constexpr ULONG IO_PREFERRED_THRESHOLD = 0x100;
constexpr ULONG MEMORY_PREFERRED_THRESHOLD = 0x100000;
constexpr ULONG IO_HIGHEST_PORT = 0xFFFF;

// Starts from all ones, which no device's identifier pair can be, so that a
// slot without a device never matches whatever the read delivers.
TORVIC_PAGEABLE ULONG Torvic_read_config(PHW_DEVICE_EXTENSION extension, ULONG slot,
                                         ULONG offset) {
  ULONG value = 0xFFFFFFFF;
  VideoPortGetBusData(extension, PCIConfiguration, slot, &value, offset, sizeof(value));
  return value;
}

// FALSE when the bus took no bytes: the register keeps what it held.
TORVIC_PAGEABLE BOOLEAN Torvic_write_config(PHW_DEVICE_EXTENSION extension, ULONG slot,
                                            ULONG offset, ULONG value) {
  return VideoPortSetBusData(extension, PCIConfiguration, slot, &value, offset, sizeof(value)) ==
         sizeof(value);
}

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
// is reached through it.
TORVIC_PAGEABLE BOOLEAN Torvic_ranges_fit(const VIDEO_ACCESS_RANGE *ranges, ULONG count) {
  if (count <= RANGE_IO) return FALSE;
  const VIDEO_ACCESS_RANGE &frame_buffer = ranges[RANGE_FRAME_BUFFER];
  const VIDEO_ACCESS_RANGE &xy_window = ranges[RANGE_XY_WINDOW];
  const VIDEO_ACCESS_RANGE &registers = ranges[RANGE_REGISTERS];
  const VIDEO_ACCESS_RANGE &io = ranges[RANGE_IO];
  return !frame_buffer.RangeInIoSpace && frame_buffer.RangeLength >= MEMORY_SIZE_BASE &&
         !xy_window.RangeInIoSpace && xy_window.RangeLength >= XY_WINDOW_LENGTH &&
         !registers.RangeInIoSpace && registers.RangeLength >= REGISTER_BLOCK_SPAN &&
         io.RangeInIoSpace && io.RangeLength >= IO_BLOCK_SPAN;
}

}  // namespace

extern "C" TORVIC_PAGEABLE BOOLEAN Torvic_get_pci_ranges(PHW_DEVICE_EXTENSION extension,
                                                         PVIDEO_ACCESS_RANGE access_ranges,
                                                         ULONG vendor_id, ULONG device_id,
                                                         PULONG slot) {
  IO_RESOURCE_DESCRIPTOR resources[MAX_RESOURCE_DESCRIPTORS];
  ULONG register_offsets[MAX_PCI_RANGE_REGISTERS];
  ULONG num_registers = 0;
  ULONG num_descriptors = 0;

  const ULONG board_id = (device_id << 16) | vendor_id;
  ULONG s = *slot;
  while (s < PCI_MAX_SLOTS && Torvic_read_config(extension, s, PCI_ID) != board_id) s++;
  *slot = s;
  if (s >= PCI_MAX_SLOTS) return FALSE;

  // The variant code must be known before anything is written to the board.
  memory_type = Torvic_read_config(extension, s, PCI_SUBSYSTEM);
  if ((memory_type >> 16) > TORVIC_MAX_VARIANT_CODE) return FALSE;

  VideoPortZeroMemory(resources, sizeof(resources));

  // Sizing moves the registers through all ones: the board must not decode
  // while they pass over other devices' addresses.
  const ULONG command = Torvic_read_config(extension, s, PCI_COMMAND);
  Torvic_write_config(extension, s, PCI_COMMAND,
                      command & ~(PCI_COMMAND_IO_SPACE | PCI_COMMAND_MEMORY_SPACE));

  static constexpr ULONG range_registers[MAX_PCI_RANGE_REGISTERS] = {
      PCI_BAR0, PCI_BAR0 + 4, PCI_BAR0 + 8, PCI_BAR0 + 12, PCI_BAR0 + 16, PCI_BAR5,
      PCI_EXPANSION_ROM};
  for (ULONG offset : range_registers) {
    const ULONG value = Torvic_read_config(extension, s, offset);
    const RegisterKind kind = Torvic_classify_register(offset, value);
    VideoPortSetBusData(extension, PCIConfiguration, s, &all_ones, offset, sizeof(all_ones));
    const ULONG sized = Torvic_read_config(extension, s, offset);
    Torvic_write_config(extension, s, offset, value);

    const ULONG size_mask = sized & kind.address_mask;
    if (size_mask == 0) continue;  // not implemented

    num_descriptors += Torvic_describe_register(&resources[num_descriptors], kind,
                                                value & kind.address_mask, 0 - size_mask);
    register_offsets[num_registers++] = offset;
  }

  VideoPortZeroMemory(access_ranges, TORVIC_NUM_ACCESS_RANGES * sizeof(VIDEO_ACCESS_RANGE));
  USHORT vendor = static_cast<USHORT>(vendor_id);
  USHORT device = static_cast<USHORT>(device_id);
  const VP_STATUS status =
      VideoPortGetAccessRanges(extension, num_descriptors, resources, TORVIC_NUM_ACCESS_RANGES,
                               access_ranges, &vendor, &device, slot);
  // A refused claim, or a board whose ranges are not the family's, is left
  // as it was found: decoding restored, base address registers untouched.
  if (status != NO_ERROR || !Torvic_ranges_fit(access_ranges, num_registers)) {
    Torvic_write_config(extension, *slot, PCI_COMMAND, command);
    return FALSE;
  }

  // Bit 0 is the I/O indicator of an I/O register and the decode enable of
  // the expansion ROM register: keep it.
  BOOLEAN placed = TRUE;
  for (ULONG i = 0; i < num_registers; i++) {
    const ULONG value = Torvic_read_config(extension, *slot, register_offsets[i]);
    if (!Torvic_write_config(extension, *slot, register_offsets[i],
                             (value & 1) | access_ranges[i].RangeStart.LowPart))
      placed = FALSE;
  }
  // A board that did not take its addresses, or its decoding, would answer
  // elsewhere or not at all: it is left as it was found and not used.
  if (!placed || !Torvic_write_config(extension, *slot, PCI_COMMAND,
                                      command | PCI_COMMAND_IO_SPACE | PCI_COMMAND_MEMORY_SPACE)) {
    Torvic_write_config(extension, *slot, PCI_COMMAND, command);
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
