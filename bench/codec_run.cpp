// One run of the codec over files, as the pack and unpack drivers make it, for counting
// instructions under callgrind (measure_codec.sh):
//   codec_run pack INPUT OUTPUT           compress INPUT into OUTPUT
//   codec_run unpack INPUT OUTPUT SIZE    expand SIZE bytes of INPUT into OUTPUT
//   codec_run make KIND SIZE OUTPUT       write a generated benchmark input
// Exit code 0, or 2 on a usage or file error.  "pack" prints "incompressible" when the
// input does not shrink.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/codec_inputs.hpp"
#include "image/module.hpp"
#include "lzh/lzh.hpp"

namespace {

int usage() {
  std::fputs("usage: codec_run pack IN OUT | unpack IN OUT SIZE | make KIND SIZE OUT\n", stderr);
  return 2;
}

std::FILE* open_or_die(const char* name, const char* mode) {
  std::FILE* f = std::fopen(name, mode);
  if (f == nullptr) {
    std::perror(name);
    std::exit(2);
  }
  return f;
}

int pack(const char* in, const char* out) {
  streams.source_stream = open_or_die(in, "rb");
  streams.packed_stream = open_or_die(out, "wb");
  build_crc_table();
  codec.packed_size = codec.original_size = 0;
  codec.running_crc = 0;
  codec.incompressible = false;
  encode(0);
  if (codec.incompressible) std::puts("incompressible");
  std::fclose(streams.source_stream);
  std::fclose(streams.packed_stream);
  return 0;
}

int unpack(const char* in, const char* out, unsigned long size) {
  streams.archive_stream = open_or_die(in, "rb");
  std::FILE* output = open_or_die(out, "wb");
  std::fseek(streams.archive_stream, 0, SEEK_END);
  codec.packed_size = static_cast<std::uint32_t>(std::ftell(streams.archive_stream));
  std::rewind(streams.archive_stream);
  codec.original_size = static_cast<std::uint32_t>(size);
  build_crc_table();
  codec.running_crc = 0;
  static std::uint8_t ring[DICT_SIZE];
  start_decode();
  while (codec.original_size > 0) {
    unsigned n = codec.original_size < DICT_SIZE ? codec.original_size : DICT_SIZE;
    decode_chunk(static_cast<std::uint16_t>(n), ring);
    write_with_crc(ring, n, output);
    codec.original_size -= n;
  }
  std::fclose(output);
  std::fclose(streams.archive_stream);
  return 0;
}

int make(const char* kind, unsigned long size, const char* out) {
  for (const auto& named : codec_inputs::input_table()) {
    if (std::strcmp(named.name, kind) != 0) continue;
    codec_inputs::Bytes data = named.make(size);
    std::FILE* f = open_or_die(out, "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    return 0;
  }
  return usage();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "pack") == 0) return pack(argv[2], argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "unpack") == 0)
    return unpack(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
  if (argc == 5 && std::strcmp(argv[1], "make") == 0)
    return make(argv[2], std::strtoul(argv[3], nullptr, 10), argv[4]);
  return usage();
}
