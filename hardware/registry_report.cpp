// SPDX-License-Identifier: MIT
// The hardware description each board leaves under the driver's device key:
// chip, DAC, memory size and adapter name.
#include "hardware/hardware.h"

namespace {

static_assert(sizeof(WCHAR) == 2, "registry strings are UTF-16");

// Value names.
const WCHAR wszValueChipType[] = TORVIC_WIDE("HardwareInformation.ChipType");
const WCHAR wszValueDacType[] = TORVIC_WIDE("HardwareInformation.DacType");
const WCHAR wszValueMemorySize[] = TORVIC_WIDE("HardwareInformation.MemorySize");
const WCHAR wszValueAdapterString[] = TORVIC_WIDE("HardwareInformation.AdapterString");

// Value data. Strings are stored with their terminating NUL.
const WCHAR wszChipTypeCalvorn[] = TORVIC_WIDE("Torvic Calvorn");
const WCHAR wszChipTypeCalvornE[] = TORVIC_WIDE("Torvic Calvorn E");
const WCHAR wszDacTypeRgb526[] = TORVIC_WIDE("IBM RGB526");
const WCHAR wszDacTypeRgb528[] = TORVIC_WIDE("IBM RGB528");
const WCHAR wszAdapterString[] = TORVIC_WIDE("Morvane");

// The service only reads the name and the data, but takes them as writable.
TORVIC_PAGEABLE VP_STATUS Torvic_set_registry_value(PHW_DEVICE_EXTENSION extension,
                                                    const WCHAR *name, const VOID *data,
                                                    ULONG length) {
  return VideoPortSetRegistryParameters(extension, const_cast<PWSTR>(name),
                                        const_cast<PVOID>(data), length);
}

}  // namespace

// Each value is written whatever became of the one before; only the last
// write's status is returned.
extern "C" TORVIC_PAGEABLE VP_STATUS Torvic_set_registry_parameters(
    PHW_DEVICE_EXTENSION extension) {
  if (extension->dac_type == DAC_TYPE_DRAM) {
    Torvic_set_registry_value(extension, wszValueChipType, wszChipTypeCalvornE,
                              sizeof(wszChipTypeCalvornE));
  } else {
    Torvic_set_registry_value(extension, wszValueChipType, wszChipTypeCalvorn,
                              sizeof(wszChipTypeCalvorn));
  }

  if (extension->dac_type == DAC_TYPE_RGB528) {
    Torvic_set_registry_value(extension, wszValueDacType, wszDacTypeRgb528,
                              sizeof(wszDacTypeRgb528));
  } else {
    Torvic_set_registry_value(extension, wszValueDacType, wszDacTypeRgb526,
                              sizeof(wszDacTypeRgb526));
  }

  ULONG memory_size = Torvic_memory_size(extension);
  Torvic_set_registry_value(extension, wszValueMemorySize, &memory_size, sizeof(memory_size));

  return Torvic_set_registry_value(extension, wszValueAdapterString, wszAdapterString,
                                   sizeof(wszAdapterString));
}
