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

namespace {

// table[0 .. n - 1] = value, four entries per store where it can.
inline void fill_entries(std::uint16_t* table, unsigned n, std::uint16_t value) {
  const std::uint64_t four = value * 0x0001000100010001ull;
  unsigned i = 0;
  for (; i + 4 <= n; i += 4) std::memcpy(table + i, &four, 8);
  for (; i < n; ++i) table[i] = value;
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
      fill_entries(table + start[len], next - start[len], static_cast<std::uint16_t>(ch));
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

namespace {

// get_bits on a reader.
inline unsigned take_bits(BitReader& in, unsigned n) {
  if (n == 0) return 0;
  const unsigned value = in.peek(n);
  in.consume(n);
  return value;
}

}  // namespace

// The readers below work on a BitReader (the bit state in locals, consumed exactly as
// consume_bits does) and store it back before a table is built.
void read_small_lengths(unsigned nn, unsigned count_bits, int special) {
  std::uint8_t* len = decoder.dec_small_len;
  BitReader in;
  in.load();
  const unsigned n = take_bits(in, count_bits);
  if (n == 0) {
    const unsigned c = take_bits(in, count_bits);
    in.store();
    if (c >= nn) fatal("Bad table");
    std::memset(len, 0, nn);
    for (unsigned i = 0; i < SMALL_TABLE_ENTRIES; ++i)
      decoder.dec_small_table[i] = static_cast<std::uint16_t>(c);
    return;
  }
  unsigned i = 0;
  while (i < n) {
    const unsigned window = in.window();
    unsigned c = window >> 13;
    if (c == 7) {
      unsigned bit = 1u << 12;
      while (window & bit) {
        bit >>= 1;
        ++c;
      }
    }
    in.consume_any(c < 7 ? 3 : c - 3);
    if (i < nn) len[i] = static_cast<std::uint8_t>(c);
    ++i;
    if (static_cast<int>(i) == special) {
      for (unsigned zeros = take_bits(in, 2); zeros > 0; --zeros, ++i) {
        if (i < nn) len[i] = 0;
      }
    }
  }
  in.store();
  for (; i < nn; ++i) len[i] = 0;
  build_table(nn, len, SMALL_TABLE_BITS, decoder.dec_small_table);
}

void read_litlen_lengths() {
  std::uint8_t* len = decoder.dec_litlen_len;
  BitReader in;
  in.load();
  const unsigned n = take_bits(in, LITLEN_COUNT_BITS);
  if (n == 0) {
    const unsigned c = take_bits(in, LITLEN_COUNT_BITS);
    in.store();
    if (c >= LITLEN_SYMBOLS) fatal("Bad table");
    std::memset(len, 0, LITLEN_SYMBOLS);
    for (unsigned i = 0; i < LITLEN_TABLE_ENTRIES; ++i)
      decoder.dec_litlen_table[i] = static_cast<std::uint16_t>(c);
    return;
  }
  unsigned i = 0;
  while (i < n) {
    // A pre-code symbol.
    const unsigned c = lookup_symbol(in.window(), decoder.dec_small_table, SMALL_TABLE_BITS,
                                     PRE_SYMBOLS);
    in.consume(decoder.dec_small_len[c]);
    if (c <= 2) {
      unsigned run = c == 0 ? 1 : c == 1 ? take_bits(in, 4) + 3 : take_bits(in, 9) + 20;
      for (; run > 0; --run, ++i) {
        if (i < LITLEN_SYMBOLS) len[i] = 0;
      }
    } else {
      if (i < LITLEN_SYMBOLS) len[i] = static_cast<std::uint8_t>(c - 2);
      ++i;
    }
  }
  in.store();
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

namespace {

// A match copy that the fast paths below do not take: long, overlapping its own output
// or wrapping around the ring.  Byte by byte, each source byte read before the copy can
// overwrite it.  Returns the ring index after the source.
[[gnu::noinline]] unsigned copy_match_slow(std::uint8_t* ring, std::size_t r, unsigned from,
                                           unsigned n, unsigned distance) {
  constexpr unsigned RING_MASK = DICT_SIZE - 1;
  if (distance + 1 >= n && from + n <= DICT_SIZE) {
    std::memmove(ring + r, ring + from, n);  // no byte is read after it was written
    return (from + n) & RING_MASK;
  }
  for (unsigned i = 0; i < n; ++i) {
    ring[r + i] = ring[from];
    from = (from + 1) & RING_MASK;
  }
  return from;
}

// Symbol lookup for a table entry at or above the alphabet size: the overflow tree.
[[gnu::noinline]] unsigned walk_tree(std::uint64_t bits, const std::uint16_t* table,
                                     unsigned table_bits, unsigned alphabet) {
  return lookup_symbol(static_cast<unsigned>(bits >> 48), table, table_bits, alphabet);
}

// The most bits one item takes: a literal/length code, a distance code and 12 extra bits.
constexpr int MAX_ITEM_BITS = 16 + 16 + 12;

// Decodes items into ring[r..total) until the ring is full or the block is used up.
// Returns the new r.  Before each item the bit buffer is topped up to at least 44 bits,
// with one 8-byte load when the read-ahead block holds 8 more bytes, so the item itself
// never fetches.  On return the whole bytes fetched beyond what consume_bits would have
// fetched are given back, so the bit state and packed_size are exactly consume_bits'.
std::size_t decode_items(std::uint8_t* ring, std::size_t r, std::size_t total, BitReader& in,
                         unsigned& block_left, unsigned& from, unsigned& copy_left) {
  constexpr unsigned RING_MASK = DICT_SIZE - 1;
  const DecoderState& d = decoder;
  InputAhead& ahead = input_ahead;
  // `bits`: `count` valid bits, left-aligned; the bits below them are the stream's next
  // bits or zeros, so or-ing a byte in at its place never disturbs them.
  std::uint64_t bits = in.bits;
  int count = in.count;
  unsigned left = block_left;
  std::uint8_t* out = ring + r;
  std::uint8_t* const end = ring + total;

  // The read-ahead position in locals; ahead.next is brought up to date around every
  // byte-wise fetch and on return.
  const std::uint8_t* next = ahead.bytes + ahead.next;
  // An 8-byte load may start below fast_end (nowhere when fewer than 8 bytes are held).
  auto fast_end_of = [&]() { return ahead.bytes + (ahead.end >= 8 ? ahead.end - 7 : 0); };
  const std::uint8_t* fast_end = fast_end_of();
  auto fetch_byte = [&]() {
    bits |= static_cast<std::uint64_t>(fetch_packed_byte()) << (56 - count);
    count += 8;
  };
  auto top_up = [&]() {
    if (next < fast_end) [[likely]] {
      std::uint64_t word;
      std::memcpy(&word, next, 8);
      bits |= __builtin_bswap64(word) >> count;
      next += static_cast<unsigned>(63 - count) >> 3;
      count |= 56;
    } else {
      ahead.next = static_cast<unsigned>(next - ahead.bytes);
      while (count <= 56) fetch_byte();
      next = ahead.bytes + ahead.next;
      fast_end = fast_end_of();
    }
  };
  auto consume = [&](unsigned n) {
    bits <<= n;
    count -= static_cast<int>(n);
  };

  while (left != 0) {
    --left;
    if (count < MAX_ITEM_BITS) top_up();
    unsigned c = d.dec_litlen_table[bits >> (64 - LITLEN_TABLE_BITS)];
    if (c >= LITLEN_SYMBOLS) [[unlikely]]
      c = walk_tree(bits, d.dec_litlen_table, LITLEN_TABLE_BITS, LITLEN_SYMBOLS);
    consume(d.dec_litlen_len[c]);
    if (c < 256) {
      *out++ = static_cast<std::uint8_t>(c);
      if (out == end) break;
      continue;
    }

    unsigned j = d.dec_small_table[bits >> (64 - SMALL_TABLE_BITS)];
    if (j >= DIST_SYMBOLS) [[unlikely]]
      j = walk_tree(bits, d.dec_small_table, SMALL_TABLE_BITS, DIST_SYMBOLS);
    consume(d.dec_small_len[j]);
    unsigned distance = j;  // the distance code: distance - 1
    if (j > 1) {
      distance = (1u << (j - 1)) + static_cast<unsigned>(bits >> (65 - j));
      consume(j - 1);
    }
    const unsigned at = static_cast<unsigned>(out - ring);
    from = (at - distance - 1) & RING_MASK;
    unsigned n = c - 253;
    const unsigned room = static_cast<unsigned>(end - out);
    if (n > room) [[unlikely]] {
      copy_left = n - room;
      n = room;
    }
    // Matches of 3 to 16 bytes that neither overlap their output nor wrap: loads before
    // stores, the usual case.
    if (n <= 16 && distance + 1 >= n && from + n <= DICT_SIZE && n >= 3) [[likely]] {
      const std::uint8_t* src = ring + from;
      if (n == 3) {
        const std::uint8_t b0 = src[0], b1 = src[1], b2 = src[2];
        out[0] = b0;
        out[1] = b1;
        out[2] = b2;
      } else if (n <= 8) {
        std::uint32_t head, tail;
        std::memcpy(&head, src, 4);
        std::memcpy(&tail, src + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
      } else {
        std::uint64_t head, tail;
        std::memcpy(&head, src, 8);
        std::memcpy(&tail, src + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
      }
      from = (from + n) & RING_MASK;
    } else {
      from = copy_match_slow(ring, at, from, n, distance);
    }
    out += n;
    if (out == end) break;
  }
  // Settle: exactly the bytes consume_bits would have fetched (16..23 bits held).
  ahead.next = static_cast<unsigned>(next - ahead.bytes);
  while (count < 16) fetch_byte();
  const int extra_bytes = (count - 16) >> 3;
  ahead.next -= static_cast<unsigned>(extra_bytes);
  count -= 8 * extra_bytes;
  in.bits = bits & (~std::uint64_t{0} << (64 - count));
  in.count = count;
  block_left = left;
  return static_cast<std::size_t>(out - ring);
}

}  // namespace

// decode_litlen / decode_distance with the bit state held in locals (BitReader, which
// fetches exactly as consume_bits does); the global state is used around every block
// header.
void decode_chunk(std::uint16_t count, std::uint8_t* ring) {
  if (count == 0) return;
  const std::size_t total = count > DICT_SIZE ? DICT_SIZE : count;
  constexpr unsigned RING_MASK = DICT_SIZE - 1;
  DecoderState& d = decoder;
  std::size_t r = 0;
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

  // Items left in the block, 1..65536 once a header is read (a size field of 0 means
  // 65,536); dec_block_left is this count modulo 2^16.
  unsigned block_left = d.dec_block_left;
  BitReader in;
  in.load();
  while (r < total) {
    if (block_left == 0) {
      in.store();
      read_block_header();
      in.load();
      block_left = d.dec_block_left == 0 ? 0x10000 : d.dec_block_left;
    }
    r = decode_items(ring, r, total, in, block_left, from, copy_left);
  }
  in.store();
  d.dec_block_left = static_cast<std::uint16_t>(block_left);
  d.dec_copy_left = static_cast<int>(copy_left);
  d.dec_copy_from = static_cast<std::uint16_t>(from);
}
