// The -lh5- decoder.  The packed data is untrusted: every code-length set is checked
// before a table is built from it (no length above 16; the code space filled exactly, or
// not at all), single-form symbols are checked against their alphabets, lengths past an
// alphabet are read but never stored, and a tree walk never takes more steps than a
// 16-bit code needs.  Bits come from at most codec.packed_size bytes, then zeros.
// Output byte k of a stream lands at ring index k mod 8192 (every call but the last asks
// for 8192 bytes); a match may overlap the bytes it produces and may run on into the
// next call.
#include <cstring>

#include "image/fatal.hpp"
#include "lzh/decoder_internal.hpp"

DecoderState decoder;

void reset_decoder() { decoder = DecoderState{}; }

namespace {

// Looks a symbol up in `table` by the window's top table_bits bits, walking the overflow
// tree for longer codes.  Returns the symbol (< alphabet); does not consume its bits.
inline unsigned lookup_symbol(unsigned window, const std::uint16_t* table, unsigned table_bits,
                              unsigned alphabet) {
  unsigned v = table[window >> (16 - table_bits)];
  if (v < alphabet) return v;
  unsigned bit = 1u << (15 - table_bits);
  do {
    // Only a table left over from another code (an all-zero set in damaged data) can
    // lead a walk past 16 bits or off the tree.
    if (bit == 0 || v >= TREE_NODES) fatal("Bad table");
    v = (window & bit) ? huffman_trees.tree_right[v] : huffman_trees.tree_left[v];
    bit >>= 1;
  } while (v >= alphabet);
  return v;
}

unsigned read_symbol(const std::uint16_t* table, unsigned table_bits, unsigned alphabet,
                     const std::uint8_t* lengths) {
  unsigned v = lookup_symbol(bit_io.in_window, table, table_bits, alphabet);
  consume_bits(lengths[v]);
  return v;
}

void read_block_header() {
  decoder.dec_block_left = static_cast<std::uint16_t>(get_bits(16));
  read_small_lengths(PRE_SYMBOLS, PRE_COUNT_BITS, 3);
  read_litlen_lengths();
  read_small_lengths(DIST_SYMBOLS, DIST_COUNT_BITS, -1);
}

}  // namespace

void build_table(unsigned nchar, const std::uint8_t* lengths, unsigned table_bits,
                 std::uint16_t* table) {
  unsigned count[MAX_CODE_BITS + 1] = {};
  for (unsigned i = 0; i < nchar; ++i) {
    if (lengths[i] > MAX_CODE_BITS) fatal("Bad table");
    ++count[lengths[i]];
  }
  std::uint32_t total = 0;
  for (unsigned i = 1; i <= MAX_CODE_BITS; ++i) total += count[i] << (16 - i);
  if (total == 0) return;
  if (total != 0x10000) fatal("Bad table");

  std::uint16_t start[MAX_CODE_BITS + 2];
  std::uint16_t weight[MAX_CODE_BITS + 1];
  start[1] = 0;
  for (unsigned i = 1; i <= MAX_CODE_BITS; ++i)
    start[i + 1] = static_cast<std::uint16_t>(start[i] + (count[i] << (16 - i)));
  const unsigned shift = 16 - table_bits;
  for (unsigned i = 1; i <= table_bits; ++i) {
    start[i] = static_cast<std::uint16_t>(start[i] >> shift);
    weight[i] = static_cast<std::uint16_t>(1u << (table_bits - i));
  }
  for (unsigned i = table_bits + 1; i <= MAX_CODE_BITS; ++i)
    weight[i] = static_cast<std::uint16_t>(1u << (16 - i));

  const unsigned entries = 1u << table_bits;
  unsigned first_long = start[table_bits + 1] >> shift;
  if (first_long != 0) {
    for (unsigned i = first_long; i < entries; ++i) table[i] = 0;
  }

  std::uint16_t* left = huffman_trees.tree_left;
  std::uint16_t* right = huffman_trees.tree_right;
  unsigned avail = nchar;
  const unsigned mask = 1u << (15 - table_bits);
  for (unsigned ch = 0; ch < nchar; ++ch) {
    unsigned len = lengths[ch];
    if (len == 0) continue;
    unsigned next = static_cast<std::uint16_t>(start[len] + weight[len]);
    if (len <= table_bits) {
      for (unsigned i = start[len]; i < next; ++i) table[i] = static_cast<std::uint16_t>(ch);
    } else {
      unsigned k = start[len];
      std::uint16_t* entry = &table[k >> shift];
      for (unsigned m = len - table_bits; m > 0; --m) {
        if (*entry == 0) {
          left[avail] = right[avail] = 0;
          *entry = static_cast<std::uint16_t>(avail++);
        }
        entry = (k & mask) ? &right[*entry] : &left[*entry];
        k = (k << 1) & 0xFFFF;
      }
      *entry = static_cast<std::uint16_t>(ch);
    }
    start[len] = static_cast<std::uint16_t>(next);
  }
}

void read_small_lengths(unsigned nn, unsigned count_bits, int special) {
  std::uint8_t* len = decoder.dec_small_len;
  unsigned n = get_bits(count_bits);
  if (n == 0) {
    unsigned c = get_bits(count_bits);
    if (c >= nn) fatal("Bad table");
    std::memset(len, 0, nn);
    for (unsigned i = 0; i < SMALL_TABLE_ENTRIES; ++i)
      decoder.dec_small_table[i] = static_cast<std::uint16_t>(c);
    return;
  }
  unsigned i = 0;
  while (i < n) {
    unsigned window = bit_io.in_window;
    unsigned c = window >> 13;
    if (c == 7) {
      unsigned bit = 1u << 12;
      while (window & bit) {
        bit >>= 1;
        ++c;
      }
    }
    consume_bits(c < 7 ? 3 : c - 3);
    if (i < nn) len[i] = static_cast<std::uint8_t>(c);
    ++i;
    if (static_cast<int>(i) == special) {
      for (unsigned zeros = get_bits(2); zeros > 0; --zeros, ++i) {
        if (i < nn) len[i] = 0;
      }
    }
  }
  for (; i < nn; ++i) len[i] = 0;
  build_table(nn, len, SMALL_TABLE_BITS, decoder.dec_small_table);
}

void read_litlen_lengths() {
  std::uint8_t* len = decoder.dec_litlen_len;
  unsigned n = get_bits(LITLEN_COUNT_BITS);
  if (n == 0) {
    unsigned c = get_bits(LITLEN_COUNT_BITS);
    if (c >= LITLEN_SYMBOLS) fatal("Bad table");
    std::memset(len, 0, LITLEN_SYMBOLS);
    for (unsigned i = 0; i < LITLEN_TABLE_ENTRIES; ++i)
      decoder.dec_litlen_table[i] = static_cast<std::uint16_t>(c);
    return;
  }
  unsigned i = 0;
  while (i < n) {
    unsigned c = read_symbol(decoder.dec_small_table, SMALL_TABLE_BITS, PRE_SYMBOLS,
                             decoder.dec_small_len);
    if (c <= 2) {
      unsigned run = c == 0 ? 1 : c == 1 ? get_bits(4) + 3 : get_bits(9) + 20;
      for (; run > 0; --run, ++i) {
        if (i < LITLEN_SYMBOLS) len[i] = 0;
      }
    } else {
      if (i < LITLEN_SYMBOLS) len[i] = static_cast<std::uint8_t>(c - 2);
      ++i;
    }
  }
  for (; i < LITLEN_SYMBOLS; ++i) len[i] = 0;
  build_table(LITLEN_SYMBOLS, len, LITLEN_TABLE_BITS, decoder.dec_litlen_table);
}

unsigned decode_litlen() {
  if (decoder.dec_block_left == 0) read_block_header();
  --decoder.dec_block_left;
  return read_symbol(decoder.dec_litlen_table, LITLEN_TABLE_BITS, LITLEN_SYMBOLS,
                     decoder.dec_litlen_len);
}

unsigned decode_distance() {
  unsigned j = read_symbol(decoder.dec_small_table, SMALL_TABLE_BITS, DIST_SYMBOLS,
                           decoder.dec_small_len);
  if (j == 0) return 0;
  return (1u << (j - 1)) + get_bits(j - 1);
}

void start_decode() {
  start_bit_input();
  decoder.dec_block_left = 0;
  decoder.dec_copy_left = 0;
}

// The loop below is decode_litlen / decode_distance with the bit state held in locals
// (BitReader); it goes back to the global state around every block header.
void decode_chunk(std::uint16_t count, std::uint8_t* ring) {
  if (count == 0) return;
  const unsigned total = count > DICT_SIZE ? DICT_SIZE : count;
  constexpr unsigned RING_MASK = DICT_SIZE - 1;
  DecoderState& d = decoder;
  unsigned r = 0;
  unsigned from = d.dec_copy_from;
  unsigned copy_left = static_cast<unsigned>(d.dec_copy_left > 0 ? d.dec_copy_left : 0);

  // Finish a match that the previous call left unfinished.
  while (copy_left > 0) {
    --copy_left;
    ring[r++] = ring[from];
    from = (from + 1) & RING_MASK;
    if (r == total) {
      d.dec_copy_left = static_cast<int>(copy_left);
      d.dec_copy_from = static_cast<std::uint16_t>(from);
      return;
    }
  }

  BitReader in;
  in.load();
  unsigned block_left = d.dec_block_left;
  const std::uint16_t* litlen_table = d.dec_litlen_table;
  const std::uint8_t* litlen_len = d.dec_litlen_len;
  const std::uint16_t* small_table = d.dec_small_table;
  const std::uint8_t* small_len = d.dec_small_len;
  for (;;) {
    if (block_left == 0) {
      in.store();
      read_block_header();
      in.load();
      block_left = d.dec_block_left;
    }
    block_left = (block_left - 1) & 0xFFFF;

    unsigned c = lookup_symbol(in.window(), litlen_table, LITLEN_TABLE_BITS, LITLEN_SYMBOLS);
    in.consume(litlen_len[c]);
    if (c < 256) {
      ring[r++] = static_cast<std::uint8_t>(c);
      if (r == total) break;
      continue;
    }

    unsigned j = lookup_symbol(in.window(), small_table, SMALL_TABLE_BITS, DIST_SYMBOLS);
    in.consume(small_len[j]);
    unsigned distance = 0;
    if (j != 0) {
      distance = 1u << (j - 1);
      if (j > 1) {
        distance += in.window() >> (17 - j);
        in.consume(j - 1);
      }
    }
    copy_left = c - 253;
    from = (r - distance - 1) & RING_MASK;

    unsigned n = total - r < copy_left ? total - r : copy_left;
    copy_left -= n;
    if (from + n <= DICT_SIZE) {
      const std::uint8_t* src = ring + from;
      std::uint8_t* dst = ring + r;
      for (unsigned i = 0; i < n; ++i) dst[i] = src[i];
      from = (from + n) & RING_MASK;
    } else {
      for (unsigned i = 0; i < n; ++i) {
        ring[r + i] = ring[from];
        from = (from + 1) & RING_MASK;
      }
    }
    r += n;
    if (r == total) break;
  }
  in.store();
  d.dec_block_left = static_cast<std::uint16_t>(block_left);
  d.dec_copy_left = static_cast<int>(copy_left);
  d.dec_copy_from = static_cast<std::uint16_t>(from);
}
