// SPDX-License-Identifier: MIT
// The registry and the video BIOS as the driver reaches them through the
// video port: the values it sets and the BIOS calls it makes, each checked and
// recorded; and the port's own text-mode call when a reset callback returns
// FALSE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/board/board.h"
#include "host/port/fault_injector.h"
#include "host/port/recorder.h"
#include "host/port/verifier.h"
#include "platform/video_port_interface.h"

namespace torvic::host {

struct RegistryWrite {
  int slot = -1;
  std::u16string name;
  std::vector<uint8_t> data;
  VP_STATUS status = NO_ERROR;
};

struct BiosCall {
  int slot = -1;
  VIDEO_X86_BIOS_ARGUMENTS arguments{};
  bool by_port = false;  // the video port's own call after the reset callback
};

class RegistryAndBios {
 public:
  RegistryAndBios(Verifier &verifier, Recorder &recorder, FaultInjector &faults)
      : verifier_(verifier), recorder_(recorder), faults_(faults) {}

  // ---- The services, once the port has checked the caller's IRQL and extension ----
  // slot: the board the caller's extension claimed, or -1.
  VP_STATUS set_registry(int slot, const WCHAR *name, PVOID data, ULONG length);
  // board: the one in slot, or null.
  VP_STATUS int10(int slot, Board *board, PVIDEO_X86_BIOS_ARGUMENTS arguments);
  // What NT does when a reset callback returns FALSE: the BIOS sets text
  // mode 3 on the primary display (recorded as the port's own call, not the
  // driver's).
  void set_text_mode_for_driver(Board &primary);

  const std::vector<RegistryWrite> &registry() const { return registry_; }
  const std::vector<BiosCall> &bios_calls() const { return bios_calls_; }

 private:
  Verifier &verifier_;
  Recorder &recorder_;
  FaultInjector &faults_;
  std::vector<RegistryWrite> registry_;
  std::vector<BiosCall> bios_calls_;
};

}  // namespace torvic::host
