// Insertion, release and extraction in the regions of a loaded image: exact window
// bytes (sum bytes, 0xFF fill, moved modules), messages, results and working files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "image/common.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "tests/image/container_fixture.hpp"
#include "tests/support/image_builder.hpp"

namespace {

using containertest::Bytes;
using containertest::concat;
using containertest::erased_to;
using testimg::ImageBuilder;
using testimg::stored_module;
using testimg::with_sum_byte;
using L = testimg::StandardLayout;

constexpr std::uint16_t VGA = 0x4013;
constexpr std::uint16_t NET = 0x4011;
constexpr std::uint16_t NET1 = 0x4012;
constexpr std::uint16_t EPA = 0x4002;

// Stored modules of distinct content under 8-byte names ("M007.ROM"): header 35 bytes,
// so the module in a region takes content + 37 bytes.
constexpr std::uint32_t MODULE_OVERHEAD = 37;
Bytes module_of(std::uint16_t type_id, std::size_t size, std::uint32_t seed) {
  char name[16];
  std::snprintf(name, sizeof name, "M%03u.ROM", static_cast<unsigned>(seed % 1000));
  return stored_module(name, type_id, testimg::pseudo_random(size, seed));
}
// A module that takes exactly `length` bytes in a region.
Bytes filling(std::uint16_t type_id, std::uint32_t length, std::uint32_t seed) {
  return module_of(type_id, length - MODULE_OVERHEAD, seed);
}
std::uint32_t length_of(const Bytes& file) { return static_cast<std::uint32_t>(file.size() + 1); }

// The standard image with main regions [C0000, C0000 + size0) and [D0000, D0000 + size1).
ImageBuilder sized_regions(std::uint32_t size0, std::uint32_t size1) {
  ImageBuilder b = testimg::standard_image();
  b.main_map(L::main_map_at, L::map_word, L::main0_start, L::main0_start + size0, L::main1_start,
             L::main1_start + size1);
  return b;
}

// Places modules one after the other from `at`.
void chain_into(ImageBuilder& b, std::uint32_t at, const std::vector<Bytes>& files) {
  for (const Bytes& f : files) at = b.add_module(at, f);
}

// The placed form of several module files, one after the other.
Bytes placed(const std::vector<Bytes>& files) {
  Bytes out;
  for (const Bytes& f : files) {
    const Bytes p = with_sum_byte(f);
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

class InsertTest : public containertest::ContainerTest {
 protected:
  // Writes `file` as the packed-module file and inserts it under `type_id`; returns stdout.
  std::string insert(const Bytes& file, std::uint16_t type_id) {
    dir.write("bios.rom", file);
    std::FILE* f = std::fopen("bios.rom", "rb");
    EXPECT_NE(f, nullptr);
    ::testing::internal::CaptureStdout();
    insert_module(f, type_id);
    std::fclose(f);
    return ::testing::internal::GetCapturedStdout();
  }
  static Bytes region(int row) { return window(image.regions[row].start, image.regions[row].end); }
  static Bytes region_size_of(int row, const std::vector<Bytes>& files) {
    return erased_to(placed(files), image.regions[row].end - image.regions[row].start);
  }
};

TEST_F(InsertTest, AnEmptyRegionReceivesTheModuleAtItsStart) {
  load(testimg::standard_image());
  const Bytes vga = module_of(VGA, 700, 1);
  const Bytes before = image.window.base;
  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(region(2), region_size_of(2, {vga}));
  EXPECT_EQ(image.window.base[L::main0_start + vga.size()], byte_sum(vga.data(), vga.size()));
  // Nothing outside the module changed.
  Bytes expect = before;
  std::copy(image.window.base.begin() + L::main0_start, image.window.base.begin() + L::main0_start + vga.size() + 1,
            expect.begin() + L::main0_start);
  EXPECT_EQ(image.window.base, expect);
}

TEST_F(InsertTest, TheSumByteOfAModuleSummingToAMultipleOf256IsZero) {
  load(testimg::standard_image());
  Bytes content = testimg::pseudo_random(50, 2);
  Bytes vga = stored_module("Z.ROM", VGA, content);
  // Adjust the last content byte until the whole file sums to 0 (CRC and header sum follow).
  for (int v = 0; v < 256 && byte_sum(vga.data(), vga.size()) != 0; ++v) {
    content.back() = static_cast<std::uint8_t>(v);
    vga = stored_module("Z.ROM", VGA, content);
  }
  ASSERT_EQ(byte_sum(vga.data(), vga.size()), 0);
  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(image.window.base[L::main0_start + vga.size()], 0x00);
  EXPECT_EQ(region(2), region_size_of(2, {vga}));
}

TEST_F(InsertTest, AppendsAtTheFreeSpaceMarker) {
  const Bytes a = module_of(NET, 100, 3), b = module_of(NET1, 60, 4), vga = module_of(VGA, 300, 5);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {a, b});
  load(img);
  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(region(2), region_size_of(2, {a, b, vga}));
  EXPECT_EQ(region(3), Bytes(L::main1_end - L::main1_start, 0xFF));
}

TEST_F(InsertTest, AModuleOfTheSameTypeIdIsReplacedAndMovesLast) {
  const Bytes a = module_of(NET, 100, 6), b = module_of(NET1, 60, 7);
  const Bytes old_vga = module_of(VGA, 200, 8), new_vga = module_of(VGA, 333, 9);
  struct Case {
    const char* name;
    std::vector<Bytes> before;
    std::vector<Bytes> after;
  };
  const Case cases[] = {
      {"first", {old_vga, a, b}, {a, b, new_vga}},
      {"middle", {a, old_vga, b}, {a, b, new_vga}},
      {"last", {a, b, old_vga}, {a, b, new_vga}},
      {"alone", {old_vga}, {new_vga}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_image_state();
    ImageBuilder img = testimg::standard_image();
    chain_into(img, L::main0_start, c.before);
    load(img);
    EXPECT_EQ(insert(new_vga, VGA), "");
    EXPECT_EQ(region(2), region_size_of(2, c.after));
  }
}

TEST_F(InsertTest, AModuleEndingExactlyAtTheRegionEndIsAccepted) {
  const Bytes vga = module_of(VGA, 500, 10), net = module_of(NET, 20, 11);
  load(sized_regions(length_of(vga), 0x1000));
  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(region(2), placed({vga}));
  // The full region has no free-space marker before its end: the next module goes on.
  EXPECT_EQ(insert(net, NET), "");
  EXPECT_EQ(region(2), placed({vga}));
  EXPECT_EQ(region(3), region_size_of(3, {net}));
  // And a replacement of the same size still fits.
  const Bytes vga2 = module_of(VGA, 500, 12);
  EXPECT_EQ(insert(vga2, VGA), "");
  EXPECT_EQ(region(2), placed({vga2}));
}

TEST_F(InsertTest, AReplacementThatDoesNotFitLeavesTheOldModuleAndGoesOn) {
  const Bytes old_vga = module_of(VGA, 100, 13), a = module_of(NET, 100, 14);
  const Bytes new_vga = module_of(VGA, 400, 15);
  ImageBuilder img = sized_regions(length_of(old_vga) + length_of(a) + 200, 0x1000);
  chain_into(img, L::main0_start, {old_vga, a});
  load(img);
  const Bytes row2 = region(2);
  EXPECT_EQ(insert(new_vga, VGA), "");
  EXPECT_EQ(region(2), row2);
  EXPECT_EQ(region(3), region_size_of(3, {new_vga}));
}

TEST_F(InsertTest, AnEarlierRowWinsAndALaterRowsModuleOfTheKindStays) {
  const Bytes later = module_of(VGA, 80, 16), vga = module_of(VGA, 90, 17);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main1_start, {later});
  load(img);
  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(region(2), region_size_of(2, {vga}));
  EXPECT_EQ(region(3), region_size_of(3, {later}));
}

TEST_F(InsertTest, TheTargetGroupChoosesTheRows) {
  const Bytes big = filling(NET, 0x4000 - 3, 18), epa = module_of(EPA, 100, 19);
  load(testimg::standard_image());
  image.target_group = 1;
  // Boot-block region 0 is 0x4000 bytes: a module that does not fit goes to region 1.
  EXPECT_EQ(insert(big, NET), "");
  EXPECT_EQ(insert(epa, EPA), "");
  EXPECT_EQ(region(0), region_size_of(0, {big}));
  EXPECT_EQ(region(1), region_size_of(1, {epa}));
  EXPECT_EQ(region(2), Bytes(0x10000, 0xFF));
  EXPECT_EQ(region(3), Bytes(0x10000, 0xFF));
}

TEST_F(InsertTest, BrokenChainsAreReportedAndTheNextRowIsTried) {
  const Bytes vga = module_of(VGA, 300, 20), a = module_of(NET, 50, 21);
  // A module of the same kind whose packed size claims more than the region holds.
  Bytes overlong = module_of(VGA, 40, 22);
  write_le(overlong.data() + HDR_PACKED_SIZE, 4, 0x20000);
  // A packed-module file whose packed size reads as the free-space marker.
  Bytes marker_size = vga;
  write_le(marker_size.data() + HDR_PACKED_SIZE, 4, FREE_SPACE_MARKER);
  struct Case {
    const char* name;
    std::vector<Bytes> chain;
    Bytes garbage_after;   // bytes after the chain instead of free space
    Bytes file;
    bool region1_takes_it;
  };
  const Case cases[] = {
      {"no marker and no module at the start", {}, Bytes(16, 0x00), vga, true},
      {"garbage after a module", {a}, Bytes(16, 0x11), vga, true},
      {"chain end past the region while replacing", {a, overlong}, {}, vga, true},
      {"garbage after the module being replaced", {vga, a}, Bytes(16, 0x00), vga, true},
      // Region 1 reads the same lying size when appending: it fits nowhere.
      {"new module's packed size is the marker", {a, vga}, {}, marker_size, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_image_state();
    ImageBuilder img = testimg::standard_image();
    chain_into(img, L::main0_start, c.chain);
    img.put(L::main0_start + static_cast<std::uint32_t>(placed(c.chain).size()), c.garbage_after);
    load(img);
    const Bytes row2 = region(2);
    const std::string out = insert(c.file, VGA);
    EXPECT_EQ(region(2), row2);
    if (c.region1_takes_it) {
      EXPECT_EQ(out, "BIOS Invalid \n");
      EXPECT_EQ(region(3), region_size_of(3, {c.file}));
    } else {
      EXPECT_EQ(out, "BIOS Invalid \nNo enough space for adding ROM.\n");
      EXPECT_EQ(region(3), Bytes(0x10000, 0xFF));
    }
  }
}

TEST_F(InsertTest, NoRowTakingTheModuleIsReportedOnce) {
  const Bytes vga = module_of(VGA, 300, 23);
  // Region 0 broken, region 1 too small.
  ImageBuilder img = sized_regions(0x1000, 100);
  img.put(L::main0_start, Bytes(16, 0x00));
  load(img);
  const Bytes before = image.window.base;
  EXPECT_EQ(insert(vga, VGA), "BIOS Invalid \nNo enough space for adding ROM.\n");
  EXPECT_EQ(image.window.base, before);
}

TEST_F(InsertTest, AChainThatRunsPastTheRegionEndIsRefusedSilently) {
  Bytes overlong = module_of(NET, 40, 24);
  write_le(overlong.data() + HDR_PACKED_SIZE, 4, 0xFFFFFF00u);  // far beyond the window
  const Bytes vga = module_of(VGA, 300, 25);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {overlong});
  load(img);
  const Bytes row2 = region(2);
  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(region(2), row2);
  EXPECT_EQ(region(3), region_size_of(3, {vga}));
}

TEST_F(InsertTest, APackedModuleFileThatLiesAboutItsLengthIsNotPlaced) {
  const Bytes vga = module_of(VGA, 300, 26);
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"shorter than its header claims", Bytes(vga.begin(), vga.end() - 10)},
      {"shorter than a header", Bytes(vga.begin(), vga.begin() + 5)},
      {"empty", {}},
      {"no module at all", Bytes(400, 0x00)},
  };
  ImageBuilder img = testimg::standard_image();
  const Bytes old_vga = module_of(VGA, 100, 27);
  chain_into(img, L::main0_start, {old_vga});
  load(img);
  const Bytes before = image.window.base;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(insert(c.file, VGA), "No enough space for adding ROM.\n");
    EXPECT_EQ(image.window.base, before);
  }
}

TEST_F(InsertTest, CloseGapMovesTheFollowingModulesDownAndErasesTheRest) {
  const Bytes a = module_of(NET, 100, 28), b = module_of(NET1, 60, 29), c = module_of(VGA, 70, 30);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {a, b, c});
  img.put(L::main0_start + static_cast<std::uint32_t>(placed({a, b, c}).size()) + 40, Bytes(8, 0x00));
  load(img);
  const std::uint32_t at_b = L::main0_start + length_of(a);
  close_gap(at_b, length_of(b), L::main0_end);
  EXPECT_EQ(region(2), region_size_of(2, {a, c}));
  // The last module: its bytes become free space.
  close_gap(at_b, length_of(c), L::main0_end);
  EXPECT_EQ(region(2), region_size_of(2, {a}));
  // Arguments beyond the region change nothing.
  const Bytes before = image.window.base;
  close_gap(L::main0_start, 0x20000, L::main0_end);
  close_gap(L::main0_end + 1, 1, L::main0_end);
  close_gap(L::main0_start, 1, WINDOW_SIZE + 1);
  EXPECT_EQ(image.window.base, before);
}

// --- Packed-map regions ----------------------------------------------------------

// A 256 KiB image whose only region [C0000, C4000) comes from the packed map and begins
// at the image's first byte.
constexpr std::uint32_t PM_SIZE = 0x40000, PM_START = 0xC0000, PM_END = 0xC4000;
ImageBuilder packmap_image(std::uint32_t size = PM_SIZE, std::uint32_t start = PM_START,
                           std::uint32_t end = PM_END) {
  ImageBuilder b(size);
  for (std::uint32_t p = b.base(); p < start; ++p) b.at(p) = static_cast<std::uint8_t>(p * 7);
  b.pack_map(0x11, 0xFFF00000 | start, 0xFFF00000 | end);
  b.erase(start, end);
  return b;
}

class PackedMapTest : public InsertTest {
 protected:
  static std::uint32_t start_field() { return window_le32(image.packmap_start_ref); }
};

TEST_F(PackedMapTest, ARegionTooSmallGrowsDownwardsByExactlyTheMissingBytes) {
  const Bytes filler = module_of(NET, 0x4000 - 300, 31), vga = module_of(VGA, 1000, 32);
  ImageBuilder img = packmap_image();
  chain_into(img, PM_START, {filler});
  load(img);
  ASSERT_TRUE(image.packmap_mode);
  const Bytes before = image.window.base;
  const std::uint32_t h = PM_START + length_of(filler) + length_of(vga) - PM_END;

  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(image.window.image_size, PM_SIZE + h);
  EXPECT_EQ(image.regions[2].start, PM_START - h);
  EXPECT_EQ(image.regions[2].end, PM_END);
  EXPECT_EQ(start_field(), (0xFFF00000 | PM_START) - h);
  EXPECT_EQ(window(PM_START - h, PM_END), placed({filler, vga}));
  // Below the moved region and above it, the window is as it was (the start field aside).
  EXPECT_EQ(window(0, PM_START - h), Bytes(before.begin(), before.begin() + PM_START - h));
  Bytes above = window(PM_END, WINDOW_SIZE);
  write_le(above.data() + (0xFFFF0 - PM_END), 4, 0xFFF00000 | PM_START);
  EXPECT_EQ(above, Bytes(before.begin() + PM_END, before.end()));

  // The rewritten file is h bytes longer, at its front: its first bytes are the moved
  // start of the region.  It loads again with that region.
  write_back_image();
  const Bytes file = dir.read("image.bin");
  ASSERT_EQ(file.size(), PM_SIZE + h);
  const Bytes moved = placed({filler, vga});
  EXPECT_EQ(Bytes(file.begin(), file.begin() + moved.size()), moved);
  ASSERT_EQ(load_image("image.bin"), 0);
  EXPECT_EQ(image.regions[2].start, PM_START - h);
}

TEST_F(PackedMapTest, AFullRegionGrowsByTheWholeModuleWhenFreeSpaceFollowsIt) {
  const Bytes filler = filling(NET, 0x4000, 33), vga = module_of(VGA, 500, 34);
  ImageBuilder img = packmap_image();
  chain_into(img, PM_START, {filler});
  img.erase(PM_END, PM_END + 16);
  load(img);
  EXPECT_EQ(insert(vga, VGA), "");
  EXPECT_EQ(image.regions[2].start, PM_START - length_of(vga));
  EXPECT_EQ(window(PM_START - length_of(vga), PM_END), placed({filler, vga}));
  EXPECT_EQ(window(PM_END, PM_END + 16), Bytes(16, 0xFF));
}

TEST_F(PackedMapTest, AReplacementGrowsAfterTheOldModuleIsRemoved) {
  const Bytes old_vga = module_of(VGA, 1000, 35), net = filling(NET, 0x4000 - length_of(old_vga) - 100, 36);
  const Bytes new_vga = module_of(VGA, 1500, 37);
  ImageBuilder img = packmap_image();
  chain_into(img, PM_START, {old_vga, net});
  load(img);
  const std::uint32_t h = length_of(net) + length_of(new_vga) - (PM_END - PM_START);
  EXPECT_EQ(insert(new_vga, VGA), "");
  EXPECT_EQ(image.regions[2].start, PM_START - h);
  EXPECT_EQ(window(PM_START - h, PM_END), placed({net, new_vga}));
}

TEST_F(PackedMapTest, GrowthThatWouldLeaveTheWindowOrBreakTheMapIsRefused) {
  const Bytes filler = module_of(NET, 0x4000 - 300, 38), vga = module_of(VGA, 1000, 39);
  Bytes far_module = module_of(EPA, 10, 40);
  write_le(far_module.data() + HDR_PACKED_SIZE, 4, 0x10000);  // next position past the window
  struct Case {
    const char* name;
    std::function<ImageBuilder()> build;
    std::function<void()> adjust;   // after loading
  };
  const Case cases[] = {
      {"image would exceed 1 MiB",
       [&] {
         ImageBuilder b = packmap_image(0x100000, 0x00000, 0x04000);
         chain_into(b, 0x00000, {filler});
         return b;
       },
       [] {}},
      {"start field would reach 0",
       [&] {
         ImageBuilder b = packmap_image();
         chain_into(b, PM_START, {filler});
         return b;
       },
       [&] {
         const std::uint32_t h = PM_START + length_of(filler) + length_of(vga) - PM_END;
         write_le(image.window.base.data() + image.packmap_start_ref, 4, h);
       }},
      {"walk past the window top",
       [&] {
         ImageBuilder b = packmap_image(PM_SIZE, PM_START, 0xFFF00);
         chain_into(b, PM_START, {filling(NET, 0xFFF00 - PM_START, 41)});
         b.put(0xFFF00, with_sum_byte(far_module));
         return b;
       },
       [] {}},
      {"region does not begin at the image's first byte",
       [&] {
         ImageBuilder b = packmap_image(PM_SIZE, 0xF8000, 0xFC000);
         chain_into(b, 0xF8000, {filler});
         return b;
       },
       [] {}},
      {"chain runs past the region end",
       [&] {
         ImageBuilder b = packmap_image();
         chain_into(b, PM_START, {filling(NET, 0x4000 + 100, 42)});
         b.erase(PM_END + 100, PM_END + 200);
         return b;
       },
       [] {}},
      {"replacement that would exceed 1 MiB keeps the old module",
       [&] {
         ImageBuilder b = packmap_image(0x100000, 0x00000, 0x04000);
         const Bytes old_vga = module_of(VGA, 100, 43);
         chain_into(b, 0x00000, {old_vga, filling(NET, 0x4000 - length_of(old_vga) - 200, 46)});
         return b;
       },
       [] {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_image_state();
    load(c.build());
    c.adjust();
    ASSERT_TRUE(image.packmap_mode);
    const Bytes before = image.window.base;
    const std::uint32_t size = image.window.image_size, start = image.regions[2].start;
    EXPECT_EQ(insert(vga, VGA), "No enough space for adding ROM.\n");
    EXPECT_EQ(image.window.base, before);
    EXPECT_EQ(image.window.image_size, size);
    EXPECT_EQ(image.regions[2].start, start);
  }
}

TEST_F(PackedMapTest, BootBlockRegionsOfAPackedMapImageDoNotGrow) {
  const Bytes filler = filling(NET, 0x100 - 3, 44), epa = module_of(EPA, 100, 45);
  ImageBuilder img = packmap_image();
  img.boot_map(L::boot_map_at, 0, 0xFFFF0000, 0xFFFF0100, 0, 0);
  img.erase(0xF0000, 0xF0100);
  chain_into(img, 0xF0000, {filler});
  load(img);
  ASSERT_TRUE(image.packmap_mode);
  image.target_group = 1;
  const Bytes before = image.window.base;
  EXPECT_EQ(insert(epa, EPA), "No enough space for adding ROM.\n");
  EXPECT_EQ(image.window.base, before);
  EXPECT_EQ(image.regions[0].start, 0xF0000u);
}

// --- Release ---------------------------------------------------------------------

class ReleaseTest : public InsertTest {};

TEST_F(ReleaseTest, RemovesTheFirstModuleOfTheKindInEveryRowOfTheGroup) {
  const Bytes a = module_of(NET, 100, 50), epa1 = module_of(EPA, 200, 51), b = module_of(NET1, 50, 52);
  const Bytes epa2 = module_of(EPA, 70, 53), epa3 = module_of(EPA, 30, 54), boot_epa = module_of(EPA, 20, 55);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {a, epa1, b, epa2});
  chain_into(img, L::main1_start, {epa3});
  chain_into(img, L::boot0_start, {boot_epa});
  load(img);
  EXPECT_EQ(release_module(EPA), 0);
  EXPECT_EQ(region(2), region_size_of(2, {a, b, epa2}));
  EXPECT_EQ(region(3), Bytes(0x10000, 0xFF));
  EXPECT_EQ(region(0), region_size_of(0, {boot_epa}));
  // The second of the kind goes with a second release; then none is left.
  EXPECT_EQ(release_module(EPA), 0);
  EXPECT_EQ(region(2), region_size_of(2, {a, b}));
  EXPECT_EQ(release_module(EPA), 1);
  EXPECT_EQ(region(2), region_size_of(2, {a, b}));
  EXPECT_EQ(release_from_region(0, EPA), 0);
  EXPECT_EQ(region(0), Bytes(0x4000, 0xFF));
}

TEST_F(ReleaseTest, BrokenChainsAreLeftAloneSilently) {
  const Bytes a = module_of(NET, 100, 56), epa = module_of(EPA, 200, 57), epa2 = module_of(EPA, 90, 58);
  Bytes overlong = module_of(NET1, 10, 59);
  write_le(overlong.data() + HDR_PACKED_SIZE, 4, 0x10000);
  struct Case {
    const char* name;
    std::vector<Bytes> chain;
    Bytes garbage_after;
  };
  const Case cases[] = {
      {"garbage before the module", {a}, Bytes(16, 0x00)},
      {"a module running past the region before it", {overlong}, {}},
      {"garbage after the module", {a, epa}, Bytes(16, 0x00)},
      {"a module running past the region after it", {epa, overlong}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_image_state();
    ImageBuilder img = testimg::standard_image();
    chain_into(img, L::main0_start, c.chain);
    img.put(L::main0_start + static_cast<std::uint32_t>(placed(c.chain).size()), c.garbage_after);
    chain_into(img, L::main1_start, {epa2});
    load(img);
    const Bytes row2 = region(2);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(release_module(EPA), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(region(2), row2);
    EXPECT_EQ(region(3), Bytes(0x10000, 0xFF));
  }
}

// --- Extraction ------------------------------------------------------------------

class ExtractTest : public InsertTest {
 protected:
  // Runs extract_module; returns its result and captures stdout and stderr.
  int extract(std::uint16_t type_id, const std::string& output) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int result = extract_module(type_id, output);
    out = ::testing::internal::GetCapturedStdout();
    err = ::testing::internal::GetCapturedStderr();
    return result;
  }
  std::string out, err;
};

TEST_F(ExtractTest, WritesTheOriginalBytesOfTheFirstModuleInTableOrder) {
  const Bytes data1 = testimg::pseudo_random(9000, 60), data2 = testimg::pseudo_random(300, 61);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {module_of(NET, 100, 62), stored_module("ONE.BIN", VGA, data1)});
  chain_into(img, L::main1_start, {stored_module("TWO.BIN", VGA, data2)});
  chain_into(img, L::boot0_start, {stored_module("BOOT.BIN", VGA, Bytes(10, 1))});
  load(img);
  dir.write_text("one.out", "an older file");
  const Bytes before = image.window.base;
  EXPECT_EQ(extract(VGA, "one.out"), 0);
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(dir.read("one.out"), data1);
  EXPECT_EQ(image.window.base, before);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"image.bin", "one.out"}));

  image.target_group = 1;
  EXPECT_EQ(extract(VGA, "boot.out"), 0);
  EXPECT_EQ(dir.read("boot.out"), Bytes(10, 1));
}

TEST_F(ExtractTest, NothingOfTheKindGivesOneAndNoFile) {
  const Bytes a = module_of(NET, 100, 63);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {a});
  img.put(L::main1_start, Bytes(16, 0x00));  // broken chain: passed over silently
  load(img);
  EXPECT_EQ(extract(VGA, "x.out"), 1);
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"image.bin"});
}

TEST_F(ExtractTest, AnOutputNameThatCannotBeGivenCountsAsNotFound) {
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {stored_module("ONE.BIN", VGA, Bytes(50, 7))});
  load(img);
  EXPECT_EQ(extract(VGA, "nodir/x.bin"), 1);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"image.bin"});
  // A directory standing where "original.tmp" is to be written is not taken for output.
  ASSERT_EQ(::mkdir(dir.file("original.tmp").c_str(), 0700), 0);
  dir.write_text("original.tmp/keep", "x");
  EXPECT_EQ(extract(VGA, "x.bin"), 1);
  EXPECT_FALSE(dir.exists("x.bin"));
  EXPECT_FALSE(dir.exists("FILE_BUF.BIN"));
}

TEST_F(ExtractTest, UnknownMethodsAndCrcErrorsStillExtract) {
  const Bytes data = testimg::pseudo_random(100, 64);
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start,
             {testimg::module_file("ODD.BIN", VGA, data, 100, testimg::crc16(data), '7'),
              testimg::module_file("BAD.BIN", NET, data, 100, testimg::crc16(data) ^ 1, '0')});
  load(img);
  EXPECT_EQ(extract(VGA, "odd.out"), 0);
  EXPECT_EQ(err, "Unknown method: 55\n");
  EXPECT_EQ(dir.read("odd.out"), Bytes{});
  EXPECT_EQ(extract(NET, "bad.out"), 0);
  EXPECT_EQ(err, "CRC error in BAD.BIN\n");
  EXPECT_EQ(dir.read("bad.out"), data);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bad.out", "image.bin", "odd.out"}));
}

// --- Process-ending paths --------------------------------------------------------

class CommonDeathTest : public InsertTest {};

TEST_F(CommonDeathTest, ARowBeyondTheTableIsAnInternalError) {
  load(testimg::standard_image());
  for (int row : {4, -1, 1000}) {
    SCOPED_TRACE(row);
    EXPECT_EXIT(
        {
          containertest::stdout_to_stderr();
          insert_into_region(row, stdin, VGA);
        },
        ::testing::ExitedWithCode(255), "^internal error image/common.cpp 274\n$");
    EXPECT_EXIT(
        {
          containertest::stdout_to_stderr();
          release_from_region(row, VGA);
        },
        ::testing::ExitedWithCode(255), "^internal error image/common.cpp 541\n$");
    EXPECT_EXIT(
        {
          containertest::stdout_to_stderr();
          extract_from_region(row, VGA, "x.out");
        },
        ::testing::ExitedWithCode(255), "^internal error image/common.cpp 462\n$");
  }
}

TEST_F(CommonDeathTest, AWrongHeaderSumEndsTheExtraction) {
  Bytes bad = stored_module("ONE.BIN", VGA, Bytes(50, 7));
  bad[HDR_SUM] ^= 1;
  ImageBuilder img = testimg::standard_image();
  chain_into(img, L::main0_start, {bad});
  load(img);
  EXPECT_EXIT(
      {
        containertest::stdout_to_stderr();
        extract_module(VGA, "x.out");
      },
      ::testing::ExitedWithCode(1), "^Header sum error\n$");
}

}  // namespace
