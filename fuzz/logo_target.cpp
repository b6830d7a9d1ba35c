// Fuzz target "logo": bitmaps of any content through both logo converters, the 16-colour
// conversion (convert_logo_bitmap) and the full-screen preparation
// (prepare_fullscreen_logo).
//
// Input: byte 0 chooses (bit 0 the full-screen preparation, bits 1-2 the grey/blue and
// black/white presets, bit 3 a long bitmap: bytes 1-3 give its length, at most 320 KiB,
// and the rest of the input is repeated to fill it); the rest is the bitmap.
//
// Checked, 16-colour: the run ends only for a size above 640 x 480 (exit code 57, the
// output then holds its 8-byte header); otherwise the output is "AWBM", W, H, H rows of
// ((W + 7) / 2 rounded down to 4) bytes, "RGB " and 16 colours with the presets in
// place.  Full-screen: accepted exactly when the bitmap is 640 x 480 at 8 bits with at
// most 256 colours and holds all its rows; a refusal writes nothing; an acceptance packs
// the kept 1078 bytes and the rows turned top first, and leaves no work file.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/harness.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "report/logo.hpp"

using namespace fuzzing;

namespace {

constexpr const char* BITMAP_NAME = "logo.bmp";
constexpr const char* LOGO_NAME = "logo.awb";
constexpr std::uint32_t MAX_LONG_BITMAP = 320u << 10;  // more than either converter reads

// Field of the bitmap; bytes it does not hold read as 0.
std::uint32_t field(const Bytes& b, std::size_t at, unsigned width) {
  std::uint32_t v = 0;
  for (unsigned i = 0; i < width; ++i)
    if (at + i < b.size()) v |= std::uint32_t{b[at + i]} << (8 * i);
  return v;
}

void check_slot(const Bytes& out, std::size_t trailer, int slot, std::uint8_t b, std::uint8_t g,
                std::uint8_t r) {
  const std::size_t at = trailer + 4 + 3 * static_cast<std::size_t>(slot);
  if (out[at] != (b >> 2) || out[at + 1] != (g >> 2) || out[at + 2] != (r >> 2))
    broken("preset colour slot " + std::to_string(slot) + " is wrong");
}

void sixteen_colours(const Bytes& bitmap, bool grey_blue, bool black_white) {
  const std::uint32_t width = field(bitmap, 18, 2);
  const std::uint32_t height = field(bitmap, 22, 2);
  try {
    convert_logo_bitmap(BITMAP_NAME, LOGO_NAME, grey_blue, black_white);
  } catch (const RunEnded& e) {
    if (e.status != 57) broken("conversion ended the run with " + std::to_string(e.status));
    if (width <= 640 && height <= 480) broken("a bitmap within 640 x 480 ended the run");
    if (read_file(LOGO_NAME).size() != 8) broken("refused logo does not hold its 8-byte header");
    return;
  }
  if (width > 640 || height > 480) broken("a bitmap above 640 x 480 was converted");
  const Bytes out = read_file(LOGO_NAME);
  const std::size_t row_bytes = ((width + 7) >> 1) & ~3u;
  const std::size_t trailer = 8 + row_bytes * height;
  if (out.size() != trailer + 52) broken("logo length is wrong");
  if (!std::equal(out.begin(), out.begin() + 4, "AWBM") || read_le(out.data() + 4, 2) != width ||
      read_le(out.data() + 6, 2) != height)
    broken("logo header is wrong");
  if (!std::equal(out.begin() + trailer, out.begin() + trailer + 4, "RGB ")) broken("no RGB trailer");
  if (grey_blue) {
    check_slot(out, trailer, 7, 0x80, 0x80, 0x80);
    check_slot(out, trailer, 9, 0xFF, 0x00, 0x00);
  }
  if (black_white) {
    check_slot(out, trailer, 0, 0x00, 0x00, 0x00);
    check_slot(out, trailer, 15, 0xFF, 0xFF, 0xFF);
  }
}

void full_screen(const Bytes& bitmap) {
  std::uint32_t colours = field(bitmap, 46, 4);
  if (colours == 0) colours = 256;
  const bool acceptable = field(bitmap, 18, 4) == 640 && field(bitmap, 22, 4) == 480 &&
                          field(bitmap, 28, 2) == 8 && colours <= 256 &&
                          bitmap.size() >= 54 + 4 * std::size_t{colours} + 307200;
  bool accepted = false;
  try {
    accepted = prepare_fullscreen_logo(BITMAP_NAME);
  } catch (const RunEnded& e) {
    broken("full-screen preparation ended the run with " + std::to_string(e.status));
  }
  if (accepted != acceptable) broken(accepted ? "an unfit bitmap was accepted" : "a fit bitmap was refused");
  if (file_exists("FILE_TEM.STV")) broken("FILE_TEM.STV left behind");
  if (!accepted) {
    if (directory_entries() != std::vector<std::string>{BITMAP_NAME}) broken("a refusal wrote a file");
    return;
  }
  if (!pack_state.packed_file_written) broken("an accepted bitmap was not packed");

  Bytes expected(bitmap.begin(), bitmap.begin() + 1078);
  write_le(expected.data() + 46, 4, colours);
  const std::size_t rows_at = 54 + 4 * std::size_t{colours};
  for (std::size_t row = 480; row-- > 0;)
    expected.insert(expected.end(), bitmap.begin() + rows_at + 640 * row, bitmap.begin() + rows_at + 640 * (row + 1));
  try {
    unpack_file(DEFAULT_PACKED_NAME);
  } catch (const RunEnded& e) {
    broken("unpacking the packed logo ended the run with " + std::to_string(e.status));
  }
  if (read_file(UNPACKED_FILE_NAME) != expected) broken("the packed logo is not the turned bitmap");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputScope scope;
  Reader in(data, size);
  const std::uint8_t choice = in.byte();
  Bytes bitmap;
  if (choice & 8) {
    const std::uint32_t length = std::min(in.le(3), MAX_LONG_BITMAP);
    const Bytes pattern = in.rest();
    if (!pattern.empty()) {
      bitmap.resize(length);
      for (std::uint32_t i = 0; i < length; ++i) bitmap[i] = pattern[i % pattern.size()];
    }
  } else {
    bitmap = in.rest();
  }
  write_file(BITMAP_NAME, bitmap);
  if (choice & 1) full_screen(bitmap);
  else sixteen_colours(bitmap, (choice & 2) != 0, (choice & 4) != 0);
  return 0;
}
