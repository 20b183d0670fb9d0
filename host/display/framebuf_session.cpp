// SPDX-License-Identifier: MIT
// The frame-buffer display driver's session (framebuf_session.h): enable a
// board with the settings of the install file, let the system draw, disable it.
#include "host/display/framebuf_session.h"

#include "host/display/display_client.h"
#include "host/common/text.h"

namespace torvic::host {

namespace {

// The registry type the install files give a DWORD value.
constexpr unsigned long kAddRegDword = 0x00010001;
// Far more modes than any board offers; a count above it is not believed.
constexpr ULONG kMostModes = 1024;

std::optional<unsigned long> number_of(const std::string &text) {
  if (text.empty()) return std::nullopt;
  char *end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0') return std::nullopt;
  return v;
}

}  // namespace

std::string DisplaySettings::label() const {
  return std::to_string(x_resolution) + "x" + std::to_string(y_resolution) + "x" +
         std::to_string(bits_per_pel) + "@" + std::to_string(vrefresh);
}

std::vector<std::string> pci_hardware_ids(uint16_t vendor, uint16_t device, uint32_t subsystem) {
  return {formatted("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X", vendor, device, static_cast<unsigned>(subsystem)),
          formatted("PCI\\VEN_%04X&DEV_%04X", vendor, device)};
}

InfInstall install_for(const InfFile &inf, const std::vector<std::string> &hardware_ids) {
  InfInstall install;
  const auto *manufacturers = inf.section("Manufacturer");
  if (!manufacturers) {
    install.problem = "no [Manufacturer] section";
    return install;
  }
  for (const auto &id : hardware_ids)
    for (const auto &maker : *manufacturers) {
      if (maker.fields.empty()) continue;
      const auto *models = inf.section(maker.fields.front());
      if (!models) continue;
      for (const auto &model : *models)
        for (size_t i = 1; i < model.fields.size(); i++)
          if (same_name(model.fields[i], id)) {
            install.description = model.key;
            install.install_section = model.fields.front();
            install.hardware_id = id;
            install.settings = default_settings(inf, install.install_section);
            return install;
          }
    }
  install.problem = "no model entry for " + (hardware_ids.empty() ? std::string("the board") : hardware_ids.front());
  return install;
}

std::vector<InfOption> applet_options(const InfFile &inf) {
  std::vector<InfOption> options;
  const auto *manufacturers = inf.section("Manufacturer");
  if (!manufacturers) return options;
  for (const auto &maker : *manufacturers) {
    if (maker.fields.empty()) continue;
    if (const auto *models = inf.section(maker.fields.front()))
      for (const auto &model : *models)
        if (model.fields.size() == 1) options.push_back({model.key, model.fields.front()});
  }
  return options;
}

DisplaySettings default_settings(const InfFile &inf, const std::string &install_section) {
  DisplaySettings s;
  for (const InfEntry *add_reg : inf.entries(install_section + ".SoftwareSettings", "AddReg"))
    for (const auto &section : add_reg->fields)
      if (const auto *entries = inf.section(section))
        for (const auto &e : *entries) {
          // HKR, subkey, value name, type flags, data
          if (e.fields.size() < 5 || !same_name(e.fields[0], "HKR") || !e.fields[1].empty()) continue;
          if (number_of(e.fields[3]) != kAddRegDword) continue;
          const auto data = number_of(e.fields[4]);
          if (!data) continue;
          const std::string &name = e.fields[2];
          if (same_name(name, "DefaultSettings.BitsPerPel")) s.bits_per_pel = ULONG(*data);
          else if (same_name(name, "DefaultSettings.XResolution")) s.x_resolution = ULONG(*data);
          else if (same_name(name, "DefaultSettings.YResolution")) s.y_resolution = ULONG(*data);
          else if (same_name(name, "DefaultSettings.VRefresh")) s.vrefresh = ULONG(*data);
        }
  return s;
}

std::optional<VIDEO_MODE_INFORMATION> mode_for(const std::vector<VIDEO_MODE_INFORMATION> &modes,
                                               const DisplaySettings &settings) {
  for (const auto &m : modes)
    if (m.VisScreenWidth == settings.x_resolution && m.VisScreenHeight == settings.y_resolution &&
        m.BitsPerPlane * m.NumberOfPlanes == settings.bits_per_pel &&
        (settings.vrefresh <= 1 || m.Frequency == settings.vrefresh))
      return m;
  return std::nullopt;
}

std::vector<VIDEO_CLUTDATA> system_default_palette() {
  static constexpr uint8_t kStatic[20][3] = {
      {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
      {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
      {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
      {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  std::vector<VIDEO_CLUTDATA> palette(256);
  auto set = [&](size_t i, unsigned r, unsigned g, unsigned b) {
    palette[i] = {UCHAR(r), UCHAR(g), UCHAR(b), 0};
  };
  for (size_t i = 0; i < 10; i++) set(i, kStatic[i][0], kStatic[i][1], kStatic[i][2]);
  for (size_t i = 0; i < 10; i++) set(246 + i, kStatic[10 + i][0], kStatic[10 + i][1], kStatic[10 + i][2]);
  size_t next = 10;
  for (unsigned r = 0; r < 6; r++)
    for (unsigned g = 0; g < 6; g++)
      for (unsigned b = 0; b < 6; b++) set(next++, r * 51, g * 51, b * 51);
  for (unsigned i = 1; i <= 20; i++) set(next++, i * 12, i * 12, i * 12);
  return palette;
}

FramebufRun run_framebuf_session(Machine &machine, size_t adapter, const DisplaySettings &settings,
                                 Pattern pattern) {
  DisplayClient client(machine, adapter);
  FramebufRun run;
  auto step = [&](const char *name, VP_STATUS status) {
    run.steps.push_back({name, status});
    return status == NO_ERROR;
  };

  // Enabling the device: the modes first, the one the settings name picked.
  const auto count = client.request(IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES, {}, sizeof(VIDEO_NUM_MODES));
  if (!step("QUERY_NUM_AVAIL_MODES", count.status)) {
    run.error = "the driver did not say how many modes it has";
    return run;
  }
  const auto num = record_at<VIDEO_NUM_MODES>(count.output);
  // The display driver walks the list in records of the size the miniport
  // gives; one of another size than it knows it cannot read.
  if (num.ModeInformationLength != sizeof(VIDEO_MODE_INFORMATION) || num.NumModes > kMostModes) {
    run.error = "the driver gave " + std::to_string(num.NumModes) + " modes of " +
                std::to_string(num.ModeInformationLength) + " bytes each";
    return run;
  }
  const auto list = client.request(IOCTL_VIDEO_QUERY_AVAIL_MODES, {}, num.NumModes * num.ModeInformationLength);
  if (!step("QUERY_AVAIL_MODES", list.status)) {
    run.error = "the driver did not list its modes";
    return run;
  }
  std::vector<VIDEO_MODE_INFORMATION> modes;
  for (ULONG i = 0; i < num.NumModes; i++)
    modes.push_back(record_at<VIDEO_MODE_INFORMATION>(list.output, size_t(i) * num.ModeInformationLength));
  run.mode = mode_for(modes, settings);
  if (!run.mode) {
    run.error = "no mode the driver offers matches DefaultSettings " + settings.label() +
                "; NT would start the VGA driver instead";
    return run;
  }

  // Enabling the surface: the mode, then video memory, then at 8 bits per
  // pixel the palette the system starts with.
  if (!step("SET_CURRENT_MODE", client.set_mode(run.mode->ModeIndex))) {
    run.error = "the driver refused to set mode " + std::to_string(run.mode->ModeIndex);
    return run;
  }
  const auto memory = client.map_video_memory();
  if (!step("MAP_VIDEO_MEMORY", memory.status)) {
    run.error = "the driver did not map video memory";
    return run;
  }
  const VIDEO_MODE_INFORMATION &mode = *run.mode;
  if (mode.BitsPerPlane == 8 &&
      !step("SET_COLOR_REGISTERS", client.set_palette(0, system_default_palette())))
    run.error = "the driver refused the default palette";

  // The system draws: at 8 bits per pixel through a palette of its own,
  // which the display driver loads as it is realised.
  if (run.error.empty() && mode.BitsPerPlane == 8 &&
      !step("SET_COLOR_REGISTERS", client.set_palette(0, pattern_palette())))
    run.error = "the driver refused the picture's palette";
  if (run.error.empty()) {
    if (!client.frame_fits(memory, mode))
      run.error = "the frame does not fit the mapped frame buffer";
    else
      draw_pattern(pattern, memory.frame, mode);
  }
  const Board &board = machine.adapter_board(adapter);
  run.shown = decode_monitor(board);
  run.picture = render_frame(board, run.shown);

  // Disabling: the surface's memory goes back, then the board to text mode.
  if (!step("UNMAP_VIDEO_MEMORY", client.unmap_video_memory(memory.ram)) && run.error.empty())
    run.error = "the driver did not unmap video memory";
  if (!step("RESET_DEVICE", client.reset_device()) && run.error.empty())
    run.error = "the driver did not reset the board";
  run.after_reset = decode_monitor(board);
  return run;
}

}  // namespace torvic::host
