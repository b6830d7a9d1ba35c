// The block coder: the back half of the compressor.  It buffers literals and matches,
// counts symbol frequencies and, per block, builds three canonical Huffman codes of at
// most 16 bits (literal/length, distance, and the pre-code that carries the
// literal/length code lengths) and writes them and the block's items through put_bits.
// Internal to lzh/ and its tests.
#pragma once

#include <cstdint>

#include "lzh/bitio_internal.hpp"

inline constexpr unsigned SYMBOL_BUFFER_BYTES = 16384;  // wanted size of the block buffer
inline constexpr unsigned MIN_SYMBOL_BUFFER_BYTES = 4096;

// The block coder's state.  symbol_buffer is allocated at the first compression of a
// run and kept; everything else is reset per compression or per block.
struct BlockCoderState {
  // Block buffer: groups of one flag byte (bit 7 for the first item) and up to eight
  // items; a literal is one byte, a match three (length - 3, distance code high, low).
  std::uint8_t* symbol_buffer = nullptr;
  unsigned symbol_buffer_size = 0;
  unsigned buffer_fill = 0;   // bytes used
  unsigned flag_index = 0;    // index of the current group's flag byte
  unsigned flag_bit = 0;      // current item's bit, 0x80..0x01; 0 = open a new group

  // Frequencies; the entries past each alphabet hold the weights of inner nodes.
  std::uint16_t litlen_freq[2 * LITLEN_SYMBOLS - 1] = {};
  std::uint16_t dist_freq[2 * DIST_SYMBOLS - 1] = {};
  std::uint16_t pre_freq[2 * PRE_SYMBOLS - 1] = {};
  std::uint8_t litlen_len[LITLEN_SYMBOLS] = {};
  std::uint16_t litlen_code[LITLEN_SYMBOLS] = {};
  // The pre-code, then (once the pre-code is written) the distance code of the block.
  std::uint8_t small_len[PRE_SYMBOLS] = {};
  std::uint16_t small_code[PRE_SYMBOLS] = {};
  std::uint16_t length_count[MAX_CODE_BITS + 1] = {};  // symbols per code length 1..16
  std::int16_t heap[LITLEN_SYMBOLS + 1] = {};          // 1-based min-heap by frequency

  // build_huffman's working set, for sift_down, count_depths and fit_lengths.
  unsigned heap_size = 0;
  unsigned huff_symbols = 0;            // alphabet size n of the code being built
  std::uint16_t* huff_freq = nullptr;
  std::uint8_t* huff_len = nullptr;
  std::uint16_t* huff_list = nullptr;   // symbols in the order they left the heap
  unsigned depth = 0;                   // count_depths' current depth
};
extern BlockCoderState block_coder;

// Back to program start, keeping symbol_buffer and its size.
void reset_block_coder();

// At the start of every compression: allocates symbol_buffer on the first call of the
// run (16384 bytes, shrinking by 10% while that fails; below 4096 bytes
// fatal("Out of memory."), exit 1), clears the frequencies and the buffer, and starts the
// bit output.
void start_block_output();


// After the last symbol: unless codec.incompressible is set, writes the last block and
// pads the final byte with zero bits.
void finish_block_output();

// Writes the buffered block: symbol count (16 bits), literal/length code, distance code
// and items; stops after the item during which codec.incompressible was raised.
// Clears the frequencies after a complete block.
void flush_block();

// Builds a Huffman code of at most 16 bits for n symbols (n <= 510) with frequencies
// freq[0..n-1] (freq has room for n - 1 inner-node weights after them).  Fills len and
// code.  Returns the root: the only used symbol (0 when none) when fewer than two
// symbols occur, with length 0; otherwise an inner node number >= n.  May write "17" on
// stderr (see fit_lengths).
unsigned build_huffman(unsigned n, std::uint16_t* freq, std::uint8_t* len, std::uint16_t* code);

// Restores the heap property below heap entry i (1-based).  Between children of equal
// frequency the left one is taken; the entry moved stays above a child of equal frequency.
void sift_down(unsigned i);

// Counts the leaves under `node` by depth (the root at depth 0) into length_count;
// leaves deeper than 16 count as 16.
void count_depths(unsigned node);

// Limits the lengths of the tree under root to 16 bits: for every unit by which the
// code space overflows writes "17" on stderr and moves one leaf; then gives the longest
// lengths to the least frequent symbols of huff_list.
void fit_lengths(unsigned root);

// Canonical codes from length_count and len: codes of one length are consecutive in
// symbol order, shorter codes first.
void assign_codes(unsigned n, const std::uint8_t* len, std::uint16_t* code);

// Counts, in pre_freq, the pre-code symbols that write_litlen_lengths will send.
void count_pre_freq();

// Sends small_len[0..n-1] without trailing zeros: count in count_bits bits, then each
// length (0..6 as 3 bits, 7..16 as unary); after entry `special` (3 for the pre-code,
// -1 for none) 2 bits tell how many of the next lengths (up to entry 5) are zero.
void write_small_lengths(unsigned n, unsigned count_bits, int special);

// Sends litlen_len without trailing zeros: count in 9 bits, then the lengths as pre-code
// symbols (0: one zero; 1 + 4 bits: 3..18 zeros; 2 + 9 bits: 20+ zeros; 3..18: 1..16).
void write_litlen_lengths();

// The code of literal/length symbol c; the code of distance code p's bit length and,
// when that length c > 1, the low c - 1 bits of p.
void put_litlen(unsigned c);
void put_distance(unsigned p);

// Bit length of p: 0 for 0, else the number of its highest set bit plus one.
inline unsigned distance_symbol(unsigned p) {
  return p == 0 ? 0 : 32 - static_cast<unsigned>(__builtin_clz(p));
}

// Buffers literal c (0..255, p = 0) or match symbol c (256..509) with distance code p
// (0..8191) and counts them.  Opening a group in the last 24 bytes of the buffer writes
// the block first; if that raised codec.incompressible the symbol is dropped.
inline void buffer_symbol(unsigned c, unsigned p) {
  BlockCoderState& bc = block_coder;
  unsigned flag_bit = bc.flag_bit >> 1;
  unsigned fill = bc.buffer_fill;
  std::uint8_t* buffer = bc.symbol_buffer;
  if (flag_bit == 0) {
    flag_bit = 0x80;
    if (fill >= bc.symbol_buffer_size - 24) {
      bc.flag_bit = flag_bit;
      flush_block();
      if (codec.incompressible) return;
      fill = 0;
    }
    bc.flag_index = fill;
    buffer[fill++] = 0;
  }
  bc.flag_bit = flag_bit;
  buffer[fill++] = static_cast<std::uint8_t>(c);
  ++bc.litlen_freq[c];
  if (c >= 256) {
    buffer[bc.flag_index] |= static_cast<std::uint8_t>(flag_bit);
    buffer[fill++] = static_cast<std::uint8_t>(p >> 8);
    buffer[fill++] = static_cast<std::uint8_t>(p);
    ++bc.dist_freq[distance_symbol(p)];
  }
  bc.buffer_fill = fill;
}
