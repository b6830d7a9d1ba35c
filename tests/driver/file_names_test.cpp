// Resolving typed input names against the letter case of the directory's entries.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/file_names.hpp"
#include "image/file_io.hpp"
#include "tests/support/scratch.hpp"

TEST(ResolveInputName, ExactNameThenCaseInsensitiveMatchInByteOrder) {
  testimg::ScratchDir dir;
  testimg::CurrentDirGuard cwd(dir.path());
  dir.write_text("vga.bin", "a");
  dir.write_text("Vga.Bin", "b");
  dir.write_text("ROM.DAT", "c");
  std::filesystem::create_directory(dir.file("sub"));
  dir.write_text("sub/Table.AML", "d");

  const std::pair<const char*, const char*> cases[] = {
      {"vga.bin", "vga.bin"},         // exists as typed
      {"VGA.BIN", "Vga.Bin"},         // "Vga.Bin" < "vga.bin" in byte order
      {"rom.dat", "ROM.DAT"},
      {"sub/TABLE.aml", "sub/Table.AML"},
      {"missing.bin", "missing.bin"}, // nothing matches: as typed
      {"nodir/x.bin", "nodir/x.bin"},
      {"", ""},
  };
  for (const auto& [typed, resolved] : cases) {
    SCOPED_TRACE(typed);
    EXPECT_EQ(resolve_input_name(typed), resolved);
  }
}

TEST(OpenRegularForReading, OnlyRegularFiles) {
  testimg::ScratchDir dir;
  dir.write_text("file", "x");
  std::filesystem::create_directory(dir.file("dir"));
  std::filesystem::create_symlink("file", dir.file("link"));
  for (const char* name : {"file", "link"}) {
    std::FILE* f = open_regular_for_reading(dir.file(name));
    EXPECT_NE(f, nullptr) << name;
    if (f) std::fclose(f);
  }
  EXPECT_EQ(open_regular_for_reading(dir.file("dir")), nullptr);
  EXPECT_EQ(open_regular_for_reading(dir.file("none")), nullptr);
  EXPECT_EQ(open_regular_for_reading("/dev/null"), nullptr);
}
