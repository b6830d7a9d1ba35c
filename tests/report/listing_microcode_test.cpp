// The /D listing of regions that hold microcode modules: the module is unpacked in
// passing and its table follows the region's totals; damaged microcode modules.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "report/listing.hpp"
#include "tests/report/microcode_helpers.hpp"
#include "tests/support/scratch.hpp"

namespace {

using namespace mctest;
using testimg::ImageBuilder;
using testimg::pseudo_random;
using testimg::stored_module;
using L = testimg::StandardLayout;

std::string heading(const std::string& region) {
  return "\n              ******** " + region + " ********\n\n" +
         " No. Item-Name        Original-Size   Compressed-Size Original-File-Name \n" +
         std::string(79, '=') + "\n";
}

const std::string EMPTY_BOOT1 =
    heading("BootBlock option rom region 1") +
    "\n  Total compress code space  = 02000h(8.00K)\n  Total compressed code size = 00000h(0.00K)\n"
    "  Remain compress code space = 02000h(8.00K)\n";
const std::string EMPTY_MAIN0 =
    heading("Main BIOS option rom region 0") +
    "\n  Total compress code space  = 10000h(64.00K)\n  Total compressed code size = 00000h(0.00K)\n"
    "  Remain compress code space = 10000h(64.00K)\n";

Bytes vga() { return stored_module("VGA.BIN", 0x4013, pseudo_random(100, 1)); }
const std::string VGA_ROW_1 = "  1. VGA              00064(0.10K)    00088h(0.13K)   VGA.BIN\n";

// Main region 0 alone, [0xC0000, 0xC1000), holding `first` and then VGA.BIN.
ImageBuilder main0_with(const Bytes& first) {
  ImageBuilder b(0x100000);
  b.boot_map(L::boot_map_at, 0, 0, 0, 0, 0);
  b.marker(L::marker_at);
  b.main_map(L::main_map_at, L::map_word, 0xC0000, 0xC1000, 0, 0);
  b.erase(0xC0000, 0xC1000);
  b.add_module(b.add_module(0xC0000, first), vga());
  return b;
}

class MicrocodeListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_image_state();
    reset_codec_state();
    reset_pack_state();
  }
  void TearDown() override { reset_image_state(); }

  void load(const ImageBuilder& b) {
    b.write(dir.file("stn.bin"));
    ASSERT_EQ(load_image("stn.bin"), 0);
  }
  // The listing's stdout and stderr.
  std::pair<std::string, std::string> list() {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    list_combined_modules();
    std::fflush(stdout);
    std::fflush(stderr);
    std::string err = ::testing::internal::GetCapturedStderr();
    return {::testing::internal::GetCapturedStdout(), err};
  }

  testimg::ScratchDir dir;
  testimg::CurrentDirGuard guard{dir.path()};
};

TEST_F(MicrocodeListingTest, TableFollowsTheTotalsOfItsRegion) {
  Bytes past_end = microcode_content(updates(2));
  put_le32(past_end, 12, 0x0200);  // second entry points past the file end
  struct Case {
    const char* name;
    Bytes content;
    std::string rows_and_totals;
    std::string cells;
  } cases[] = {
      {"no updates: 0xFFFF first", microcode_content({}),
       "  0. Cpucode          0000C(0.01K)    00030h(0.05K)   cpu.bin\n" + VGA_ROW_1 +
           "\n  Total compress code space  = 01000h(4.00K)\n  Total compressed code size = 000B8h(0.18K)\n  Remain compress code space = 00F48h(3.82K)\n",
       ""},
      {"four updates", microcode_content(updates(4)),
       "  0. Cpucode          000DC(0.21K)    00100h(0.25K)   cpu.bin\n" + VGA_ROW_1 +
           "\n  Total compress code space  = 01000h(4.00K)\n  Total compressed code size = 00188h(0.38K)\n  Remain compress code space = 00E78h(3.62K)\n",
       FOUR_CELLS},
      {"five updates", microcode_content(updates(5)),
       "  0. Cpucode          00110(0.27K)    00134h(0.30K)   cpu.bin\n" + VGA_ROW_1 +
           "\n  Total compress code space  = 01000h(4.00K)\n  Total compressed code size = 001BCh(0.43K)\n  Remain compress code space = 00E44h(3.57K)\n",
       FIVE_CELLS},
      {"offset table pointing past the file end", past_end,
       "  0. Cpucode          00074(0.11K)    00098h(0.15K)   cpu.bin\n" + VGA_ROW_1 +
           "\n  Total compress code space  = 01000h(4.00K)\n  Total compressed code size = 00120h(0.28K)\n  Remain compress code space = 00EE0h(3.72K)\n",
       "   01  10   0680  |  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    load(main0_with(stored_module("cpu.bin", 0x4001, c.content)));
    const auto [out, err] = list();
    EXPECT_EQ(out, heading("Main BIOS option rom region 0") + c.rows_and_totals + MICROCODE_HEADING + c.cells);
    EXPECT_EQ(err, "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
  }
}

TEST_F(MicrocodeListingTest, EachRegionReportsItsFirstMicrocodeModuleOnly) {
  ImageBuilder b = testimg::standard_image();
  const std::uint32_t at = b.add_module(L::boot0_start, stored_module("five.bin", 0x4001, microcode_content(updates(5))));
  b.add_module(at, stored_module("one.bin", 0x4001, microcode_content({{0xAA, 0xBB, 0xCCCC}})));
  b.add_module(L::main1_start, stored_module("four.bin", 0x4001, microcode_content(updates(4))));
  load(b);
  const std::string expected =
      heading("BootBlock option rom region 0") +
      "  0. Cpucode          00110(0.27K)    00135h(0.30K)   five.bin\n"
      "  1. Cpucode          00040(0.06K)    00064h(0.10K)   one.bin\n"
      "\n  Total compress code space  = 04000h(16.00K)\n  Total compressed code size = 00199h(0.40K)\n  Remain compress code space = 03E67h(15.60K)\n" +
      MICROCODE_HEADING + FIVE_CELLS +  // unfinished line, ended by the next heading
      EMPTY_BOOT1 + EMPTY_MAIN0 +
      heading("Main BIOS option rom region 1") +
      "  0. Cpucode          000DC(0.21K)    00101h(0.25K)   four.bin\n"
      "\n  Total compress code space  = 10000h(64.00K)\n  Total compressed code size = 00101h(0.25K)\n  Remain compress code space = 0FEFFh(63.75K)\n" +
      MICROCODE_HEADING + FOUR_CELLS;
  const auto [out, err] = list();
  EXPECT_EQ(out, expected);
  EXPECT_EQ(err, "");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
}

TEST_F(MicrocodeListingTest, DamagedDataIsReportedAndTheTableStillPrinted) {
  Bytes content = microcode_content(updates(4));
  Bytes module = testimg::module_file("cpu.bin", 0x4001, content, static_cast<std::uint32_t>(content.size()),
                                      static_cast<std::uint16_t>(testimg::crc16(content) ^ 1), '0');
  load(main0_with(module));
  const auto [out, err] = list();
  EXPECT_EQ(err, "CRC error in cpu.bin\n");
  EXPECT_EQ(out.substr(out.find("\n     ** Micro")), MICROCODE_HEADING + FOUR_CELLS);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
}

TEST_F(MicrocodeListingTest, UnknownMethodGivesTheHeadingsOnly) {
  Bytes content = microcode_content(updates(4));
  Bytes module = testimg::module_file("cpu.bin", 0x4001, content, static_cast<std::uint32_t>(content.size()),
                                      testimg::crc16(content), '7');
  load(main0_with(module));
  const auto [out, err] = list();
  EXPECT_EQ(err, "Unknown method: 55\n");
  EXPECT_EQ(out.substr(out.find("\n     ** Micro")), MICROCODE_HEADING);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
}

TEST_F(MicrocodeListingTest, CompressedMicrocodeModuleIsUnpacked) {
  Bytes content = microcode_content(updates(5));
  content.resize(4096, 0x00);  // padding that compresses well
  dir.write("cpu.bin", content);
  pack_state.load_text = "4001:0";
  std::string path = "cpu.bin";
  pack_file(path, 0, nullptr);
  const Bytes module = dir.read("bios.rom");
  ASSERT_EQ(module.at(5), '5');
  std::remove("cpu.bin");
  std::remove("bios.rom");

  load(main0_with(module));
  const auto [out, err] = list();
  EXPECT_EQ(err, "");
  EXPECT_NE(out.find("  0. Cpucode          01000(4.00K)"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.find("\n     ** Micro")), MICROCODE_HEADING + FIVE_CELLS);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stn.bin"});
}

class MicrocodeListingDeathTest : public MicrocodeListingTest {};

TEST_F(MicrocodeListingDeathTest, WrongHeaderSumEndsTheRunAfterTheRowsPrinted) {
  Bytes module = stored_module("cpu.bin", 0x4001, microcode_content(updates(4)));
  module[1] ^= 0x01;
  load(main0_with(module));
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        ::dup2(2, 1);
        list_combined_modules();
      },
      ::testing::ExitedWithCode(1),
      "\\*\\*\\*\\*\\*\\*\\*\\* Main BIOS option rom region 0 .*"
      "  0\\. Cpucode          000DC\\(0\\.21K\\)    00100h\\(0\\.25K\\)   cpu\\.bin\n"
      "Header sum error\n$");
}

}  // namespace
