// Small hand-made bitmaps for the logo tests, and a reader of the AWBM logo that turns
// its bit planes back into slot numbers.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "tests/support/image_builder.hpp"

namespace bmptest {

using testimg::Bytes;
using Colour = std::array<std::uint8_t, 4>;  // blue, green, red, reserved

inline void put_le(Bytes& out, std::size_t at, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A 16-colour bitmap: 54 header bytes, the palette (up to 16 entries, the rest zero)
// at 54, the rows (file order, bottom row first) from the low byte of `pixel_offset`
// (at least 118; zero padding before it).  The fields are written as given.
inline Bytes bmp16(std::int32_t width_field, std::int32_t height_field,
                   const std::vector<Colour>& palette, const std::vector<Bytes>& rows,
                   std::uint32_t pixel_offset = 118) {
  Bytes out(std::max<std::size_t>(pixel_offset & 0xFF, 118), 0);
  out[0] = 'B';
  out[1] = 'M';
  put_le(out, 10, pixel_offset, 4);
  put_le(out, 14, 40, 4);
  put_le(out, 18, static_cast<std::uint32_t>(width_field), 4);
  put_le(out, 22, static_cast<std::uint32_t>(height_field), 4);
  put_le(out, 26, 1, 2);
  put_le(out, 28, 4, 2);
  put_le(out, 46, 16, 4);
  for (std::size_t i = 0; i < palette.size() && i < 16; ++i)
    for (int c = 0; c < 4; ++c) out[54 + 4 * i + c] = palette[i][c];
  for (const Bytes& row : rows) out.insert(out.end(), row.begin(), row.end());
  return out;
}

// An 8-bit bitmap for the full-screen logo: 54 header bytes, `colours_used` palette
// entries (entry i = i, i, i, 0), then the rows as given.
inline Bytes bmp8(std::int32_t width, std::int32_t height, std::uint16_t bit_count,
                  std::uint32_t colours_used, const Bytes& pixels) {
  Bytes out(54, 0);
  out[0] = 'B';
  out[1] = 'M';
  put_le(out, 14, 40, 4);
  put_le(out, 18, static_cast<std::uint32_t>(width), 4);
  put_le(out, 22, static_cast<std::uint32_t>(height), 4);
  put_le(out, 26, 1, 2);
  put_le(out, 28, bit_count, 2);
  put_le(out, 46, colours_used, 4);
  const std::uint32_t entries = colours_used == 0 ? 256 : colours_used;
  for (std::uint32_t i = 0; i < entries && i < 300; ++i) {
    auto v = static_cast<std::uint8_t>(i);
    out.insert(out.end(), {v, v, v, 0});
  }
  put_le(out, 10, static_cast<std::uint32_t>(out.size()), 4);
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// 480 rows of 640 pixels, row i (file order) filled with a pattern that names the row.
inline Bytes fullscreen_pixels() {
  Bytes px(640 * 480);
  for (std::size_t i = 0; i < 480; ++i)
    for (std::size_t x = 0; x < 640; ++x) px[i * 640 + x] = static_cast<std::uint8_t>(i * 7 + x);
  return px;
}

// The AWBM logo read back: slot number of every pixel (top row first) and the trailer.
struct Logo {
  unsigned width = 0, height = 0;
  std::vector<std::vector<unsigned>> slots;        // [y][x]
  std::array<std::array<std::uint8_t, 3>, 16> colours{};
  bool well_formed = false;
};

inline Logo read_logo(const Bytes& file) {
  Logo logo;
  if (file.size() < 8 || file[0] != 'A' || file[1] != 'W' || file[2] != 'B' || file[3] != 'M') return logo;
  logo.width = file[4] | (file[5] << 8);
  logo.height = file[6] | (file[7] << 8);
  const std::size_t row_bytes = ((logo.width + 7) >> 1) & ~3u;
  const std::size_t plane = row_bytes / 4;
  if (file.size() != 60 + row_bytes * logo.height) return logo;
  for (unsigned y = 0; y < logo.height; ++y) {
    std::vector<unsigned> row;
    for (unsigned x = 0; x < logo.width; ++x) {
      unsigned slot = 0;
      for (unsigned b = 0; b < 4; ++b)
        if (file[8 + row_bytes * y + b * plane + x / 8] & (0x80 >> (x % 8))) slot |= 1u << b;
      row.push_back(slot);
    }
    logo.slots.push_back(row);
  }
  const std::size_t trailer = 8 + row_bytes * logo.height;
  if (file[trailer] != 'R' || file[trailer + 1] != 'G' || file[trailer + 2] != 'B' || file[trailer + 3] != ' ')
    return logo;
  for (int s = 0; s < 16; ++s)
    for (int c = 0; c < 3; ++c) logo.colours[s][c] = file[trailer + 4 + 3 * s + c];
  logo.well_formed = true;
  return logo;
}

}  // namespace bmptest
