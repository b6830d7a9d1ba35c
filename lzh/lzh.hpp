// The -lh5- codec: what the pack and unpack drivers use.  The codec reads and writes
// only through the streams below and the shared codec state (image/module.hpp).
#pragma once

#include <cstdint>
#include <cstdio>

// The codec's fixed constants; none is configurable.
inline constexpr unsigned DICT_BITS = 13;            // bits of a match distance
inline constexpr unsigned DICT_SIZE = 1u << DICT_BITS;  // 8192: dictionary, decoder ring
inline constexpr unsigned MAX_MATCH = 256;           // longest match
inline constexpr unsigned MIN_MATCH = 3;             // shortest match sent as a match
inline constexpr unsigned LITLEN_SYMBOLS = 510;      // 0..255 literals, 256 + (len - 3)
inline constexpr unsigned LITLEN_COUNT_BITS = 9;
inline constexpr unsigned DIST_SYMBOLS = 14;         // bit length (0..13) of distance - 1
inline constexpr unsigned DIST_COUNT_BITS = 4;
inline constexpr unsigned PRE_SYMBOLS = 19;          // 0..2 zero runs, 3..18 lengths 1..16
inline constexpr unsigned PRE_COUNT_BITS = 5;
inline constexpr unsigned MAX_CODE_BITS = 16;        // longest Huffman code
inline constexpr unsigned LITLEN_TABLE_BITS = 12;    // decoder: direct literal/length lookup
inline constexpr unsigned SMALL_TABLE_BITS = 8;      // decoder: direct pre-code/distance lookup

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
// end the process with fatal("Bad table").  The packed data is untrusted: at most
// codec.packed_size bytes are read, then zero bits; a count of 0 does nothing and a count
// above 8192 is taken as 8192.
void decode_chunk(std::uint16_t count, std::uint8_t* ring);

// Puts the codec's own state (streams, bit I/O, tables) back to program start; arrays
// allocated once stay allocated (the encoder's window is zero-filled again).
void reset_lzh_state();
