// SPDX-License-Identifier: MIT
#include "png_file.h"

#include "commands.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace torvic::sim {

namespace {

// libpng reports through these rather than on stderr: the error goes back
// to write_png, which says what failed and why.
void png_failed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_warned(png_structp, png_const_charp) {}

}  // namespace

void write_png(const std::string &path, const host::Picture &picture) {
  if (picture.width == 0 || picture.height == 0)
    throw std::runtime_error("no picture to write: the board does not show graphics");
  std::unique_ptr<FILE, int (*)(FILE *)> file(fopen(path.c_str(), "wb"), fclose);
  if (!file) throw OutputError("cannot write " + path + ": " + strerror(errno));

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    throw std::runtime_error("cannot start a PNG file");
  }
  if (setjmp(png_jmpbuf(png))) {  // NOLINT(cert-err52-cpp): libpng reports its errors by longjmp
    png_destroy_write_struct(&png, &info);
    throw OutputError("cannot write the PNG file " + path + ": " + strerror(errno));
  }
  png_init_io(png, file.get());
  png_set_compression_level(png, 3);  // pictures of test patterns compress well enough
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < picture.height; y++)
    png_write_row(png, picture.rgb.data() + size_t(y) * picture.width * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  // The last bytes reach the file only when it is closed.
  if (fclose(file.release()) != 0) throw OutputError("cannot write " + path + ": " + strerror(errno));
}

}  // namespace torvic::sim
