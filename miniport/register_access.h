// SPDX-License-Identifier: MIT
// One helper per register bank; each is exactly one video port service call.
#pragma once

#include "miniport/device_extension.h"

inline ULONG Torvic_read_io(PHW_DEVICE_EXTENSION extension, ULONG offset) {
  return VideoPortReadPortUlong(reinterpret_cast<PULONG>(extension->io_base + offset));
}

inline VOID Torvic_write_io(PHW_DEVICE_EXTENSION extension, ULONG offset, ULONG value) {
  VideoPortWritePortUlong(reinterpret_cast<PULONG>(extension->io_base + offset), value);
}

inline ULONG Torvic_read_reg(PHW_DEVICE_EXTENSION extension, ULONG offset) {
  return VideoPortReadRegisterUlong(reinterpret_cast<PULONG>(extension->reg_base + offset));
}

inline VOID Torvic_write_reg(PHW_DEVICE_EXTENSION extension, ULONG offset, ULONG value) {
  VideoPortWriteRegisterUlong(reinterpret_cast<PULONG>(extension->reg_base + offset), value);
}

inline VOID Torvic_write_dac_port(PHW_DEVICE_EXTENSION extension, ULONG port, UCHAR value) {
  VideoPortWriteRegisterUchar(extension->reg_base + port, value);
}
