// The 16-colour bitmap to AWBM logo conversion: the bitmap's pixels are mapped onto 16
// colour slots (some preset to system colours, the rest taken in the order colours are
// first met) and each pixel row is stored as four bit planes, the top row first.
//
// Invariants: the input is read only through fixed-size reads into zero-filled buffers,
// so bytes the file does not hold read as 0 and nothing beyond it is touched; every
// output byte lies in one buffer of 52 + R x H bytes after the 8-byte header, R <= 320
// and H <= 480 once the size test has passed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/exit_codes.hpp"
#include "image/file_io.hpp"
#include "image/fatal.hpp"
#include "image/module.hpp"
#include "report/logo.hpp"

namespace {

constexpr unsigned MAX_WIDTH = 640;
constexpr unsigned MAX_HEIGHT = 480;
constexpr std::size_t FIRST_BYTES = 32;        // file header and the start of the info header
constexpr std::size_t PIXEL_OFFSET_BYTE = 10;  // low byte of the pixel-data offset
constexpr std::size_t WIDTH_FIELD = 18;
constexpr std::size_t HEIGHT_FIELD = 22;
constexpr long PALETTE_AT = 54;
constexpr int SLOT_COUNT = 16;
constexpr std::size_t LOGO_HEADER_BYTES = 8;
constexpr std::size_t TRAILER_BYTES = 4 + 3 * SLOT_COUNT;

using Colour = std::array<std::uint8_t, 4>;  // blue, green, red, reserved
constexpr Colour EMPTY_SLOT = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr Colour GREY = {0x80, 0x80, 0x80, 0x00};
constexpr Colour BLUE = {0xFF, 0x00, 0x00, 0x00};
constexpr Colour BLACK = {0x00, 0x00, 0x00, 0x00};
constexpr Colour WHITE = {0xFF, 0xFF, 0xFF, 0x00};

// Reads up to `count` bytes into the zero-filled `buffer`; missing bytes stay 0.
void read_or_zero(std::FILE* file, std::uint8_t* buffer, std::size_t count) {
  if (count == 0) return;  // rows of width 0: nothing to read (and no buffer)
  std::memset(buffer, 0, count);
  (void)std::fread(buffer, 1, count, file);
}

// The slot of `colour`: the lowest equal slot, else the lowest empty one (which takes
// the colour), else 16 (no slot; its low four bits store the pixel as slot 0).
unsigned slot_of(std::array<Colour, SLOT_COUNT>& slots, const Colour& colour) {
  for (unsigned s = 0; s < SLOT_COUNT; ++s)
    if (slots[s] == colour) return s;
  for (unsigned s = 0; s < SLOT_COUNT; ++s)
    if (slots[s] == EMPTY_SLOT) {
      slots[s] = colour;
      return s;
    }
  return SLOT_COUNT;
}

}  // namespace

void convert_logo_bitmap(const std::string& input_name, const std::string& output_name,
                         bool preset_grey_blue, bool preset_black_white) {
  std::FILE* input = open_regular_for_reading(input_name);  // a directory counts as not opened
  if (!input) return;
  int output = ::open(output_name.c_str(), O_RDWR | O_CREAT | O_TRUNC, S_IRUSR | S_IWUSR);
  if (output < 0) {
    std::fclose(input);
    return;
  }

  std::uint8_t first[FIRST_BYTES];
  read_or_zero(input, first, sizeof first);
  const unsigned width = read_le(first + WIDTH_FIELD, 2);
  const unsigned height = read_le(first + HEIGHT_FIELD, 2);
  const std::size_t row_bytes = ((width + 7) >> 1) & ~3u;  // four plane lines of ceil(W/8) bytes
  const std::size_t plane_bytes = row_bytes / 4;

  std::uint8_t header[LOGO_HEADER_BYTES] = {'A', 'W', 'B', 'M'};
  write_le(header + 4, 2, width);
  write_le(header + 6, 2, height);
  bool ok = write_all(output, header, sizeof header);

  if (width > MAX_WIDTH || height > MAX_HEIGHT) {
    std::printf("BMP size exceed, max size is 640x480\n");
    ::close(output);
    std::fclose(input);
    end_run(EXIT_BITMAP_SIZE);
  }

  std::array<Colour, SLOT_COUNT> slots;
  slots.fill(EMPTY_SLOT);
  if (preset_grey_blue) {
    slots[7] = GREY;
    slots[9] = BLUE;
  }
  if (preset_black_white) {
    slots[0] = BLACK;
    slots[15] = WHITE;
  }

  std::uint8_t palette_bytes[4 * SLOT_COUNT];
  std::fseek(input, PALETTE_AT, SEEK_SET);
  read_or_zero(input, palette_bytes, sizeof palette_bytes);
  std::fseek(input, first[PIXEL_OFFSET_BYTE], SEEK_SET);

  // Rows, then the trailer, as they follow the 8-byte header in the output.
  std::vector<std::uint8_t> body(row_bytes * height + TRAILER_BYTES, 0);
  std::vector<std::uint8_t> row(row_bytes);
  for (unsigned r = 0; r < height; ++r) {
    read_or_zero(input, row.data(), row.size());
    std::uint8_t* planes = body.data() + row_bytes * (height - 1 - r);
    for (unsigned x = 0; x < width; ++x) {
      const std::uint8_t pair = row[x / 2];
      const unsigned index = (x % 2 == 0) ? pair >> 4 : pair & 0x0F;
      Colour colour;
      std::memcpy(colour.data(), palette_bytes + 4 * index, 4);
      const unsigned slot = slot_of(slots, colour) & 0x0F;
      const auto bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
      for (unsigned b = 0; b < 4; ++b)
        if (slot & (1u << b)) planes[b * plane_bytes + x / 8] |= bit;
    }
  }

  std::uint8_t* trailer = body.data() + row_bytes * height;
  std::memcpy(trailer, "RGB ", 4);
  for (int s = 0; s < SLOT_COUNT; ++s)
    for (int c = 0; c < 3; ++c) trailer[4 + 3 * s + c] = static_cast<std::uint8_t>(slots[s][c] >> 2);

  ok = ok && write_all(output, body.data(), body.size());
  ok = (::close(output) == 0) && ok;
  std::fclose(input);
  if (!ok) std::remove(output_name.c_str());  // never leave a partial logo to be packed
}
