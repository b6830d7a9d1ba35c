// Bit output and input of the -lh5- codec.
// Output: out_free (1..8) bits of the partial byte are free; full bytes leave through
// write_packed_byte, which refuses to let the packed data reach the size of the input
// read so far (codec.incompressible).
// Input: in_window always holds the next 16 bits; bytes are fetched one at a time and
// only while packed bytes are left (codec.packed_size), so nothing after the packed data
// is read; they come through a small read-ahead block (input_ahead).
#include "lzh/bitio_internal.hpp"

#include <cstdio>
#include <cstring>

#include "lzh/block_coder_internal.hpp"
#include "lzh/decoder_internal.hpp"
#include "lzh/encoder_internal.hpp"

CodecStreams streams;
BitIoState bit_io;
HuffmanTrees huffman_trees;
InputAhead input_ahead;

void reset_bit_io() {
  bit_io = BitIoState{};
  huffman_trees = HuffmanTrees{};
  input_ahead.next = input_ahead.end = input_ahead.real_end = 0;
  input_ahead.file_left = 0;
}

unsigned refill_input_ahead() {
  InputAhead& in = input_ahead;
  const unsigned keep = in.next < INPUT_KEEP_BYTES ? in.next : INPUT_KEEP_BYTES;
  const unsigned dropped = in.next - keep;
  std::memmove(in.bytes, in.bytes + dropped, keep);
  in.real_end = in.real_end > dropped ? in.real_end - dropped : 0;
  in.next = keep;
  if (in.file_left > 0) {
    const unsigned want = in.file_left < INPUT_AHEAD_BYTES ? in.file_left : INPUT_AHEAD_BYTES;
    std::size_t got = std::fread(in.bytes + keep, 1, want, streams.archive_stream);
    for (; got < want; ++got) in.bytes[keep + got] = 0xFF;
    in.file_left -= want;
    in.end = keep + want;
    in.real_end = in.end;
  } else {
    std::memset(in.bytes + keep, 0, INPUT_AHEAD_BYTES);
    in.end = keep + INPUT_AHEAD_BYTES;
  }
  return in.bytes[in.next++];
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
  input_ahead.next = input_ahead.end = input_ahead.real_end = 0;
  input_ahead.file_left = codec.packed_size;
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
