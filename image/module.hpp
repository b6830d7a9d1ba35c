// The module format: ModuleHeader layout and field access, the header sum, the load
// text parser, CRC-16/ARC, the checked read and write primitives through which all
// original data passes, and the codec state they share with the LZH coder.
//
// A module in a region is: header (H + 2 bytes), packed data, end byte 0x00, sum byte;
// its length is H + packed size + 4.  A packed-module file ("bios.rom") holds the same
// bytes without the sum byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

// Byte offsets of the ModuleHeader fields (little-endian multi-byte fields).
inline constexpr std::size_t HDR_SIZE = 0;         // H: header bytes after the first two
inline constexpr std::size_t HDR_SUM = 1;          // 8-bit sum of bytes 2 .. H + 1
inline constexpr std::size_t HDR_METHOD = 2;       // "-lh5-" or "-lh0-"
inline constexpr std::size_t HDR_METHOD_DIGIT = 5;
inline constexpr std::size_t HDR_PACKED_SIZE = 7;
inline constexpr std::size_t HDR_ORIGINAL_SIZE = 11;
inline constexpr std::size_t HDR_LOAD_OFFSET = 15;
inline constexpr std::size_t HDR_TYPE_ID = 17;     // load segment = type id
inline constexpr std::size_t HDR_ATTRIBUTE = 19;   // 0x20
inline constexpr std::size_t HDR_LEVEL = 20;       // 0x01
inline constexpr std::size_t HDR_NAME_LENGTH = 21;
inline constexpr std::size_t HDR_NAME = 22;
// After the name (n bytes): CRC at 22 + n, system byte 0x20 at 24 + n, extension size 0.

inline constexpr std::size_t MAX_NAME_LENGTH = 230;        // H = n + 25 must fit one byte
inline constexpr std::size_t MAX_HEADER_BYTES = 255 + 2;   // H + 2 at most
inline constexpr std::uint32_t FREE_SPACE_MARKER = 0xFFFFFFFFu;  // packed-size field of free space
inline constexpr std::size_t MODULE_TRAILER_BYTES = 4;     // header bytes 0,1 + end byte + sum byte

// One module header as it lies in a file or in the image: byte 0 is H, byte 1 the
// header sum, bytes 2 .. H + 1 the rest.  H + 2 bytes are meaningful.
struct ModuleHeader {
  std::array<std::uint8_t, MAX_HEADER_BYTES> bytes{};
};

// Reads a little-endian field of `width` (1 to 4) bytes at `p`.
inline std::uint32_t read_le(const std::uint8_t* p, unsigned width) {
  std::uint32_t v = 0;
  for (unsigned i = width; i-- > 0;) v = (v << 8) | p[i];
  return v;
}

// Writes the low `width` (1 to 4) bytes of `value` at `p`, least significant first.
inline void write_le(std::uint8_t* p, unsigned width, std::uint32_t value) {
  for (unsigned i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// 8-bit sum (modulo 256) of the `h` header bytes that start at offset 2 of `header`.
std::uint8_t header_sum(const std::uint8_t* header, unsigned h);

// 8-bit sum of `count` bytes.
std::uint8_t byte_sum(const std::uint8_t* data, std::size_t count);

// Load segment and load offset of a load text such as "4013:0" (each 16 bits).
// Every character that is not a colon shifts the accumulator by one hex digit (non-hex
// characters count as 0); a colon moves the accumulator into the segment.
struct LoadFields {
  std::uint16_t segment = 0;
  std::uint16_t offset = 0;
};
LoadFields parse_load_text(std::string_view load_text);

// The codec state shared by the pack/unpack drivers and the LZH coder.  All zero at
// program start; reset_codec_state() puts it back there.
struct CodecState {
  std::uint16_t running_crc = 0;     // CRC-16 accumulator over checked reads and writes
  std::uint32_t original_size = 0;   // packing: bytes read; unpacking: bytes still to produce
  std::uint32_t packed_size = 0;     // packing: bytes written; unpacking: bytes still to read
  bool incompressible = false;       // a packed byte was due while packed >= original
  std::array<std::uint16_t, 256> crc_table{};
  // crc_slices[k][b]: the CRC of byte b followed by k zero bytes, derived from crc_table,
  // so that crc_update can take eight bytes per step with the same result.
  std::array<std::array<std::uint16_t, 256>, 8> crc_slices{};
};
extern CodecState codec;
void reset_codec_state();

// Fills codec.crc_table for CRC-16/ARC (reflected 0x8005, i.e. 0xA001 shifting right),
// and the slice tables derived from it.
void build_crc_table();

// Runs `count` bytes through codec.running_crc (the table must have been built).
// Equal to one table step per byte: crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8).
void crc_update(const std::uint8_t* data, std::size_t count);

// Writes `count` bytes to `stream`; a short write is fatal("Unable to write") (exit 1).
// Otherwise runs the bytes through codec.running_crc.
void write_with_crc(const std::uint8_t* buffer, std::size_t count, std::FILE* stream);

// Reads up to `count` bytes from `stream` (untrusted file data); adds the number read to
// codec.original_size and runs exactly those bytes through codec.running_crc.
// Returns the number read; 0 means the input is exhausted.
std::size_t read_with_crc(std::uint8_t* buffer, std::size_t count, std::FILE* stream);
