// Writes the seed corpus of every fuzz target: fuzz_make_corpus DIR writes
// DIR/<target>/<seed> (the committed seeds were made with DIR = fuzz/corpus).  The seeds
// are small, well-formed inputs that reach each target's deeper paths (images that
// load and list, packed data that decodes, chains of modules, bitmaps that convert) plus
// a few damaged ones.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/harness.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "lzh/lzh.hpp"
#include "tests/report/bitmap_helpers.hpp"
#include "tests/report/microcode_helpers.hpp"
#include "tests/support/image_builder.hpp"

namespace fs = std::filesystem;
using testimg::Bytes;

namespace {

fs::path out_dir;

void seed(const std::string& target, const std::string& name, const Bytes& data) {
  fs::create_directories(out_dir / target);
  std::FILE* f = std::fopen((out_dir / target / name).c_str(), "wb");
  if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write seed %s/%s\n", target.c_str(), name.c_str());
    std::exit(1);
  }
}

Bytes text(std::size_t count) {
  const std::string words = "the module chain of the option rom region holds packed modules; ";
  Bytes out;
  for (std::size_t i = 0; out.size() < count; ++i) out.push_back(static_cast<std::uint8_t>(words[i % words.size()] + (i / 997) % 3));
  return out;
}

// The packed-module file that packing makes of `content` under `type_id`.
Bytes packed_module(const Bytes& content, std::uint16_t type_id) {
  fuzzing::InputScope scope;
  fuzzing::write_file("content.bin", content);
  char load_text[16];
  std::snprintf(load_text, sizeof load_text, "%04X:0", type_id);
  pack_state.load_text = load_text;
  std::string path = "content.bin";
  pack_file(path, 0, "SEED.ROM");
  return fuzzing::read_file(DEFAULT_PACKED_NAME);
}

void le(Bytes& out, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void image_seeds() {
  const Bytes microcode = mctest::microcode_content(mctest::updates(5));
  {  // Boot-block and main maps in 32 KiB, modules in three rows.
    testimg::ImageBuilder b(0x8000);
    b.boot_map(0xFF000, 0, 0xF8000, 0xF9000, 0xF9000, 0xFA000);
    b.marker(0xFF100);
    b.main_map(0xFF120, 0x12345678, 0xFA000, 0xFC000, 0xFC000, 0xFE000);
    b.erase(0xF8000, 0xFE000);
    std::uint32_t at = b.add_module(0xF8000, testimg::stored_module("BOOT.ROM", 0x4013, text(300)));
    b.add_module(at, testimg::stored_module("CPU.BIN", 0x4001, microcode));
    at = b.add_module(0xFA000, packed_module(text(1500), 0x4014));
    at = b.add_module(at, testimg::stored_module("ACPI.BIN", 0xA000, testimg::pseudo_random(200, 3)));
    b.add_module(at, packed_module(microcode, 0x4001));
    seed("image", "two_maps", b.bytes);
    // The same with a damaged chain in main region 1 and a boot-only flag.
    b.add_module(0xFC000, Bytes{0x20, 0x00, '-', 'x', 'x', 1, 2, 3, 4, 5, 6, 7, 8});
    seed("image", "damaged_chain", b.bytes);
    b.put_le32(0xFF000 + 12, 0x10000);
    seed("image", "boot_only", b.bytes);
  }
  {  // Packed map, main region 0 at the image's first byte.
    testimg::ImageBuilder b(0x3000);
    b.pack_map(0x12345678, 0xFD000, 0xFE800);
    b.erase(0xFD000, 0xFE800);
    const std::uint32_t at = b.add_module(0xFD000, packed_module(text(3000), 0x4013));
    b.add_module(at, testimg::stored_module("CPU.BIN", 0x4001, microcode));
    seed("image", "packed_map", b.bytes);
  }
  seed("image", "empty", {});
  seed("image", "short", Bytes{'V', 'E', 'L', 'K', '_', 'P', 'A', 'C', 'K', 'M', 'A', 'P'});
}

// Bits written most significant first, as the decoder reads them.
struct BitWriter {
  Bytes bytes;
  unsigned used = 0;  // bits used in the last byte
  void put(unsigned count, std::uint32_t value) {
    for (unsigned i = count; i-- > 0;) {
      if (used == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<std::uint8_t>(0x80 >> used);
      used = (used + 1) % 8;
    }
  }
};

// A hand-made -lh5- block whose distance code has lengths 1 to 13 and 13, so that its
// longest codes go past the 8-bit lookup table: every item is a match of 3 (single-form
// literal/length code), its distance symbol cycling through the long codes.
Bytes long_distance_codes() {
  BitWriter w;
  w.put(16, 40);                  // items in the block
  w.put(5, 0), w.put(5, 0);       // pre-code: single form (unused)
  w.put(9, 0), w.put(9, 256);     // literal/length: single form, match length 3
  w.put(4, 14);                   // 14 distance lengths
  for (unsigned length = 1; length <= 14; ++length) {
    const unsigned c = length == 14 ? 13 : length;
    if (c < 7) w.put(3, c);
    else w.put(c - 3, ((1u << (c - 3)) - 1) & ~1u);  // c - 4 ones and a zero
  }
  for (unsigned item = 0; item < 40; ++item) {
    const unsigned symbol = 9 + item % 5;  // symbols 9..13: codes of 10 to 13 bits
    const unsigned length = symbol == 13 ? 13 : symbol + 1;
    const std::uint32_t code = symbol == 13 ? 0x1FFF : ((1u << length) - 2);  // ones, then 0
    w.put(length, code);
    w.put(symbol - 1, item);  // the distance's extra bits
  }
  return w.bytes;
}

void unpack_seeds() {
  // form, original size (3 bytes), CRC (2), packed-size field (4), data.
  auto input = [](std::uint8_t form, const Bytes& original, const Bytes& data, char method_digit = 0) {
    Bytes out{form};
    le(out, static_cast<std::uint32_t>(original.size()), 3);
    if (method_digit) out[1] = static_cast<std::uint8_t>(method_digit);
    le(out, testimg::crc16(original), 2);
    le(out, static_cast<std::uint32_t>(data.size()), 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
  };
  for (std::size_t size : {40u, 2000u, 30000u}) {
    const Bytes content = text(size);
    const Bytes file = packed_module(content, 0x4013);
    const std::size_t data_at = std::size_t{file[HDR_SIZE]} + 2;
    const Bytes data(file.begin() + static_cast<std::ptrdiff_t>(data_at), file.end() - 1);
    seed("unpack", "lh5_" + std::to_string(size), input(0x00, content, data));
    if (size == 2000) seed("unpack", "lh5_long_field", input(0x04, content, data));
    Bytes raw{0x80};
    raw.insert(raw.end(), file.begin(), file.end());
    seed("unpack", "raw_" + std::to_string(size), raw);
  }
  seed("unpack", "long_distance_codes", input(0x00, Bytes(120, 0), long_distance_codes()));
  const Bytes stored = testimg::pseudo_random(300, 7);
  seed("unpack", "lh0", input(0x01, stored, stored));
  seed("unpack", "lh4", input(0x02, text(100), testimg::pseudo_random(60, 9)));
  seed("unpack", "unknown_method", input(0x03, Bytes(5, 1), Bytes(5, 1), 'x'));
  seed("unpack", "sum_broken", input(0x09, stored, stored));
}

void roundtrip_seeds() {
  seed("roundtrip", "empty", {});
  seed("roundtrip", "one", {0x41});
  seed("roundtrip", "text", text(3000));
  seed("roundtrip", "random", testimg::pseudo_random(1500, 11));
  seed("roundtrip", "zeros", Bytes(20000, 0));
  Bytes mixed = text(20000);
  const Bytes noise = testimg::pseudo_random(12000, 12);
  mixed.insert(mixed.begin() + 9000, noise.begin(), noise.end());
  seed("roundtrip", "mixed", mixed);
}

// Steps: kind, type selector, 16-bit size.
struct Step {
  std::uint8_t kind, type;
  std::uint16_t size;
};

Bytes regions_input(std::uint8_t layout, const std::vector<Step>& steps, const Bytes& geometry,
                    const Bytes& pool) {
  Bytes out{layout, static_cast<std::uint8_t>(steps.size() - 1)};
  for (const Step& s : steps) {
    out.push_back(s.kind);
    out.push_back(s.type);
    le(out, s.size, 2);
  }
  out.insert(out.end(), geometry.begin(), geometry.end());
  out.insert(out.end(), pool.begin(), pool.end());
  return out;
}

void regions_seeds() {
  const Bytes pool = text(2500);
  // Geometry: region sizes (boot 0, boot 1, main 0, main 1), image size byte, placed
  // modules (count; row, type selector, size each), pokes (count).
  Bytes maps;
  for (std::uint16_t s : {0x0800, 0x0400, 0x1800, 0x1000}) le(maps, s, 2);
  maps.push_back(0);
  maps.insert(maps.end(), {3, 2, 1, 0x40, 0x01, 2, 0, 0x20, 0x00, 3, 2, 0x80, 0x00});
  maps.push_back(0);
  const std::vector<Step> mixed = {{0, 1, 300},  {1, 2, 900}, {0, 1, 500}, {4, 0, 0},
                                   {5, 2, 0},    {6, 0, 0},   {7, 1, 0x0004}, {3, 3, 200},
                                   {7, 0, 0x8000}, {0, 4, 100}, {5, 4, 0}};
  seed("regions", "maps_mixed", regions_input(0x00, mixed, maps, pool));
  seed("regions", "maps_boot_group", regions_input(0x04, mixed, maps, pool));

  Bytes packed;
  for (std::uint16_t s : {0x0200, 0x0200, 0x0300, 0x0000}) le(packed, s, 2);
  packed.push_back(2);
  packed.insert(packed.end(), {2, 2, 1, 0x40, 0x00, 2, 0, 0x30, 0x00});
  packed.push_back(0);
  const std::vector<Step> growth = {{0, 1, 0x0600}, {1, 2, 0x0900}, {0, 0, 0x0100}, {4, 1, 0},
                                    {1, 1, 0x1200}, {5, 2, 0},      {6, 0, 0}};
  seed("regions", "packed_growth", regions_input(0x01, growth, packed, pool));
  seed("regions", "packed_with_boot", regions_input(0x02, growth, packed, pool));

  // Raw image: the packed-map seed image after the steps.
  testimg::ImageBuilder b(0x2000);
  b.pack_map(0x12345678, 0xFE000, 0xFF000);
  b.erase(0xFE000, 0xFF000);
  b.add_module(0xFE000, testimg::stored_module("R.ROM", 0x4013, text(100)));
  const std::vector<Step> raw_steps = {{2, 1, 0x8040}, {0, 1, 0x0050}, {4, 1, 0}, {6, 0, 0}};
  seed("regions", "raw_image", regions_input(0x03, raw_steps, {}, b.bytes));
}

void logo_seeds() {
  using bmptest::Colour;
  const std::vector<Colour> palette = {{0, 0, 0, 0},       {0x80, 0x80, 0x80, 0}, {0xFF, 0, 0, 0},
                                       {0, 0xFF, 0, 0},    {0, 0, 0xFF, 0},       {0xFF, 0xFF, 0xFF, 0},
                                       {0x10, 0x20, 0x30, 0}, {0x40, 0x50, 0x60, 0}};
  std::vector<Bytes> rows;
  for (int y = 0; y < 12; ++y) {
    Bytes row(12);
    for (int x = 0; x < 12; ++x) row[x] = static_cast<std::uint8_t>(((x + y) % 8) << 4 | ((x * y) % 8));
    rows.push_back(row);
  }
  auto with_choice = [](std::uint8_t choice, const Bytes& bitmap) {
    Bytes out{choice};
    out.insert(out.end(), bitmap.begin(), bitmap.end());
    return out;
  };
  const Bytes small = bmptest::bmp16(21, 12, palette, rows);
  seed("logo", "bmp16", with_choice(0x00, small));
  seed("logo", "bmp16_presets", with_choice(0x06, small));
  seed("logo", "bmp16_too_wide", with_choice(0x02, bmptest::bmp16(700, 2, palette, rows)));
  seed("logo", "fullscreen_short", with_choice(0x01, bmptest::bmp8(640, 480, 8, 0, Bytes(1000, 5))));
  // A long bitmap: the 1078 header bytes and some pixels, repeated to the whole length.
  Bytes header = bmptest::bmp8(640, 480, 8, 0, testimg::pseudo_random(700, 5));
  Bytes choice{0x09};
  le(choice, 54 + 1024 + 640 * 480, 3);
  choice.insert(choice.end(), header.begin(), header.end());
  seed("logo", "fullscreen_long", choice);
  Bytes few{0x09};
  le(few, 54 + 64 + 640 * 480 + 10, 3);
  const Bytes few_header = bmptest::bmp8(640, 480, 8, 16, testimg::pseudo_random(300, 6));
  few.insert(few.end(), few_header.begin(), few_header.end());
  seed("logo", "fullscreen_16_colours", few);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_corpus DIR\n");
    return 1;
  }
  out_dir = fs::absolute(argv[1]);
  image_seeds();
  unpack_seeds();
  roundtrip_seeds();
  regions_seeds();
  logo_seeds();
  return 0;
}
