// Placeholder until the codec lands: every entry point refuses.
#include "lzh/lzh.hpp"

#include "image/fatal.hpp"

CodecStreams streams;

void encode(std::uint8_t) { fatal("-lh5- compression not built yet"); }
void start_decode() { fatal("-lh5- decompression not built yet"); }
void decode_chunk(std::uint16_t, std::uint8_t*) { fatal("-lh5- decompression not built yet"); }
void reset_lzh_state() { streams = CodecStreams{}; }
