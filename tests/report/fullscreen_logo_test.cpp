// The full-screen 256-colour logo: which bitmaps are refused (nothing written), and the
// module an accepted one becomes.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/pack.hpp"
#include "report/logo.hpp"
#include "tests/report/bitmap_helpers.hpp"
#include "tests/support/scratch.hpp"

namespace {

using bmptest::bmp8;
using bmptest::fullscreen_pixels;
using testimg::Bytes;

class FullscreenLogoTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_pack_state(); }
  testimg::ScratchDir dir;
  testimg::CurrentDirGuard guard{dir.path()};
};

TEST_F(FullscreenLogoTest, RefusedBitmapsWriteNothing) {
  const Bytes pixels = fullscreen_pixels();
  Bytes short_pixels(pixels.begin(), pixels.end() - 1);
  Bytes header_only = bmp8(640, 480, 8, 256, {});
  header_only.resize(54);
  struct Case {
    const char* name;
    Bytes bitmap;
  } cases[] = {
      {"4 bits per pixel", bmp8(640, 480, 4, 256, pixels)},
      {"800 x 600", bmp8(800, 600, 8, 256, Bytes(800 * 600, 1))},
      {"top-down, height -480", bmp8(640, -480, 8, 256, pixels)},
      {"width 640 + 2^16", bmp8(640 + 65536, 480, 8, 256, pixels)},
      {"colours used 257", bmp8(640, 480, 8, 257, pixels)},
      {"colours used 0xFFFFFFFF", bmp8(640, 480, 8, 0xFFFFFFFFu, pixels)},
      {"one pixel byte short, 256 colours", bmp8(640, 480, 8, 256, short_pixels)},
      {"one pixel byte short, colours used 0", bmp8(640, 480, 8, 0, short_pixels)},
      {"one pixel byte short, 16 colours", bmp8(640, 480, 8, 16, short_pixels)},
      {"header only", header_only},
      {"empty file", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("logo.bmp", c.bitmap);
    pack_state.packed_file_written = true;  // as an earlier pair may have left it
    EXPECT_FALSE(prepare_fullscreen_logo("logo.bmp"));
    EXPECT_FALSE(pack_state.packed_file_written);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"logo.bmp"});
  }
}

TEST_F(FullscreenLogoTest, MissingBitmapOrDirectoryIsRefused) {
  EXPECT_FALSE(prepare_fullscreen_logo("missing.bmp"));
  EXPECT_TRUE(dir.entries().empty());
  ::mkdir(dir.file("folder.bmp").c_str(), 0700);
  EXPECT_FALSE(prepare_fullscreen_logo("folder.bmp"));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"folder.bmp"});
}

TEST_F(FullscreenLogoTest, AcceptedBitmapBecomesAModuleTopRowFirst) {
  const Bytes pixels = fullscreen_pixels();
  Bytes long_file = bmp8(640, 480, 8, 256, pixels);
  long_file.resize(long_file.size() + 100, 0x5A);  // bytes past the block are not read
  struct Case {
    const char* name;
    Bytes bitmap;
    std::uint32_t colours_used;  // as stored in the module's header copy
    std::string display, stored;
  } cases[] = {
      {"colours used 0 becomes 256", bmp8(640, 480, 8, 0, pixels), 256, "Logo.BMP", "Logo.BMP"},
      {"colours used 256", bmp8(640, 480, 8, 256, pixels), 256, "Logo.BMP", "Logo.BMP"},
      {"colours used 16: rows follow the short palette", bmp8(640, 480, 8, 16, pixels), 16, "Logo.BMP", "Logo.BMP"},
      {"file longer than the block, no display name", long_file, 256, "", "logo.bmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    pack_state.load_text = "4014:0";
    dir.write("logo.bmp", c.bitmap);
    ::testing::internal::CaptureStdout();
    const bool accepted = prepare_fullscreen_logo("logo.bmp", c.display);
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(pack_state.packed_file_written);
    EXPECT_EQ(out.substr(0, 7 + c.stored.size() + 1), "Adding " + c.stored + " ");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bios.rom", "logo.bmp"}));

    const Bytes module = dir.read("bios.rom");
    ASSERT_GT(module.size(), 22 + c.stored.size());
    EXPECT_EQ(module[21], c.stored.size());
    EXPECT_EQ(std::string(module.begin() + 22, module.begin() + 22 + module[21]), c.stored);
    EXPECT_EQ(module[17] | (module[18] << 8), 0x4014);

    Bytes expected(c.bitmap.begin(), c.bitmap.begin() + 1078);
    bmptest::put_le(expected, 46, c.colours_used, 4);
    const std::size_t rows_at = 54 + 4 * c.colours_used;
    for (int y = 479; y >= 0; --y) {
      const auto row = c.bitmap.begin() + static_cast<std::ptrdiff_t>(rows_at + 640 * y);
      expected.insert(expected.end(), row, row + 640);
    }
    unpack_file("bios.rom");
    EXPECT_EQ(dir.read("original.tmp"), expected);
    std::remove("original.tmp");
    std::remove("bios.rom");
  }
}

TEST_F(FullscreenLogoTest, WorkFileThatCannotBeWrittenPacksNothing) {
  ::mkdir(dir.file("FILE_TEM.STV").c_str(), 0700);
  dir.write("logo.bmp", bmp8(640, 480, 8, 256, fullscreen_pixels()));
  EXPECT_TRUE(prepare_fullscreen_logo("logo.bmp", "Logo.BMP"));  // a valid bitmap all the same
  EXPECT_FALSE(pack_state.packed_file_written);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"FILE_TEM.STV", "logo.bmp"}));
}

}  // namespace
