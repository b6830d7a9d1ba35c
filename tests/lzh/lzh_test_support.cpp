// Helpers for the codec tests (see lzh_test_support.hpp).
#include "tests/lzh/lzh_test_support.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "image/module.hpp"
#include "lzh/block_coder_internal.hpp"
#include "lzh/lzh.hpp"

namespace lzhtest {

void reset_everything() {
  reset_codec_state();
  reset_lzh_state();
  build_crc_table();
}

std::FILE* file_with(const Bytes& data) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) std::abort();
  if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
  std::rewind(f);
  return f;
}

Bytes contents(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  Bytes out;
  int c;
  while ((c = std::fgetc(stream)) != EOF) out.push_back(static_cast<std::uint8_t>(c));
  return out;
}

Compressed compress(const Bytes& input, std::uint8_t show_progress) {
  std::FILE* source = file_with(input);
  std::FILE* packed = std::tmpfile();
  streams.source_stream = source;
  streams.packed_stream = packed;
  codec.packed_size = 0;
  codec.original_size = 0;
  codec.running_crc = 0;
  codec.incompressible = false;
  encode(show_progress);
  Compressed result;
  result.packed = contents(packed);
  result.incompressible = codec.incompressible;
  result.original_size = codec.original_size;
  result.packed_size = codec.packed_size;
  result.crc = codec.running_crc;
  std::fclose(source);
  std::fclose(packed);
  streams.source_stream = streams.packed_stream = nullptr;
  return result;
}

Decompressed decompress(const Bytes& packed, std::size_t original_size, long packed_size) {
  Bytes stored = packed;
  stored.insert(stored.end(), 64, 0xA5);
  std::FILE* archive = file_with(stored);
  streams.archive_stream = archive;
  codec.packed_size = static_cast<std::uint32_t>(packed_size < 0 ? static_cast<long>(packed.size()) : packed_size);
  codec.original_size = static_cast<std::uint32_t>(original_size);
  start_decode();

  constexpr std::size_t guard = 64;
  constexpr std::uint8_t canary = 0x5C;
  Bytes area(guard + DICT_SIZE + guard, canary);
  std::uint8_t* ring = area.data() + guard;
  Decompressed result;
  std::size_t left = original_size;
  while (left > 0) {
    std::size_t n = left < DICT_SIZE ? left : DICT_SIZE;
    // Bytes past this chunk still hold what the previous chunk (or the canary) left.
    Bytes before(area.begin() + static_cast<long>(guard + n), area.end());
    decode_chunk(static_cast<std::uint16_t>(n), ring);
    for (std::size_t i = 0; i < guard; ++i) {
      if (area[i] != canary) {
        ADD_FAILURE() << "byte before the ring changed at " << i;
        break;
      }
    }
    auto changed = std::mismatch(before.begin(), before.end(), area.begin() + static_cast<long>(guard + n));
    if (changed.first != before.end())
      ADD_FAILURE() << "a byte past the requested count " << n << " changed at "
                    << (changed.first - before.begin());
    result.out.insert(result.out.end(), ring, ring + n);
    left -= n;
  }
  result.bytes_read = std::ftell(archive);
  std::fclose(archive);
  streams.archive_stream = nullptr;
  return result;
}

std::vector<std::pair<unsigned, unsigned>> buffered_items() {
  std::vector<std::pair<unsigned, unsigned>> items;
  const BlockCoderState& bc = block_coder;
  unsigned i = 0;
  while (i < bc.buffer_fill) {
    unsigned flags = bc.symbol_buffer[i++];
    for (unsigned bit = 0x80; bit != 0 && i < bc.buffer_fill; bit >>= 1) {
      if (flags & bit) {
        items.emplace_back(bc.symbol_buffer[i] + 256u,
                           static_cast<unsigned>(bc.symbol_buffer[i + 1]) << 8 | bc.symbol_buffer[i + 2]);
        i += 3;
      } else {
        items.emplace_back(bc.symbol_buffer[i], 0u);
        i += 1;
      }
    }
  }
  return items;
}

std::pair<int, std::string> run_in_child(void (*body)(const void*), const void* arg) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* captured = std::tmpfile();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(captured), STDOUT_FILENO);
    body(arg);
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  Bytes out = contents(captured);
  std::fclose(captured);
  return {code, std::string(out.begin(), out.end())};
}

}  // namespace lzhtest
