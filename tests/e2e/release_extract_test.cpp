// Release and extraction through the real binary, alone and mixed with /D and adds on
// one command line.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/e2e_support.hpp"

using e2e::Bytes;
using e2e::chain;
using L = testimg::StandardLayout;
using testimg::ImageBuilder;
using testimg::RunResult;

namespace {

const Bytes A = testimg::stored_module("A.ROM", 0x4011, Bytes(100, 0xA1));
const Bytes EPA1 = testimg::stored_module("EPA1.BMP", 0x4002, Bytes(200, 0xE1));
const Bytes B = testimg::stored_module("B.ROM", 0x4012, Bytes(50, 0xB2));
const Bytes EPA2 = testimg::stored_module("EPA2.BMP", 0x4002, Bytes(70, 0xE2));

std::vector<Bytes> files(const std::vector<e2e::ChainModule>& modules) {
  std::vector<Bytes> out;
  for (const auto& m : modules) out.push_back(m.file);
  return out;
}

struct Workspace {
  testimg::ScratchDir dir;
  Bytes original;
  explicit Workspace(const ImageBuilder& b) : original(b.bytes) { dir.write("stn.bin", original); }
  RunResult run(std::vector<std::string> args) const {
    args.insert(args.begin(), "stn.bin");
    return testimg::run_optmix(dir, args);
  }
  Bytes image() const { return dir.read("stn.bin"); }
};

ImageBuilder chained(const std::vector<Bytes>& region0, const std::vector<Bytes>& region1 = {}) {
  ImageBuilder b = testimg::standard_image();
  std::uint32_t at = L::main0_start;
  for (const Bytes& m : region0) at = b.add_module(at, m);
  at = L::main1_start;
  for (const Bytes& m : region1) at = b.add_module(at, m);
  return b;
}

}  // namespace

TEST(Release, RemovesTheFirstModuleOfTheKindAndClosesTheGap) {
  struct Case {
    const char* name;
    std::vector<Bytes> before;
    std::vector<std::string> args;
    std::vector<Bytes> after;
    std::string out;
  };
  const Case cases[] = {
      {"first module", {EPA1, A, B}, {"/epa", "release"}, {A, B}, "EPA Type 4002:0 ROM is releaseed.\n"},
      {"middle module", {A, EPA1, B}, {"/EPA", "Release"}, {A, B}, "EPA Type 4002:0 ROM is releaseed.\n"},
      {"last module", {A, B, EPA1}, {"/epa", "RELEASE"}, {A, B}, "EPA Type 4002:0 ROM is releaseed.\n"},
      {"second of the kind survives", {A, EPA1, B, EPA2}, {"/epa", "release"}, {A, B, EPA2},
       "EPA Type 4002:0 ROM is releaseed.\n"},
      {"twice removes both", {A, EPA1, B, EPA2}, {"/epa", "release", "/epa", "release"}, {A, B},
       "EPA Type 4002:0 ROM is releaseed.\nEPA Type 4002:0 ROM is releaseed.\n"},
      {"none of the kind", {A, B}, {"/epa", "release"}, {A, B}, "EPA Type 4002:0 ROM can't releaseed.\n"},
      {"typed address", {A, testimg::stored_module("X.ROM", 0x6000, Bytes(5, 1)), B},
       {"/other", "6000:0", "release"}, {A, B}, "OTHER Type 6000:0 ROM is releaseed.\n"},
      {"/D release takes type id FFFF", {A, testimg::stored_module("F.ROM", 0xFFFF, Bytes(5, 1))},
       {"/D", "release"}, {A}, "D Type 7000:0 ROM is releaseed.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w(chained(c.before));
    const RunResult r = w.run(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    const auto modules = chain(w.image(), L::main0_start, L::main0_end);
    EXPECT_EQ(files(modules), c.after);
    for (const auto& m : modules) EXPECT_EQ(m.sum, e2e::sum8(m.file));
    const std::uint32_t end = modules.empty() ? L::main0_start : modules.back().pos + modules.back().length;
    const Bytes rest = e2e::window_bytes(w.image(), end, L::main0_end);
    EXPECT_EQ(rest, Bytes(rest.size(), 0xFF));
    EXPECT_EQ(w.dir.entries(), std::vector<std::string>{"stn.bin"});
  }
}

TEST(Release, WorksOnEveryRegionOfTheTargetGroupOnly) {
  ImageBuilder b = chained({A, EPA1}, {EPA2, B});
  b.add_module(L::boot0_start, EPA1);
  Workspace w(b);
  const RunResult r = w.run({"/epa", "release"});
  EXPECT_EQ(r.out, "EPA Type 4002:0 ROM is releaseed.\n");
  EXPECT_EQ(files(chain(w.image(), L::main0_start, L::main0_end)), (std::vector<Bytes>{A}));
  EXPECT_EQ(files(chain(w.image(), L::main1_start, L::main1_end)), (std::vector<Bytes>{B}));
  EXPECT_EQ(files(chain(w.image(), L::boot0_start, L::boot0_end)), (std::vector<Bytes>{EPA1}));

  const RunResult boot = w.run({"/BOOT", "/epa", "release", "/epa", "release"});
  EXPECT_EQ(boot.out, "EPA Type 4002:0 ROM is releaseed.\nEPA Type 4002:0 ROM can't releaseed.\n");
  EXPECT_TRUE(chain(w.image(), L::boot0_start, L::boot0_end).empty());
}

TEST(Extract, WritesTheOriginalBytesAndLeavesNoWorkingFile) {
  const Bytes content = e2e::code_like(30000, 77);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string output;
    std::string out_prefix;
  };
  const Case cases[] = {
      {"default name", {"/vga", "extract"}, "extract.bin", "VGA Type 4013:0 ROM is extracted.\n"},
      {"named file", {"/vga", "Extract", "vga.out"}, "vga.out", "VGA Type 4013:0 ROM is extracted.\n"},
      {"named file then a listing", {"/vga", "extract", "vga.out", "/D"}, "vga.out",
       "VGA Type 4013:0 ROM is extracted.\n\n              ******** BootBlock option rom region 0"},
      {"default name then a listing", {"/vga", "extract", "/D"}, "extract.bin",
       "VGA Type 4013:0 ROM is extracted.\n\n              ******** BootBlock option rom region 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w(testimg::standard_image());
    w.dir.write("VGA.BIN", content);
    ASSERT_EQ(w.run({"/vga", "VGA.BIN"}).status, 0);
    std::filesystem::remove(w.dir.file("bios.rom"));
    const Bytes image = w.image();
    w.dir.write_text(c.output, "an older file that is replaced");
    const RunResult r = w.run(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, c.out_prefix.size()), c.out_prefix);
    EXPECT_EQ(w.dir.read(c.output), content);
    EXPECT_EQ(w.image(), image);
    EXPECT_EQ(w.dir.entries(), e2e::sorted({"VGA.BIN", c.output, "stn.bin"}));
  }
}

TEST(Extract, StoredModulesFirstRegionFirstAndMissingKinds) {
  const Bytes data1 = testimg::pseudo_random(500, 1), data2 = testimg::pseudo_random(300, 2);
  Workspace w(chained({A, testimg::stored_module("ONE.BIN", 0x4013, data1)},
                      {testimg::stored_module("TWO.BIN", 0x4013, data2)}));
  RunResult r = w.run({"/vga", "extract", "one.out"});
  EXPECT_EQ(r.out, "VGA Type 4013:0 ROM is extracted.\n");
  EXPECT_EQ(w.dir.read("one.out"), data1);

  r = w.run({"/epa", "extract", "none.out", "/BOOT", "/vga", "extract", "boot.out"});
  EXPECT_EQ(r.out, "EPA Type 4002:0 ROM can't extracted.\nVGA Type 4013:0 ROM can't extracted.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(w.dir.exists("none.out"));
  EXPECT_FALSE(w.dir.exists("boot.out"));

  // An output name that cannot be given (missing directory) counts as not extracted.
  r = w.run({"/vga", "extract", "nodir/x.bin"});
  EXPECT_EQ(r.out, "VGA Type 4013:0 ROM can't extracted.\n");
  EXPECT_EQ(w.dir.entries(), (std::vector<std::string>{"one.out", "stn.bin"}));
}

TEST(Mixed, ReleaseListThenAddInOneRun) {
  Workspace w(chained({A, EPA1, B}));
  w.dir.write("VGA.BIN", e2e::code_like(5000, 3));
  const RunResult r = w.run({"/epa", "release", "/D", "/vga", "VGA.BIN"});
  ASSERT_EQ(r.status, 0);
  const std::uint32_t la = static_cast<std::uint32_t>(A.size() + 1), lb = static_cast<std::uint32_t>(B.size() + 1);
  const std::string expected =
      "EPA Type 4002:0 ROM is releaseed.\n" +
      e2e::listed_region("BootBlock option rom region 0", 0x4000, {}) +
      e2e::listed_region("BootBlock option rom region 1", 0x2000, {}) +
      e2e::listed_region("Main BIOS option rom region 0", 0x10000,
                         {{"NET", 100, la, "A.ROM"}, {"NET1", 50, lb, "B.ROM"}}) +
      e2e::listed_region("Main BIOS option rom region 1", 0x10000, {}) +
      e2e::adding_line("VGA.BIN", w.dir.read("bios.rom"));
  EXPECT_EQ(r.out, expected);
  const auto modules = chain(w.image(), L::main0_start, L::main0_end);
  ASSERT_EQ(modules.size(), 3u);
  EXPECT_EQ(modules[2].name, "VGA.BIN");
}

TEST(Mixed, ATrailingBootIsBadUsageAfterTheEarlierPairs) {
  Workspace w(chained({A, EPA1}));
  const RunResult r = w.run({"/epa", "release", "/BOOT"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "EPA Type 4002:0 ROM is releaseed.\nBad usage.\n");
  EXPECT_EQ(w.image(), w.original);
}

TEST(Mixed, ListingIgnoresItsOperandAndAddsSeeEarlierChanges) {
  Workspace w(chained({A}));
  w.dir.write("VGA.BIN", e2e::code_like(3000, 4));
  const RunResult r = w.run({"/vga", "VGA.BIN", "/D", "foo"});
  ASSERT_EQ(r.status, 0);
  const Bytes bios_rom = w.dir.read("bios.rom");
  const std::string expected =
      e2e::adding_line("VGA.BIN", bios_rom) + e2e::listed_region("BootBlock option rom region 0", 0x4000, {}) +
      e2e::listed_region("BootBlock option rom region 1", 0x2000, {}) +
      e2e::listed_region("Main BIOS option rom region 0", 0x10000,
                         {{"NET", 100, static_cast<std::uint32_t>(A.size() + 1), "A.ROM"},
                          {"VGA", 3000, static_cast<std::uint32_t>(bios_rom.size() + 1), "VGA.BIN"}}) +
      e2e::listed_region("Main BIOS option rom region 1", 0x10000, {});
  EXPECT_EQ(r.out, expected);
}
