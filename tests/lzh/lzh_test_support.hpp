// Helpers for the codec tests: a bit writer for hand-built -lh5- streams, whole-stream
// compression and decompression through temporary files, and a view of the block
// coder's buffered items.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace lzhtest {

using Bytes = std::vector<std::uint8_t>;

// Collects bits most significant first, as the codec packs them.
class BitWriter {
 public:
  void put(unsigned n, std::uint32_t value) {
    for (unsigned i = n; i-- > 0;) put_bit((value >> i) & 1);
  }
  // The bits so far, the last byte padded with zero bits.
  Bytes bytes() const { return bytes_; }
  std::size_t bit_count() const { return bits_; }

 private:
  void put_bit(unsigned bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> (bits_ % 8));
    ++bits_;
  }
  Bytes bytes_;
  std::size_t bits_ = 0;
};

// Every codec global back to program start, CRC table built.
void reset_everything();

// A temporary file holding `data`, positioned at its start.
std::FILE* file_with(const Bytes& data);
// The whole content of a stream (rewinds it).
Bytes contents(std::FILE* stream);

struct Compressed {
  Bytes packed;              // what reached packed_stream
  bool incompressible = false;
  std::uint32_t original_size = 0;
  std::uint32_t packed_size = 0;
  std::uint16_t crc = 0;
};
// Runs encode over `input` like the pack driver does (counters cleared first).
Compressed compress(const Bytes& input, std::uint8_t show_progress = 0);

struct Decompressed {
  Bytes out;
  long bytes_read = 0;   // archive bytes the decoder took from the stream
};
// Decodes `original_size` bytes of `packed` like the unpack driver does: packed_size is
// `packed_size` (default: the data's length), chunks of 8192 into one ring that sits
// inside a canary-filled buffer; fails the test when a byte past a chunk changes.
// Bytes 0xA5 follow the packed data in the stream so that over-reads are visible.
Decompressed decompress(const Bytes& packed, std::size_t original_size,
                        long packed_size = -1);

// The items waiting in the block buffer: (symbol, distance code) pairs, literals with 0.
std::vector<std::pair<unsigned, unsigned>> buffered_items();

// Runs `body` in a child process with stdout captured.  Returns the exit status
// (1000 + signal when killed) and the child's stdout.
std::pair<int, std::string> run_in_child(void (*body)(const void*), const void* arg);

}  // namespace lzhtest
