// SPDX-License-Identifier: MIT
// The part NT's generic frame-buffer display driver plays when it enables
// and disables a board: it asks the miniport for its modes, takes the one the
// device key's DefaultSettings name, sets it, maps video memory, loads the
// palette at 8 bits per pixel, lets the system draw, then unmaps and resets
// the board. The settings come from the install file, as setup writes them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/board/monitor.h"
#include "host/display/inf_file.h"
#include "host/display/test_pattern.h"
#include "host/port/machine.h"

namespace torvic::host {

// The DefaultSettings.* values of a device key; 0 where a value is absent.
struct DisplaySettings {
  ULONG bits_per_pel = 0, x_resolution = 0, y_resolution = 0, vrefresh = 0;
  std::string label() const;  // 1024x768x16@60
};

// The PCI hardware identifiers NT builds for a board, the most specific
// first: with the subsystem dword, then the vendor and device alone.
std::vector<std::string> pci_hardware_ids(uint16_t vendor, uint16_t device, uint32_t subsystem);

// What setup does with an install file for a board: the model entry with the
// board's most specific identifier, and the settings its install section
// writes into the device key.
struct InfInstall {
  std::string problem;  // empty when a model matched and its settings were read
  std::string description, install_section, hardware_id;
  DisplaySettings settings;
};
InfInstall install_for(const InfFile &inf, const std::vector<std::string> &hardware_ids);

// NT 4.0's Display applet reads an older form of the file: its model entries
// name an install section and no hardware identifier, and the user picks one
// of them from a list. Empty for a file of the Plug and Play form.
struct InfOption {
  std::string description, install_section;
};
std::vector<InfOption> applet_options(const InfFile &inf);

// The DefaultSettings.* DWORDs the install section's SoftwareSettings add.
DisplaySettings default_settings(const InfFile &inf, const std::string &install_section);

// The mode that matches every setting; a refresh of 0 or 1 stands for the
// board's default, the first listed mode of that size and depth.
std::optional<VIDEO_MODE_INFORMATION> mode_for(const std::vector<VIDEO_MODE_INFORMATION> &modes,
                                               const DisplaySettings &settings);

// The system's default 256-colour palette: the twenty static colours at both
// ends, a 6 x 6 x 6 colour cube and a grey ramp between them.
std::vector<VIDEO_CLUTDATA> system_default_palette();

struct FramebufStep {
  std::string request;  // the IOCTL_VIDEO_ name without its prefix
  VP_STATUS status = NO_ERROR;
};

struct FramebufRun {
  std::vector<FramebufStep> steps;
  std::optional<VIDEO_MODE_INFORMATION> mode;
  std::string error;        // empty when the board was enabled, drawn on and disabled
  MonitorTiming shown;      // while enabled, with the pattern drawn
  Picture picture;
  MonitorTiming after_reset;
};

FramebufRun run_framebuf_session(Machine &machine, size_t adapter, const DisplaySettings &settings,
                                 Pattern pattern);

}  // namespace torvic::host
