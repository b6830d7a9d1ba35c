// Adding modules through the real binary: the routes of the add path, insertion into
// empty and partly filled regions, replacement, overflow to the next region, growth of a
// packed-map region, and the refused inputs.  Each case checks stdout, stderr, the exit
// code, the working files and the image bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "tests/e2e/e2e_support.hpp"

using e2e::Bytes;
using e2e::chain;
using e2e::ChainModule;
using L = testimg::StandardLayout;
using testimg::ImageBuilder;
using testimg::RunResult;

namespace {

// A scratch directory holding the image "stn.bin" and the inputs of one case.
struct Workspace {
  testimg::ScratchDir dir;
  Bytes original;

  explicit Workspace(const ImageBuilder& b = testimg::standard_image()) : original(b.bytes) {
    dir.write("stn.bin", original);
  }
  RunResult run(const std::vector<std::string>& args) const {
    std::vector<std::string> full{"stn.bin"};
    full.insert(full.end(), args.begin(), args.end());
    return testimg::run_optmix(dir, full);
  }
  Bytes image() const { return dir.read("stn.bin"); }
  // Extracts the module of `item` with the binary and returns its bytes.
  Bytes extracted(const std::vector<std::string>& item) const {
    std::vector<std::string> args = item;
    args.insert(args.end(), {"extract", "check.out"});
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 0) << r.out;
    Bytes out = dir.exists("check.out") ? dir.read("check.out") : Bytes{};
    std::filesystem::remove(dir.file("check.out"));
    return out;
  }
  // Every byte outside [start, end) is as it was.
  void expect_unchanged_outside(std::uint32_t start, std::uint32_t end) const {
    const Bytes now = image();
    ASSERT_EQ(now.size(), original.size());
    const std::uint32_t base = 0x100000 - static_cast<std::uint32_t>(now.size());
    for (std::uint32_t p = base; p < 0x100000; ++p)
      if ((p < start || p >= end) && now[p - base] != original[p - base]) {
        ADD_FAILURE() << "byte at window offset " << std::hex << p << " changed";
        return;
      }
  }
  // The region [from, end) holds only erased bytes.
  void expect_erased(std::uint32_t from, std::uint32_t end) const {
    const Bytes rest = e2e::window_bytes(image(), from, end);
    EXPECT_EQ(rest, Bytes(rest.size(), 0xFF));
  }
};

// The module `m` is "bios.rom" plus its sum byte.
void expect_placed(const ChainModule& m, const Bytes& bios_rom) {
  EXPECT_EQ(m.file, bios_rom);
  EXPECT_EQ(m.sum, e2e::sum8(bios_rom));
}

ImageBuilder image_with(std::uint32_t at, const std::vector<Bytes>& modules) {
  ImageBuilder b = testimg::standard_image();
  for (const Bytes& m : modules) at = b.add_module(at, m);
  return b;
}

}  // namespace

TEST(Add, AddsUnderItemsIntoTheFirstRegionOfTheTargetGroup) {
  struct Case {
    std::vector<std::string> args;
    std::string file;
    Bytes content;
    std::uint32_t start, end;
    std::uint16_t type_id, load_offset;
    char method;
    std::vector<std::string> item;  // for extraction
  };
  const Case cases[] = {
      {{"/vga", "VGA.BIN"}, "VGA.BIN", e2e::code_like(20000, 1), L::main0_start, L::main0_end, 0x4013, 0, '5', {"/vga"}},
      {{"/other", "6000:8", "ext.rom"}, "ext.rom", e2e::code_like(5000, 2), L::main0_start, L::main0_end, 0x6000, 8, '5',
       {"/other", "6000:8"}},
      {{"/BOOT", "/cpucode", "cpu.bin"}, "cpu.bin", e2e::code_like(3000, 3), L::boot0_start, L::boot0_end, 0x4001, 0,
       '5', {"/BOOT", "/cpucode"}},
      {{"/SYS", "sys.bin"}, "sys.bin", testimg::pseudo_random(3000, 4), L::main0_start, L::main0_end, 0x5000, 0, '0',
       {"/sys"}},
      {{"/FrenchSetup", "fr.bin"}, "fr.bin", e2e::text(std::string(400, 'x')), L::main0_start, L::main0_end, 0x7002, 0,
       '5', {"/frenchsetup"}},
      {{"/net", "empty.rom"}, "empty.rom", {}, L::main0_start, L::main0_end, 0x4011, 0, '0', {"/net"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.file);
    Workspace w;
    w.dir.write(c.file, c.content);
    const RunResult r = w.run(c.args);
    ASSERT_EQ(r.status, 0) << r.out;
    const Bytes bios_rom = w.dir.read("bios.rom");
    EXPECT_EQ(r.out, e2e::adding_line(c.file, bios_rom));
    EXPECT_EQ(e2e::dots(r.err), c.method == '5' ? c.content.size() / 8192 : e2e::dots(r.err));
    EXPECT_EQ(r.err, std::string(e2e::dots(r.err), '.'));

    const auto modules = chain(w.image(), c.start, c.end);
    ASSERT_EQ(modules.size(), 1u);
    const ChainModule& m = modules[0];
    expect_placed(m, bios_rom);
    EXPECT_EQ(m.pos, c.start);
    EXPECT_EQ(m.type_id, c.type_id);
    EXPECT_EQ(m.load_offset, c.load_offset);
    EXPECT_EQ(m.name, c.file);
    EXPECT_EQ(m.method, c.method);
    EXPECT_EQ(m.original, c.content.size());
    EXPECT_EQ(bios_rom.size(), 27 + c.file.size() + m.packed + 1);
    EXPECT_EQ(bios_rom.back(), 0x00);
    w.expect_erased(c.start + m.length, c.end);
    w.expect_unchanged_outside(c.start, c.end);
    EXPECT_EQ(w.dir.entries(), e2e::sorted({"bios.rom", c.file, "stn.bin"}));
    EXPECT_EQ(w.extracted(c.item), c.content);
  }
}

TEST(Add, AppendsAfterTheModulesOfAPartlyFilledRegion) {
  const Bytes a = testimg::stored_module("A.ROM", 0x4011, Bytes(100, 0xA1));
  const Bytes b = testimg::stored_module("B.ROM", 0x4012, Bytes(50, 0xB2));
  Workspace w(image_with(L::main0_start, {a, b}));
  w.dir.write("VGA.BIN", e2e::code_like(9000, 9));
  const RunResult r = w.run({"/vga", "VGA.BIN"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto modules = chain(w.image(), L::main0_start, L::main0_end);
  ASSERT_EQ(modules.size(), 3u);
  EXPECT_EQ(modules[0].file, a);
  EXPECT_EQ(modules[1].file, b);
  expect_placed(modules[2], w.dir.read("bios.rom"));
  w.expect_erased(modules[2].pos + modules[2].length, L::main0_end);
  w.expect_unchanged_outside(modules[2].pos, modules[2].pos + modules[2].length);
}

TEST(Add, ReplacingAModuleInTheMiddleMovesTheRestDown) {
  const Bytes a = testimg::stored_module("A.ROM", 0x4011, Bytes(100, 0xA1));
  const Bytes old_vga = testimg::stored_module("OLDVGA.BIN", 0x4013, Bytes(3000, 0x33));
  const Bytes c = testimg::stored_module("C.ROM", 0x4012, Bytes(60, 0xC3));
  Workspace w(image_with(L::main0_start, {a, old_vga, c}));
  const Bytes content = e2e::code_like(12000, 5);
  w.dir.write("vga.bin", content);
  ASSERT_EQ(w.run({"/VGA", "vga.bin"}).status, 0);
  const auto modules = chain(w.image(), L::main0_start, L::main0_end);
  ASSERT_EQ(modules.size(), 3u);
  EXPECT_EQ(modules[0].file, a);
  EXPECT_EQ(modules[1].file, c);
  EXPECT_EQ(modules[1].sum, e2e::sum8(c));
  EXPECT_EQ(modules[2].name, "vga.bin");
  expect_placed(modules[2], w.dir.read("bios.rom"));
  w.expect_erased(modules[2].pos + modules[2].length, L::main0_end);
  EXPECT_EQ(w.extracted({"/vga"}), content);
}

TEST(Add, AReplacementThatDoesNotFitGoesToTheNextRegion) {
  // Region 0 is full but for 40 bytes after the old module; the new one is larger.
  ImageBuilder b = testimg::standard_image();
  const Bytes filler = testimg::stored_module("FILL.BIN", 0x4011, Bytes(0x10000 - 400, 0x44));
  const Bytes old_vga = testimg::stored_module("OLD.BIN", 0x4013, Bytes(300, 0x55));
  std::uint32_t at = b.add_module(L::main0_start, filler);
  at = b.add_module(at, old_vga);
  ASSERT_LT(at, L::main0_end);
  Workspace w(b);
  w.dir.write("VGA.BIN", testimg::pseudo_random(2000, 6));
  const RunResult r = w.run({"/vga", "VGA.BIN"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, e2e::adding_line("VGA.BIN", w.dir.read("bios.rom")));
  const auto region0 = chain(w.image(), L::main0_start, L::main0_end);
  ASSERT_EQ(region0.size(), 2u);
  EXPECT_EQ(region0[1].file, old_vga);  // the old module stays where it was
  const auto region1 = chain(w.image(), L::main1_start, L::main1_end);
  ASSERT_EQ(region1.size(), 1u);
  expect_placed(region1[0], w.dir.read("bios.rom"));
  w.expect_unchanged_outside(L::main1_start, L::main1_end);
}

TEST(Add, NoRegionWithRoomLeavesTheImageAsItWas) {
  ImageBuilder b = testimg::standard_image();
  b.add_module(L::main0_start, testimg::stored_module("F0.BIN", 0x4011, Bytes(0x10000 - 200, 1)));
  b.add_module(L::main1_start, testimg::stored_module("F1.BIN", 0x4012, Bytes(0x10000 - 200, 2)));
  Workspace w(b);
  w.dir.write("VGA.BIN", testimg::pseudo_random(1000, 7));
  const RunResult r = w.run({"/vga", "VGA.BIN"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, e2e::adding_line("VGA.BIN", w.dir.read("bios.rom")) + "No enough space for adding ROM.\n");
  EXPECT_EQ(w.image(), w.original);
}

TEST(Add, ChainsThatRunPastTheRegionOrHoldNoMarkerAreSkipped) {
  struct Case {
    const char* name;
    std::function<void(ImageBuilder&)> damage;
    std::string extra_out;
  };
  const Case cases[] = {
      {"module length past the region end",
       [](ImageBuilder& b) {
         Bytes m = testimg::stored_module("BIG.BIN", 0x4011, Bytes(16, 1));
         m[7] = 0x00, m[8] = 0x00, m[9] = 0x10, m[10] = 0x00;  // packed size 0x100000
         b.put(L::main0_start, m);
       },
       ""},
      {"no free-space marker before the region end",
       [](ImageBuilder& b) {
         b.add_module(L::main0_start, testimg::stored_module("F0.BIN", 0x4011, Bytes(0x10000 - 40, 1)));
         for (std::uint32_t p = L::main0_end - 7; p < L::main0_end; ++p) b.at(p) = 0x00;
       },
       ""},
      {"a position that is neither free nor a module",
       [](ImageBuilder& b) { b.put_text(L::main0_start, "garbage, not a module"); }, "BIOS Invalid \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageBuilder b = testimg::standard_image();
    c.damage(b);
    Workspace w(b);
    w.dir.write("VGA.BIN", testimg::pseudo_random(500, 8));
    const RunResult r = w.run({"/vga", "VGA.BIN"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, e2e::adding_line("VGA.BIN", w.dir.read("bios.rom")) + c.extra_out);
    const auto region1 = chain(w.image(), L::main1_start, L::main1_end);
    ASSERT_EQ(region1.size(), 1u);
    expect_placed(region1[0], w.dir.read("bios.rom"));
    w.expect_unchanged_outside(L::main1_start, L::main1_end);
  }
}

TEST(Add, APackedMapRegionGrowsDownwardsAndTheFileAtItsFront) {
  // A 256 KiB image whose region [0xC0000, 0xC4000) starts at its first byte and is
  // nearly full.
  ImageBuilder b(0x40000);
  b.pack_map(0x11, 0xFFFC0000, 0xFFFC4000);
  b.erase(0xC0000, 0xC4000);
  const Bytes filler = testimg::stored_module("FILL.BIN", 0x4011, Bytes(0x4000 - 300, 0x66));
  const std::uint32_t free_at = b.add_module(0xC0000, filler);
  Workspace w(b);
  const Bytes content = testimg::pseudo_random(1000, 10);  // stored: module of 1000 + 35 + 4
  w.dir.write("VGA.BIN", content);
  const RunResult r = w.run({"/vga", "VGA.BIN"});
  ASSERT_EQ(r.status, 0) << r.out;
  const Bytes bios_rom = w.dir.read("bios.rom");
  const std::uint32_t length = static_cast<std::uint32_t>(bios_rom.size() + 1);
  const std::uint32_t h = free_at + length - 0xC4000;

  const Bytes now = w.image();
  ASSERT_EQ(now.size(), b.bytes.size() + h);
  // The packed map's start field was lowered by h; its end stayed.
  ImageBuilder grown(static_cast<std::uint32_t>(now.size()));
  grown.bytes = now;
  EXPECT_EQ(grown.le32(0xFFFF0), 0xFFFC0000u - h);
  EXPECT_EQ(grown.le32(0xFFFF4), 0xFFFC4000u);
  // The file's first bytes are the moved start of the region; the new module ends at
  // the region's end.
  const auto modules = chain(now, 0xC0000 - h, 0xC4000);
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].pos, 0xC0000 - h);
  EXPECT_EQ(modules[0].file, filler);
  expect_placed(modules[1], bios_rom);
  EXPECT_EQ(modules[1].pos + modules[1].length, 0xC4000u);
  // Everything above the region is as it was, the map's start field aside.
  Bytes above_now(now.end() - 0x3C000, now.end()), above_then(b.bytes.end() - 0x3C000, b.bytes.end());
  for (int i = 0; i < 4; ++i) above_now[0x3C000 - 0x10 + i] = above_then[0x3C000 - 0x10 + i];
  EXPECT_EQ(above_now, above_then);
  // And the grown image loads again and extracts the new module.
  EXPECT_EQ(w.extracted({"/vga"}), content);
}

TEST(Add, ExecutablesLoseTheirHeader) {
  for (unsigned paragraphs : {0u, 2u, 32u}) {
    SCOPED_TRACE(paragraphs);
    Workspace w;
    Bytes exe = e2e::code_like(paragraphs * 16 + 3000, paragraphs + 20);
    exe[0] = 'M', exe[1] = 'Z', exe[8] = static_cast<std::uint8_t>(paragraphs), exe[9] = 0;
    exe[2] = 0, exe[3] = 0;
    w.dir.write("Tool.exe", exe);
    const RunResult r = w.run({"/rapidup", "Tool.exe"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, e2e::adding_line("Tool.exe", w.dir.read("bios.rom")));
    const auto modules = chain(w.image(), L::main0_start, L::main0_end);
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].name, "Tool.exe");
    EXPECT_EQ(modules[0].type_id, 0x4015);
    EXPECT_EQ(w.dir.read("Tool.exe"), exe);
    EXPECT_EQ(w.dir.entries(), (std::vector<std::string>{"Tool.exe", "bios.rom", "stn.bin"}));
    EXPECT_EQ(w.extracted({"/rapidup"}), Bytes(exe.begin() + paragraphs * 16, exe.end()));
  }
}

TEST(Add, AnExecutableHeaderPastItsEndAddsAnEmptyModule) {
  Workspace w;
  Bytes exe(100, 0x90);
  exe[0] = 'M', exe[1] = 'Z', exe[8] = 0x40;  // 1 KiB of header in a 100-byte file
  w.dir.write("short.exe", exe);
  const RunResult r = w.run({"/ata", "short.exe"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto modules = chain(w.image(), L::main0_start, L::main0_end);
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].original, 0u);
  EXPECT_EQ(modules[0].method, '0');
}

TEST(Add, MergesTheAcpiTableFromItsTwoFiles) {
  for (bool executable : {true, false}) {
    SCOPED_TRACE(executable ? "executable" : "plain table file");
    Workspace w;
    Bytes exe = e2e::code_like(2000, 30);
    if (executable) exe[0] = 'M', exe[1] = 'Z', exe[8] = 4, exe[9] = 0;
    else exe[0] = 'X';
    exe[2] = 0;
    const Bytes dsdt = e2e::code_like(1500, 31);
    w.dir.write("ACPITBL.EXE", exe);
    w.dir.write("dsdt.aml", dsdt);           // found whatever its letter case
    w.dir.write_text("ACPITBL.BIN", "stale content that must not stay in front");
    const RunResult r = w.run({"/acpitbl"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, e2e::adding_line("ACPITBL.BIN", w.dir.read("bios.rom")) +
                         "Combine ACPITBL.BIN file to stn.bin...\n");
    Bytes merged(exe.begin() + (executable ? 64 : 0), exe.end());
    merged.insert(merged.end(), dsdt.begin(), dsdt.end());
    EXPECT_EQ(w.dir.read("ACPITBL.BIN"), merged);
    const auto modules = chain(w.image(), L::main0_start, L::main0_end);
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].name, "ACPITBL.BIN");
    EXPECT_EQ(modules[0].type_id, 0x4003);
    EXPECT_EQ(w.extracted({"/acpitbl"}), merged);
  }
}

TEST(Add, InputNamesDifferingInLetterCaseNameTheSameFile) {
  Workspace w;
  const Bytes content = e2e::code_like(4000, 40);
  w.dir.write("vga.bin", content);
  const RunResult r = w.run({"/vga", "VGA.BIN"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, e2e::adding_line("VGA.BIN", w.dir.read("bios.rom")));
  const auto modules = chain(w.image(), L::main0_start, L::main0_end);
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].name, "VGA.BIN");
  EXPECT_EQ(w.extracted({"/vga"}), content);
}

TEST(Add, RefusedInputs) {
  struct Case {
    const char* name;
    std::function<void(const testimg::ScratchDir&)> prepare;
    std::vector<std::string> args;
    std::string out;
    int status;
    bool image_written;
  };
  const Bytes packed = testimg::stored_module("X.BIN", 0x4013, Bytes(10, 1));
  const Case cases[] = {
      {"missing input", [](auto&) {}, {"/vga", "nofile.bin"}, "Can't open nofile.bin\n", 54, false},
      {"a directory", [](auto& d) { std::filesystem::create_directory(d.file("sub")); }, {"/vga", "sub"},
       "Can't open sub\n", 54, false},
      {"a packed-module file", [&](auto& d) { d.write("bios.rom", packed); }, {"/logo", "bios.rom"},
       "File bios.rom is compressed.\n", 55, false},
      {"any -lh file", [](auto& d) { d.write_text("x.lzh", "xx-lh5-"); }, {"/sys", "x.lzh"},
       "File x.lzh is compressed.\n", 55, false},
      {"missing ACPITBL.EXE", [](auto&) {}, {"/ACPITBL"}, "ACPITBL.EXE open in failure !!!\n", 54, false},
      {"ACPITBL.EXE a directory", [](auto& d) { std::filesystem::create_directory(d.file("ACPITBL.EXE")); },
       {"/ACPITBL"}, "ACPITBL.EXE open in failure !!!\n", 54, false},
      {"missing DSDT.AML", [](auto& d) {
         d.write_text("ACPITBL.EXE", "table");
         d.write_text("ACPITBL.BIN", "table");  // made anew before the table is looked for
       },
       {"/ACPITBL"}, "DSDT.AML open in failure !!!\n", 54, false},
      {"empty ACPITBL.EXE", [](auto& d) { d.write("ACPITBL.EXE", {}); }, {"/ACPITBL", "/D"},
       "Not found ACPITBL file !!!\n", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w;
    c.prepare(w.dir);
    const auto before = w.dir.entries();
    const RunResult r = w.run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    if (!c.image_written) {
      EXPECT_EQ(r.out, c.out);
    }
    EXPECT_EQ(w.image(), w.original);
    EXPECT_EQ(w.dir.entries(), before);
  }
}

TEST(Add, AFailedLaterPairLeavesTheImageButKeepsTheWorkingFiles) {
  Workspace w;
  w.dir.write("VGA.BIN", e2e::code_like(3000, 50));
  const RunResult r = w.run({"/vga", "VGA.BIN", "junk"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, e2e::adding_line("VGA.BIN", w.dir.read("bios.rom")) + "Bad usage.\n");
  EXPECT_EQ(w.image(), w.original);
  EXPECT_FALSE(w.dir.exists("TEMP01"));
}

TEST(Add, AStaleBiosRomIsNeverInserted) {
  Workspace w;
  const Bytes stale = testimg::stored_module("STALE.BIN", 0x4014, Bytes(10, 1));
  w.dir.write("bios.rom", stale);
  w.dir.write_text("bad.bmp", "BM not a 640x480 picture");
  const RunResult r = w.run({"/logo256", "bad.bmp"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Error : bad.bmp is not valid BMP with 256 Colors in 640x480 Size !\n"
            "Not found LOGO256 file !!!\n");
  EXPECT_EQ(w.image(), w.original);
  EXPECT_EQ(w.dir.read("bios.rom"), stale);
}
