// The -lh5- codec: what the pack and unpack drivers use.  The codec reads and writes
// only through the streams below and the shared codec state (image/module.hpp).
#pragma once

#include <cstdint>
#include <cstdio>

// The three codec streams, opened and closed by the drivers.
struct CodecStreams {
  std::FILE* source_stream = nullptr;   // read by encode through read_with_crc
  std::FILE* packed_stream = nullptr;   // receives the compressed bytes
  std::FILE* archive_stream = nullptr;  // the decoder's input, at most packed_size bytes read
};
extern CodecStreams streams;

// Compresses all of streams.source_stream into streams.packed_stream.  Counts
// codec.packed_size and codec.original_size, runs the input through codec.running_crc and
// raises codec.incompressible (and stops) when a packed byte is due while
// packed_size >= original_size.  With show_progress non-zero writes "." on stderr at every
// slide of the window.  fatal("Out of memory.") when its arrays cannot be allocated.
void encode(std::uint8_t show_progress);

// Begins decoding streams.archive_stream (codec.packed_size bytes at most).
void start_decode();

// Fills ring[0 .. count - 1] with the next count (1..8192) bytes of original data; every
// call but the last of a stream asks for 8192 with the same ring.  Damaged code tables
// end the process with fatal("Bad table").
void decode_chunk(std::uint16_t count, std::uint8_t* ring);

// Puts the codec's own state (streams, bit I/O, tables) back to program start; arrays
// allocated once stay allocated.
void reset_lzh_state();
