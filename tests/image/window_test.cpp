// Loading and identifying images: the three map searches, their bounds and flags, the
// load refusals, and the checked write-back.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "image/window.hpp"
#include "tests/support/image_builder.hpp"
#include "tests/support/scratch.hpp"

using testimg::Bytes;
using testimg::ImageBuilder;
using L = testimg::StandardLayout;

namespace {

struct Bounds {
  std::uint32_t start, end;
};

struct MapCase {
  const char* name;
  std::function<ImageBuilder()> build;
  int result;                // of load_image
  Bounds rows[4];            // expected region bounds when result is 0
  bool boot_only = false;
  bool packmap = false;
};

ImageBuilder blank(std::uint32_t size = 0x100000) { return ImageBuilder(size); }

ImageBuilder with_main_map(std::uint32_t marker_at, std::uint32_t map_at, std::uint32_t s0, std::uint32_t e0) {
  ImageBuilder b = blank();
  b.boot_map(L::boot_map_at, 0, L::boot0_start, L::boot0_end, L::boot1_start, L::boot1_end);
  if (marker_at) b.marker(marker_at);
  b.main_map(map_at, 7, s0, e0, L::main1_start, L::main1_end);
  return b;
}

const Bounds BOOT0{L::boot0_start, L::boot0_end}, BOOT1{L::boot1_start, L::boot1_end};
const Bounds MAIN0{L::main0_start, L::main0_end}, MAIN1{L::main1_start, L::main1_end};
const Bounds NONE{0, 0};

const MapCase MAP_CASES[] = {
    {"standard layout", [] { return testimg::standard_image(); }, 0, {BOOT0, BOOT1, MAIN0, MAIN1}},
    {"boot map at the first candidate, main map right after the marker",
     [] { return with_main_map(0xE0000, 0xE0020, L::main0_start, L::main0_end); }, 0,
     {BOOT0, BOOT1, MAIN0, MAIN1}},
    {"boot map 16 bytes below the first candidate is not found",
     [] {
       ImageBuilder b = blank();
       b.boot_map(0xE2700, 0x10000, L::boot0_start, L::boot0_end, 0, 0);
       return b;
     },
     75, {}},
    {"boot map off the 16-byte grid is not found",
     [] {
       ImageBuilder b = blank();
       b.boot_map(0xE2718, 0x10000, L::boot0_start, L::boot0_end, 0, 0);
       return b;
     },
     75, {}},
    {"boot-only flag identifies the image alone",
     [] {
       ImageBuilder b = blank();
       b.boot_map(0xE2710 + 0x100, 0x10000, L::boot0_start, L::boot0_end, L::boot1_start, L::boot1_end);
       return b;
     },
     0, {BOOT0, BOOT1, NONE, NONE}, true},
    {"boot map without the flag and no main map fails",
     [] {
       ImageBuilder b = blank();
       b.boot_map(L::boot_map_at, 0xFFFEFFFF, L::boot0_start, L::boot0_end, 0, 0);
       return b;
     },
     75, {}},
    {"main map before the marker is not found",
     [] { return with_main_map(0xE4000, 0xE3000, L::main0_start, L::main0_end); }, 75, {}},
    {"main map without a marker is not found, the packed map is used",
     [] {
       ImageBuilder b = with_main_map(0, 0xE3000, L::main0_start, L::main0_end);
       b.pack_map(9, 0xFFFFA000, 0xFFFFE000);
       return b;
     },
     0, {BOOT0, BOOT1, {0xFA000, 0xFE000}, NONE}, false, true},
    {"main map with start 0 and an end fails without trying the packed map",
     [] {
       ImageBuilder b = with_main_map(L::marker_at, L::main_map_at, 0, L::main0_end);
       b.pack_map(9, 0xFA000, 0xFE000);
       return b;
     },
     75, {}},
    {"main map with a start and end 0 fails",
     [] { return with_main_map(L::marker_at, L::main_map_at, L::main0_start, 0); }, 75, {}},
    {"full 32-bit addresses keep their low 20 bits",
     [] { return with_main_map(L::marker_at, L::main_map_at, 0xFFFC0000, 0xFFFD0000); }, 0,
     {BOOT0, BOOT1, MAIN0, MAIN1}},
    {"packed map with an end of 0 fails",
     [] {
       ImageBuilder b = blank();
       b.pack_map(9, 0xFA000, 0);
       return b;
     },
     75, {}},
    {"a boot map whose record would pass the window top is not read",
     [] {
       ImageBuilder b = blank();
       b.put_text(0xFFFF0, "VELK_BROMMAP");
       b.put_le32(0xFFFFC, 0x10000);
       return b;
     },
     75, {}},
    {"a main map in the last 32 bytes is not read",
     [] {
       ImageBuilder b = blank();
       b.marker(0xFFF00);
       b.put_text(0xFFFF0, "VELK_NROMMAP");
       return b;
     },
     75, {}},
    {"a short image: the searches read zeros below it",
     [] {
       ImageBuilder b(0x10000);
       b.pack_map(1, 0xF8000, 0xFC000);
       return b;
     },
     0, {NONE, NONE, {0xF8000, 0xFC000}, NONE}, false, true},
    {"an all-zero image is not identified", [] { return blank(); }, 75, {}},
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_image_state(); }
  void TearDown() override { reset_image_state(); }
  testimg::ScratchDir dir;
};

}  // namespace

TEST_F(WindowTest, AreaMapsIdentifyTheImage) {
  for (const MapCase& c : MAP_CASES) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("image.bin");
    c.build().write(path);
    testing::internal::CaptureStdout();
    const int result = load_image(path);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, c.result);
    if (result != 0) {
      EXPECT_EQ(out, "The Area Map is unknown.\nEither not VELK's BIOS or incorrect BIOS kernal.\n");
      continue;
    }
    EXPECT_EQ(out, "");
    for (int row = 0; row < 4; ++row) {
      SCOPED_TRACE(row);
      EXPECT_EQ(image.regions[row].start, c.rows[row].start);
      EXPECT_EQ(image.regions[row].end, c.rows[row].end);
    }
    EXPECT_EQ(image.boot_only_map, c.boot_only);
    EXPECT_EQ(image.packmap_mode, c.packmap);
    EXPECT_EQ(image.packmap_start_ref, c.packmap ? 0xFFFF0u : 0u);
  }
}

TEST_F(WindowTest, RegionTableNamesGroupsAndMapWord) {
  ImageBuilder b = testimg::standard_image();
  b.main_map(L::main_map_at, 0xFEDCBA98, 0xFFFC0000, 0xFFFD0000, L::main1_start, L::main1_end);
  b.write(dir.file("image.bin"));
  ASSERT_EQ(load_image(dir.file("image.bin")), 0);
  const char* names[] = {"BootBlock option rom region 0", "BootBlock option rom region 1",
                         "Main BIOS option rom region 0", "Main BIOS option rom region 1"};
  for (int row = 0; row < 4; ++row) {
    EXPECT_STREQ(image.regions[row].name, names[row]);
    EXPECT_EQ(image.regions[row].group, row < 2 ? 1 : 0);
    EXPECT_EQ(image.regions[row].map_word, row == 2 ? 0xFEDCBA98u : 0u);
  }
  EXPECT_EQ(image.target_group, 0);
  EXPECT_TRUE(region_takes_part(2));
  EXPECT_FALSE(region_takes_part(0));
}

TEST_F(WindowTest, InvertedOrEqualBoundsCountAsEmpty) {
  ImageBuilder b = testimg::standard_image();
  b.main_map(L::main_map_at, 1, L::main0_end, L::main0_start, 0xD8000, 0xD8000);
  b.write(dir.file("image.bin"));
  ASSERT_EQ(load_image(dir.file("image.bin")), 0);
  EXPECT_FALSE(region_in_use(2));
  EXPECT_FALSE(region_in_use(3));
  EXPECT_FALSE(region_takes_part(2));
  EXPECT_TRUE(region_in_use(0));
}

TEST_F(WindowTest, ImageSitsRightAlignedOverZeros) {
  ImageBuilder b(0x20000, 0xAB);
  b.pack_map(1, 0xF8000, 0xFC000);
  b.write(dir.file("short.bin"));
  ASSERT_EQ(load_image(dir.file("short.bin")), 0);
  EXPECT_EQ(image.window.image_size, 0x20000u);
  EXPECT_EQ(image.window.base.size(), 0x100000u);
  EXPECT_EQ(image.window.base[0xDFFFF], 0x00);   // below the image
  EXPECT_EQ(image.window.base[0xE0000], 0xAB);   // the image's first byte
  EXPECT_EQ(image.window.base[LOGO_PALETTE_OFFSET], 0x00);
}

TEST_F(WindowTest, LoadRefusals) {
  ImageBuilder full = testimg::standard_image();
  full.write(dir.file("exact.bin"));
  EXPECT_EQ(load_image(dir.file("exact.bin")), 0);

  Bytes too_long = full.bytes;
  too_long.push_back(0);
  dir.write("long.bin", too_long);
  EXPECT_EQ(load_image(dir.file("long.bin")), -1);
  EXPECT_TRUE(image.window.base.empty());

  EXPECT_EQ(load_image(dir.file("missing.bin")), -1);
  std::filesystem::create_directory(dir.file("adir"));
  EXPECT_EQ(load_image(dir.file("adir")), -1);

  full.write(dir.file("readonly.bin"));
  ::chmod(dir.file("readonly.bin").c_str(), 0444);
  if (::geteuid() != 0) {
    EXPECT_EQ(load_image(dir.file("readonly.bin")), -1);
  }

  dir.write("empty.bin", {});
  testing::internal::CaptureStdout();
  EXPECT_EQ(load_image(dir.file("empty.bin")), 75);
  testing::internal::GetCapturedStdout();
}

TEST_F(WindowTest, ChainEntriesStayInsideTheWindow) {
  ImageBuilder b = testimg::standard_image();
  b.add_module(L::main0_start, testimg::stored_module("A.ROM", 0x4013, Bytes(10, 1)));
  b.put_text(0xFFFF8, "XX-lh");  // a module prefix whose size field passes the window top
  b.write(dir.file("image.bin"));
  ASSERT_EQ(load_image(dir.file("image.bin")), 0);

  ChainEntry m = read_chain_entry(L::main0_start);
  EXPECT_EQ(m.mark, ChainMark::module);
  EXPECT_EQ(m.length, 30u + 10u + 4u);
  EXPECT_EQ(m.type_id, 0x4013);
  EXPECT_EQ(read_chain_entry(L::main0_start + 44).mark, ChainMark::free_space);
  EXPECT_EQ(read_chain_entry(0xE3000).mark, ChainMark::invalid);
  EXPECT_EQ(read_chain_entry(0xFFFF8).mark, ChainMark::invalid);
  EXPECT_EQ(read_chain_entry(0xFFFFF).mark, ChainMark::invalid);
  EXPECT_EQ(read_chain_entry(0x100000).mark, ChainMark::invalid);
  EXPECT_EQ(read_chain_entry(0xFFFFFFFFu).mark, ChainMark::invalid);
}

TEST_F(WindowTest, WriteBackReplacesTheFileKeepingModeAndLink) {
  ImageBuilder b(0x40000);
  b.pack_map(1, 0xF8000, 0xFC000);
  b.write(dir.file("target.bin"));
  ::chmod(dir.file("target.bin").c_str(), 0640);
  std::filesystem::create_symlink("target.bin", dir.file("link.bin"));

  ASSERT_EQ(load_image(dir.file("link.bin")), 0);
  image.window.base[0xFFFF] = 0xAA;  // below the image: never written
  image.window.base[0xC0000] = 0x5A;
  image.window.base[0xFFFFF] = 0xA5;
  write_back_image();

  Bytes expected = b.bytes;
  expected.front() = 0x5A;
  expected.back() = 0xA5;
  EXPECT_EQ(dir.read("target.bin"), expected);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.bin")));
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("target.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link.bin", "target.bin"}));
}

TEST_F(WindowTest, WriteBackGrowsTheFileAtItsFront) {
  ImageBuilder b(0x40000);
  b.pack_map(1, 0xF8000, 0xFC000);
  b.write(dir.file("grow.bin"));
  ASSERT_EQ(load_image(dir.file("grow.bin")), 0);
  image.window.image_size += 0x10;
  std::fill_n(image.window.base.begin() + 0xBFFF0, 0x10, 0x77);
  write_back_image();
  Bytes expected = b.bytes;
  expected.insert(expected.begin(), 0x10, std::uint8_t{0x77});
  EXPECT_EQ(dir.read("grow.bin"), expected);
}

using WindowDeathTest = WindowTest;

TEST_F(WindowDeathTest, FailedWriteBackLeavesTheImageAndSaysSo) {
  // A file-size limit makes the write of the new image fail part way, even for root.
  ImageBuilder b(0x40000);
  b.pack_map(1, 0xF8000, 0xFC000);
  b.write(dir.file("image.bin"));
  ASSERT_EQ(load_image(dir.file("image.bin")), 0);
  image.window.shown_name = "image.bin";
  image.window.base[0xFFFFF] ^= 0xFF;
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        ::dup2(2, 1);
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 0x1000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        write_back_image();
      },
      testing::ExitedWithCode(1), "Can't write image.bin\n");
  EXPECT_EQ(dir.read("image.bin"), b.bytes);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"image.bin"});
}
