// Bit output and input of the -lh5- codec.
// Output: out_free (1..8) bits of the partial byte are free; full bytes leave through
// write_packed_byte, which refuses to let the packed data reach the size of the input
// read so far (codec.incompressible).
// Input: in_window always holds the next 16 bits; bytes are fetched one at a time and
// only while codec.packed_size is not 0, so nothing after the packed data is read.
#include "lzh/bitio_internal.hpp"

#include "lzh/block_coder_internal.hpp"
#include "lzh/decoder_internal.hpp"
#include "lzh/encoder_internal.hpp"

CodecStreams streams;
BitIoState bit_io;
HuffmanTrees huffman_trees;

void reset_bit_io() {
  bit_io = BitIoState{};
  huffman_trees = HuffmanTrees{};
}

void reset_lzh_state() {
  streams = CodecStreams{};
  reset_bit_io();
  reset_block_coder();
  reset_match_finder();
  reset_decoder();
}

void start_bit_output() {
  bit_io.out_free = 8;
  bit_io.out_bits = 0;
}

void start_bit_input() {
  bit_io.in_window = 0;
  bit_io.in_byte = 0;
  bit_io.in_left = 0;
  consume_bits(16);
}

void consume_bits(unsigned n) {
  BitReader reader;
  reader.load();
  reader.consume_any(n);
  reader.store();
}

unsigned get_bits(unsigned n) {
  if (n == 0) return 0;
  unsigned value = bit_io.in_window >> (16 - n);
  consume_bits(n);
  return value;
}
