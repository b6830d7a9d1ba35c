// The full-screen 256-colour logo: which bitmaps are refused (nothing written), and the
// module an accepted one becomes.
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

TEST_F(FullscreenLogoTest, MissingBitmapIsRefused) {
  EXPECT_FALSE(prepare_fullscreen_logo("missing.bmp"));
  EXPECT_TRUE(dir.entries().empty());
}

}  // namespace
