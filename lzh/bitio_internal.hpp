// Bit-level output and input of the -lh5- codec, and the Huffman tree links that the
// block coder and the decoder share.  Internal to lzh/ and its tests.
//
// Bits are packed most significant bit first; multi-bit values are written most
// significant bit first.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/module.hpp"
#include "lzh/lzh.hpp"

// Inner-node links of one Huffman tree: 2 x 510 - 1 entries each.
inline constexpr unsigned TREE_NODES = 2 * LITLEN_SYMBOLS - 1;

// Bit output and input state.  All zero at program start.
struct BitIoState {
  // Output: the low 8 bits of out_bits are the partial byte (higher bits are left-overs,
  // never written); out_free (1..8) bit positions of it are still free, 8 = none pending.
  std::uint32_t out_bits = 0;
  unsigned out_free = 0;
  // Input: in_window holds the next 16 bits of the stream, most significant bit first;
  // the low in_left (0..8) bits of in_byte, the last byte fetched, follow them.
  std::uint16_t in_window = 0;
  std::uint8_t in_byte = 0;
  unsigned in_left = 0;
};
extern BitIoState bit_io;

// Child links of the inner nodes of a Huffman tree: used by the encoder's tree builder and
// by the decoder's overflow trees, never both at once.
struct HuffmanTrees {
  std::uint16_t tree_left[TREE_NODES] = {};
  std::uint16_t tree_right[TREE_NODES] = {};
};
extern HuffmanTrees huffman_trees;

// Back to program start: bit state and tree links zero.
void reset_bit_io();

// Writes one packed byte: while codec.packed_size < codec.original_size the byte goes to
// streams.packed_stream and packed_size grows; otherwise it is dropped and
// codec.incompressible is raised.  Write errors are left in the stream's error state.
inline void write_packed_byte(unsigned byte) {
  if (codec.packed_size < codec.original_size) {
    putc_unlocked(static_cast<int>(byte & 0xFF), streams.packed_stream);
    ++codec.packed_size;
  } else {
    codec.incompressible = true;
  }
}

// Nothing pending: out_free = 8, out_bits = 0.
void start_bit_output();

// The output state in locals, for loops that write many codes: put() is put_bits on
// (out_bits, out_free); load() and store() convert from and to bit_io.
struct BitWriterState {
  std::uint32_t bits;
  unsigned free;

  void load() {
    bits = bit_io.out_bits;
    free = bit_io.out_free;
  }
  void store() const {
    bit_io.out_bits = bits;
    bit_io.out_free = free;
  }
  void put(unsigned n, unsigned x) {
    if (n < free) {
      free -= n;
      bits |= x << free;
      return;
    }
    n -= free;
    write_packed_byte(bits | (x >> n));
    if (n < 8) {
      free = 8 - n;
      bits = x << free;
      return;
    }
    write_packed_byte(x >> (n - 8));
    free = 16 - n;
    bits = x << free;
  }
};

// Writes the low n (0..16) bits of x (x < 2^n), most significant first.  Full bytes go
// out through write_packed_byte.  put_bits(7, 0) pads a pending partial byte with zeros
// and writes it; with nothing pending it writes nothing.
inline void put_bits(unsigned n, unsigned x) {
  BitWriterState w;
  w.load();
  w.put(n, x);
  w.store();
}

// The packed bytes that the bit input has read from streams.archive_stream but not yet
// fetched.  They are read in blocks of up to 4,096 bytes, never more than the packed
// bytes not yet read (`file_left`), so nothing after the packed data is read; a stream
// that ends early gives 255 for each missing byte, as a single-byte read would.  Once
// the packed data is used up the block is filled with zero bytes (the zero bits that
// follow it).  The last 8 fetched bytes stay in front of `next` across refills, so a
// reader that fetched ahead can give whole bytes back (BitReader::settle).
inline constexpr unsigned INPUT_AHEAD_BYTES = 4096;
inline constexpr unsigned INPUT_KEEP_BYTES = 8;
struct InputAhead {
  std::uint8_t bytes[INPUT_KEEP_BYTES + INPUT_AHEAD_BYTES] = {};
  unsigned next = 0;             // index of the next byte to fetch
  unsigned end = 0;              // bytes held
  unsigned real_end = 0;         // bytes[0 .. real_end) are packed data, the rest zero fill
  std::uint32_t file_left = 0;   // packed bytes not yet read from the stream
};
extern InputAhead input_ahead;

// The packed bytes not yet fetched: what codec.packed_size says.
inline std::uint32_t packed_bytes_left() {
  const InputAhead& in = input_ahead;
  return in.file_left + (in.real_end > in.next ? in.real_end - in.next : 0);
}

// Refills input_ahead (from streams.archive_stream while packed bytes are left, else
// with zeros) and fetches its first new byte.
unsigned refill_input_ahead();

// Next byte of the packed input: the next packed byte while any is left (a missing byte
// at the end of the stream reads as 255), afterwards 0.  Called only once `next` has
// caught up with what the reader holds (see BitReader::settle).
inline unsigned fetch_packed_byte() {
  InputAhead& in = input_ahead;
  if (in.next != in.end) return in.bytes[in.next++];
  return refill_input_ahead();
}

// The input state in a form that is cheap to work on inside a loop: the next `count`
// (16..24) bits of the stream stand left-aligned in `bits`, so that the 16-bit window is
// bits >> 48.  Bytes are fetched exactly when consume_bits would fetch them (whenever
// fewer than 16 bits are left), so a BitReader consumes exactly as consume_bits does.
// load() and store() convert from and to bit_io; store() also sets codec.packed_size.
struct BitReader {
  std::uint64_t bits;
  int count;

  void load() {
    const unsigned left = bit_io.in_left;
    const std::uint64_t rest = bit_io.in_byte & ((1u << left) - 1);
    bits = static_cast<std::uint64_t>(bit_io.in_window) << 48 | rest << (48 - left);
    count = 16 + static_cast<int>(left);
  }
  void store() const {
    const unsigned left = static_cast<unsigned>(count - 16);
    bit_io.in_window = static_cast<std::uint16_t>(bits >> 48);
    bit_io.in_byte = static_cast<std::uint8_t>(bits >> (48 - left));
    bit_io.in_left = left;
    codec.packed_size = packed_bytes_left();
  }
  // The next 16 bits of the stream, as in_window.
  unsigned window() const { return static_cast<unsigned>(bits >> 48); }
  // The next n (1..16) bits.
  unsigned peek(unsigned n) const { return static_cast<unsigned>(bits >> (64 - n)); }
  // Drops n (0..16) bits and refills to at least 16 bits, byte by byte.
  void consume(unsigned n) {
    bits <<= n;
    count -= static_cast<int>(n);
    while (count < 16) {
      // count >= 0 here: a byte lands right after the bits still held.
      bits |= static_cast<std::uint64_t>(fetch_packed_byte()) << (56 - count);
      count += 8;
    }
  }
  // Drops any number of bits.
  void consume_any(unsigned n) {
    while (n > 16) {
      consume(16);
      n -= 16;
    }
    consume(n);
  }
};

// in_window = in_byte = in_left = 0, then consume_bits(16): the window holds the first
// two bytes of the packed data (zero bits once packed_size is used up).  From here on
// the bit input counts the packed bytes left itself (input_ahead) and keeps
// codec.packed_size up to date.
void start_bit_input();

// Drops the n most significant bits of in_window and refills it from
// streams.archive_stream (at most codec.packed_size bytes, then zero bits).
void consume_bits(unsigned n);

// Returns the top n (0..16) bits of in_window (0 for n = 0), then consume_bits(n).
unsigned get_bits(unsigned n);
