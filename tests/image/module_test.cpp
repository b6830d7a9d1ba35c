// The module format: CRC-16/ARC, the header and byte sums, the load text parser, and
// the checked read and write primitives.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "image/module.hpp"
#include "tests/image/container_fixture.hpp"
#include "tests/support/image_builder.hpp"

namespace {

using testimg::Bytes;

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_codec_state();
    build_crc_table();
  }
  void TearDown() override { reset_codec_state(); }

  static std::uint16_t crc_of(const Bytes& data) {
    codec.running_crc = 0;
    crc_update(data.data(), data.size());
    return codec.running_crc;
  }
};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST_F(ModuleTest, CrcMatchesTheCheckValuesOfCrc16Arc) {
  EXPECT_EQ(crc_of({}), 0x0000);
  EXPECT_EQ(crc_of(text("123456789")), 0xBB3D);
  EXPECT_EQ(codec.crc_table[0x00], 0x0000);
  EXPECT_EQ(codec.crc_table[0x01], 0xC0C1);
  EXPECT_EQ(codec.crc_table[0x80], 0xA001);
  EXPECT_EQ(codec.crc_table[0xFF], 0x4040);
}

TEST_F(ModuleTest, CrcRunsOnAcrossCallsAndMatchesTheBitwiseForm) {
  const Bytes data = testimg::pseudo_random(10000, 5);
  codec.running_crc = 0;
  crc_update(data.data(), 3);
  crc_update(data.data() + 3, data.size() - 3);
  EXPECT_EQ(codec.running_crc, testimg::crc16(data));
  // Every split of short inputs: the eight-byte steps and the byte steps agree.
  for (std::size_t length = 0; length <= 40; ++length)
    for (std::size_t split = 0; split <= length; ++split) {
      const Bytes part(data.begin(), data.begin() + static_cast<long>(length));
      codec.running_crc = 0;
      crc_update(part.data(), split);
      crc_update(part.data() + split, length - split);
      ASSERT_EQ(codec.running_crc, testimg::crc16(part)) << length << " split at " << split;
    }
}

TEST(ModuleHeaderTest, HeaderSumCoversTheHBytesAfterTheFirstTwo) {
  struct Case {
    std::string name;
    unsigned h;
  };
  for (const Case& c : {Case{"", 25}, Case{"VGA.BIN", 32}, Case{std::string(230, 'n'), 255}}) {
    SCOPED_TRACE(c.h);
    const Bytes file = testimg::stored_module(c.name, 0x4013, text("data"));
    EXPECT_EQ(file[HDR_SIZE], c.h);
    EXPECT_EQ(header_sum(file.data(), c.h), file[HDR_SUM]);
    // The CRC sits right after the name, the header is H + 2 bytes long.
    EXPECT_EQ(read_le(file.data() + HDR_NAME + c.name.size(), 2), testimg::crc16(text("data")));
    EXPECT_EQ(file.size(), c.h + 2 + 4 + 1);
  }
  // Changing a byte outside offsets 2 .. H + 1 does not change the sum.
  Bytes file = testimg::stored_module("A", 1, text("xyz"));
  const std::uint8_t before = header_sum(file.data(), file[0]);
  file[1] ^= 0x55;
  file[file[0] + 2] ^= 0x55;
  EXPECT_EQ(header_sum(file.data(), file[0]), before);
}

TEST(ModuleHeaderTest, ByteSumWrapsModulo256) {
  EXPECT_EQ(byte_sum(nullptr, 0), 0);
  const Bytes wrap{0xFF, 0x01};
  EXPECT_EQ(byte_sum(wrap.data(), wrap.size()), 0x00);
  const Bytes some{0x80, 0x80, 0x80};
  EXPECT_EQ(byte_sum(some.data(), some.size()), 0x80);
}

TEST(ModuleHeaderTest, LittleEndianFields) {
  std::uint8_t b[4] = {};
  write_le(b, 4, 0x12345678);
  EXPECT_EQ(b[0], 0x78);
  EXPECT_EQ(b[3], 0x12);
  EXPECT_EQ(read_le(b, 4), 0x12345678u);
  EXPECT_EQ(read_le(b, 2), 0x5678u);
  write_le(b, 2, 0xABCDEF);
  EXPECT_EQ(read_le(b, 4), 0x1234CDEFu);
}

TEST(LoadTextTest, ParsesSegmentAndOffset) {
  struct Case {
    const char* text;
    std::uint16_t segment;
    std::uint16_t offset;
  };
  const Case cases[] = {
      {"4001:0", 0x4001, 0x0000},
      {"6000:0", 0x6000, 0x0000},
      {"4013:8", 0x4013, 0x0008},
      {"a0b1:c", 0xA0B1, 0x000C},       // lower-case digits count as upper-case ones
      {"A0B1:C", 0xA0B1, 0x000C},
      {"1234", 0x0000, 0x1234},         // no colon: all of it is the offset
      {"1:2:3", 0x0002, 0x0003},        // each colon replaces the segment
      {"4G01:0", 0x4001, 0x0000},       // a non-hex character shifts in a 0
      {"12345678:9ABCDEF", 0x5678, 0xCDEF},  // low 16 bits of each
      {"", 0x0000, 0x0000},
      {":", 0x0000, 0x0000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const LoadFields f = parse_load_text(c.text);
    EXPECT_EQ(f.segment, c.segment);
    EXPECT_EQ(f.offset, c.offset);
  }
}

TEST_F(ModuleTest, ReadWithCrcCountsAndChecksExactlyTheBytesRead) {
  const Bytes data = testimg::pseudo_random(100, 9);
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fwrite(data.data(), 1, data.size(), f);
  std::rewind(f);
  std::uint8_t buffer[64];
  codec.original_size = 5;
  EXPECT_EQ(read_with_crc(buffer, 64, f), 64u);
  EXPECT_EQ(read_with_crc(buffer, 64, f), 36u);
  EXPECT_EQ(read_with_crc(buffer, 64, f), 0u);
  std::fclose(f);
  EXPECT_EQ(codec.original_size, 105u);
  EXPECT_EQ(codec.running_crc, testimg::crc16(data));
}

TEST_F(ModuleTest, WriteWithCrcWritesAndChecks) {
  const Bytes data = testimg::pseudo_random(300, 3);
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  write_with_crc(data.data(), data.size(), f);
  EXPECT_EQ(codec.running_crc, testimg::crc16(data));
  EXPECT_EQ(std::ftell(f), 300);
  std::fclose(f);
}

using ModuleDeathTest = ModuleTest;

TEST_F(ModuleDeathTest, AShortWriteIsFatal) {
  EXPECT_EXIT(
      {
        containertest::stdout_to_stderr();
        std::FILE* full = std::fopen("/dev/full", "wb");
        if (!full) std::exit(99);
        std::setvbuf(full, nullptr, _IONBF, 0);
        const std::uint8_t byte = 1;
        write_with_crc(&byte, 1, full);
      },
      ::testing::ExitedWithCode(1), "^Unable to write\n$");
}

}  // namespace
