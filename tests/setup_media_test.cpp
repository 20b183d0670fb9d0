// SPDX-License-Identifier: MIT
// The install files on the setup floppy, read as NT's setup reads them, and
// the frame-buffer display driver's session they lead to.
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "host/board/monitor.h"
#include "host/display/framebuf_session.h"
#include "host/display/inf_file.h"
#include "miniport/board_registers.h"
#include "tests/test_support.h"

namespace torvic::test {
namespace {

using host::DisplaySettings;
using host::InfFile;
using host::same_name;

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

InfFile install_file(const char *name) {
  const std::string text = read_text(std::string(TORVIC_SOURCE_DIR) + "/nt/" + name);
  EXPECT_FALSE(text.empty()) << name;
  return InfFile::parse(text);
}

const char *const kInstallFiles[] = {"oemsetup.inf", "torvic.inf"};

// The install sections an install file offers: the targets of its models.
std::vector<std::string> install_sections(const InfFile &inf) {
  std::vector<std::string> sections;
  for (const auto &maker : *inf.section("Manufacturer"))
    for (const auto &model : *inf.section(maker.fields.at(0)))
      if (std::find(sections.begin(), sections.end(), model.fields.at(0)) == sections.end())
        sections.push_back(model.fields.at(0));
  return sections;
}

TEST(InfFile, ReadsSectionsEntriesAndStringsByTheFormatsRules) {
  const auto inf = InfFile::parse(
      "; a comment\r\n"
      "[Version]\r\n"
      "Signature = \"$Windows NT$\"   ; after a value\r\n"
      "[files]\n"
      "a.sys, \"b; c\", , %name%\n"
      "long = one, \\\n"
      "       two\n"
      "path = %12%\\x.sys, \"%%SystemRoot%%\"\n"
      "[FILES]\n"
      "third\n"
      "[strings]\n"
      "NAME = \"a \"\"quoted\"\" name\"\n");
  EXPECT_THAT(inf.problems(), testing::IsEmpty());
  EXPECT_EQ(inf.value("version", "SIGNATURE"), "$Windows NT$");
  const auto *files = inf.section("Files");
  ASSERT_NE(files, nullptr);
  ASSERT_EQ(files->size(), 4u) << "sections of one name are read as one";
  EXPECT_THAT(files->at(0).fields, testing::ElementsAre("a.sys", "b; c", "", "a \"quoted\" name"));
  EXPECT_THAT(files->at(1).fields, testing::ElementsAre("one", "two"));
  EXPECT_EQ(files->at(1).line, 6);
  EXPECT_THAT(files->at(2).fields, testing::ElementsAre("%12%\\x.sys", "%SystemRoot%"));
  EXPECT_EQ(files->at(3).fields.at(0), "third");
}

TEST(InfFile, ListsWhatBreaksTheFormatsRules) {
  const auto inf = InfFile::parse(
      "orphan = 1\n"
      "[Version\n"
      "[Good] trailing\n"
      "key = \"not closed\n"
      "name = %missing%, 50%\n"
      "[" + std::string(256, 's') + "]\n"
      "long = " + std::string(4096, 'x') + "\n"
      "last = \\\n");
  EXPECT_THAT(inf.problems(),
              testing::ElementsAre("line 4: a quoted string is not closed",
                                   "line 7: longer than 4096 characters",
                                   "line 8: continued past the end of the file",
                                   "line 1: an entry before the first section",
                                   "line 2: a section name without its closing \"]\"",
                                   "line 3: text after the section name [Good]",
                                   "line 6: section name longer than 255 characters",
                                   "line 5: %missing% is not defined in [Strings]",
                                   "line 5: a \"%\" without its closing \"%\""));
}

TEST(SetupMedia, InstallFilesReadWithoutProblemsAndNameOnlyWhatExists) {
  for (const char *name : kInstallFiles) {
    SCOPED_TRACE(name);
    const auto inf = install_file(name);
    EXPECT_THAT(inf.problems(), testing::IsEmpty());
    EXPECT_EQ(inf.value("Version", "Signature"), "$Windows NT$");
    EXPECT_EQ(inf.value("Version", "Class"), "Display");
    ASSERT_NE(inf.section("Manufacturer"), nullptr);

    std::set<std::string> on_disk;
    for (const auto &e : *inf.section("SourceDisksFiles")) {
      on_disk.insert(e.key);
      EXPECT_NE(inf.section("SourceDisksNames"), nullptr);
      EXPECT_FALSE(inf.entries("SourceDisksNames", e.fields.at(0)).empty())
          << e.key << " is on disk " << e.fields.at(0) << ", which [SourceDisksNames] does not name";
    }
    const auto sections = install_sections(inf);
    ASSERT_FALSE(sections.empty());
    for (const auto &install : sections) {
      SCOPED_TRACE(install);
      ASSERT_NE(inf.section(install), nullptr);
      for (const char *part : {".SoftwareSettings", ".Services"})
        EXPECT_NE(inf.section(install + part), nullptr) << part;
      // Every file copied comes from the disk and has a destination.
      for (const auto *copy : inf.entries(install, "CopyFiles"))
        for (const auto &list : copy->fields) {
          ASSERT_NE(inf.section(list), nullptr) << list;
          EXPECT_FALSE(inf.entries("DestinationDirs", list).empty()) << list;
          for (const auto &file : *inf.section(list))
            EXPECT_TRUE(on_disk.count(file.fields.at(0))) << file.fields.at(0);
        }
      for (const auto *add_reg : inf.entries(install + ".SoftwareSettings", "AddReg"))
        for (const auto &list : add_reg->fields) EXPECT_NE(inf.section(list), nullptr) << list;
      for (const auto *service : inf.entries(install + ".Services", "AddService")) {
        ASSERT_EQ(service->fields.size(), 4u);
        EXPECT_NE(inf.section(service->fields[2]), nullptr) << service->fields[2];
        for (const auto *add_reg : inf.entries(service->fields[3], "AddReg"))
          EXPECT_NE(inf.section(add_reg->fields.at(0)), nullptr) << add_reg->fields.at(0);
      }
    }
  }
}

TEST(SetupMedia, InstallFilesMakeTorvicAKernelDriverOfTheVideoGroupStartedAtBoot) {
  for (const char *name : kInstallFiles) {
    SCOPED_TRACE(name);
    const auto inf = install_file(name);
    for (const auto &install : install_sections(inf)) {
      const auto services = inf.entries(install + ".Services", "AddService");
      ASSERT_EQ(services.size(), 1u) << install;
      // The service takes the image's name, and is the device's own driver.
      EXPECT_EQ(services[0]->fields.at(0), "torvic");
      EXPECT_EQ(services[0]->fields.at(1), "0x00000002");
      const std::string service = services[0]->fields.at(2);
      EXPECT_EQ(inf.value(service, "ServiceType"), "1");
      EXPECT_EQ(inf.value(service, "StartType"), "1");
      EXPECT_EQ(inf.value(service, "ErrorControl"), "0");
      EXPECT_EQ(inf.value(service, "LoadOrderGroup"), "Video");
      EXPECT_EQ(inf.value(service, "ServiceBinary"), "%12%\\torvic.sys");
    }
  }
}

// The device key's values as an install section writes them: name -> type
// flags and data.
std::map<std::string, std::pair<std::string, std::string>> device_values(const InfFile &inf,
                                                                         const std::string &install) {
  std::map<std::string, std::pair<std::string, std::string>> values;
  for (const auto *add_reg : inf.entries(install + ".SoftwareSettings", "AddReg"))
    for (const auto &list : add_reg->fields)
      for (const auto &e : *inf.section(list)) {
        EXPECT_EQ(e.fields.size(), 5u);
        EXPECT_TRUE(same_name(e.fields.at(0), "HKR"));
        values[e.fields.at(2)] = {e.fields.at(3), e.fields.at(4)};
      }
  return values;
}

TEST(SetupMedia, InstallFilesPairTheMiniportWithFramebufAndTheSameDefaultSettings) {
  const std::string multi_sz = "0x00010000", dword = "0x00010001";
  std::set<std::map<std::string, std::pair<std::string, std::string>>> seen;
  for (const char *name : kInstallFiles) {
    const auto inf = install_file(name);
    for (const auto &install : install_sections(inf)) {
      SCOPED_TRACE(std::string(name) + " " + install);
      auto values = device_values(inf, install);
      EXPECT_EQ(values["InstalledDisplayDrivers"], std::make_pair(multi_sz, std::string("framebuf")));
      EXPECT_EQ(values["VgaCompatible"], std::make_pair(dword, std::string("0")));
      for (const char *setting : {"BitsPerPel", "XResolution", "YResolution", "VRefresh"})
        EXPECT_EQ(values[std::string("DefaultSettings.") + setting].first, dword) << setting;
      seen.insert(values);
    }
  }
  EXPECT_EQ(seen.size(), 1u) << "every option of both files writes the same device values";
}

TEST(SetupMedia, Windows2000FileMatchesEveryVariantTheDriverTakesByItsPciIdentifiers) {
  const auto inf = install_file("torvic.inf");
  EXPECT_EQ(inf.value("Version", "ClassGUID"), "{4d36e968-e325-11ce-bfc1-08002be10318}");
  const auto driver_ver = inf.entries("Version", "DriverVer");
  ASSERT_EQ(driver_ver.size(), 1u);
  EXPECT_EQ(driver_ver[0]->fields.at(1), std::string(TORVIC_VERSION) + ".0");

  const auto vendor = static_cast<uint16_t>(TORVIC_VENDOR_ID), device = static_cast<uint16_t>(TORVIC_DEVICE_ID);
  for (uint32_t code = 0; code <= 12; code++) {
    SCOPED_TRACE(code);
    const auto ids = host::pci_hardware_ids(vendor, device, code << 16 | vendor);
    const auto install = host::install_for(inf, ids);
    ASSERT_EQ(install.problem, "");
    EXPECT_EQ(install.install_section, "Torvic");
    const char *expected = code < 8    ? "Torvic Morvane (Calvorn, IBM RGB526, video RAM)"
                           : code < 10 ? "Torvic Morvane (Calvorn E, IBM RGB526, DRAM)"
                           : code < 12 ? "Torvic Morvane (Calvorn, IBM RGB528, video RAM)"
                                       : "Torvic Morvane";
    EXPECT_EQ(install.description, expected);
    EXPECT_EQ(install.hardware_id, code < 12 ? ids[0] : ids[1]);
  }
  EXPECT_EQ(host::install_for(inf, host::pci_hardware_ids(vendor, device + 1, 0)).problem,
            "no model entry for PCI\\VEN_1F3A&DEV_4B22&SUBSYS_00000000");
  const auto ids = host::pci_hardware_ids(vendor, device, vendor);
  EXPECT_EQ(host::install_for(InfFile::parse("[Version]\n"), ids).problem, "no [Manufacturer] section");
  // A maker whose models section is missing is passed over for the next.
  const auto two_makers = InfFile::parse(
      "[Manufacturer]\nGone = GoneModels\nTorvic = TorvicModels\n"
      "[TorvicModels]\nBoard = Install, " + ids[1] + "\n");
  EXPECT_EQ(host::install_for(two_makers, ids).description, "Board");
}

DisplaySettings settings_from_install_file() {
  const auto inf = install_file("torvic.inf");
  return host::install_for(inf, host::pci_hardware_ids(host::kTorvicVendorId, host::kTorvicDeviceId,
                                                       host::kTorvicVendorId))
      .settings;
}

std::vector<std::string> step_names(const host::FramebufRun &run) {
  std::vector<std::string> names;
  for (const auto &s : run.steps) names.push_back(s.request + (s.status == NO_ERROR ? "" : " " + hex(s.status)));
  return names;
}

TEST(FramebufSession, DefaultSettingsShowTheirModeOnEveryVariantAndMemorySize) {
  const DisplaySettings settings = settings_from_install_file();
  EXPECT_EQ(settings.label(), "1024x768x16@60");
  for (uint16_t variant : {kRgb526, kRgb528, kDram})
    for (uint32_t mib : {2u, 4u, 8u}) {
      SCOPED_TRACE(testing::Message() << "variant " << variant << ", " << mib << " MiB");
      Machine m(machine({board(3, variant, mib * kMiB)}));
      m.boot();
      m.open(0);
      const auto run = host::run_framebuf_session(m, 0, settings, host::Pattern::Grid);
      ASSERT_EQ(run.error, "");
      EXPECT_THAT(step_names(run),
                  testing::ElementsAre("QUERY_NUM_AVAIL_MODES", "QUERY_AVAIL_MODES", "SET_CURRENT_MODE",
                                       "MAP_VIDEO_MEMORY", "UNMAP_VIDEO_MEMORY", "RESET_DEVICE"));
      EXPECT_EQ(run.shown.state, host::DisplayState::Graphics);
      EXPECT_EQ(run.shown.width, 1024u);
      EXPECT_EQ(run.shown.height, 768u);
      EXPECT_EQ(run.shown.bits_per_pixel, 16u);
      EXPECT_NEAR(run.shown.refresh_hz, 60, 0.5);
      EXPECT_TRUE(run.picture.rgb == host::expected_picture(host::Pattern::Grid, *run.mode));
      EXPECT_EQ(run.after_reset.state, host::DisplayState::VgaText);
      EXPECT_THAT(m.client_mappings(), testing::IsEmpty());
    }
}

TEST(FramebufSession, At8BitsLoadsTheSystemPaletteThenThePicturesOwn) {
  Machine m(machine({board(3)}));
  m.boot();
  m.open(0);
  const auto run = host::run_framebuf_session(m, 0, {8, 800, 600, 1}, host::Pattern::Bars);
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.mode->Frequency, 60u) << "a refresh of 1 takes the board's first rate";
  EXPECT_THAT(step_names(run),
              testing::ElementsAre("QUERY_NUM_AVAIL_MODES", "QUERY_AVAIL_MODES", "SET_CURRENT_MODE",
                                   "MAP_VIDEO_MEMORY", "SET_COLOR_REGISTERS", "SET_COLOR_REGISTERS",
                                   "UNMAP_VIDEO_MEMORY", "RESET_DEVICE"));
  EXPECT_TRUE(run.picture.rgb == host::expected_picture(host::Pattern::Bars, *run.mode));
  const auto palette = host::system_default_palette();
  EXPECT_EQ(palette[9].Red, 166);
  EXPECT_EQ(palette[246].Blue, 240);
  EXPECT_EQ(palette[245].Red, 240) << "the grey ramp ends just below the static colours";
}

TEST(FramebufSession, SettingsNoModeMatchesLeaveTheBoardAloneAndSaySo) {
  Machine m(machine({board(3, kRgb526, 2 * kMiB)}));
  m.boot();
  m.open(0);
  const auto run = host::run_framebuf_session(m, 0, {32, 1280, 1024, 60}, host::Pattern::Bars);
  EXPECT_EQ(run.error,
            "no mode the driver offers matches DefaultSettings 1280x1024x32@60; NT would start the VGA "
            "driver instead");
  EXPECT_THAT(step_names(run), testing::ElementsAre("QUERY_NUM_AVAIL_MODES", "QUERY_AVAIL_MODES"));
  EXPECT_EQ(host::decode_monitor(m.adapter_board(0)).state, host::DisplayState::VgaText);
}

// The display driver's session on a one-board machine whose first call of
// the service fails.
host::FramebufRun session_with_fault(const std::string &service, VP_STATUS status) {
  MachineConfig c = machine({board(3)});
  c.faults.push_back({service, 1, status});
  Machine m(c);
  m.boot();
  m.open(0);
  return host::run_framebuf_session(m, 0, settings_from_install_file(), host::Pattern::Bars);
}

TEST(FramebufSession, AFailedMappingStopsTheEnableWithTheDriversStatus) {
  const auto run = session_with_fault("VideoPortMapMemory", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(run.error, "the driver did not map video memory");
  EXPECT_THAT(step_names(run), testing::ElementsAre("QUERY_NUM_AVAIL_MODES", "QUERY_AVAIL_MODES",
                                                    "SET_CURRENT_MODE", "MAP_VIDEO_MEMORY 0x8"));
}

TEST(FramebufSession, AFailedUnmapIsReportedAndTheBoardStillGoesBackToText) {
  const auto run = session_with_fault("VideoPortUnmapMemory", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(run.error, "the driver did not unmap video memory");
  EXPECT_EQ(step_names(run).back(), "RESET_DEVICE");
  EXPECT_EQ(run.after_reset.state, host::DisplayState::VgaText);
}

#ifdef TORVIC_NT_SETUP_IMAGE
// What an mtools command prints.
std::string run_mtools(const std::string &command) {
  std::string out;
  FILE *p = popen(("MTOOLS_SKIP_CHECK=1 " + command + " 2>&1").c_str(), "r");
  if (!p) return "cannot run " + command;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

// A file's name as it stands on the floppy: upper-case 8.3.
std::string dos_name(std::string name) {
  for (char &c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string with_crlf(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(SetupMedia, FloppyHoldsTheDriverBothInstallFilesAndEveryFileTheyCopy) {
  const std::string image = TORVIC_NT_SETUP_IMAGE;
  EXPECT_EQ(read_text(image).size(), 1474560u) << "a 1.44 MB floppy";
  std::set<std::string> names;
  std::istringstream listing(run_mtools("mdir -b -i " + image + " ::"));
  for (std::string line; std::getline(listing, line);)
    names.insert(line.substr(line.find_last_of('/') + 1));
  EXPECT_THAT(names, testing::ElementsAre("OEMSETUP.INF", "README.TXT", "TORVIC.INF", "TORVIC.SYS"));
  for (const char *name : kInstallFiles)
    for (const auto &file : *install_file(name).section("SourceDisksFiles"))
      EXPECT_TRUE(names.count(dos_name(file.key))) << name << " copies " << file.key;
  EXPECT_TRUE(run_mtools("mcopy -n -i " + image + " ::TORVIC.SYS -") ==
              read_text(std::string(TORVIC_NT_BUILD_DIR) + "/bin/torvic.sys"))
      << "the floppy's driver is the image that was built and checked";
  for (const char *name : kInstallFiles) {
    EXPECT_EQ(run_mtools("mtype -i " + image + " ::" + dos_name(name)),
              with_crlf(read_text(std::string(TORVIC_SOURCE_DIR) + "/nt/" + name)))
        << name << " goes on the floppy with DOS line ends";
  }
  EXPECT_THAT(run_mtools("mtype -i " + image + " ::README.TXT"), testing::HasSubstr("Have Disk"));
}
#endif

}  // namespace
}  // namespace torvic::test
