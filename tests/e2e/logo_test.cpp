// Bitmaps added through the real binary: the route each item takes, the presets chosen
// by the item and the image's logo palette flag, the full-screen logo, and the refusals.
// The expected module content comes from the converters themselves, run in process; the
// converters' own output is checked byte for byte by their unit tests.
#include <gtest/gtest.h>

#include "image/pack.hpp"
#include "report/logo.hpp"
#include "tests/e2e/e2e_support.hpp"

using e2e::Bytes;
using L = testimg::StandardLayout;
using testimg::RunResult;

namespace {

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

// A 4-bit bitmap of w x h with a palette of grey, blue, black, white and a few others.
Bytes bitmap16(std::uint32_t w, std::uint32_t h) {
  const std::uint32_t row = ((w + 7) >> 1) & ~3u;
  Bytes b(118 + row * h, 0);
  b[0] = 'B', b[1] = 'M';
  put32(b, 2, static_cast<std::uint32_t>(b.size()));
  put32(b, 10, 118);
  put32(b, 14, 40);
  put32(b, 18, w);
  put32(b, 22, h);
  put16(b, 26, 1);
  put16(b, 28, 4);
  const std::uint8_t palette[16][4] = {{0x80, 0x80, 0x80, 0}, {0xFF, 0, 0, 0}, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0},
                                       {0x10, 0x20, 0x30, 0}, {0x40, 0x50, 0x60, 0}, {1, 2, 3, 0}, {9, 9, 9, 9}};
  for (int i = 0; i < 16; ++i)
    for (int k = 0; k < 4; ++k) b[54 + 4 * i + k] = palette[i][k];
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint8_t index = static_cast<std::uint8_t>((x / 3 + y) % 8);
      std::uint8_t& cell = b[118 + y * row + x / 2];
      cell = static_cast<std::uint8_t>(x % 2 ? (cell & 0xF0) | index : (cell & 0x0F) | (index << 4));
    }
  return b;
}

// A 640 x 480 bitmap at 8 bits per pixel with `colours_used` palette entries.
Bytes bitmap256(std::uint32_t colours_used) {
  const std::uint32_t palette = colours_used == 0 ? 256 : colours_used;
  Bytes b(54 + 4 * palette + 640 * 480, 0);
  b[0] = 'B', b[1] = 'M';
  put32(b, 10, 54 + 4 * palette);
  put32(b, 14, 40);
  put32(b, 18, 640);
  put32(b, 22, 480);
  put16(b, 26, 1);
  put16(b, 28, 8);
  put32(b, 46, colours_used);
  for (std::uint32_t i = 0; i < 4 * palette; ++i) b[54 + i] = static_cast<std::uint8_t>(i * 7);
  for (std::uint32_t y = 0; y < 480; ++y)
    for (std::uint32_t x = 0; x < 640; ++x) b[54 + 4 * palette + y * 640 + x] = static_cast<std::uint8_t>(x / 40 + y / 30 * 16);
  return b;
}

// What convert_logo_bitmap makes of `bmp` with the given presets.
Bytes converted(const Bytes& bmp, bool grey_blue, bool black_white) {
  testimg::ScratchDir scratch;
  testimg::CurrentDirGuard cwd(scratch.path());
  scratch.write("in.bmp", bmp);
  convert_logo_bitmap("in.bmp", "out.awbm", grey_blue, black_white);
  return scratch.read("out.awbm");
}

struct Workspace {
  testimg::ScratchDir dir;
  Bytes original;
  explicit Workspace(std::uint8_t palette_flag) {
    testimg::ImageBuilder b = testimg::standard_image();
    b.at(0x7E05A) = palette_flag;
    original = b.bytes;
    dir.write("stn.bin", original);
  }
  RunResult run(std::vector<std::string> args) const {
    args.insert(args.begin(), "stn.bin");
    return testimg::run_optmix(dir, args);
  }
};

}  // namespace

TEST(Logo, SixteenColourBitmapsTakeThePresetsOfTheirItem) {
  struct Case {
    const char* item;
    std::uint8_t flag_byte;
    bool grey_blue, black_white;
    std::uint16_t type_id;
  };
  const Case cases[] = {
      {"/logo", 0x00, false, true, 0x4000},  {"/logo", 0xFF, false, false, 0x4000},
      {"/epa", 0x01, true, true, 0x4002},    {"/epa", 0x00, true, true, 0x4002},
      {"/vga", 0x02, false, true, 0x4013},   {"/SYS", 0x01, false, false, 0x5000},
  };
  const Bytes bmp = bitmap16(100, 37);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.item) + " flag byte " + std::to_string(c.flag_byte));
    Workspace w(c.flag_byte);
    w.dir.write("Pic.bmp", bmp);
    const RunResult r = w.run({c.item, "Pic.bmp", "/D"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), e2e::adding_line("Pic.bmp", w.dir.read("bios.rom")));
    EXPECT_EQ(w.dir.entries(), (std::vector<std::string>{"Pic.bmp", "bios.rom", "stn.bin"}));
    const auto modules = e2e::chain(w.dir.read("stn.bin"), L::main0_start, L::main0_end);
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].name, "Pic.bmp");
    EXPECT_EQ(modules[0].type_id, c.type_id);

    const RunResult x = w.run({c.item, "extract", "logo.out"});
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(w.dir.read("logo.out"), converted(bmp, c.grey_blue, c.black_white));
  }
}

TEST(Logo, FullScreenLogoIsStoredTopRowFirst) {
  for (std::uint32_t colours_used : {0u, 256u}) {
    SCOPED_TRACE(colours_used);
    Workspace w(0);
    const Bytes bmp = bitmap256(colours_used);
    w.dir.write("SCREEN.BMP", bmp);
    const RunResult r = w.run({"/logo256", "screen.bmp"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, e2e::adding_line("screen.bmp", w.dir.read("bios.rom")));
    const auto modules = e2e::chain(w.dir.read("stn.bin"), L::main0_start, L::main0_end);
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].name, "screen.bmp");
    EXPECT_EQ(modules[0].type_id, 0x4014);

    Bytes expected(bmp.begin(), bmp.begin() + 1078);
    put32(expected, 46, 256);
    for (int y = 479; y >= 0; --y) {
      const auto row = bmp.begin() + 1078 + y * 640;
      expected.insert(expected.end(), row, row + 640);
    }
    ASSERT_EQ(w.run({"/LOGO256", "extract", "full.out"}).status, 0);
    EXPECT_EQ(w.dir.read("full.out"), expected);
    EXPECT_FALSE(w.dir.exists("FILE_TEM.STV"));
  }
}

TEST(Logo, Refusals) {
  Bytes four_bit = bitmap256(0);
  put16(four_bit, 28, 4);
  Bytes top_down = bitmap256(0);
  put32(top_down, 22, static_cast<std::uint32_t>(-480));
  struct Case {
    const char* name;
    Bytes bmp;
    const char* item;
    std::string out;
    int status;
  };
  const Case cases[] = {
      {"full-screen logo at 4 bits", four_bit, "/logo256",
       "Error : pic.bmp is not valid BMP with 256 Colors in 640x480 Size !\nNot found LOGO256 file !!!\n", 0},
      {"full-screen logo top-down", top_down, "/logo256",
       "Error : pic.bmp is not valid BMP with 256 Colors in 640x480 Size !\nNot found LOGO256 file !!!\n", 0},
      {"16-colour logo too wide", bitmap16(641, 2), "/logo", "BMP size exceed, max size is 640x480\n", 57},
      {"16-colour logo too high", bitmap16(8, 481), "/epa", "BMP size exceed, max size is 640x480\n", 57},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w(0);
    w.dir.write("pic.bmp", c.bmp);
    const RunResult r = w.run({c.item, "pic.bmp"});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(w.dir.read("stn.bin"), w.original);
    EXPECT_FALSE(w.dir.exists("bios.rom"));
    EXPECT_FALSE(w.dir.exists("TEMP01"));
  }
}
