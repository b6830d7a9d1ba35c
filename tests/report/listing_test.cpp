// The /D listing over built images: exact output of whole listings, regions that are
// empty or start at free space, and chains damaged in every way the walk must survive.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "report/listing.hpp"
#include "report/listing_internal.hpp"
#include "tests/report/microcode_helpers.hpp"
#include "tests/support/scratch.hpp"

namespace {

using testimg::Bytes;
using testimg::ImageBuilder;
using testimg::pseudo_random;
using testimg::stored_module;
using L = testimg::StandardLayout;

const char* const BOOT0 = "BootBlock option rom region 0";
const char* const BOOT1 = "BootBlock option rom region 1";
const char* const MAIN0 = "Main BIOS option rom region 0";
const char* const MAIN1 = "Main BIOS option rom region 1";

std::string heading(const std::string& region) {
  return "\n              ******** " + region + " ********\n\n" +
         " No. Item-Name        Original-Size   Compressed-Size Original-File-Name \n" +
         std::string(79, '=') + "\n";
}

// Modules whose lengths the expected texts below are worked out for.
Bytes vga() { return stored_module("VGA.BIN", 0x4013, pseudo_random(100, 1)); }    // length 0x88
Bytes rapidup() { return stored_module("A.BIN", 0x4015, pseudo_random(94, 2)); }   // length 0x80
const char* const VGA_ROW = "  0. VGA              00064(0.10K)    00088h(0.13K)   VGA.BIN\n";

// An image in which only main region 0, [start, end), is in use (erased).
ImageBuilder one_region(std::uint32_t start, std::uint32_t end) {
  ImageBuilder b(0x100000);
  b.boot_map(L::boot_map_at, 0, 0, 0, 0, 0);
  b.marker(L::marker_at);
  b.main_map(L::main_map_at, L::map_word, start, end, 0, 0);
  b.erase(start, end);
  return b;
}

class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_image_state();
    reset_codec_state();
    reset_pack_state();
  }
  void TearDown() override { reset_image_state(); }

  std::string list(const ImageBuilder& b) {
    b.write(dir.file("stn.bin"));
    EXPECT_EQ(load_image("stn.bin"), 0);
    ::testing::internal::CaptureStdout();
    list_combined_modules();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }

  testimg::ScratchDir dir;
  testimg::CurrentDirGuard guard{dir.path()};
};

TEST(KFigureTest, HalvesRoundUpAndEverythingElseToNearest) {
  struct Case {
    std::uint32_t bytes;
    const char* text;
  } cases[] = {
      {0, "0.00"},          {0x80, "0.13"},      {0x180, "0.38"},      {0x280, "0.63"},
      {0x7F, "0.12"},       {0x81, "0.13"},      {5, "0.00"},          {6, "0.01"},
      {0x10000, "64.00"},   {0xFF80, "63.88"},   {0x3FF80, "255.88"},  {1023, "1.00"},
      {0xFFFFFFFF, "4194304.00"}, {0xFFFFFF80, "4194303.88"},
  };
  for (const Case& c : cases) EXPECT_EQ(listing_internal::k_figure(c.bytes), c.text) << c.bytes;
}

TEST_F(ListingTest, AllFourRegionsPopulated) {
  ImageBuilder b = testimg::standard_image();
  std::uint32_t at = b.add_module(L::boot0_start, vga());
  b.add_module(at, rapidup());
  b.add_module(L::boot1_start, stored_module("scsi.rom", 0x4004, pseudo_random(0x180, 3)));
  at = b.add_module(L::main0_start, stored_module("logo.bmp", 0x4014, pseudo_random(1000, 4)));
  at = b.add_module(at, stored_module("B.ROM", 0x6000, pseudo_random(384, 5)));
  b.add_module(at, stored_module("c.bin", 0x2603, pseudo_random(10, 6)));
  at = b.add_module(L::main1_start, stored_module("E.BIN", 0x2400, pseudo_random(5, 7), 0x0010));
  at = b.add_module(at, stored_module("x", 0x7777, {}, 0x1234));
  b.add_module(at, stored_module(std::string("AB\0CD", 5), 0x5000, {1, 2, 3}));

  const std::string expected =
      heading(BOOT0) +
      VGA_ROW +
      "  1. RAPIDUP          0005E(0.09K)    00080h(0.13K)   A.BIN\n"
      "\n  Total compress code space  = 04000h(16.00K)\n  Total compressed code size = 00108h(0.26K)\n  Remain compress code space = 03EF8h(15.74K)\n" +
      heading(BOOT1) +
      "  0. SCSI             00180(0.38K)    001A5h(0.41K)   scsi.rom\n"
      "\n  Total compress code space  = 02000h(8.00K)\n  Total compressed code size = 001A5h(0.41K)\n  Remain compress code space = 01E5Bh(7.59K)\n" +
      heading(MAIN0) +
      "  0. LOGO256          003E8(0.98K)    0040Dh(1.01K)   logo.bmp\n"
      "  1. Other(6000:0000) 00180(0.38K)    001A2h(0.41K)   B.ROM\n"
      "  2. CHINESEPOST      0000A(0.01K)    0002Ch(0.04K)   c.bin\n"
      "\n  Total compress code space  = 10000h(64.00K)\n  Total compressed code size = 005DBh(1.46K)\n  Remain compress code space = 0FA25h(62.54K)\n" +
      heading(MAIN1) +
      "  0. ENGLISHPOST      00005(0.00K)    00027h(0.04K)   E.BIN\n"
      "  1. Other(7777:1234) 00000(0.00K)    0001Eh(0.03K)   x\n"
      "  2. SYS              00003(0.00K)    00025h(0.04K)   AB\n"
      "\n  Total compress code space  = 10000h(64.00K)\n  Total compressed code size = 0006Ah(0.10K)\n  Remain compress code space = 0FF96h(63.90K)\n";

  image.target_group = 1;  // the listing walks every region whatever the target group
  EXPECT_EQ(list(b), expected);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
}

TEST_F(ListingTest, EmptyAndInvertedRegionsPrintNothingAndErasedOnesOnlyTotals) {
  ImageBuilder b(0x100000);
  b.boot_map(L::boot_map_at, 0, 0xF0000, 0xF4000, 0xF4000, 0xF4000);   // row 1 empty
  b.marker(L::marker_at);
  b.main_map(L::main_map_at, L::map_word, 0xC0000, 0xD0000, 0xE0000, 0xD0000);  // row 3 inverted
  b.erase(0xF0000, 0xF4000);
  b.erase(0xC0000, 0xD0000);
  const std::string expected =
      heading(BOOT0) +
      "\n  Total compress code space  = 04000h(16.00K)\n  Total compressed code size = 00000h(0.00K)\n  Remain compress code space = 04000h(16.00K)\n" +
      heading(MAIN0) +
      "\n  Total compress code space  = 10000h(64.00K)\n  Total compressed code size = 00000h(0.00K)\n  Remain compress code space = 10000h(64.00K)\n";
  EXPECT_EQ(list(b), expected);
}

TEST_F(ListingTest, LeftoverMicrocodeFileIsRemovedFirst) {
  dir.write("CPU_FILE.STV", mctest::microcode_content(mctest::updates(4)));
  ImageBuilder b = one_region(0xC0000, 0xC0100);
  b.add_module(0xC0000, vga());
  const std::string out = list(b);
  EXPECT_EQ(out.find("Micro Code"), std::string::npos);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
}

// Chains whose walk must stop at the region's end or at damage, reading nothing outside
// the window.  Each image has main region 0 alone.
TEST_F(ListingTest, DamagedChainsStopTheWalk) {
  auto totals = [](const std::string& space, const std::string& used, const std::string& left) {
    return "\n  Total compress code space  = " + space + "\n  Total compressed code size = " + used +
           "\n  Remain compress code space = " + left + "\n";
  };
  const std::string rapidup_row_0 = "  0. RAPIDUP          0005E(0.09K)    00080h(0.13K)   A.BIN\n";
  const std::string vga_row_1 = "  1. VGA              00064(0.10K)    00088h(0.13K)   VGA.BIN\n";

  struct Case {
    const char* name;
    std::uint32_t start, end;
    void (*build)(ImageBuilder&);
    std::string body;
  } cases[] = {
      {"module, then a position holding neither free space nor a module", 0xC0000, 0xC0200,
       [](ImageBuilder& b) {
         std::uint32_t at = b.add_module(0xC0000, vga());
         b.put(at, Bytes(16, 0x00));
       },
       VGA_ROW + std::string("BIOS Invalid \n") +
           totals("00200h(0.50K)", "00088h(0.13K)", "00178h(0.37K)")},
      {"region start holding no module", 0xC0000, 0xC0200,
       [](ImageBuilder& b) { b.put_text(0xC0000, "garbage, not a module"); },
       "BIOS Invalid \n" + totals("00200h(0.50K)", "00000h(0.00K)", "00200h(0.50K)")},
      {"chain filling its region to the last byte", 0xC0000, 0xC0108,
       [](ImageBuilder& b) {
         std::uint32_t at = b.add_module(0xC0000, rapidup());
         at = b.add_module(at, vga());
         b.put(at, Bytes(16, 0x00));  // beyond the region: never looked at
       },
       rapidup_row_0 + vga_row_1 + totals("00108h(0.26K)", "00108h(0.26K)", "00000h(0.00K)")},
      {"module running one byte past its region", 0xC0000, 0xC0107,
       [](ImageBuilder& b) {
         std::uint32_t at = b.add_module(0xC0000, rapidup());
         b.add_module(at, vga());
       },
       rapidup_row_0 + "BIOS Invalid \n" + totals("00107h(0.26K)", "00080h(0.13K)", "00087h(0.13K)")},
      {"packed size running past the window", 0xC0000, 0xC0200,
       [](ImageBuilder& b) {
         Bytes m = stored_module("huge", 0x4013, {});
         m[7] = m[8] = m[9] = 0xFF;
         m[10] = 0xFE;  // 0xFEFFFFFF; not the free-space marker
         b.add_module(0xC0000, m);
       },
       "BIOS Invalid \n" + totals("00200h(0.50K)", "00000h(0.00K)", "00200h(0.50K)")},
      {"largest packed size below the marker", 0xC0000, 0xC0200,
       [](ImageBuilder& b) {
         Bytes m = stored_module("huge", 0x4013, {});
         m[7] = 0xFE;
         m[8] = m[9] = m[10] = 0xFF;  // 0xFFFFFFFE
         b.add_module(0xC0000, m);
       },
       "BIOS Invalid \n" + totals("00200h(0.50K)", "00000h(0.00K)", "00200h(0.50K)")},
      {"position too close to the window's top for a header", 0xFFFF8, 0xFFFFF,
       [](ImageBuilder& b) { b.put(0xFFFF8, Bytes(8, 0x2D)); },
       "BIOS Invalid \n" + totals("00007h(0.01K)", "00000h(0.00K)", "00007h(0.01K)")},
      {"stored name running past the window", 0xFFFE0, 0xFFFFF,
       [](ImageBuilder& b) {
         Bytes h(32, 0);
         h[2] = '-', h[3] = 'l', h[4] = 'h', h[5] = '0', h[6] = '-';
         h[7] = 10;     // length 0 + 10 + 4 fits the region
         h[17] = 0x13, h[18] = 0x40;
         h[21] = 200;   // name bytes 22 .. 221
         b.put(0xFFFE0, h);
       },
       "BIOS Invalid \n" + totals("0001Fh(0.03K)", "00000h(0.00K)", "0001Fh(0.03K)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ImageBuilder b = one_region(c.start, c.end);
    c.build(b);
    EXPECT_EQ(list(b), heading(MAIN0) + c.body);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
  }
}

TEST_F(ListingTest, MicrocodeCopyThatCannotBeWrittenLeavesTheTableEmpty) {
  ::mkdir(dir.file("FILE_BUF.BIN").c_str(), 0700);  // creation of the copy fails
  ImageBuilder b = one_region(0xC0000, 0xC0200);
  b.add_module(0xC0000, stored_module("cpu.bin", 0x4001, mctest::microcode_content(mctest::updates(1))));
  const std::string out = list(b);
  EXPECT_EQ(out.substr(out.find("\n  Total")),
            "\n  Total compress code space  = 00200h(0.50K)\n  Total compressed code size = 00064h(0.10K)\n"
            "  Remain compress code space = 0019Ch(0.40K)\n" +
                mctest::MICROCODE_HEADING);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"FILE_BUF.BIN", "stn.bin"}));
}

}  // namespace
