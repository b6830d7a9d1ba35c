// Encode and decode throughput of the -lh5- codec over a table of generated inputs
// (x86 machine code, text, an 8-bit picture, zeros, random bytes) at 64 KiB and 1 MiB.
// Streams are temporary files opened once per benchmark and rewound per iteration; the
// CRC runs as it does when packing and unpacking.  Each stream is checked once, outside
// the timed loop.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/codec_inputs.hpp"
#include "image/module.hpp"
#include "lzh/lzh.hpp"

namespace {

using codec_inputs::Bytes;

std::FILE* file_with(const Bytes& data) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) std::abort();
  std::fwrite(data.data(), 1, data.size(), f);
  std::rewind(f);
  return f;
}

Bytes file_bytes(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  Bytes out;
  int c;
  while ((c = std::getc(f)) != EOF) out.push_back(static_cast<std::uint8_t>(c));
  return out;
}

// Compresses `input`; with `unlimited` the incompressible limit is lifted so that data
// that does not shrink still yields a whole (expanded) stream to decode.
Bytes compress(const Bytes& input, bool unlimited, bool* incompressible) {
  std::FILE* source = file_with(input);
  std::FILE* packed = std::tmpfile();
  reset_codec_state();
  build_crc_table();
  streams.source_stream = source;
  streams.packed_stream = packed;
  if (unlimited) codec.original_size = 0x80000000u;
  encode(0);
  *incompressible = codec.incompressible;
  Bytes out = file_bytes(packed);
  std::fclose(source);
  std::fclose(packed);
  return out;
}

// Decodes `size` bytes of `packed` from `archive` (rewound), running the CRC over the
// output as unpacking does.  Returns the CRC.
std::uint16_t decompress(std::FILE* archive, std::size_t packed_size, std::size_t size,
                         std::uint8_t* ring) {
  std::rewind(archive);
  streams.archive_stream = archive;
  codec.packed_size = static_cast<std::uint32_t>(packed_size);
  codec.running_crc = 0;
  start_decode();
  for (std::size_t left = size; left > 0;) {
    std::size_t n = left < DICT_SIZE ? left : DICT_SIZE;
    decode_chunk(static_cast<std::uint16_t>(n), ring);
    crc_update(ring, n);
    left -= n;
  }
  return codec.running_crc;
}

// CRC-16 of `data` (the table must have been built).
std::uint16_t crc16_of(const Bytes& data) {
  codec.running_crc = 0;
  crc_update(data.data(), data.size());
  return codec.running_crc;
}

const codec_inputs::NamedInput& named(const benchmark::State& state) {
  return codec_inputs::input_table()[static_cast<std::size_t>(state.range(0))];
}

void BM_encode(benchmark::State& state) {
  const auto& input_kind = named(state);
  const Bytes input = input_kind.make(static_cast<std::size_t>(state.range(1)));
  bool incompressible = false;
  const Bytes once = compress(input, false, &incompressible);

  std::FILE* source = file_with(input);
  std::FILE* packed = std::tmpfile();
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    std::rewind(source);
    std::rewind(packed);
    reset_codec_state();
    build_crc_table();
    streams.source_stream = source;
    streams.packed_stream = packed;
    encode(0);
    bytes += codec.original_size;
    benchmark::DoNotOptimize(codec.running_crc);
  }
  Bytes last = file_bytes(packed);
  last.resize(codec.packed_size);
  if (last != once) state.SkipWithError("the stream differs between runs");
  std::fclose(source);
  std::fclose(packed);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  char label[96];
  if (incompressible) {
    std::snprintf(label, sizeof label, "%s, incompressible", input_kind.name);
  } else {
    std::snprintf(label, sizeof label, "%s, packed to %.1f%%", input_kind.name,
                  100.0 * static_cast<double>(once.size()) / static_cast<double>(input.size()));
  }
  state.SetLabel(label);
}

void BM_decode(benchmark::State& state) {
  const auto& input_kind = named(state);
  const Bytes input = input_kind.make(static_cast<std::size_t>(state.range(1)));
  bool incompressible = false;
  Bytes packed = compress(input, false, &incompressible);
  const bool expanded = incompressible;
  if (expanded) packed = compress(input, true, &incompressible);

  std::FILE* archive = file_with(packed);
  Bytes ring(DICT_SIZE);
  reset_codec_state();
  build_crc_table();
  const std::uint16_t expected_crc = crc16_of(input);
  if (decompress(archive, packed.size(), input.size(), ring.data()) != expected_crc)
    state.SkipWithError("decoded data differs from the input");
  for (auto _ : state) {
    benchmark::DoNotOptimize(decompress(archive, packed.size(), input.size(), ring.data()));
  }
  std::fclose(archive);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
  state.SetLabel(std::string(input_kind.name) + (expanded ? ", expanded stream" : ""));
}

}  // namespace

// One encode and one decode benchmark per named input and size, e.g. "encode/x86/1MiB";
// each passes (input index, size) to the benchmark body.
int main(int argc, char** argv) {
  const auto& table = codec_inputs::input_table();
  const struct {
    const char* name;
    void (*body)(benchmark::State&);
  } kinds[] = {{"encode", BM_encode}, {"decode", BM_decode}};
  for (const auto& kind : kinds) {
    for (std::size_t i = 0; i < table.size(); ++i) {
      for (std::int64_t size : {64 * 1024, 1024 * 1024}) {
        std::string name = std::string(kind.name) + "/" + table[i].name + "/" +
                           (size == 64 * 1024 ? "64KiB" : "1MiB");
        benchmark::RegisterBenchmark(name.c_str(), kind.body)
            ->Args({static_cast<std::int64_t>(i), size})
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
