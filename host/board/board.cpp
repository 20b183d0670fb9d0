// SPDX-License-Identifier: MIT
// The board model (board.h): its registers and the accesses each answers,
// configuration space, the DAC and video memory.
#include "host/board/board.h"

#include <map>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "host/common/guarded_memory.h"
#include "host/common/text.h"

namespace torvic::host {

namespace {

struct RegisterInfo {
  Block block;
  uint32_t offset;
  const char *name;
  bool write8, read32, write32;
};

// Every register the board decodes and the accesses it answers. The DAC
// ports are byte-wide and write-only. The registers named by their offset
// (CRTC_REG_20, MW0_REG_200C, ...) are ones the driver only ever writes 0 to,
// whose role is not known; the model keeps what is written.
constexpr RegisterInfo kRegisters[] = {
    {Block::Registers, 0x00, "DAC_WR_INDEX", true, false, false},
    {Block::Registers, 0x04, "DAC_DATA", true, false, false},
    {Block::Registers, 0x08, "DAC_PIXEL_MASK", true, false, false},
    {Block::Registers, 0x10, "DAC_INDEX_LOW", true, false, false},
    {Block::Registers, 0x14, "DAC_INDEX_HIGH", true, false, false},
    {Block::Registers, 0x18, "DAC_INDEX_DATA", true, false, false},
    {Block::Registers, 0x1C, "DAC_INDEX_CONTROL", true, false, false},
    {Block::Registers, 0x20, "CRTC_REG_20", false, true, true},
    {Block::Registers, 0x24, "CRTC_REG_24", false, true, true},
    {Block::Registers, 0x28, "CRTC_START_ADDR", false, true, true},
    {Block::Registers, 0x2C, "CRTC_PITCH", false, true, true},
    {Block::Registers, 0x30, "CRTC_HACTIVE", false, true, true},
    {Block::Registers, 0x34, "CRTC_HBLANK", false, true, true},
    {Block::Registers, 0x38, "CRTC_HFRONT_PORCH", false, true, true},
    {Block::Registers, 0x3C, "CRTC_HSYNC", false, true, true},
    {Block::Registers, 0x40, "CRTC_VACTIVE", false, true, true},
    {Block::Registers, 0x44, "CRTC_VBLANK", false, true, true},
    {Block::Registers, 0x48, "CRTC_VFRONT_PORCH", false, true, true},
    {Block::Registers, 0x4C, "CRTC_VSYNC", false, true, true},
    {Block::Registers, 0x50, "CRTC_REG_50", false, true, true},
    {Block::Registers, 0x54, "CRTC_REG_54", false, true, true},
    {Block::Registers, 0x58, "CRTC_SYNC_CONTROL", false, true, true},
    {Block::Registers, 0x5C, "CRTC_CONTROL", false, true, true},
    {Block::Registers, 0x2000, "MW0_CTRL", false, false, true},
    {Block::Registers, 0x2008, "MW0_SIZE", false, false, true},
    {Block::Registers, 0x200C, "MW0_REG_200C", false, false, true},
    {Block::Registers, 0x2010, "MW0_REG_2010", false, false, true},
    {Block::Registers, 0x2024, "MW0_MASK", false, false, true},
    {Block::Registers, 0x4008, "ENGINE_BUSY", false, true, false},
    {Block::Registers, 0x400C, "ENGINE_QUEUE", false, true, false},
    {Block::Registers, 0x4010, "XYA_CTRL", false, true, true},
    {Block::Registers, 0x6010, "XYB_CTRL", false, true, true},
    {Block::Io, 0x18, "CONFIG1", false, true, false},
    {Block::Io, 0x1C, "CONFIG2", false, true, true},
    {Block::Io, 0x20, "CONFIG3", false, true, true},
    {Block::Io, 0x30, "VGA_CTRL", false, true, true},
    {Block::Config, 0x00, "ID", false, true, false},
    {Block::Config, 0x04, "COMMAND", false, true, true},
    {Block::Config, 0x08, "CLASS", false, true, false},
    {Block::Config, 0x10, "BAR0", false, true, true},
    {Block::Config, 0x14, "BAR1", false, true, true},
    {Block::Config, 0x18, "BAR2", false, true, true},
    {Block::Config, 0x1C, "BAR3", false, true, true},
    {Block::Config, 0x20, "BAR4", false, true, true},
    {Block::Config, 0x24, "BAR5", false, true, true},
    {Block::Config, 0x2C, "SUBSYSTEM", false, true, false},
    {Block::Config, 0x30, "ROM", false, true, true},
};

const RegisterInfo *find_register(Block block, uint32_t offset) {
  for (const auto &r : kRegisters)
    if (r.block == block && r.offset == offset) return &r;
  return nullptr;
}

constexpr uint32_t kStrap4MiB = 0x0400;
constexpr uint32_t kStrapDouble = 0x8000;
constexpr uint32_t kEngineBusyBits = 0x3;
constexpr uint32_t kEngineQueuedWork = 4;
constexpr uint32_t kPciStatus = 0x0200;           // medium DEVSEL timing
constexpr uint32_t kPciClassDisplay = 0x03000001;  // VGA-compatible display, revision 1

uint32_t straps_for(uint32_t memory_size) {
  if (memory_size >= 8 * kMiB) return kStrap4MiB | kStrapDouble;
  if (memory_size >= 4 * kMiB) return kStrap4MiB;
  return 0;
}

}  // namespace

const char *block_name(Block block) {
  switch (block) {
    case Block::Config: return "cfg";
    case Block::Registers: return "reg";
    case Block::Io: return "io";
    case Block::FrameBuffer: return "fb";
  }
  return "?";
}

std::string dac_register_name(uint32_t index) {
  // The RGB526 and RGB528 share these indexed registers.
  static const std::map<uint32_t, const char *> names = {
      {0x00, "DAC_REVISION"},       {0x01, "DAC_ID"},
      {0x02, "DAC_MISC_CLOCK"},     {0x03, "DAC_SYNC"},
      {0x04, "DAC_HSYNC_POS"},      {0x05, "DAC_POWER"},
      {0x06, "DAC_OPERATION"},      {0x07, "DAC_PALETTE_CONTROL"},
      {0x08, "DAC_SYSCLK_CONTROL"}, {0x0A, "DAC_PIXEL_FORMAT"},
      {0x0B, "DAC_8BPP_CONTROL"},   {0x0C, "DAC_16BPP_CONTROL"},
      {0x0D, "DAC_24BPP_CONTROL"},  {0x0E, "DAC_32BPP_CONTROL"},
      {0x10, "DAC_PLL_CONTROL1"},   {0x11, "DAC_PLL_CONTROL2"},
      {0x15, "DAC_MCLK_REF_DIV"},   {0x16, "DAC_MCLK_VCO_DIV"},
      {0x20, "DAC_PCLK_VCO_DIV"},   {0x21, "DAC_PCLK_REF_DIV"},
      {0x30, "DAC_CURSOR_CONTROL"}, {0x70, "DAC_MISC1"},
      {0x71, "DAC_MISC2"},          {0x72, "DAC_MISC3"},
      {0x73, "DAC_MISC4"}};
  const auto it = names.find(index & 0xFFFF);
  return it != names.end() ? it->second : "DAC[" + hex(index & 0xFFFF) + "]";
}

int range_register_at(uint32_t offset) {
  if (offset >= 0x10 && offset <= 0x24 && offset % 4 == 0) return int(offset - 0x10) / 4;
  return offset == 0x30 ? kRomBar : -1;
}

std::string register_name(Block block, uint32_t offset) {
  const RegisterInfo *r = find_register(block, offset);
  return r ? r->name : "";
}

BoardConfig default_board(uint32_t slot, uint16_t variant_code, uint32_t memory_size,
                          uint32_t index) {
  BoardConfig c;
  c.slot = slot;
  c.variant_code = variant_code;
  c.memory_size = memory_size;
  // Eight boards fit in 128 MiB steps from 3 GiB; further ones go in 96 MiB
  // steps from 512 MiB (above system RAM), so that 32 boards never overlap
  // nor wrap past 4 GiB.
  const uint32_t base = index < 8 ? 0xC0000000u + index * 0x08000000u
                                  : 0x20000000u + (index - 8) * 0x06000000u;
  c.bars[0] = {true, false, true, 32 * kMiB, base, false};
  c.bars[1] = {true, false, false, 32 * kMiB, base + 0x02000000u, false};
  c.bars[2] = {true, false, false, 0x10000, base + 0x04000000u, false};
  c.bars[3] = {true, false, false, 0x10000, base + 0x04010000u, false};
  c.bars[4] = {true, false, false, 0x10000, base + 0x04020000u, false};
  c.bars[5] = {true, true, false, 0x100, 0xD000u + index * 0x100u, false};
  c.bars[6] = {true, false, false, 0x10000, base + 0x04030000u, false};
  return c;
}

Board::Board(const BoardConfig &config) : config_(config), command_(config.command_power_on) {
  for (int i = 0; i < kNumBars; i++) {
    const BarConfig &b = config_.bars[i];
    if (!b.implemented) continue;
    if (b.size == 0 || (b.size & (b.size - 1)) != 0)
      throw std::invalid_argument("BAR" + std::to_string(i) + " size must be a power of two");
    config_write(i == kRomBar ? 0x30u : 0x10u + 4u * i, b.power_on_address | (b.rom_enabled ? 1u : 0u));
  }
  power_on_bars_ = bars_;
  reset_registers();

  // Video memory lives in a memory file so that display clients can map
  // views of it that alias the board's own storage. Its size is a whole
  // number of pages, so that the views that repeat it past its end (on a
  // board strapped for more) start on page boundaries.
  if (config_.memory_size == 0 || config_.memory_size % page_size() != 0)
    throw std::invalid_argument("video memory of " + std::to_string(config_.memory_size) +
                                " bytes is not a whole number of pages");
  vram_fd_ = memfd_create("torvic-vram", MFD_CLOEXEC);
  if (vram_fd_ < 0 || ftruncate(vram_fd_, config_.memory_size) != 0)
    throw std::runtime_error("cannot create video memory");
  void *p = mmap(nullptr, config_.memory_size, PROT_READ | PROT_WRITE, MAP_SHARED, vram_fd_, 0);
  if (p == MAP_FAILED) throw std::runtime_error("cannot map video memory");
  vram_ = static_cast<uint8_t *>(p);
}

void Board::reset() {
  command_ = config_.command_power_on;
  bars_ = power_on_bars_;
  reset_registers();
}

void Board::reset_registers() {
  regs_ = {};
  io_ = {};
  dac_regs_ = {};
  palette_ = {};
  palette_index_ = palette_component_ = 0;
  pixel_mask_ = 0xFF;
  dac_index_ = 0;
  dac_index_control_ = 0;
  engine_polls_ = 0;
  text_mode_ = true;
  fault_.clear();
  io_[0x18 / 4] = config_.config1.value_or(straps_for(config_.memory_size));
  io_[0x1C / 4] = config_.config2_power_on;
  io_[0x20 / 4] = config_.config3_power_on;
  io_[0x30 / 4] = config_.vga_ctrl_power_on;
  regs_[0x4010 / 4] = config_.xya_ctrl_power_on;
  regs_[0x6010 / 4] = config_.xyb_ctrl_power_on;
  engine_busy_left_ = config_.engine.busy_reads;
  last_operation_left_ = config_.engine.last_operation_reads;
}

Board::~Board() {
  if (vram_) munmap(vram_, config_.memory_size);
  if (vram_fd_ >= 0) close(vram_fd_);
}

uint32_t Board::config_read(uint32_t offset) const {
  switch (offset) {
    case 0x00: return (uint32_t(config_.device_id) << 16) | config_.vendor_id;
    case 0x04: return (kPciStatus << 16) | command_;
    case 0x08: return kPciClassDisplay;
    case 0x2C: return (uint32_t(config_.variant_code) << 16) | config_.subsystem_vendor_id;
    case 0x30: return bars_[kRomBar];
    default:
      if (offset >= 0x10 && offset <= 0x24 && offset % 4 == 0) return bars_[(offset - 0x10) / 4];
      return 0;
  }
}

void Board::config_write(uint32_t offset, uint32_t value) {
  if (offset == 0x04) {
    command_ = static_cast<uint16_t>(value);
    return;
  }
  const int bar = range_register_at(offset);
  if (bar < 0) return;
  const BarConfig &b = config_.bars[bar];
  if (!b.implemented) return;  // reads 0, however it is written
  const uint32_t size_mask = ~(b.size - 1);
  if (bar == kRomBar)
    bars_[bar] = (value & size_mask & 0xFFFFF800u) | (value & 1);
  else if (b.io)
    bars_[bar] = (value & size_mask & 0xFFFFFFFCu) | 1;
  else
    bars_[bar] = (value & size_mask & 0xFFFFFFF0u) | (b.prefetchable ? 0x8 : 0);
}

std::optional<uint64_t> Board::decoded_base(int bar) const {
  return decoded_base(bar, command_, bars_);
}

std::optional<uint64_t> Board::power_on_decoded_base(int bar) const {
  return decoded_base(bar, config_.command_power_on, power_on_bars_);
}

std::optional<uint64_t> Board::decoded_base(int bar, uint16_t command,
                                            const std::array<uint32_t, kNumBars> &bars) const {
  const BarConfig &b = config_.bars[bar];
  const bool decodes_io = command & 0x1, decodes_memory = command & 0x2;
  if (!b.implemented) return std::nullopt;
  if (bar == kRomBar) {
    if (!decodes_memory || !(bars[bar] & 1)) return std::nullopt;
    return bars[bar] & 0xFFFFF800u;
  }
  if (b.io) {
    if (!decodes_io) return std::nullopt;
    return bars[bar] & 0xFFFFFFFCu;
  }
  if (!decodes_memory) return std::nullopt;
  return bars[bar] & 0xFFFFFFF0u;
}

bool Board::access_allowed(Block block, uint32_t offset, Access access, std::string *why) {
  const RegisterInfo *r = find_register(block, offset);
  if (!r) {
    *why = std::string("the board has no register at ") + block_name(block) + " offset " + hex(offset);
    return false;
  }
  bool ok = false;
  switch (access) {
    case Access::Write8: ok = r->write8; break;
    case Access::Read32: ok = r->read32; break;
    case Access::Write32: ok = r->write32; break;
  }
  if (!ok) {
    static const char *const kNames[] = {"an 8-bit write", "a 32-bit read", "a 32-bit write"};
    *why = std::string(r->name) + " does not take " + kNames[int(access)];
  }
  return ok;
}

uint32_t Board::engine_read(uint32_t offset) {
  engine_polls_++;
  const bool busy = engine_busy_left_ != 0;
  if (engine_busy_left_ > 0) engine_busy_left_--;
  if (busy) return offset == 0x400C ? kEngineQueuedWork : kEngineBusyBits;
  if (offset == 0x4008 && last_operation_left_ > 0) {
    last_operation_left_--;
    return config_.engine.last_operation_bits;
  }
  return 0;
}

uint32_t Board::read(Block block, uint32_t offset) {
  if (block == Block::Io) return io_[offset / 4];
  if (offset == 0x4008 || offset == 0x400C) return engine_read(offset);
  return regs_[offset / 4];
}

void Board::write(Block block, uint32_t offset, uint32_t value, int width) {
  if (block == Block::Io) {
    io_[offset / 4] = value;
    return;
  }
  if (width == 32) {
    regs_[offset / 4] = value;
    // The CRT controller takes the display over from the VGA core.
    if (offset == 0x5C && (value & 0x100)) text_mode_ = false;
    return;
  }
  const uint8_t byte = static_cast<uint8_t>(value);
  switch (offset) {
    case 0x00:  // DAC_WR_INDEX: a new index restarts the component count
      palette_index_ = byte;
      palette_component_ = 0;
      break;
    case 0x04:  // DAC_DATA: red, green, blue, then the next entry
      palette_[palette_index_][palette_component_] = byte;
      if (++palette_component_ == 3) {
        palette_component_ = 0;
        palette_index_ = (palette_index_ + 1) & 0xFF;
      }
      break;
    case 0x08: pixel_mask_ = byte; break;
    case 0x10: dac_index_ = (dac_index_ & 0xFF00) | byte; break;
    case 0x14:
      if (byte != 0) fault_ = "DAC_INDEX_HIGH written with a high index other than 0";
      dac_index_ = (uint32_t(byte) << 8) | (dac_index_ & 0xFF);
      break;
    case 0x18:
      dac_regs_[dac_index_ & 0xFF] = byte;
      if (dac_index_control_ & 1) dac_index_ = (dac_index_ + 1) & 0xFFFF;
      break;
    case 0x1C: dac_index_control_ = byte; break;
  }
  regs_[offset / 4] = byte;
}

std::string Board::take_fault() {
  std::string f;
  f.swap(fault_);
  return f;
}

uint32_t Board::reg(uint32_t offset) const { return regs_[(offset & 0xFFFF) / 4]; }
uint32_t Board::io(uint32_t offset) const { return io_[(offset & 0xFF) / 4]; }

void Board::clear_vram(uint64_t offset, uint64_t length) {
  // Past the installed memory the addresses reach it again (it repeats every
  // installed-size bytes), so a clear that runs on wraps round to its start.
  const uint64_t size = config_.memory_size;
  const uint64_t n = std::min(length, size);
  const uint64_t from = offset % size;
  const uint64_t first = std::min(n, size - from);
  // The first clear touches every page: they are made in one go rather than
  // one fault at a time.
  if (!vram_populated_) {
    make_pages_writable(vram_ + from, static_cast<size_t>(first));
    if (n > first) make_pages_writable(vram_, static_cast<size_t>(n - first));
    vram_populated_ = n == size;
  }
  memset(vram_ + from, 0, static_cast<size_t>(first));
  memset(vram_, 0, static_cast<size_t>(n - first));
}

}  // namespace torvic::host
