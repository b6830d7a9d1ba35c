// Deterministic inputs for the codec benchmark and the codec's round-trip tests: x86
// machine code, text, an 8-bit picture, zeros and random bytes, at any size.  Nothing
// depends on files that may be missing: the machine code is the .text section of the
// system C library when one is readable, otherwise code-like bytes generated here.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace codec_inputs {

using Bytes = std::vector<std::uint8_t>;

// xorshift32: the one pseudo-random source of every generator.
struct Random {
  std::uint32_t state;
  explicit Random(std::uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  unsigned below(unsigned n) { return next() % n; }
};

inline Bytes zeros(std::size_t size) { return Bytes(size, 0); }

inline Bytes random_bytes(std::size_t size, std::uint32_t seed = 1) {
  Random rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng.next() >> 24);
  return out;
}

// English-like text: words drawn with a skewed distribution, sentences and lines.
inline Bytes text(std::size_t size, std::uint32_t seed = 2) {
  static const char* const words[] = {
      "the", "of", "and", "to", "a", "in", "is", "it", "that", "was", "for", "on", "are",
      "with", "as", "be", "at", "by", "this", "from", "or", "have", "an", "they", "which",
      "one", "you", "were", "all", "we", "when", "there", "can", "been", "has", "more",
      "module", "region", "image", "header", "table", "window", "block", "code", "length",
      "distance", "option", "memory", "address", "segment", "checksum", "compressed",
      "original", "packed", "value", "number", "system", "during", "between", "through",
      "without", "because", "another", "following", "different", "important", "usually"};
  constexpr unsigned word_count = sizeof words / sizeof words[0];
  Random rng(seed);
  Bytes out;
  out.reserve(size + 32);
  unsigned column = 0;
  bool sentence_start = true;
  while (out.size() < size) {
    unsigned a = rng.below(word_count), b = rng.below(word_count);
    const char* w = words[a < b ? a : b];  // smaller indices are more frequent
    std::string word(w);
    if (sentence_start) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    sentence_start = false;
    unsigned r = rng.below(16);
    if (r == 0) {
      word += ".";
      sentence_start = true;
    } else if (r == 1) {
      word += ",";
    }
    if (column + word.size() > 72) {
      out.push_back('\n');
      column = 0;
    } else if (column > 0) {
      out.push_back(' ');
      ++column;
    }
    out.insert(out.end(), word.begin(), word.end());
    column += static_cast<unsigned>(word.size());
  }
  out.resize(size);
  return out;
}

// A 640 x 480 8-bit picture (gradients, a few filled shapes, light noise), repeated
// to fill `size`.
inline Bytes picture(std::size_t size, std::uint32_t seed = 3) {
  constexpr unsigned width = 640, height = 480;
  Random rng(seed);
  Bytes frame(width * height);
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      unsigned v = (x / 5 + y / 4) & 0x3F;
      if ((x - 320) * (x - 320) + (y - 240) * (y - 240) < 120 * 120) v = 0x80 + (y / 8);
      if (x > 40 && x < 200 && y > 300 && y < 440) v = 0xC4;
      if (rng.below(8) == 0) v ^= 1;
      frame[y * width + x] = static_cast<std::uint8_t>(v);
    }
  }
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = frame[i % frame.size()];
  return out;
}

// Code-like bytes: function prologues and epilogues, register moves with ModRM bytes,
// memory operands with small displacements, calls and jumps with nearby targets.
inline Bytes synthetic_x86(std::size_t size, std::uint32_t seed = 4) {
  Random rng(seed);
  Bytes out;
  out.reserve(size + 16);
  auto emit = [&out](std::initializer_list<unsigned> bytes) {
    for (unsigned b : bytes) out.push_back(static_cast<std::uint8_t>(b));
  };
  auto rel32 = [&](int value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  while (out.size() < size) {
    emit({0xF3, 0x0F, 0x1E, 0xFA, 0x55, 0x48, 0x89, 0xE5});  // endbr64; push rbp; mov rbp,rsp
    unsigned body = 4 + rng.below(24);
    for (unsigned i = 0; i < body; ++i) {
      switch (rng.below(8)) {
        case 0: emit({0x48, 0x89, 0xC0u + rng.below(64)}); break;             // mov r, r
        case 1: emit({0x48, 0x8B, 0x45u + 8 * rng.below(8), 0x100 - 8 * (1 + rng.below(8))}); break;
        case 2: emit({0x89, 0x45u + 8 * rng.below(4), 0x100 - 4 * (1 + rng.below(16))}); break;
        case 3: emit({0xE8}); rel32(-static_cast<int>(rng.below(60000))); break;  // call
        case 4: emit({0x85, 0xC0, 0x74u + rng.below(2), rng.below(64)}); break;  // test; jcc
        case 5: emit({0x48, 0x83, 0xC4u + rng.below(4), 8 * rng.below(16)}); break;
        case 6: emit({0x31, 0xC0u + 9 * rng.below(8)}); break;                  // xor r, r
        default: emit({0x0F, 0xB6, 0x04u + 8 * rng.below(8), 0x24}); break;     // movzx
      }
    }
    emit({0x5D, 0xC3});  // pop rbp; ret
    while (out.size() % 16 != 0) out.push_back(0x90);
  }
  out.resize(size);
  return out;
}

// The .text section of an x86-64 ELF file, or nothing when it cannot be read.
inline Bytes elf_text_section(const char* path) {
  Bytes file;
  if (std::FILE* f = std::fopen(path, "rb")) {
    std::uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) file.insert(file.end(), chunk, chunk + got);
    std::fclose(f);
  }
  auto u16 = [&file](std::size_t at) -> std::uint64_t {
    return at + 2 <= file.size() ? file[at] | file[at + 1] << 8 : 0;
  };
  auto u32 = [&](std::size_t at) -> std::uint64_t { return u16(at) | u16(at + 2) << 16; };
  auto u64 = [&](std::size_t at) -> std::uint64_t { return u32(at) | u32(at + 4) << 32; };
  if (file.size() < 64 || std::memcmp(file.data(), "\x7F" "ELF\x02\x01", 6) != 0 || u16(18) != 62)
    return {};
  std::uint64_t shoff = u64(0x28), shentsize = u16(0x3A), shnum = u16(0x3C), shstrndx = u16(0x3E);
  if (shentsize < 64 || shstrndx >= shnum || shoff > file.size() ||
      shnum * shentsize > file.size() - shoff)
    return {};
  std::uint64_t names = u64(shoff + shstrndx * shentsize + 0x18);
  for (std::uint64_t i = 0; i < shnum; ++i) {
    std::size_t sh = shoff + i * shentsize;
    std::uint64_t name = names + u32(sh);
    std::uint64_t offset = u64(sh + 0x18), bytes = u64(sh + 0x20);
    if (name + 6 > file.size() || std::memcmp(&file[name], ".text", 6) != 0) continue;
    if (offset > file.size() || bytes > file.size() - offset) return {};
    return Bytes(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + bytes));
  }
  return {};
}

// x86 machine code: the system C library's .text (repeated if short), or generated
// code-like bytes.  `source` tells which.
inline Bytes x86_code(std::size_t size, std::string* source = nullptr) {
  static const char* const candidates[] = {"/usr/lib/x86_64-linux-gnu/libc.so.6",
                                           "/lib/x86_64-linux-gnu/libc.so.6", "/lib64/libc.so.6",
                                           "/usr/lib64/libc.so.6"};
  for (const char* path : candidates) {
    Bytes section = elf_text_section(path);
    if (section.size() < 4096) continue;
    if (source) *source = std::string(".text of ") + path;
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = section[i % section.size()];
    return out;
  }
  if (source) *source = "generated x86-like code";
  return synthetic_x86(size);
}

// The named inputs of the benchmark table.
struct NamedInput {
  const char* name;
  Bytes (*make)(std::size_t size);
};
inline const std::array<NamedInput, 5>& input_table() {
  static const std::array<NamedInput, 5> table = {{
      {"x86", [](std::size_t n) { return x86_code(n); }},
      {"text", [](std::size_t n) { return text(n); }},
      {"picture", [](std::size_t n) { return picture(n); }},
      {"zeros", [](std::size_t n) { return zeros(n); }},
      {"random", [](std::size_t n) { return random_bytes(n); }},
  }};
  return table;
}

}  // namespace codec_inputs
