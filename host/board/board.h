// SPDX-License-Identifier: MIT
// The board model: PCI configuration space, the register block, the I/O
// block, the DAC and video memory of one board of the family.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torvic::host {

constexpr uint16_t kTorvicVendorId = 0x1F3A;
constexpr uint16_t kTorvicDeviceId = 0x4B21;
constexpr int kNumBars = 7;  // BAR0-BAR5 and the expansion ROM
constexpr int kRomBar = 6;
constexpr int kFrameBufferBar = 0;
constexpr int kRegisterBar = 4;
constexpr int kIoBar = 5;
constexpr uint32_t kMiB = 0x100000;

struct BarConfig {
  bool implemented = true;
  bool io = false;
  bool prefetchable = false;
  uint32_t size = 0;              // power of two
  uint32_t power_on_address = 0;  // address bits as the firmware left them
  bool rom_enabled = false;       // expansion ROM only: bit 0
};

// How the drawing engine answers the driver's idle polls.
struct EngineConfig {
  int64_t busy_reads = 0;  // reads that still report busy; -1: never idle
  // Once the queue reads empty, reads of ENGINE_BUSY that still show the last
  // operation running, and which of the two busy bits they show.
  int64_t last_operation_reads = 0;
  uint32_t last_operation_bits = 0x3;
};

struct BoardConfig {
  uint32_t slot = 0;
  uint16_t vendor_id = kTorvicVendorId;
  uint16_t device_id = kTorvicDeviceId;
  uint16_t subsystem_vendor_id = kTorvicVendorId;
  uint16_t variant_code = 0;     // high half of configuration dword 0x2C
  uint32_t memory_size = 4 * kMiB;  // 2, 4 or 8 MiB, reported by the CONFIG1 straps
  uint16_t command_power_on = 0;
  std::array<BarConfig, kNumBars> bars{};
  // CONFIG1 as the board reads it; by default the straps of memory_size.
  std::optional<uint32_t> config1;
  uint32_t config2_power_on = 0x0000000C;
  uint32_t config3_power_on = 0x00000003;
  uint32_t vga_ctrl_power_on = 0x0000000D;  // VGA bits set: the VGA core drives the display
  uint32_t xya_ctrl_power_on = 0;
  uint32_t xyb_ctrl_power_on = 0;
  EngineConfig engine{};
};

// A board of the family at its default layout. index spreads the power-on
// addresses of several boards apart.
BoardConfig default_board(uint32_t slot, uint16_t variant_code, uint32_t memory_size,
                          uint32_t index = 0);

// Which block of the board an access reached.
enum class Block { Config, Registers, Io, FrameBuffer };
const char *block_name(Block block);

// The name of a register of a block, or empty.
std::string register_name(Block block, uint32_t offset);

// The range register at a configuration offset (BAR0-BAR5, then the
// expansion ROM as kRomBar), or -1 for any other offset.
int range_register_at(uint32_t offset);

// The DAC's data port for its indexed registers, in the register block.
constexpr uint32_t kDacIndexData = 0x18;
// The name of the DAC's indexed register, or DAC[0xNN] for one without a name.
std::string dac_register_name(uint32_t index);

enum class Access { Write8, Read32, Write32 };

class Board {
 public:
  explicit Board(const BoardConfig &config);
  Board(const Board &) = delete;
  Board &operator=(const Board &) = delete;
  ~Board();

  // A reset of the PCI bus: configuration space and every register go back
  // to their power-on values; video memory keeps what it holds, as its
  // chips do.
  void reset();

  const BoardConfig &config() const { return config_; }
  uint32_t slot() const { return config_.slot; }

  // ---- PCI configuration space ----
  uint32_t config_read(uint32_t offset) const;
  void config_write(uint32_t offset, uint32_t value);
  bool io_decoding() const { return command_ & 0x1; }
  bool memory_decoding() const { return command_ & 0x2; }
  uint16_t command() const { return command_; }
  uint32_t bar_register(int bar) const { return bars_[bar]; }
  // The address a base address register decodes, if the board decodes it now.
  std::optional<uint64_t> decoded_base(int bar) const;
  // What it decoded as the firmware left the board, before any driver.
  std::optional<uint64_t> power_on_decoded_base(int bar) const;

  // ---- Register and I/O blocks ----
  // Whether the block has a register at offset that allows this access (the
  // same on every board of the family); explains why not in *why.
  static bool access_allowed(Block block, uint32_t offset, Access access, std::string *why);
  uint32_t read(Block block, uint32_t offset);  // 32-bit read
  void write(Block block, uint32_t offset, uint32_t value, int width);
  // Set when a write broke a rule of the board (for the verifier).
  std::string take_fault();

  // ---- State, for tests and the monitor ----
  uint32_t reg(uint32_t offset) const;  // last value of a 32-bit register
  uint32_t io(uint32_t offset) const;
  uint8_t dac_index_reg(uint32_t index) const { return dac_regs_[index & 0xFF]; }
  std::array<uint8_t, 3> palette(uint32_t entry) const { return palette_[entry & 0xFF]; }
  uint8_t pixel_mask() const { return pixel_mask_; }
  uint32_t dac_index() const { return dac_index_; }
  uint64_t engine_polls() const { return engine_polls_; }
  bool text_mode() const { return text_mode_; }
  void set_text_mode(bool on) { text_mode_ = on; }

  // ---- Video memory ----
  uint8_t *vram() { return vram_; }
  const uint8_t *vram() const { return vram_; }
  uint32_t memory_size() const { return config_.memory_size; }
  int vram_fd() const { return vram_fd_; }
  // Clears length bytes from offset in the memory space the straps claim:
  // past the installed memory the clear wraps round to its start, as the
  // board's address lines do.
  void clear_vram(uint64_t offset, uint64_t length);

 private:
  uint32_t engine_read(uint32_t offset);
  void reset_registers();

  std::optional<uint64_t> decoded_base(int bar, uint16_t command,
                                       const std::array<uint32_t, kNumBars> &bars) const;

  BoardConfig config_;
  uint16_t command_;
  std::array<uint32_t, kNumBars> bars_{};
  std::array<uint32_t, kNumBars> power_on_bars_{};
  std::array<uint32_t, 0x10000 / 4> regs_{};
  std::array<uint32_t, 0x100 / 4> io_{};
  std::array<uint8_t, 256> dac_regs_{};
  std::array<std::array<uint8_t, 3>, 256> palette_{};
  uint32_t palette_index_ = 0;
  uint32_t palette_component_ = 0;
  uint8_t pixel_mask_ = 0xFF;
  uint32_t dac_index_ = 0;
  uint8_t dac_index_control_ = 0;
  int64_t engine_busy_left_;
  int64_t last_operation_left_;
  uint64_t engine_polls_ = 0;
  bool text_mode_ = true;
  std::string fault_;
  int vram_fd_ = -1;
  uint8_t *vram_ = nullptr;
  bool vram_populated_ = false;  // every page of video memory made
};

}  // namespace torvic::host
