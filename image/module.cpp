// Module header arithmetic, CRC-16/ARC and the checked read/write primitives.
// Invariant: every original byte that packing reads and unpacking writes passes through
// crc_update exactly once, in stream order.
#include "image/module.hpp"

#include "image/fatal.hpp"

CodecState codec;

void reset_codec_state() { codec = CodecState{}; }

std::uint8_t byte_sum(const std::uint8_t* data, std::size_t count) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += data[i];
  return static_cast<std::uint8_t>(sum);
}

std::uint8_t header_sum(const std::uint8_t* header, unsigned h) { return byte_sum(header + 2, h); }

LoadFields parse_load_text(std::string_view load_text) {
  std::uint32_t accumulator = 0;
  std::uint32_t segment = 0;
  for (char ch : load_text) {
    if (ch == ':') {
      segment = accumulator;
      accumulator = 0;
      continue;
    }
    unsigned digit = 0;
    if (ch >= '0' && ch <= '9') digit = static_cast<unsigned>(ch - '0');
    else if (ch >= 'A' && ch <= 'F') digit = static_cast<unsigned>(ch - 'A' + 10);
    else if (ch >= 'a' && ch <= 'f') digit = static_cast<unsigned>(ch - 'a' + 10);
    accumulator = ((accumulator << 4) + digit) & 0xFFFFu;
  }
  return LoadFields{static_cast<std::uint16_t>(segment), static_cast<std::uint16_t>(accumulator)};
}

void build_crc_table() {
  for (unsigned i = 0; i < 256; ++i) {
    unsigned value = i;
    for (int k = 0; k < 8; ++k) value = (value & 1) ? (value >> 1) ^ 0xA001u : value >> 1;
    codec.crc_table[i] = static_cast<std::uint16_t>(value);
  }
  codec.crc_slices[0] = codec.crc_table;
  for (std::size_t k = 1; k < codec.crc_slices.size(); ++k)
    for (unsigned i = 0; i < 256; ++i) {
      const std::uint16_t previous = codec.crc_slices[k - 1][i];
      codec.crc_slices[k][i] = static_cast<std::uint16_t>(codec.crc_table[previous & 0xFF] ^ (previous >> 8));
    }
}

void crc_update(const std::uint8_t* data, std::size_t count) {
  const auto& t = codec.crc_slices;
  std::uint32_t crc = codec.running_crc;
  for (; count >= 8; count -= 8, data += 8) {
    const std::uint32_t low = (data[0] | (data[1] << 8)) ^ crc;
    crc = t[7][low & 0xFF] ^ t[6][low >> 8] ^ t[5][data[2]] ^ t[4][data[3]] ^ t[3][data[4]] ^
          t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
  }
  for (; count > 0; --count, ++data) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
  codec.running_crc = static_cast<std::uint16_t>(crc);
}

void write_with_crc(const std::uint8_t* buffer, std::size_t count, std::FILE* stream) {
  if (std::fwrite(buffer, 1, count, stream) < count) fatal("Unable to write");
  crc_update(buffer, count);
}

std::size_t read_with_crc(std::uint8_t* buffer, std::size_t count, std::FILE* stream) {
  std::size_t got = std::fread(buffer, 1, count, stream);
  codec.original_size += static_cast<std::uint32_t>(got);
  crc_update(buffer, got);
  return got;
}
