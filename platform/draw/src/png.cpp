#include "draw/png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tavrin::draw {
namespace {

void WriteToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (length > r->size - r->pos) png_error(png, "truncated");
  std::memcpy(out, r->data + r->pos, length);
  r->pos += length;
}

void QuietWarning(png_structp, png_const_charp) {}
[[noreturn]] void QuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

}  // namespace

bool EncodePng(const Surface& surface, std::vector<uint8_t>& out) {
  if (surface.empty()) return false;
  out.clear();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(surface.width()) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, WriteToVector, FlushNothing);
  png_set_IHDR(png, info, surface.width(), surface.height(), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < surface.height(); ++y) {
    const Pixel* p = surface.row(y);
    for (int x = 0; x < surface.width(); ++x) {
      row[x * 3] = static_cast<uint8_t>(RedOf(p[x]));
      row[x * 3 + 1] = static_cast<uint8_t>(GreenOf(p[x]));
      row[x * 3 + 2] = static_cast<uint8_t>(BlueOf(p[x]));
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool WritePngFile(const Surface& surface, const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!EncodePng(surface, bytes)) return false;
  std::string temp = path + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::optional<Surface> DecodePng(const uint8_t* data, size_t size, size_t maxPixels) {
  if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return std::nullopt;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
  if (!png) return std::nullopt;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return std::nullopt;
  }
  Reader reader{data, size, 0};
  // Kept outside the jump's reach: a longjmp must not skip destructors of live locals.
  struct Buffers {
    Surface surface;
    std::vector<uint8_t> rgba;
    std::vector<png_bytep> rows;
  };
  auto* buffers = new Buffers();
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    delete buffers;
    return std::nullopt;
  }
  png_set_read_fn(png, &reader, ReadFromMemory);
  png_set_user_limits(png, 1u << 16, 1u << 16);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (width == 0 || height == 0 || static_cast<uint64_t>(width) * height > maxPixels) png_error(png, "too large");
  int colorType = png_get_color_type(png, info);
  int depth = png_get_bit_depth(png, info);
  if (depth == 16) png_set_strip_16(png);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) png_error(png, "unexpected layout");
  Surface* surface = &buffers->surface;
  surface->Reset(static_cast<int>(width), static_cast<int>(height));
  std::vector<uint8_t>& rgba = buffers->rgba;
  rgba.resize(static_cast<size_t>(width) * height * 4);
  std::vector<png_bytep>& rows = buffers->rows;
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = rgba.data() + static_cast<size_t>(y) * width * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  for (png_uint_32 y = 0; y < height; ++y) {
    Pixel* out = surface->row(static_cast<int>(y));
    const uint8_t* in = rows[y];
    for (png_uint_32 x = 0; x < width; ++x)
      out[x] = (static_cast<Pixel>(in[x * 4 + 3]) << 24) | Rgb(in[x * 4], in[x * 4 + 1], in[x * 4 + 2]);
  }
  Surface result = std::move(*surface);
  delete buffers;
  return result;
}

std::optional<Surface> ReadPngFile(const std::string& path, size_t maxPixels) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return DecodePng(bytes.data(), bytes.size(), maxPixels);
}

}  // namespace tavrin::draw
