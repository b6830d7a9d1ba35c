// The 16-colour bitmap to AWBM logo conversion: exact output bytes, colour slots and
// presets, bitmaps that hold fewer bytes than the converter reads, and the size limit.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/logo.hpp"
#include "tests/report/bitmap_helpers.hpp"
#include "tests/support/scratch.hpp"

namespace {

using bmptest::bmp16;
using bmptest::Colour;
using bmptest::read_logo;
using testimg::Bytes;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes repeat(std::uint8_t byte, std::size_t count) { return Bytes(count, byte); }

// "RGB " and the 16 slot colours, given as {b, g, r} >> 2 for the slots listed; the
// others empty (3F 3F 3F).
Bytes trailer(const std::vector<std::pair<int, std::array<std::uint8_t, 3>>>& slots) {
  Bytes out = {'R', 'G', 'B', ' '};
  out.resize(4 + 48, 0x3F);
  for (const auto& [slot, c] : slots)
    for (int i = 0; i < 3; ++i) out[4 + 3 * slot + i] = c[i];
  return out;
}

class LogoConversionTest : public ::testing::Test {
 protected:
  testimg::ScratchDir dir;
  testimg::CurrentDirGuard guard{dir.path()};

  Bytes convert(const Bytes& bitmap, bool grey_blue = false, bool black_white = false) {
    dir.write("in.bmp", bitmap);
    convert_logo_bitmap("in.bmp", "PelixBmp.bmp", grey_blue, black_white);
    return dir.read("PelixBmp.bmp");
  }
};

TEST_F(LogoConversionTest, Width8GivesOneBytePlaneLinesAndTopRowFirst) {
  const std::vector<Colour> palette = {{10, 20, 30, 0}, {40, 50, 60, 0}, {0x80, 0x44, 0x04, 0}};
  // File order: the bottom row (indices 0,1,0,1,...) first, then the top row (all 2).
  const Bytes bitmap = bmp16(8, 2, palette, {{0x01, 0x01, 0x01, 0x01}, {0x22, 0x22, 0x22, 0x22}});
  const Bytes expected = concat({{'A', 'W', 'B', 'M', 8, 0, 2, 0},
                                 {0x00, 0xFF, 0x00, 0x00},   // top row: slot 2 everywhere
                                 {0x55, 0x00, 0x00, 0x00},   // bottom row: slots 0,1,0,1,...
                                 trailer({{0, {2, 5, 7}}, {1, {10, 12, 15}}, {2, {0x20, 0x11, 0x01}}})});
  EXPECT_EQ(convert(bitmap), expected);
}

TEST_F(LogoConversionTest, Width9GivesTwoBytePlaneLinesWithPixel8InBit7) {
  std::vector<Colour> palette;
  for (std::uint8_t i = 0; i < 9; ++i) palette.push_back({static_cast<std::uint8_t>(16 * i), 0x80, 0xFC, 0});
  // Pixels 0..8 use palette entries 0..8 and so slots 0..8; R = 8 bytes per row.
  const Bytes bitmap = bmp16(9, 1, palette, {{0x01, 0x23, 0x45, 0x67, 0x80, 0, 0, 0}});
  std::vector<std::pair<int, std::array<std::uint8_t, 3>>> slots;
  for (int s = 0; s < 9; ++s) slots.push_back({s, {static_cast<std::uint8_t>(4 * s), 0x20, 0x3F}});
  const Bytes expected = concat({{'A', 'W', 'B', 'M', 9, 0, 1, 0},
                                 {0x55, 0x00, 0x33, 0x00, 0x0F, 0x00, 0x00, 0x80},
                                 trailer(slots)});
  EXPECT_EQ(convert(bitmap), expected);
}

TEST_F(LogoConversionTest, Width640GivesEightyBytePlaneLines) {
  const std::vector<Colour> palette = {{1, 2, 3, 0}, {0xFC, 0xF8, 0xF4, 0}};
  Bytes bottom(320, 0x00);
  bottom[319] = 0x01;  // pixel 639: entry 1
  Bytes top(320, 0x11);
  top[0] = 0x01;       // pixel 0: entry 0
  const Bytes bitmap = bmp16(640, 2, palette, {bottom, top});
  Bytes top_planes = concat({{0x7F}, repeat(0xFF, 79), repeat(0, 240)});
  Bytes bottom_planes = concat({repeat(0, 79), {0x01}, repeat(0, 240)});
  const Bytes expected = concat({{'A', 'W', 'B', 'M', 0x80, 0x02, 2, 0}, top_planes, bottom_planes,
                                 trailer({{0, {0, 0, 0}}, {1, {0x3F, 0x3E, 0x3D}}})});
  EXPECT_EQ(convert(bitmap), expected);
}

TEST_F(LogoConversionTest, LargestPictureIsAccepted) {
  // 640 x 480 without pixel bytes in the file: every pixel reads as entry 0.
  const Bytes out = convert(bmp16(640, 480, {{4, 8, 12, 0}}, {}));
  ASSERT_EQ(out.size(), 60u + 320u * 480u);
  const auto logo = read_logo(out);
  ASSERT_TRUE(logo.well_formed);
  EXPECT_EQ(logo.colours[0], (std::array<std::uint8_t, 3>{1, 2, 3}));
  for (std::size_t i = 8; i < 8 + 320 * 480; ++i) ASSERT_EQ(out[i], 0) << i;
}

TEST_F(LogoConversionTest, HeightZeroGivesHeaderAndTrailerOnly) {
  const Bytes out = convert(bmp16(17, 0, {{4, 8, 12, 0}}, {}));
  EXPECT_EQ(out, concat({{'A', 'W', 'B', 'M', 17, 0, 0, 0}, trailer({})}));
  EXPECT_EQ(out.size(), 60u);
}

TEST_F(LogoConversionTest, WidthZeroGivesEmptyRows) {
  const Bytes out = convert(bmp16(0, 3, {{4, 8, 12, 0}}, {{}, {}, {}}));
  EXPECT_EQ(out, concat({{'A', 'W', 'B', 'M', 0, 0, 3, 0}, trailer({})}));
}

TEST_F(LogoConversionTest, OnlyTheLow16BitsOfWidthAndHeightCount) {
  const Bytes out = convert(bmp16(0x10008, 0x20001, {{4, 8, 12, 0}}, {{0, 0, 0, 0}}));
  EXPECT_EQ(out, concat({{'A', 'W', 'B', 'M', 8, 0, 1, 0}, repeat(0, 4), trailer({{0, {1, 2, 3}}})}));
}

// Palette entries of the preset tests, by index.
const Colour WHITE = {0xFF, 0xFF, 0xFF, 0x00};
const Colour BLACK = {0x00, 0x00, 0x00, 0x00};
const Colour GREY = {0x80, 0x80, 0x80, 0x00};
const Colour BLUE = {0xFF, 0x00, 0x00, 0x00};
const Colour OTHER = {0x40, 0x80, 0xC0, 0x00};
const Colour WHITE_RESERVED = {0xFF, 0xFF, 0xFF, 0x01};  // looks white, reserved byte set
const Colour OTHER2 = {0x04, 0x08, 0x0C, 0x00};

struct PresetCase {
  const char* name;
  bool grey_blue, black_white;
  std::vector<unsigned> slots;  // of the pixels white, black, grey, blue, other, white', other2, other
  std::vector<std::pair<int, std::array<std::uint8_t, 3>>> colours;
};

TEST_F(LogoConversionTest, PresetsAndFirstMetOrderChooseTheSlots) {
  const std::vector<Colour> palette = {WHITE, BLACK, GREY, BLUE, OTHER, WHITE_RESERVED, OTHER2};
  const Bytes bitmap = bmp16(8, 1, palette, {{0x01, 0x23, 0x45, 0x64}});
  const std::array<std::uint8_t, 3> w = {0x3F, 0x3F, 0x3F}, k = {0, 0, 0}, g = {0x20, 0x20, 0x20},
                                    b = {0x3F, 0, 0}, o = {0x10, 0x20, 0x30}, o2 = {1, 2, 3};
  const PresetCase cases[] = {
      {"none", false, false, {0, 1, 2, 3, 4, 5, 6, 4}, {{0, w}, {1, k}, {2, g}, {3, b}, {4, o}, {5, w}, {6, o2}}},
      {"grey and blue", true, false, {0, 1, 7, 9, 2, 3, 4, 2}, {{0, w}, {1, k}, {7, g}, {9, b}, {2, o}, {3, w}, {4, o2}}},
      {"black and white", false, true, {15, 0, 1, 2, 3, 4, 5, 3}, {{15, w}, {0, k}, {1, g}, {2, b}, {3, o}, {4, w}, {5, o2}}},
      {"both", true, true, {15, 0, 7, 9, 1, 2, 3, 1}, {{15, w}, {0, k}, {7, g}, {9, b}, {1, o}, {2, w}, {3, o2}}},
  };
  for (const PresetCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes out = convert(bitmap, c.grey_blue, c.black_white);
    const auto logo = read_logo(out);
    ASSERT_TRUE(logo.well_formed);
    EXPECT_EQ(logo.slots.at(0), c.slots);
    EXPECT_EQ(Bytes(out.begin() + 12, out.end()), trailer(c.colours));
  }
}

TEST_F(LogoConversionTest, BothPresetsGiveTheExactPlaneBytes) {
  const std::vector<Colour> palette = {WHITE, BLACK, GREY, BLUE, OTHER, WHITE_RESERVED, OTHER2};
  const Bytes out = convert(bmp16(8, 1, palette, {{0x01, 0x23, 0x45, 0x64}}), true, true);
  // Slots 15, 0, 7, 9, 1, 2, 3, 1 in planes 0 to 3.
  EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 12), (Bytes{0xBB, 0xA6, 0xA0, 0x90}));
}

TEST_F(LogoConversionTest, ColoursBeyondTheFreeSlotsAreStoredAsSlot0) {
  std::vector<Colour> palette;
  for (std::uint8_t i = 0; i < 16; ++i) palette.push_back({i, 0x11, 0x22, 0});
  const Bytes bitmap = bmp16(16, 1, palette, {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}});
  const auto logo = read_logo(convert(bitmap, true, true));
  ASSERT_TRUE(logo.well_formed);
  // Twelve free slots, lowest first around the presets; the last four colours drop.
  EXPECT_EQ(logo.slots.at(0), (std::vector<unsigned>{1, 2, 3, 4, 5, 6, 8, 10, 11, 12, 13, 14, 0, 0, 0, 0}));
  EXPECT_EQ(logo.colours[0], (std::array<std::uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(logo.colours[15], (std::array<std::uint8_t, 3>{0x3F, 0x3F, 0x3F}));
  EXPECT_EQ(logo.colours[14], (std::array<std::uint8_t, 3>{2, 4, 8}));  // entry 11
}

TEST_F(LogoConversionTest, EqualPaletteEntriesShareOneSlot) {
  const std::vector<Colour> palette = {{8, 8, 8, 0}, {12, 12, 12, 0}, {8, 8, 8, 0}};
  const Bytes out = convert(bmp16(4, 1, palette, {{0x12, 0x00, 0, 0}}));
  const auto logo = read_logo(out);
  ASSERT_TRUE(logo.well_formed);
  EXPECT_EQ(logo.slots.at(0), (std::vector<unsigned>{0, 1, 1, 1}));  // entries 1, 2, 0, 0
  EXPECT_EQ(Bytes(out.begin() + 12, out.end()), trailer({{0, {3, 3, 3}}, {1, {2, 2, 2}}}));
}

// Bitmaps that end before the bytes the converter reads: the missing bytes count as 0.
TEST_F(LogoConversionTest, MissingBytesReadAsZero) {
  const Colour p0 = {0x24, 0x48, 0x6C, 0}, p1 = {0x10, 0x20, 0x30, 0};
  {
    SCOPED_TRACE("file ends inside the information header: height 0");
    Bytes bitmap = bmp16(8, 1, {p0}, {});
    bitmap.resize(20);
    EXPECT_EQ(convert(bitmap), concat({{'A', 'W', 'B', 'M', 8, 0, 0, 0}, trailer({})}));
  }
  {
    SCOPED_TRACE("file ends inside the palette: no pixel bytes");
    Bytes bitmap = bmp16(8, 2, {p0, p1}, {{0x11, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x11, 0x11}});
    bitmap.resize(60);  // entry 0 whole, entry 1 cut
    EXPECT_EQ(convert(bitmap), concat({{'A', 'W', 'B', 'M', 8, 0, 2, 0}, repeat(0, 8), trailer({{0, {9, 0x12, 0x1B}}})}));
  }
  {
    SCOPED_TRACE("file ends inside the top row");
    Bytes bitmap = bmp16(8, 2, {p0, p1}, {{0x11, 0x11, 0x11, 0x11}, {0x11, 0x11}});
    const auto logo = read_logo(convert(bitmap));
    ASSERT_TRUE(logo.well_formed);
    EXPECT_EQ(logo.slots.at(0), (std::vector<unsigned>{0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(logo.slots.at(1), (std::vector<unsigned>(8, 0)));
    EXPECT_EQ(logo.colours[0], (std::array<std::uint8_t, 3>{4, 8, 12}));
    EXPECT_EQ(logo.colours[1], (std::array<std::uint8_t, 3>{9, 0x12, 0x1B}));
  }
  {
    SCOPED_TRACE("pixel-data offset past the end of the file");
    Bytes bitmap = bmp16(8, 1, {p0, p1}, {{0x11, 0x11, 0x11, 0x11}});
    bitmap[10] = 0xFF;
    EXPECT_EQ(convert(bitmap), concat({{'A', 'W', 'B', 'M', 8, 0, 1, 0}, repeat(0, 4), trailer({{0, {9, 0x12, 0x1B}}})}));
  }
}

TEST_F(LogoConversionTest, OnlyTheLowByteOfThePixelDataOffsetCounts) {
  const Colour p0 = {0x24, 0x48, 0x6C, 0}, p1 = {0x10, 0x20, 0x30, 0};
  // Field 0x176: the rows are read from 0x76 = 118, where they are.
  const Bytes bitmap = bmp16(8, 1, {p0, p1}, {{0x11, 0x11, 0x11, 0x11}}, 0x176);
  const auto logo = read_logo(convert(bitmap));
  ASSERT_TRUE(logo.well_formed);
  EXPECT_EQ(logo.colours[0], (std::array<std::uint8_t, 3>{4, 8, 12}));
}

TEST_F(LogoConversionTest, UnreadableInputWritesNothing) {
  convert_logo_bitmap("missing.bmp", "PelixBmp.bmp", false, true);
  EXPECT_FALSE(dir.exists("PelixBmp.bmp"));
  ::mkdir(dir.file("folder.bmp").c_str(), 0700);
  convert_logo_bitmap("folder.bmp", "PelixBmp.bmp", false, true);
  EXPECT_FALSE(dir.exists("PelixBmp.bmp"));
}

// Pictures above 640 x 480 end the process with 57 after the header was written.
class LogoConversionDeathTest : public LogoConversionTest {};

TEST_F(LogoConversionDeathTest, TooLargePictureEndsWith57AfterWritingTheHeader) {
  struct Case {
    std::int32_t width, height;
    Bytes header;
  } cases[] = {
      {641, 1, {'A', 'W', 'B', 'M', 0x81, 0x02, 1, 0}},
      {1, 481, {'A', 'W', 'B', 'M', 1, 0, 0xE1, 0x01}},
      {8, -2, {'A', 'W', 'B', 'M', 8, 0, 0xFE, 0xFF}},         // top-down bitmap
      {640, -480, {'A', 'W', 'B', 'M', 0x80, 0x02, 0x20, 0xFE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    dir.write("in.bmp", bmp16(c.width, c.height, {{1, 2, 3, 0}}, {}));
    EXPECT_EXIT(
        {
          std::fflush(stdout);
          ::dup2(2, 1);
          convert_logo_bitmap("in.bmp", "PelixBmp.bmp", false, false);
        },
        ::testing::ExitedWithCode(57), "^BMP size exceed, max size is 640x480\n$");
    EXPECT_EQ(dir.read("PelixBmp.bmp"), c.header);
  }
}

}  // namespace
