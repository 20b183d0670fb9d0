// SPDX-License-Identifier: MIT
// The display modes the driver offers: one timing record per resolution and
// refresh rate, and the two mode tables built from them, one for the
// video-RAM boards and one for the DRAM board.
//
// Every table entry is worked out by the compiler, so the tables go into the
// image as initialised data and nothing runs at load.
#include "modes/modes.h"

namespace {

// CRTC_SYNC_CONTROL: bit 0 makes the horizontal sync active high, bit 1 the
// vertical sync.
constexpr ULONG CRTC_SYNC_BASE = 0x70;
constexpr ULONG CRTC_SYNC_HSYNC_HIGH = 0x1;
constexpr ULONG CRTC_SYNC_VSYNC_HIGH = 0x2;
constexpr ULONG SYNC_NEG = CRTC_SYNC_BASE;  // both syncs active low
constexpr ULONG SYNC_POS = CRTC_SYNC_BASE | CRTC_SYNC_HSYNC_HIGH | CRTC_SYNC_VSYNC_HIGH;

// CRTC_CONTROL as a timing hands it over; the mode set decides bit 1. The
// 1024-pixel-wide timings run with bit 24 clear.
constexpr ULONG CTL = 0x01040101;
constexpr ULONG CTL_1024 = 0x00040101;

// Both DACs take the same pixel-clock dividers: reference divider in the high
// byte of the pair, VCO divider in the low byte.
consteval CRTC_TIMING crtc_timing(ULONG sync_control, ULONG crt_control, ULONG pll,
                                  USHORT h_active, USHORT h_blank, USHORT h_front_porch,
                                  USHORT h_sync, USHORT v_active, USHORT v_blank,
                                  USHORT v_front_porch, USHORT v_sync) {
  return {sync_control, crt_control, pll,     pll,
          h_active,     h_blank,     h_front_porch, h_sync,
          v_active,     v_blank,     v_front_porch, v_sync};
}

}  // namespace

// Horizontal values count units of width / h_active pixels (8 at 640, 1280,
// 1600 and 1920 pixels, 4 at 800, 1024 and 1152); vertical values count lines.
//
// clang-format off
//                                                sync      control    PLL    horizontal:             vertical:
//                                                                            active blank front sync  active blank front sync
constexpr CRTC_TIMING mode_640_60  = crtc_timing(SYNC_NEG, CTL,      0x0A0F,  80,  20,  2, 12,   480, 45, 10, 2);
constexpr CRTC_TIMING mode_640_72  = crtc_timing(SYNC_NEG, CTL,      0x0A23,  80,  24,  3,  5,   480, 40,  9, 3);
constexpr CRTC_TIMING mode_640_75  = crtc_timing(SYNC_NEG, CTL,      0x0A23,  80,  25,  2,  8,   480, 20,  1, 3);
constexpr CRTC_TIMING mode_640_85  = crtc_timing(SYNC_NEG, CTL,      0x0926,  80,  24,  7,  7,   480, 29,  1, 3);
constexpr CRTC_TIMING mode_800_60  = crtc_timing(SYNC_POS, CTL,      0x0718, 200,  64, 10, 32,   600, 28,  1, 4);
constexpr CRTC_TIMING mode_800_72  = crtc_timing(SYNC_POS, CTL,      0x083E, 200,  60, 14, 30,   600, 66, 37, 6);
constexpr CRTC_TIMING mode_800_75  = crtc_timing(SYNC_POS, CTL,      0x072D, 200,  64,  4, 20,   600, 25,  1, 3);
constexpr CRTC_TIMING mode_800_85  = crtc_timing(SYNC_POS, CTL,      0x0C6A, 200,  62,  8, 16,   600, 31,  1, 3);
constexpr CRTC_TIMING mode_1024_60 = crtc_timing(SYNC_NEG, CTL_1024, 0x0C7B, 256,  80,  6, 34,   768, 38,  3, 6);
constexpr CRTC_TIMING mode_1024_70 = crtc_timing(SYNC_NEG, CTL_1024, 0x0A76, 256,  76,  6, 34,   768, 38,  3, 6);
constexpr CRTC_TIMING mode_1024_75 = crtc_timing(SYNC_POS, CTL_1024, 0x0A7C, 256,  72,  4, 24,   768, 32,  1, 3);
constexpr CRTC_TIMING mode_1024_85 = crtc_timing(SYNC_POS, CTL_1024, 0x0A8A, 256,  88, 12, 24,   768, 40,  1, 3);
constexpr CRTC_TIMING mode_1152_60 = crtc_timing(SYNC_POS, CTL,      0x0758, 288,  82,  8, 20,   864, 36,  1, 3);
constexpr CRTC_TIMING mode_1152_70 = crtc_timing(SYNC_POS, CTL,      0x0659, 288,  80,  8, 24,   864, 50,  1, 3);
constexpr CRTC_TIMING mode_1152_75 = crtc_timing(SYNC_POS, CTL,      0x18E6, 288, 112, 16, 32,   864, 36,  1, 3);
constexpr CRTC_TIMING mode_1152_85 = crtc_timing(SYNC_POS, CTL,      0x15E4, 288, 104, 16, 32,   864, 47,  1, 3);
constexpr CRTC_TIMING mode_1280_60 = crtc_timing(SYNC_POS, CTL,      0x18E6, 160,  52,  8, 16,  1024, 42,  1, 3);
constexpr CRTC_TIMING mode_1280_75 = crtc_timing(SYNC_POS, CTL,      0x16F5, 160,  51,  2, 18,  1024, 42,  1, 3);
constexpr CRTC_TIMING mode_1280_85 = crtc_timing(SYNC_POS, CTL,      0x13F6, 160,  56,  6, 20,  1024, 48,  1, 3);
constexpr CRTC_TIMING mode_1600_60 = crtc_timing(SYNC_POS, CTL,      0x11EA, 200,  64,  8, 24,  1200, 50,  1, 3);
constexpr CRTC_TIMING mode_1600_70 = crtc_timing(SYNC_POS, CTL,      0x0ACA, 200,  70,  8, 24,  1200, 50,  1, 3);
constexpr CRTC_TIMING mode_1600_75 = crtc_timing(SYNC_POS, CTL,      0x0FF8, 200,  64,  8, 24,  1200, 50,  1, 3);
constexpr CRTC_TIMING mode_1600_80 = crtc_timing(SYNC_POS, CTL,      0x0CE6, 200,  70,  8, 24,  1200, 50,  1, 3);
constexpr CRTC_TIMING mode_1600_83 = crtc_timing(SYNC_POS, CTL,      0x0BDF, 200,  64,  8, 24,  1200, 50,  1, 3);
constexpr CRTC_TIMING mode_1600_76 = crtc_timing(SYNC_NEG, CTL,      0x0DD7, 200,  62,  4, 20,  1024, 46,  3, 3);  // 1600 x 1024
constexpr CRTC_TIMING mode_1920_60 = crtc_timing(SYNC_NEG, CTL,      0x0ABE, 240,  56,  4, 18,  1080, 45,  3, 3);
constexpr CRTC_TIMING mode_1920_72 = crtc_timing(SYNC_NEG, CTL,      0x09CD, 240,  80,  6, 27,  1080, 92,  3, 3);
// clang-format on

namespace {

// The pixel formats, and what a mode entry reports for each.
struct PixelFormat {
  ULONG bits_per_pixel;
  ULONG red_bits, green_bits, blue_bits;
  ULONG red_mask, green_mask, blue_mask;
  ULONG attributes;
};

// clang-format off
//                                bits  red green blue  red mask    green mask  blue mask
constexpr PixelFormat PIXELS_8  = { 8,   8,  8,    8,    0,          0,          0,
                                   VIDEO_MODE_COLOR | VIDEO_MODE_GRAPHICS |
                                       VIDEO_MODE_PALETTE_DRIVEN | VIDEO_MODE_MANAGED_PALETTE};
constexpr PixelFormat PIXELS_16 = {16,   5,  6,    5,    0xF800,     0x07E0,     0x001F,
                                   VIDEO_MODE_COLOR | VIDEO_MODE_GRAPHICS};
constexpr PixelFormat PIXELS_32 = {32,   8,  8,    8,    0x00FF0000, 0x0000FF00, 0x000000FF,
                                   VIDEO_MODE_COLOR | VIDEO_MODE_GRAPHICS};
// clang-format on

// The screen size reported with every mode.
constexpr ULONG SCREEN_WIDTH_MM = 320;
constexpr ULONG SCREEN_HEIGHT_MM = 240;

// One table entry. The mode index and the bitmap height are left 0: the
// queries fill them in for the table and the board at hand.
consteval MODE_ENTRY mode_entry(ULONG width, ULONG height, ULONG refresh,
                                const CRTC_TIMING &timing, const PixelFormat &pixels) {
  MODE_ENTRY entry{};
  VIDEO_MODE_INFORMATION &info = entry.info;
  info.Length = sizeof(VIDEO_MODE_INFORMATION);
  info.ModeIndex = 0;
  info.VisScreenWidth = width;
  info.VisScreenHeight = height;
  info.ScreenStride = width * (pixels.bits_per_pixel / 8);  // no padding at the end of a line
  info.NumberOfPlanes = 1;
  info.BitsPerPlane = pixels.bits_per_pixel;
  info.Frequency = refresh;
  info.XMillimeter = SCREEN_WIDTH_MM;
  info.YMillimeter = SCREEN_HEIGHT_MM;
  info.NumberRedBits = pixels.red_bits;
  info.NumberGreenBits = pixels.green_bits;
  info.NumberBlueBits = pixels.blue_bits;
  info.RedMask = pixels.red_mask;
  info.GreenMask = pixels.green_mask;
  info.BlueMask = pixels.blue_mask;
  info.AttributeFlags = pixels.attributes;
  info.VideoMemoryBitmapWidth = width;
  info.VideoMemoryBitmapHeight = 0;
  info.DriverSpecificAttributeFlags = 0;
  entry.timing = &timing;
  entry.available = TRUE;
  return entry;
}

}  // namespace

// The catalogue, one row per resolution and refresh rate, in table order: the
// timing record, then the colour depths offered on the video-RAM boards and
// on the DRAM board. Within a row the entries go 8, 16, 32 bits per pixel.
// The DRAM board's table is the video-RAM table less what its column leaves
// out, so every entry it has is its video-RAM twin.
//
// clang-format off
#define TORVIC_MODE_CATALOGUE(ROW)                                    \
  /*  width height  Hz  timing        video RAM    DRAM */            \
  ROW(  640,  480,  60, mode_640_60,  BPP_8_16_32, BPP_8_16_32)       \
  ROW(  640,  480,  72, mode_640_72,  BPP_8_16_32, BPP_8_16_32)       \
  ROW(  640,  480,  75, mode_640_75,  BPP_8_16_32, BPP_8_16_32)       \
  ROW(  640,  480,  85, mode_640_85,  BPP_8_16_32, BPP_8_16_32)       \
  ROW(  800,  600,  60, mode_800_60,  BPP_8_16_32, BPP_8_16_32)       \
  ROW(  800,  600,  72, mode_800_72,  BPP_8_16_32, BPP_8_16_32)       \
  ROW(  800,  600,  75, mode_800_75,  BPP_8_16_32, BPP_8_16_32)       \
  ROW(  800,  600,  85, mode_800_85,  BPP_8_16_32, BPP_8_16_32)       \
  ROW( 1024,  768,  60, mode_1024_60, BPP_8_16_32, BPP_8_16_32)       \
  ROW( 1024,  768,  70, mode_1024_70, BPP_8_16_32, BPP_8_16)          \
  ROW( 1024,  768,  75, mode_1024_75, BPP_8_16_32, BPP_8_16)          \
  ROW( 1024,  768,  85, mode_1024_85, BPP_8_16_32, BPP_8_16)          \
  ROW( 1152,  864,  60, mode_1152_60, BPP_8_16_32, BPP_8_16)          \
  ROW( 1152,  864,  70, mode_1152_70, BPP_8_16_32, BPP_8_16)          \
  ROW( 1152,  864,  75, mode_1152_75, BPP_8_16_32, BPP_8_16)          \
  ROW( 1152,  864,  85, mode_1152_85, BPP_8_16_32, BPP_8_16)          \
  ROW( 1280, 1024,  60, mode_1280_60, BPP_8_16_32, BPP_8_16)          \
  ROW( 1280, 1024,  75, mode_1280_75, BPP_8_16_32, BPP_8_16)          \
  ROW( 1280, 1024,  85, mode_1280_85, BPP_8_16_32, BPP_8)             \
  ROW( 1600, 1200,  60, mode_1600_60, BPP_8_16_32, BPP_8)             \
  ROW( 1600, 1200,  70, mode_1600_70, BPP_8_16_32, BPP_8)             \
  ROW( 1600, 1200,  75, mode_1600_75, BPP_8_16_32, BPP_8)             \
  ROW( 1600, 1200,  80, mode_1600_80, BPP_8_16_32, BPP_8)             \
  ROW( 1600, 1200,  83, mode_1600_83, BPP_8,       BPP_8)             \
  ROW( 1600, 1024,  76, mode_1600_76, BPP_8_16_32, BPP_NONE)          \
  ROW( 1920, 1080,  60, mode_1920_60, BPP_8_16_32, BPP_8)             \
  ROW( 1920, 1080,  72, mode_1920_72, BPP_8_16_32, BPP_NONE)
// clang-format on

// A row's entries for one kind of board.
#define TORVIC_VRAM_ENTRIES(width, height, hz, timing, vram, dram) vram(width, height, hz, timing)
#define TORVIC_DRAM_ENTRIES(width, height, hz, timing, vram, dram) dram(width, height, hz, timing)
#define BPP_8(width, height, hz, timing) mode_entry(width, height, hz, timing, PIXELS_8),
#define BPP_8_16(width, height, hz, timing) \
  BPP_8(width, height, hz, timing) mode_entry(width, height, hz, timing, PIXELS_16),
#define BPP_8_16_32(width, height, hz, timing) \
  BPP_8_16(width, height, hz, timing) mode_entry(width, height, hz, timing, PIXELS_32),
#define BPP_NONE(width, height, hz, timing)

extern "C" {

constinit MODE_ENTRY display_mode_vram[] = {TORVIC_MODE_CATALOGUE(TORVIC_VRAM_ENTRIES)};
constinit MODE_ENTRY display_mode_dram[] = {TORVIC_MODE_CATALOGUE(TORVIC_DRAM_ENTRIES)};

const ULONG num_display_modes_vram = sizeof(display_mode_vram) / sizeof(display_mode_vram[0]);
const ULONG num_display_modes_dram = sizeof(display_mode_dram) / sizeof(display_mode_dram[0]);

}  // extern "C"

static_assert(sizeof(display_mode_vram) / sizeof(display_mode_vram[0]) == 79,
              "video-RAM table: 79 modes");
static_assert(sizeof(display_mode_dram) / sizeof(display_mode_dram[0]) == 52,
              "DRAM table: 52 modes");

// ---- Checks on the catalogue rows ----------------------------------------------------

namespace {

// Each depth set of the catalogue as a set of bits, 8, 16, 32 bits per pixel
// from bit 0 up.
constexpr ULONG DEPTHS_BPP_NONE = 0;
constexpr ULONG DEPTHS_BPP_8 = 1u << 0;
constexpr ULONG DEPTHS_BPP_8_16 = DEPTHS_BPP_8 | 1u << 1;
constexpr ULONG DEPTHS_BPP_8_16_32 = DEPTHS_BPP_8_16 | 1u << 2;

struct CatalogueRow {
  ULONG width;
  ULONG height;
  const CRTC_TIMING *timing;
  ULONG vram_depths;
  ULONG dram_depths;
};

#define TORVIC_ROW_RECORD(width, height, hz, timing, vram, dram) \
  {width, height, &(timing), DEPTHS_##vram, DEPTHS_##dram},

constexpr CatalogueRow catalogue_rows[] = {TORVIC_MODE_CATALOGUE(TORVIC_ROW_RECORD)};
constexpr ULONG num_catalogue_rows = sizeof(catalogue_rows) / sizeof(catalogue_rows[0]);

// A timing fits its row when the width is a whole 4 or 8 pixels per
// horizontal unit and the height is its active line count.
consteval bool rows_match_timings() {
  for (const CatalogueRow &row : catalogue_rows) {
    const ULONG unit = row.width / row.timing->h_active;
    if (unit != 4 && unit != 8) return false;
    if (row.width != row.timing->h_active * unit) return false;
    if (row.height != row.timing->v_active) return false;
  }
  return true;
}

// The DRAM board offers no depth of a mode that the video-RAM boards lack.
consteval bool dram_rows_within_vram_rows() {
  for (const CatalogueRow &row : catalogue_rows)
    if ((row.dram_depths & ~row.vram_depths) != 0) return false;
  return true;
}

static_assert(num_catalogue_rows == 27, "one row per timing record");
static_assert(rows_match_timings(), "a catalogue row does not match its timing record");
static_assert(dram_rows_within_vram_rows(), "a DRAM mode has no video-RAM twin");

}  // namespace

#undef TORVIC_ROW_RECORD
#undef BPP_NONE
#undef BPP_8_16_32
#undef BPP_8_16
#undef BPP_8
#undef TORVIC_DRAM_ENTRIES
#undef TORVIC_VRAM_ENTRIES
#undef TORVIC_MODE_CATALOGUE
