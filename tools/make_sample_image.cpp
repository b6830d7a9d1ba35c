// Writes a sample image and a sample option ROM into a directory, for `make demo`:
//   sample.bin  1 MiB image, two boot-block and two main regions, a few stored modules
//   VGA.BIN     a 24 KiB option ROM-like file that compresses well
// Usage: make_sample_image DIR
#include <cstdio>
#include <string>

#include "tests/support/image_builder.hpp"

using testimg::Bytes;

namespace {

// A microcode container: 8 unused bytes, an offset table ended by 0xFFFF, and one
// 48-byte update header (plus a little body) per update.
Bytes sample_microcode() {
  const unsigned updates = 3;
  Bytes out(8 + 4 * (updates + 1), 0);
  for (unsigned i = 0; i < updates; ++i) {
    const std::size_t at = out.size();
    out[8 + 4 * i] = static_cast<std::uint8_t>(at);
    out[9 + 4 * i] = static_cast<std::uint8_t>(at >> 8);
    Bytes header(48 + 64, 0);
    header[0] = 1;                                       // header version
    header[4] = static_cast<std::uint8_t>(0x10 + i);     // update revision
    header[12] = static_cast<std::uint8_t>(0x61 + i);    // processor signature, low byte
    header[13] = 0x06;
    header[24] = static_cast<std::uint8_t>(1u << i);     // processor flags
    out.insert(out.end(), header.begin(), header.end());
  }
  const std::size_t end = 8 + 4 * updates;
  out[end] = 0xFF;
  out[end + 1] = 0xFF;
  return out;
}

Bytes text_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Something shaped like an option ROM: signature, a jump, a banner, then "instructions"
// drawn from a small vocabulary of byte strings, as code repeats its idioms.
Bytes sample_option_rom() {
  Bytes rom = {0x55, 0xAA, 48, 0xE9, 0x10, 0x00};
  const std::string banner = "Sample display adapter BIOS v1.0 (c) sample data only\r\n";
  rom.insert(rom.end(), banner.begin(), banner.end());
  const Bytes pool = testimg::pseudo_random(4096, 7);
  std::uint32_t x = 12345;
  while (rom.size() < 24 * 1024) {
    x = x * 1103515245u + 12345u;
    const std::size_t idiom = (x >> 8) % 96, length = 2 + (x >> 20) % 7;
    const std::size_t from = idiom * 37 % (pool.size() - 8);
    rom.insert(rom.end(), pool.begin() + static_cast<long>(from), pool.begin() + static_cast<long>(from + length));
    if ((x >> 28) == 0) rom.push_back(static_cast<std::uint8_t>(x >> 12));  // an operand
  }
  rom.resize(24 * 1024);
  return rom;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_image DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  using L = testimg::StandardLayout;
  testimg::ImageBuilder img = testimg::standard_image();
  img.add_module(L::boot0_start, testimg::stored_module("CPUCODE.BIN", 0x4001, sample_microcode()));
  std::uint32_t at = L::main0_start;
  at = img.add_module(at, testimg::stored_module("ACPITBL.BIN", 0x4003, text_bytes("DSDT sample table\n")));
  at = img.add_module(at, testimg::stored_module("LANBOOT.ROM", 0x4011, testimg::pseudo_random(3000, 11)));
  img.add_module(L::main1_start, testimg::stored_module("OEMEXT.ROM", 0x6000, testimg::pseudo_random(700, 3)));
  img.write(dir + "/sample.bin");

  const Bytes rom = sample_option_rom();
  std::FILE* f = std::fopen((dir + "/VGA.BIN").c_str(), "wb");
  if (!f || std::fwrite(rom.data(), 1, rom.size(), f) != rom.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s/VGA.BIN\n", dir.c_str());
    return 1;
  }
  return 0;
}
