// The microcode table printed from "CPU_FILE.STV": cells, lines, the quiet ends of the
// table and the removal of the file.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "report/listing.hpp"
#include "tests/report/microcode_helpers.hpp"
#include "tests/support/scratch.hpp"

namespace {

using namespace mctest;

class MicrocodeReportTest : public ::testing::Test {
 protected:
  testimg::ScratchDir dir;
  testimg::CurrentDirGuard guard{dir.path()};

  std::string report() {
    ::testing::internal::CaptureStdout();
    report_microcode();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }
};

TEST_F(MicrocodeReportTest, PrintsTheCellsOfEachFileAndRemovesIt) {
  Bytes high_bits = microcode_content({{0x12345678, 0x1122330B, 0x000106A5}});
  put_le32(high_bits, 8, 0xABCD0000u | (high_bits[8] | high_bits[9] << 8));  // high half ignored
  Bytes past_end = microcode_content(updates(2));
  put_le32(past_end, 12, static_cast<std::uint32_t>(past_end.size() - 47));  // header cut by the file end
  Bytes headers_gone = microcode_content(updates(5));
  headers_gone.resize(8 + 4 * 6);  // the file ends right after the offset table
  Bytes just_fits = microcode_content(updates(1));
  put_le32(just_fits, 8, static_cast<std::uint32_t>(just_fits.size() - 48));

  struct Case {
    const char* name;
    Bytes content;
    std::string cells;
  } cases[] = {
      {"no updates: 0xFFFF first", microcode_content({}), ""},
      {"four updates: one full line", microcode_content(updates(4)), FOUR_CELLS},
      {"five updates: the last line unfinished", microcode_content(updates(5)), FIVE_CELLS},
      {"eight updates: two full lines", microcode_content(updates(8)),
       FOUR_CELLS + "   10  14   0684  |     20  15   0685  |     40  16   0686  |     80  17   0687\n"},
      {"only low bytes and low 16 bits show", high_bits, "   78  0B   06A5  |  "},
      {"header that the file end cuts", past_end, "   01  10   0680  |  "},
      {"header ending at the file end", just_fits, "   01  10   0680  |  "},
      {"headers missing after the table", headers_gone, ""},
      {"first entry cut by the file end", Bytes(11, 0), ""},
      {"empty file", Bytes{}, ""},
      {"third entry (header bytes EE EE) pointing past the file end", microcode_content(updates(2), false),
       "   01  10   0680  |     02  11   0681  |  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("CPU_FILE.STV", c.content);
    EXPECT_EQ(report(), MICROCODE_HEADING + c.cells);
    EXPECT_FALSE(dir.exists("CPU_FILE.STV"));
  }
}

TEST_F(MicrocodeReportTest, MissingFileGivesTheHeadingsOnly) {
  EXPECT_EQ(report(), MICROCODE_HEADING);
  EXPECT_TRUE(dir.entries().empty());
}

TEST_F(MicrocodeReportTest, FullLinesAreAsWideAsTheHeading) {
  dir.write("CPU_FILE.STV", microcode_content(updates(8)));
  const std::string out = report();
  std::size_t start = 1;  // after the leading line break
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    if (start > 1) {
      EXPECT_EQ(end - start, 79u) << out.substr(start, end - start);
    }
}

}  // namespace
