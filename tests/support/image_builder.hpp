// Builders for synthetic images and modules, shared by the tests and the sample-image
// generator.  Positions are window offsets, as in the tool: file offset f of an image of
// size S sits at window offset 0x100000 - S + f.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testimg {

using Bytes = std::vector<std::uint8_t>;

// CRC-16/ARC of `data`.
std::uint16_t crc16(const Bytes& data);

// A packed-module file: header (stored name `name`, load fields `type_id`:`load_offset`),
// `packed` as the packed data, end byte 0x00.  `method` is the digit of "-lhX-".
Bytes module_file(const std::string& name, std::uint16_t type_id, const Bytes& packed,
                  std::uint32_t original_size, std::uint16_t crc, char method = '0',
                  std::uint16_t load_offset = 0);

// A stored (-lh0-) packed-module file of `data`, with its CRC.
Bytes stored_module(const std::string& name, std::uint16_t type_id, const Bytes& data,
                    std::uint16_t load_offset = 0);

// The module as it lies in a region: the file plus its sum byte.
Bytes with_sum_byte(const Bytes& module_file);

// Deterministic filler bytes (xorshift) for module contents.
Bytes pseudo_random(std::size_t count, std::uint32_t seed);

struct ImageBuilder {
  explicit ImageBuilder(std::uint32_t size = 0x100000, std::uint8_t fill = 0x00);

  std::uint32_t size;
  Bytes bytes;

  std::uint32_t base() const { return 0x100000 - size; }
  std::uint8_t& at(std::uint32_t window_offset);
  void put(std::uint32_t window_offset, const Bytes& data);
  void put_text(std::uint32_t window_offset, const std::string& text);
  void put_le32(std::uint32_t window_offset, std::uint32_t value);
  std::uint32_t le32(std::uint32_t window_offset) const;

  // "VELK_BROMMAP" with its flag word and the two boot-block regions.
  void boot_map(std::uint32_t at, std::uint32_t flags, std::uint32_t r0_start,
                std::uint32_t r0_end, std::uint32_t r1_start, std::uint32_t r1_end);
  // "= Pelix Decompression Bios =".
  void marker(std::uint32_t at);
  // "VELK_NROMMAP" with its map word and the two main regions.
  void main_map(std::uint32_t at, std::uint32_t map_word, std::uint32_t r0_start,
                std::uint32_t r0_end, std::uint32_t r1_start, std::uint32_t r1_end);
  // "VELK_PACKMAP" at 0xFFFE0 with its map word and main region 0.
  void pack_map(std::uint32_t map_word, std::uint32_t start, std::uint32_t end);

  // Fills [start, end) with 0xFF (erased flash: free space).
  void erase(std::uint32_t start, std::uint32_t end);
  // Places a module file plus its sum byte at `at`; returns the position after it.
  std::uint32_t add_module(std::uint32_t at, const Bytes& module_file);

  void write(const std::string& path) const;
};

// The usual layout of a 1 MiB image: boot-block map at 0xE2710 (flags 0), boot-block
// regions [0xF0000, 0xF4000) and [0xF4000, 0xF6000); marker at 0xE3000 and main map at
// 0xE3020 (map word 0x12345678); main regions [0xC0000, 0xD0000) and [0xD0000, 0xE0000).
// All four regions erased.
struct StandardLayout {
  static constexpr std::uint32_t boot_map_at = 0xE2710;
  static constexpr std::uint32_t marker_at = 0xE3000;
  static constexpr std::uint32_t main_map_at = 0xE3020;
  static constexpr std::uint32_t boot0_start = 0xF0000, boot0_end = 0xF4000;
  static constexpr std::uint32_t boot1_start = 0xF4000, boot1_end = 0xF6000;
  static constexpr std::uint32_t main0_start = 0xC0000, main0_end = 0xD0000;
  static constexpr std::uint32_t main1_start = 0xD0000, main1_end = 0xE0000;
  static constexpr std::uint32_t map_word = 0x12345678;
};
ImageBuilder standard_image();

}  // namespace testimg
