// SPDX-License-Identifier: MIT
// The register and request reference in docs/reference.md, rendered from the
// board model, the driver's own constants and a recorded life of the driver
// on every board variant, so that the page cannot drift from the code.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/board/board.h"
#include "miniport/board_registers.h"
#include "tests/documented_block.h"
#include "tests/test_support.h"
#include "torvic/requests.h"

namespace torvic::test {
namespace {

using host::Block;

// The callbacks and requests in which something happened, in the order they first did.
struct Occasions {
  std::vector<std::string> list;
  void add(const std::string &what) {
    if (std::find(list.begin(), list.end(), what) == list.end()) list.push_back(what);
  }
  std::string text() const {
    if (list.empty()) return "never";
    std::string s;
    for (const auto &w : list) s += (s.empty() ? "" : ", ") + w;
    return s;
  }
};

struct Uses {
  Occasions read, written;
};

// What a display driver does with each board from start to shutdown: every
// depth set, a palette, video memory and the public ranges mapped and
// released, both private requests, and the reset.
Machine &live_through(Machine &m) {
  m.boot();
  for (size_t i = 0; i < m.adapters().size(); i++) {
    m.open(i);
    DisplayClient client(m, i);
    const auto modes = client.modes();
    for (ULONG bpp : {8u, 16u, 32u})
      for (const auto &mode : modes)
        if (mode.BitsPerPlane == bpp) {
          client.set_mode(mode.ModeIndex);
          if (bpp == 8) client.set_palette(0, std::vector<VIDEO_CLUTDATA>(256));
          break;
        }
    const auto memory = client.map_video_memory();
    client.unmap_video_memory(memory.ram);
    const auto ranges = client.query_public_ranges();
    client.free_public_ranges(ranges.bytes);
    client.request(IOCTL_TORVIC_STALL, bytes_of(ULONG{10}));
    client.num_boards();
    client.reset_device();
  }
  m.shut_down();
  return m;
}

// The callback, or for a request the request, each register access of a
// life happened in.
void collect(const host::Trace &trace, std::map<std::pair<Block, uint32_t>, Uses> &registers,
             std::map<uint32_t, Uses> &dac) {
  std::vector<std::string> open;
  for (const auto &e : trace) {
    if (e.is_marker()) {
      if (e.phase == "begin") {
        std::string what = e.service == "HwStartIO" ? e.arg("request") : e.service;
        for (const char *prefix : {"IOCTL_VIDEO_", "IOCTL_"})
          if (what.rfind(prefix, 0) == 0) what = what.substr(std::string(prefix).size());
        open.push_back(what);
      } else if (!open.empty()) {
        open.pop_back();
      }
      continue;
    }
    const std::string when = open.empty() ? "outside a callback" : open.back();
    Block block;
    if (e.block == "cfg") block = Block::Config;
    else if (e.block == "reg") block = Block::Registers;
    else if (e.block == "io") block = Block::Io;
    else continue;
    Uses &uses = registers[{block, e.offset}];
    (e.is_read ? uses.read : uses.written).add(when);
    if (const std::string index = e.arg("dac_index"); !index.empty())
      dac[uint32_t(std::stoul(index, nullptr, 16))].written.add(when);
  }
}

std::string access_text(Block block, uint32_t offset) {
  std::string why, access;
  if (host::Board::access_allowed(block, offset, host::Access::Write8, &why)) access = "8-bit write";
  if (host::Board::access_allowed(block, offset, host::Access::Read32, &why)) access = "32-bit read";
  if (host::Board::access_allowed(block, offset, host::Access::Write32, &why))
    access += access.empty() ? "32-bit write" : ", write";
  return access;
}

// The table between a pair of markers of docs/reference.md is the one rendered now.
void expect_documented(const std::string &what, const std::string &table) {
  const auto documented =
      documented_block("reference.md", "<!-- " + what + ": Reference test -->\n", "<!-- end of " + what + " -->");
  ASSERT_TRUE(documented) << "docs/reference.md lost its " << what << " markers";
  EXPECT_EQ(*documented, table) << "replace the " << what << " table in docs/reference.md with:\n" << table;
}

TEST(Reference, TheRegisterMapIsTheBoardModelsAndTheDriversOwn) {
  MachineConfig config = host::default_machine();
  config.boards.push_back(board(12, kDram, 2 * kMiB, 2));
  Machine m(config);
  std::map<std::pair<Block, uint32_t>, Uses> registers;
  std::map<uint32_t, Uses> dac;
  collect(live_through(m).trace(), registers, dac);

  // Power-on values as the board model holds them before any driver runs.
  const host::Board fresh(config.boards[0]);
  std::string table =
      "| Block | Offset | Register | Access | Power-on (model) | Read in | Written in |\n|---|---|---|---|---|---|---|\n";
  for (Block block : {Block::Config, Block::Registers, Block::Io}) {
    const uint32_t end = block == Block::Config ? 0x40 : block == Block::Io ? 0x100 : 0x10000;
    for (uint32_t offset = 0; offset < end; offset += 4) {
      const std::string name = host::register_name(block, offset);
      if (name.empty()) continue;
      const uint32_t power_on = block == Block::Config ? fresh.config_read(offset)
                                : block == Block::Io   ? fresh.io(offset)
                                                       : fresh.reg(offset);
      const Uses &uses = registers[{block, offset}];
      table += std::string("| ") + host::block_name(block) + " | " + hex(offset) + " | `" + name + "` | " +
               access_text(block, offset) + " | " + hex(power_on) + " | " + uses.read.text() + " | " +
               uses.written.text() + " |\n";
    }
  }
  expect_documented("registers", table);

  std::string dac_table = "| Index | Register | Power-on (model) | Written in |\n|---|---|---|---|\n";
  for (const auto &[index, uses] : dac)
    dac_table += "| " + hex(index) + " | `" + host::dac_register_name(index) + "` | " +
                 hex(fresh.dac_index_reg(index)) + " | " + uses.written.text() + " |\n";
  expect_documented("dac registers", dac_table);
}

// A bit or value of a register, by the driver's own constant.
struct BitRow {
  const char *reg, *constant;
  uint32_t value;
  const char *meaning;
};
#define TORVIC_BIT(reg, constant, meaning) \
  BitRow { #reg, #constant, static_cast<uint32_t>(constant), meaning }

TEST(Reference, TheBitsAreTheDriversConstants) {
  const BitRow rows[] = {
      TORVIC_BIT(COMMAND, PCI_COMMAND_IO_SPACE, "the board decodes its I/O range"),
      TORVIC_BIT(COMMAND, PCI_COMMAND_MEMORY_SPACE, "the board decodes its memory ranges"),
      TORVIC_BIT(CONFIG1, CONFIG1_STRAP_4MB, "memory strap: 4 MiB with either strap, 8 MiB with both, else 2 MiB"),
      TORVIC_BIT(CONFIG1, CONFIG1_STRAP_DOUBLE, "memory strap: the other of the two"),
      TORVIC_BIT(CONFIG2, CONFIG2_RESET_KEEP, "bits the driver keeps when it resets the window enables"),
      TORVIC_BIT(CONFIG2, CONFIG2_RESET_SET, "bits the driver sets at that reset"),
      TORVIC_BIT(CONFIG2, CONFIG2_CRTC_NO_BIT1, "set: a mode set clears bit 1 of CRTC_CONTROL"),
      TORVIC_BIT(CONFIG2, CONFIG2_MW0_ENABLE, "memory window 0 open"),
      TORVIC_BIT(CONFIG2, CONFIG2_XYA_ENABLE, "XY window A open"),
      TORVIC_BIT(CONFIG2, CONFIG2_XYB_ENABLE, "XY window B open"),
      TORVIC_BIT(CONFIG3, CONFIG3_CLEAR, "bits cleared once at initialisation"),
      TORVIC_BIT(CONFIG3, CONFIG3_SET, "bit set once at initialisation"),
      TORVIC_BIT(VGA_CTRL, VGA_CTRL_VGA_BITS, "set: the VGA core drives the display; clear: the CRT controller"),
      TORVIC_BIT(XYA_CTRL, XY_CTRL_SIZE_MASK, "aperture size code (the same in XYB_CTRL)"),
      TORVIC_BIT(CRTC_CONTROL, CRTC_CONTROL_GRAPHICS, "the CRT controller drives the display"),
      TORVIC_BIT(CRTC_CONTROL, CRTC_CONTROL_BIT1, "set at a mode set unless CONFIG2 says otherwise"),
      TORVIC_BIT(CRTC_CONTROL, CRTC_CONTROL_DRAM, "the whole value a mode set writes on the DRAM board"),
      TORVIC_BIT(ENGINE_BUSY, ENGINE_BUSY_BITS, "either set: the drawing engine is busy"),
  };
  std::string table = "| Register | Constant | Value | Meaning |\n|---|---|---|---|\n";
  for (const BitRow &r : rows)
    table += std::string("| `") + r.reg + "` | `" + r.constant + "` | " + hex(r.value) + " | " + r.meaning + " |\n";
  expect_documented("bits", table);
}

// A field of a request's record: where it sits in this build.
struct FieldRow {
  const char *record, *field, *type;
  size_t offset, size;
};
#define TORVIC_FIELD(record, field, type) \
  FieldRow { #record, #field, type, offsetof(record, field), sizeof(record::field) }

TEST(Reference, TheRequestRecordsAreLaidOutAsOnX86) {
  if (sizeof(void *) != 4) GTEST_SKIP() << "the reference gives the x86 layout; the 32-bit build checks it";
  const FieldRow rows[] = {
      TORVIC_FIELD(VIDEO_MODE, RequestedMode, "ULONG"),
      TORVIC_FIELD(VIDEO_NUM_MODES, NumModes, "ULONG"),
      TORVIC_FIELD(VIDEO_NUM_MODES, ModeInformationLength, "ULONG"),
      TORVIC_FIELD(VIDEO_CLUT, NumEntries, "USHORT"),
      TORVIC_FIELD(VIDEO_CLUT, FirstEntry, "USHORT"),
      TORVIC_FIELD(VIDEO_CLUT, LookupTable, "VIDEO_CLUTDATA[NumEntries]: Red, Green, Blue, Unused"),
      TORVIC_FIELD(VIDEO_MEMORY, RequestedVirtualAddress, "PVOID"),
      TORVIC_FIELD(VIDEO_MEMORY_INFORMATION, VideoRamBase, "PVOID"),
      TORVIC_FIELD(VIDEO_MEMORY_INFORMATION, VideoRamLength, "ULONG"),
      TORVIC_FIELD(VIDEO_MEMORY_INFORMATION, FrameBufferBase, "PVOID"),
      TORVIC_FIELD(VIDEO_MEMORY_INFORMATION, FrameBufferLength, "ULONG"),
      TORVIC_FIELD(VIDEO_PUBLIC_ACCESS_RANGES, InIoSpace, "ULONG"),
      TORVIC_FIELD(VIDEO_PUBLIC_ACCESS_RANGES, MappedInIoSpace, "ULONG"),
      TORVIC_FIELD(VIDEO_PUBLIC_ACCESS_RANGES, VirtualAddress, "PVOID"),
      TORVIC_FIELD(VIDEO_SHARE_MEMORY, ProcessHandle, "HANDLE"),
      TORVIC_FIELD(VIDEO_SHARE_MEMORY, ViewOffset, "ULONG"),
      TORVIC_FIELD(VIDEO_SHARE_MEMORY, ViewSize, "ULONG"),
      TORVIC_FIELD(VIDEO_SHARE_MEMORY, RequestedVirtualAddress, "PVOID"),
      TORVIC_FIELD(VIDEO_SHARE_MEMORY_INFORMATION, SharedViewOffset, "ULONG"),
      TORVIC_FIELD(VIDEO_SHARE_MEMORY_INFORMATION, SharedViewSize, "ULONG"),
      TORVIC_FIELD(VIDEO_SHARE_MEMORY_INFORMATION, VirtualAddress, "PVOID"),
  };
  std::string table = "| Record | Offset | Size | Field | Type |\n|---|---|---|---|---|\n";
  for (const FieldRow &r : rows)
    table += std::string("| `") + r.record + "` | " + std::to_string(r.offset) + " | " + std::to_string(r.size) +
             " | `" + r.field + "` | " + r.type + " |\n";
  expect_documented("records", table);
}

}  // namespace
}  // namespace torvic::test
