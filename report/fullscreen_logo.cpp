// The full-screen logo: a 640 x 480 bitmap at 8 bits per pixel keeps its first 1078
// bytes (headers and 256-entry palette) and gets its pixel rows turned top row first in
// "FILE_TEM.STV", which is packed under the name the user typed and removed.
//
// Invariants: the bitmap is read once into a block of 308,278 bytes; a bitmap is refused
// unless its pixel rows lie wholly inside the bytes actually read (colours used at most
// 256), so every row copied is file data.  A refusal writes nothing.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/file_io.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "report/logo.hpp"

namespace {

constexpr std::size_t KEPT_HEADER_BYTES = 1078;  // file and info headers, 256 palette entries
constexpr std::size_t ROW_BYTES = 640;
constexpr std::size_t ROW_COUNT = 480;
constexpr std::size_t PIXEL_BYTES = ROW_BYTES * ROW_COUNT;
constexpr std::size_t BLOCK_BYTES = KEPT_HEADER_BYTES + PIXEL_BYTES;  // 308,278
constexpr std::size_t WIDTH_FIELD = 18;
constexpr std::size_t HEIGHT_FIELD = 22;
constexpr std::size_t BIT_COUNT_FIELD = 28;
constexpr std::size_t COLOURS_USED_FIELD = 46;
constexpr std::size_t PALETTE_AT = 54;
constexpr std::uint32_t MAX_COLOURS = 256;
constexpr const char* WORK_FILE_NAME = "FILE_TEM.STV";

bool write_work_file(const std::vector<std::uint8_t>& block, const std::vector<std::uint8_t>& rows) {
  return write_new_file(WORK_FILE_NAME, {{block.data(), KEPT_HEADER_BYTES}, {rows.data(), rows.size()}});
}

}  // namespace

bool prepare_fullscreen_logo(const std::string& bitmap_name, const std::string& display_name) {
  pack_state.packed_file_written = false;  // only a packing below may say otherwise

  std::FILE* bitmap = open_regular_for_reading(bitmap_name);  // a directory is no bitmap
  if (!bitmap) return false;
  std::vector<std::uint8_t> block(BLOCK_BYTES, 0);
  const std::size_t got = std::fread(block.data(), 1, block.size(), bitmap);
  std::fclose(bitmap);

  std::uint8_t* colours_field = block.data() + COLOURS_USED_FIELD;
  if (read_le(colours_field, 4) == 0) write_le(colours_field, 4, MAX_COLOURS);
  const std::uint32_t colours = read_le(colours_field, 4);
  const auto width = static_cast<std::int32_t>(read_le(block.data() + WIDTH_FIELD, 4));
  const auto height = static_cast<std::int32_t>(read_le(block.data() + HEIGHT_FIELD, 4));
  const std::uint32_t bit_count = read_le(block.data() + BIT_COUNT_FIELD, 2);
  if (height != static_cast<std::int32_t>(ROW_COUNT) || width != static_cast<std::int32_t>(ROW_BYTES) ||
      bit_count != 8)
    return false;
  // The rows follow the palette directly; they must lie in what the file holds.
  if (colours > MAX_COLOURS) return false;
  const std::size_t rows_at = PALETTE_AT + 4 * std::size_t{colours};
  if (got < rows_at || got - rows_at < PIXEL_BYTES) return false;

  std::vector<std::uint8_t> rows(PIXEL_BYTES);
  for (std::size_t i = 0; i < ROW_COUNT; ++i)
    std::copy_n(block.data() + rows_at + ROW_BYTES * i, ROW_BYTES,
                rows.data() + ROW_BYTES * (ROW_COUNT - 1 - i));

  // A work file that cannot be written packs nothing; packed_file_written stays false.
  if (!write_work_file(block, rows)) return true;
  std::string work_path = WORK_FILE_NAME;  // pack_file may empty its copy
  pack_file(work_path, 1, (display_name.empty() ? bitmap_name : display_name).c_str());
  std::remove(WORK_FILE_NAME);
  return true;
}
