// The -lh5- decoder's tables and block-header readers.  Internal to lzh/ and its tests.
//
// A table entry below the alphabet size is a symbol; an entry at or above it is an inner
// node of the overflow tree (huffman_trees), walked one bit per step for codes longer
// than the table width.
#pragma once

#include <cstdint>

#include "lzh/bitio_internal.hpp"

inline constexpr unsigned SMALL_TABLE_ENTRIES = 1u << SMALL_TABLE_BITS;    // 256
inline constexpr unsigned LITLEN_TABLE_ENTRIES = 1u << LITLEN_TABLE_BITS;  // 4,096

// The decoder's state.  All zero at program start; start_decode resets the block and
// copy counters, the tables are rebuilt per block in place.
struct DecoderState {
  std::uint8_t dec_small_len[PRE_SYMBOLS] = {};          // pre-code, then distance code
  std::uint16_t dec_small_table[SMALL_TABLE_ENTRIES] = {};
  std::uint8_t dec_litlen_len[LITLEN_SYMBOLS] = {};
  std::uint16_t dec_litlen_table[LITLEN_TABLE_ENTRIES] = {};
  std::uint16_t dec_block_left = 0;   // items left in the block; 0 = a header comes next
  int dec_copy_left = 0;              // bytes of the current match not yet copied
  std::uint16_t dec_copy_from = 0;    // ring index of the next byte to copy (mod 8192)
};
extern DecoderState decoder;

// Back to program start.
void reset_decoder();

// Fills `table` (2^table_bits entries) and its overflow tree for the canonical code
// given by lengths[0..nchar-1].  The lengths are untrusted: a length above 16, or a set
// whose code space is not exactly 2^16, is fatal("Bad table") (stdout, exit 1) before
// the table is touched; a set of all zeros leaves table and tree as they were.
void build_table(unsigned nchar, const std::uint8_t* lengths, unsigned table_bits,
                 std::uint16_t* table);

// Reads the pre-code (nn 19, count_bits 5, special 3) or the distance code (nn 14,
// count_bits 4, special -1) into dec_small_len / dec_small_table.  A single-form symbol
// of nn or more is fatal("Bad table"); lengths past nn are read and not stored.
void read_small_lengths(unsigned nn, unsigned count_bits, int special);

// Reads the literal/length code into dec_litlen_len / dec_litlen_table through the
// pre-code.  A single-form symbol above 509 is fatal("Bad table"); lengths and zero runs
// past entry 509 are read and not stored.
void read_litlen_lengths();

// The next literal/length symbol (0..509), reading a block header first when the block
// is used up.
unsigned decode_litlen();

// The next distance code (0..8191): the distance symbol j, then j - 1 extra bits.
unsigned decode_distance();
