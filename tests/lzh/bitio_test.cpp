// Bit output and input: byte packing, the incompressible rule, and reading that stops at
// packed_size bytes.
#include <gtest/gtest.h>

#include "image/module.hpp"
#include "lzh/bitio_internal.hpp"
#include "tests/lzh/lzh_test_support.hpp"

namespace {

using lzhtest::Bytes;

class BitOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lzhtest::reset_everything();
    out_ = std::tmpfile();
    streams.packed_stream = out_;
    codec.original_size = 1000;
    start_bit_output();
  }
  void TearDown() override {
    std::fclose(out_);
    streams.packed_stream = nullptr;
  }
  Bytes written() { return lzhtest::contents(out_); }
  std::FILE* out_ = nullptr;
};

TEST_F(BitOutputTest, SixteenBitsWithNothingPendingAreTwoBytesHighFirst) {
  put_bits(16, 0xA1B2);
  EXPECT_EQ(written(), (Bytes{0xA1, 0xB2}));
  EXPECT_EQ(bit_io.out_free, 8u);
  EXPECT_EQ(codec.packed_size, 2u);
}

TEST_F(BitOutputTest, ZeroBitsChangeNothing) {
  put_bits(3, 5);
  put_bits(0, 0);
  EXPECT_EQ(bit_io.out_free, 5u);
  EXPECT_TRUE(written().empty());
}

TEST_F(BitOutputTest, PaddingWritesThePartialByteAndLeavesTwoBitsPending) {
  put_bits(3, 0b101);
  put_bits(7, 0);
  EXPECT_EQ(written(), (Bytes{0xA0}));
  EXPECT_EQ(bit_io.out_free, 6u);
  put_bits(7, 0);  // 2 pending zero bits: the second padding writes one more byte
  EXPECT_EQ(written(), (Bytes{0xA0, 0x00}));
}

TEST_F(BitOutputTest, PaddingWithNothingPendingWritesNothing) {
  put_bits(8, 0x3C);
  put_bits(7, 0);
  EXPECT_EQ(written(), (Bytes{0x3C}));
}

TEST_F(BitOutputTest, FieldsOfMixedWidthsMatchTheTestWriter) {
  lzhtest::BitWriter expected;
  const unsigned fields[][2] = {{5, 17}, {16, 0xFFFF}, {1, 1}, {9, 300}, {13, 4097}, {2, 2}, {16, 1}};
  for (const auto& f : fields) {
    put_bits(f[0], f[1]);
    expected.put(f[0], f[1]);
  }
  put_bits(7, 0);
  EXPECT_EQ(written(), expected.bytes());
}

TEST_F(BitOutputTest, BytesAtOrPastTheInputSizeAreDroppedAndFlagged) {
  codec.original_size = 2;
  put_bits(16, 0x1234);
  EXPECT_FALSE(codec.incompressible);  // exactly as long as the input is accepted
  put_bits(8, 0x56);
  EXPECT_TRUE(codec.incompressible);
  EXPECT_EQ(codec.packed_size, 2u);
  EXPECT_EQ(written(), (Bytes{0x12, 0x34}));
  put_bits(4, 0xF);  // bookkeeping goes on
  EXPECT_EQ(bit_io.out_free, 4u);
}

class BitInputTest : public ::testing::Test {
 protected:
  void SetUp() override { lzhtest::reset_everything(); }
  void TearDown() override {
    if (in_) std::fclose(in_);
    streams.archive_stream = nullptr;
  }
  void open(const Bytes& data, std::uint32_t packed_size) {
    in_ = lzhtest::file_with(data);
    streams.archive_stream = in_;
    codec.packed_size = packed_size;
    start_bit_input();
  }
  std::FILE* in_ = nullptr;
};

TEST_F(BitInputTest, StartFillsTheWindowWithTheFirstTwoBytes) {
  open({0xDE, 0xAD, 0xBE, 0xEF}, 4);
  EXPECT_EQ(bit_io.in_window, 0xDEAD);
  EXPECT_EQ(codec.packed_size, 2u);  // two packed bytes not yet fetched
  EXPECT_LE(std::ftell(in_), 4);
}

TEST_F(BitInputTest, GetBitsReadsFieldsMostSignificantFirst) {
  lzhtest::BitWriter w;
  const unsigned fields[][2] = {{3, 5}, {16, 0xBEEF}, {1, 0}, {9, 511}, {0, 0}, {12, 0xABC}, {4, 9}};
  for (const auto& f : fields) w.put(f[0], f[1]);
  Bytes data = w.bytes();
  open(data, static_cast<std::uint32_t>(data.size()));
  for (const auto& f : fields) EXPECT_EQ(get_bits(f[0]), f[1]) << "width " << f[0];
}

TEST_F(BitInputTest, NothingPastPackedSizeIsRead) {
  open({0x9C, 0x77, 0x77}, 1);
  EXPECT_EQ(bit_io.in_window, 0x9C00);
  EXPECT_EQ(std::ftell(in_), 1);
  consume_bits(16);
  consume_bits(16);
  EXPECT_EQ(bit_io.in_window, 0);
  EXPECT_EQ(std::ftell(in_), 1);
}

TEST_F(BitInputTest, TheEndOfTheFileReadsAs255) {
  open({0x12}, 3);
  EXPECT_EQ(bit_io.in_window, 0x12FF);
  consume_bits(8);
  EXPECT_EQ(bit_io.in_window, 0xFFFF);
  consume_bits(8);
  EXPECT_EQ(bit_io.in_window, 0xFF00);  // packed_size used up: zero bits follow
  EXPECT_EQ(codec.packed_size, 0u);
}

TEST_F(BitInputTest, ConsumingMoreThanSixteenBitsDropsThemAll) {
  lzhtest::BitWriter w;
  w.put(17, 0x1FFFF);
  w.put(16, 0x1234);
  Bytes data = w.bytes();
  open(data, static_cast<std::uint32_t>(data.size()));
  consume_bits(17);
  EXPECT_EQ(bit_io.in_window, 0x1234);
}

}  // namespace
