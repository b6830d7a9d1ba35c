// The block coder.  Items arrive from the encode loop through buffer_symbol and wait in
// symbol_buffer; a block is written when a new group would start in the last 24 bytes
// of the buffer, and once more at the end.  Invariants: a group that is opened starts at
// least 25 bytes before the end of the buffer (room for its flag byte and eight
// matches), so a block never holds more than 14,544 items and its count fits 16 bits;
// litlen_freq and dist_freq count exactly the buffered items of the current block.
// The codes are deterministic: the heap and its tie rules, the depth fitting and the
// canonical assignment fix every bit of the output.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/fatal.hpp"
#include "lzh/block_coder_internal.hpp"

BlockCoderState block_coder;

void reset_block_coder() {
  std::uint8_t* buffer = block_coder.symbol_buffer;
  unsigned size = block_coder.symbol_buffer_size;
  block_coder = BlockCoderState{};
  block_coder.symbol_buffer = buffer;
  block_coder.symbol_buffer_size = size;
}

void start_block_output() {
  BlockCoderState& bc = block_coder;
  if (bc.symbol_buffer == nullptr) {
    unsigned size = SYMBOL_BUFFER_BYTES;
    for (;;) {
      bc.symbol_buffer = static_cast<std::uint8_t*>(std::malloc(size));
      if (bc.symbol_buffer != nullptr) break;
      size = (size / 10) * 9;
      if (size < MIN_SYMBOL_BUFFER_BYTES) fatal("Out of memory.");
    }
    bc.symbol_buffer_size = size;
  }
  bc.symbol_buffer[0] = 0;
  bc.flag_bit = 0;
  std::memset(bc.litlen_freq, 0, LITLEN_SYMBOLS * sizeof bc.litlen_freq[0]);
  std::memset(bc.dist_freq, 0, DIST_SYMBOLS * sizeof bc.dist_freq[0]);
  bc.buffer_fill = 0;
  start_bit_output();
}

void finish_block_output() {
  if (codec.incompressible) return;
  flush_block();
  put_bits(7, 0);
}

void put_litlen(unsigned c) { put_bits(block_coder.litlen_len[c], block_coder.litlen_code[c]); }

void put_distance(unsigned p) {
  unsigned c = distance_symbol(p);
  put_bits(block_coder.small_len[c], block_coder.small_code[c]);
  if (c > 1) put_bits(c - 1, p & (0xFFFFu >> (17 - c)));
}

void flush_block() {
  BlockCoderState& bc = block_coder;
  unsigned root = build_huffman(LITLEN_SYMBOLS, bc.litlen_freq, bc.litlen_len, bc.litlen_code);
  unsigned size = bc.litlen_freq[root];
  put_bits(16, size);
  if (root >= LITLEN_SYMBOLS) {
    count_pre_freq();
    root = build_huffman(PRE_SYMBOLS, bc.pre_freq, bc.small_len, bc.small_code);
    if (root >= PRE_SYMBOLS) {
      write_small_lengths(PRE_SYMBOLS, PRE_COUNT_BITS, 3);
    } else {
      put_bits(PRE_COUNT_BITS, 0);
      put_bits(PRE_COUNT_BITS, root);
    }
    write_litlen_lengths();
  } else {
    put_bits(PRE_COUNT_BITS, 0);
    put_bits(PRE_COUNT_BITS, 0);
    put_bits(LITLEN_COUNT_BITS, 0);
    put_bits(LITLEN_COUNT_BITS, root);
  }
  root = build_huffman(DIST_SYMBOLS, bc.dist_freq, bc.small_len, bc.small_code);
  if (root >= DIST_SYMBOLS) {
    write_small_lengths(DIST_SYMBOLS, DIST_COUNT_BITS, -1);
  } else {
    put_bits(DIST_COUNT_BITS, 0);
    put_bits(DIST_COUNT_BITS, root);
  }

  // The items, with the bit output state in locals.
  const std::uint8_t* item = bc.symbol_buffer;
  const std::uint8_t* litlen_len = bc.litlen_len;
  const std::uint16_t* litlen_code = bc.litlen_code;
  BitWriterState out;
  out.load();
  unsigned flags = 0;
  for (unsigned i = 0; i < size; ++i) {
    if (i % 8 == 0) {
      flags = *item++;
    } else {
      flags <<= 1;
    }
    if (flags & 0x80) {
      const unsigned c = *item++ + 256u;
      out.put(litlen_len[c], litlen_code[c]);
      const unsigned p = static_cast<unsigned>(item[0]) << 8 | item[1];
      item += 2;
      const unsigned d = distance_symbol(p);  // put_distance
      out.put(bc.small_len[d], bc.small_code[d]);
      if (d > 1) out.put(d - 1, p & (0xFFFFu >> (17 - d)));
    } else {
      const unsigned c = *item++;
      out.put(litlen_len[c], litlen_code[c]);
    }
    if (codec.incompressible) {
      out.store();
      return;
    }
  }
  out.store();
  std::memset(bc.litlen_freq, 0, LITLEN_SYMBOLS * sizeof bc.litlen_freq[0]);
  std::memset(bc.dist_freq, 0, DIST_SYMBOLS * sizeof bc.dist_freq[0]);
}

void count_pre_freq() {
  BlockCoderState& bc = block_coder;
  std::memset(bc.pre_freq, 0, PRE_SYMBOLS * sizeof bc.pre_freq[0]);
  unsigned n = LITLEN_SYMBOLS;
  while (n > 0 && bc.litlen_len[n - 1] == 0) --n;
  unsigned i = 0;
  while (i < n) {
    unsigned k = bc.litlen_len[i++];
    if (k != 0) {
      ++bc.pre_freq[k + 2];
      continue;
    }
    unsigned count = 1;
    while (i < n && bc.litlen_len[i] == 0) {
      ++i;
      ++count;
    }
    if (count <= 2) {
      bc.pre_freq[0] = static_cast<std::uint16_t>(bc.pre_freq[0] + count);
    } else if (count <= 18) {
      ++bc.pre_freq[1];
    } else if (count == 19) {
      ++bc.pre_freq[0];
      ++bc.pre_freq[1];
    } else {
      ++bc.pre_freq[2];
    }
  }
}

void write_small_lengths(unsigned n, unsigned count_bits, int special) {
  const BlockCoderState& bc = block_coder;
  while (n > 0 && bc.small_len[n - 1] == 0) --n;
  put_bits(count_bits, n);
  unsigned i = 0;
  while (i < n) {
    unsigned k = bc.small_len[i++];
    if (k <= 6) {
      put_bits(3, k);
    } else {
      put_bits(k - 3, (1u << (k - 3)) - 2);
    }
    if (static_cast<int>(i) == special) {
      while (i < 6 && bc.small_len[i] == 0) ++i;
      put_bits(2, (i - 3) & 3);
    }
  }
}

namespace {

// One pre-code symbol with the block's pre-code.
void put_pre(unsigned s) { put_bits(block_coder.small_len[s], block_coder.small_code[s]); }

}  // namespace

void write_litlen_lengths() {
  const BlockCoderState& bc = block_coder;
  unsigned n = LITLEN_SYMBOLS;
  while (n > 0 && bc.litlen_len[n - 1] == 0) --n;
  put_bits(LITLEN_COUNT_BITS, n);
  unsigned i = 0;
  while (i < n) {
    unsigned k = bc.litlen_len[i++];
    if (k != 0) {
      put_pre(k + 2);
      continue;
    }
    unsigned count = 1;
    while (i < n && bc.litlen_len[i] == 0) {
      ++i;
      ++count;
    }
    if (count <= 2) {
      for (unsigned j = 0; j < count; ++j) put_pre(0);
    } else if (count <= 18) {
      put_pre(1);
      put_bits(4, count - 3);
    } else if (count == 19) {
      put_pre(0);
      put_pre(1);
      put_bits(4, 15);
    } else {
      put_pre(2);
      put_bits(9, count - 20);
    }
  }
}

void sift_down(unsigned i) {
  BlockCoderState& bc = block_coder;
  const std::uint16_t* freq = bc.huff_freq;
  std::int16_t* heap = bc.heap;
  const unsigned size = bc.heap_size;
  std::int16_t k = heap[i];
  while (2 * i <= size) {
    unsigned j = 2 * i;
    if (j < size && freq[heap[j]] > freq[heap[j + 1]]) ++j;
    if (freq[k] <= freq[heap[j]]) break;
    heap[i] = heap[j];
    i = j;
  }
  heap[i] = k;
}

void count_depths(unsigned node) {
  BlockCoderState& bc = block_coder;
  if (node < bc.huff_symbols) {
    ++bc.length_count[bc.depth < MAX_CODE_BITS ? bc.depth : MAX_CODE_BITS];
    return;
  }
  ++bc.depth;
  count_depths(huffman_trees.tree_left[node]);
  count_depths(huffman_trees.tree_right[node]);
  --bc.depth;
}

void fit_lengths(unsigned root) {
  BlockCoderState& bc = block_coder;
  std::memset(bc.length_count, 0, sizeof bc.length_count);
  bc.depth = 0;
  count_depths(root);
  std::uint32_t cum = 0;
  for (unsigned i = 1; i <= MAX_CODE_BITS; ++i) cum += std::uint32_t{bc.length_count[i]} << (16 - i);
  while (cum != 0x10000) {
    std::fputs("17", stderr);
    --bc.length_count[16];
    for (unsigned i = 15; i >= 1; --i) {
      if (bc.length_count[i] != 0) {
        --bc.length_count[i];
        bc.length_count[i + 1] = static_cast<std::uint16_t>(bc.length_count[i + 1] + 2);
        break;
      }
    }
    --cum;
  }
  const std::uint16_t* list = bc.huff_list;
  for (unsigned i = MAX_CODE_BITS; i >= 1; --i) {
    for (unsigned k = bc.length_count[i]; k > 0; --k) bc.huff_len[*list++] = static_cast<std::uint8_t>(i);
  }
}

void assign_codes(unsigned n, const std::uint8_t* len, std::uint16_t* code) {
  std::uint16_t start[MAX_CODE_BITS + 2] = {};
  for (unsigned i = 1; i <= MAX_CODE_BITS; ++i)
    start[i + 1] = static_cast<std::uint16_t>((start[i] + block_coder.length_count[i]) << 1);
  for (unsigned i = 0; i < n; ++i) code[i] = start[len[i]]++;
}

unsigned build_huffman(unsigned n, std::uint16_t* freq, std::uint8_t* len, std::uint16_t* code) {
  BlockCoderState& bc = block_coder;
  bc.huff_symbols = n;
  bc.huff_freq = freq;
  bc.huff_len = len;
  bc.heap_size = 0;
  bc.heap[1] = 0;
  for (unsigned i = 0; i < n; ++i) {
    len[i] = 0;
    if (freq[i] != 0) bc.heap[++bc.heap_size] = static_cast<std::int16_t>(i);
  }
  if (bc.heap_size < 2) {
    code[bc.heap[1]] = 0;
    return static_cast<unsigned>(bc.heap[1]);
  }
  for (unsigned i = bc.heap_size / 2; i >= 1; --i) sift_down(i);

  bc.huff_list = code;
  std::uint16_t* list = code;
  unsigned avail = n;
  unsigned k;
  do {
    unsigned i = static_cast<unsigned>(bc.heap[1]);
    if (i < n) *list++ = static_cast<std::uint16_t>(i);
    bc.heap[1] = bc.heap[bc.heap_size--];
    sift_down(1);
    unsigned j = static_cast<unsigned>(bc.heap[1]);
    if (j < n) *list++ = static_cast<std::uint16_t>(j);
    k = avail++;
    freq[k] = static_cast<std::uint16_t>(freq[i] + freq[j]);
    bc.heap[1] = static_cast<std::int16_t>(k);
    sift_down(1);
    huffman_trees.tree_left[k] = static_cast<std::uint16_t>(i);
    huffman_trees.tree_right[k] = static_cast<std::uint16_t>(j);
  } while (bc.heap_size > 1);

  fit_lengths(k);
  assign_codes(n, len, code);
  return k;
}
