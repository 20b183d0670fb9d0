// SPDX-License-Identifier: MIT
// The C interface of the board model (board_bridge.h), for the emulator's
// device. Nothing thrown may cross into C: every failure becomes a status
// and a sentence.
#include "emulator/qemu/board_bridge.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/board/board.h"
#include "host/board/monitor.h"

struct TorvicBoard {
  std::unique_ptr<torvic::host::Board> board;
};

namespace {

using torvic::host::Access;
using torvic::host::Block;

void tell(char *why, size_t why_size, const std::string &text) {
  if (why && why_size) (void)snprintf(why, why_size, "%s", text.c_str());
}

Block block_of(TorvicBlock block) { return block == TORVIC_IO ? Block::Io : Block::Registers; }

// The widths the board answers: 32-bit reads and writes, and byte writes to
// the DAC's ports; anything else is named for the refusal.
bool access_of(unsigned width, bool write, Access *access, std::string *why) {
  if (width == 4) {
    *access = write ? Access::Write32 : Access::Read32;
    return true;
  }
  if (width == 1 && write) {
    *access = Access::Write8;
    return true;
  }
  *why = "the board takes no " + std::to_string(width * 8) + "-bit " + (write ? "write" : "read");
  return false;
}

// Whether the board has a register at offset that takes this access; why
// not, when it has none.
bool answered(TorvicBlock block, uint32_t offset, unsigned width, bool write, char *why, size_t why_size) {
  std::string refusal;
  Access access{};
  if (access_of(width, write, &access, &refusal) &&
      torvic::host::Board::access_allowed(block_of(block), offset, access, &refusal))
    return true;
  tell(why, why_size, refusal);
  return false;
}

}  // namespace

extern "C" {

void torvic_board_ranges(TorvicRange ranges[TORVIC_RANGES]) {
  const auto config = torvic::host::default_board(0, 0, 4 * torvic::host::kMiB);
  for (int i = 0; i < TORVIC_RANGES; i++) {
    const auto &bar = config.bars[static_cast<size_t>(i)];
    ranges[i] = {bar.implemented ? bar.size : 0, bar.io, bar.prefetchable};
  }
}

TorvicBoard *torvic_board_new(uint16_t variant_code, uint32_t memory_mib, char *why, size_t why_size) {
  if (memory_mib != 2 && memory_mib != 4 && memory_mib != 8) {
    tell(why, why_size, "the board carries 2, 4 or 8 MiB of video memory, not " + std::to_string(memory_mib));
    return nullptr;
  }
  try {
    auto board = std::make_unique<TorvicBoard>();
    board->board = std::make_unique<torvic::host::Board>(
        torvic::host::default_board(0, variant_code, memory_mib * torvic::host::kMiB));
    return board.release();
  } catch (const std::exception &e) {
    tell(why, why_size, e.what());
    return nullptr;
  }
}

void torvic_board_free(TorvicBoard *board) { delete board; }

void torvic_board_reset(TorvicBoard *board) { board->board->reset(); }

uint8_t *torvic_board_vram(TorvicBoard *board) { return board->board->vram(); }

uint32_t torvic_board_memory_size(const TorvicBoard *board) { return board->board->memory_size(); }

int torvic_board_read(TorvicBoard *board, TorvicBlock block, uint32_t offset, unsigned width,
                      uint32_t *value, char *why, size_t why_size) {
  *value = 0;
  if (!answered(block, offset, width, false, why, why_size)) return -1;
  *value = board->board->read(block_of(block), offset);
  return 0;
}

int torvic_board_write(TorvicBoard *board, TorvicBlock block, uint32_t offset, unsigned width,
                       uint32_t value, char *why, size_t why_size) {
  if (!answered(block, offset, width, true, why, why_size)) return -1;
  board->board->write(block_of(block), offset, value, static_cast<int>(width * 8));
  const std::string fault = board->board->take_fault();
  if (!fault.empty()) {
    tell(why, why_size, fault);
    return -1;
  }
  return 0;
}

void torvic_board_scanout(const TorvicBoard *board, TorvicScanout *scanout) {
  const auto timing = torvic::host::decode_monitor(*board->board);
  *scanout = {};
  scanout->graphics = timing.state == torvic::host::DisplayState::Graphics;
  scanout->width = timing.width;
  scanout->height = timing.height;
  scanout->bits_per_pixel = timing.bits_per_pixel;
  tell(scanout->description, sizeof scanout->description, timing.describe());
}

void torvic_board_render(const TorvicBoard *board, uint32_t *pixels, size_t stride) {
  const auto timing = torvic::host::decode_monitor(*board->board);
  std::vector<uint8_t> row;
  try {
    row.resize(size_t(timing.width) * 3);
  } catch (const std::bad_alloc &) {
    return;  // the picture stays as it was
  }
  for (uint32_t y = 0; y < timing.height; y++) {
    torvic::host::render_row(*board->board, timing, y, row.data());
    auto *out = reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(pixels) + y * stride);
    for (size_t x = 0; x < timing.width; x++)
      out[x] = uint32_t(row[x * 3]) << 16 | uint32_t(row[x * 3 + 1]) << 8 | row[x * 3 + 2];
  }
}

}  // extern "C"
