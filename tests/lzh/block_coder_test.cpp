// The block coder: Huffman construction with its tie and depth rules, and the exact
// bits of block headers.
#include <gtest/gtest.h>

#include "image/module.hpp"
#include "lzh/block_coder_internal.hpp"
#include "tests/lzh/lzh_test_support.hpp"

namespace {

using lzhtest::Bytes;

class BlockCoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lzhtest::reset_everything();
    out_ = std::tmpfile();
    streams.packed_stream = out_;
    start_block_output();
    codec.original_size = 0xFFFFFFFF;  // no incompressible limit for hand-fed blocks
  }
  void TearDown() override {
    std::fclose(out_);
    streams.packed_stream = nullptr;
  }
  Bytes finish() {
    finish_block_output();
    return lzhtest::contents(out_);
  }
  std::FILE* out_ = nullptr;
};

TEST_F(BlockCoderTest, FibonacciFrequenciesAreFittedTo16BitsWithFiveDiagnostics) {
  BlockCoderState& bc = block_coder;
  std::uint16_t a = 1, b = 1;
  for (unsigned i = 0; i < 22; ++i) {
    bc.litlen_freq[0x41 + i] = a;  // 1, 1, 2, 3, 5, ... the 22nd Fibonacci number
    std::uint16_t c = static_cast<std::uint16_t>(a + b);
    a = b;
    b = c;
  }
  testing::internal::CaptureStderr();
  unsigned root = build_huffman(LITLEN_SYMBOLS, bc.litlen_freq, bc.litlen_len, bc.litlen_code);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "1717171717");
  EXPECT_GE(root, LITLEN_SYMBOLS);
  const unsigned expected[22] = {16, 16, 16, 16, 16, 16, 16, 16, 14, 14, 12,
                                 11, 10, 9,  8,  7,  6,  5,  4,  3,  2,  1};
  for (unsigned i = 0; i < 22; ++i) EXPECT_EQ(bc.litlen_len[0x41 + i], expected[i]) << "symbol " << i;
  EXPECT_EQ(bc.litlen_len[0x40], 0);
  // Canonical: the length-1 code is 0, and codes of one length run in symbol order.
  EXPECT_EQ(bc.litlen_code[0x41 + 21], 0);
  for (unsigned i = 1; i < 8; ++i) EXPECT_EQ(bc.litlen_code[0x41 + i], bc.litlen_code[0x41] + i);
  EXPECT_EQ(bc.litlen_code[0x41 + 7], 0xFFFF);
}

TEST_F(BlockCoderTest, TiesLeaveTheHeapInSymbolOrder) {
  BlockCoderState& bc = block_coder;
  std::uint16_t freq[2 * 4 - 1] = {5, 5, 5, 5};
  std::uint8_t len[4];
  std::uint16_t code[4];
  build_huffman(4, freq, len, code);
  for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(len[i], 2);
  // Symbols left the heap as 0, 3, 1, 2 (left child first on ties, the moved entry
  // stays above an equal child); the tree holds them in that order.
  EXPECT_EQ(huffman_trees.tree_left[4], 0);
  EXPECT_EQ(huffman_trees.tree_right[4], 3);
  EXPECT_EQ(huffman_trees.tree_left[5], 1);
  EXPECT_EQ(huffman_trees.tree_right[5], 2);
  (void)bc;
}

TEST_F(BlockCoderTest, TwoHundredFiftySixDistinctBytesUseAOneSymbolPreCode) {
  for (unsigned i = 0; i < 256; ++i) buffer_symbol(i, 0);
  lzhtest::BitWriter w;
  w.put(16, 256);  // block size
  w.put(5, 0);     // pre-code: single form ...
  w.put(5, 10);    // ... symbol 10 = length 8
  w.put(9, 256);   // 256 literal/length lengths, costing no bits each
  w.put(4, 0);     // distance code: single form ...
  w.put(4, 0);     // ... symbol 0 (no match)
  for (unsigned i = 0; i < 256; ++i) w.put(8, i);  // every code is the byte itself
  EXPECT_EQ(finish(), w.bytes());
}

TEST_F(BlockCoderTest, OneDistinctLiteralUsesTheSingleForm) {
  for (int i = 0; i < 5; ++i) buffer_symbol('x', 0);
  lzhtest::BitWriter w;
  w.put(16, 5);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 'x');
  w.put(4, 0);
  w.put(4, 0);
  EXPECT_EQ(finish(), w.bytes());
}

TEST_F(BlockCoderTest, OneDistinctMatchSymbolCostsOnlyItsDistanceBits) {
  const unsigned distances[] = {100, 64, 127};  // all of bit length 7
  for (unsigned p : distances) buffer_symbol(256 + 5, p);
  lzhtest::BitWriter w;
  w.put(16, 3);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 261);
  w.put(4, 0);  // distance code: single form ...
  w.put(4, 7);  // ... symbol 7, then 6 extra bits per item
  for (unsigned p : distances) w.put(6, p & 63);
  EXPECT_EQ(finish(), w.bytes());
}

TEST_F(BlockCoderTest, ItemsAreGroupedUnderFlagBytes) {
  const std::pair<unsigned, unsigned> items[] = {{'a', 0}, {300, 8191}, {'b', 0}, {'c', 0}, {'d', 0},
                                                 {'e', 0}, {'f', 0},   {'g', 0}, {509, 1}};
  for (auto [c, p] : items) buffer_symbol(c, p);
  const BlockCoderState& bc = block_coder;
  const Bytes expected = {0x40, 'a', 300 - 256, 0x1F, 0xFF, 'b', 'c', 'd', 'e', 'f', 'g', 0x80, 253, 0, 1};
  EXPECT_EQ(Bytes(bc.symbol_buffer, bc.symbol_buffer + bc.buffer_fill), expected);
  EXPECT_EQ(bc.litlen_freq[unsigned{'a'}], 1);
  EXPECT_EQ(bc.dist_freq[13], 1);  // 8191 has 13 bits
  EXPECT_EQ(bc.dist_freq[1], 1);
}

TEST_F(BlockCoderTest, AFullBufferIsWrittenWhenTheNextGroupOpens) {
  // 1,818 groups of eight literals fill the 16 KiB buffer up to its last 24 bytes.
  for (unsigned i = 0; i < 14544; ++i) buffer_symbol(i % 7, 0);
  EXPECT_EQ(codec.packed_size, 0u);
  buffer_symbol('z', 0);
  EXPECT_GT(codec.packed_size, 0u);
  EXPECT_EQ(block_coder.buffer_fill, 2u);  // the new group: flag byte and 'z'
  EXPECT_EQ(block_coder.litlen_freq[unsigned{'z'}], 1);
  EXPECT_EQ(block_coder.litlen_freq[0], 0);
  Bytes packed = lzhtest::contents(out_);
  EXPECT_EQ(packed[0] << 8 | packed[1], 14544);  // the first block's item count
}

TEST_F(BlockCoderTest, ZeroRunsAndTheSkipFieldOfThePreCode) {
  // 19 zero lengths between two used symbols is sent as symbol 0, symbol 1 and 4 bits 15.
  BlockCoderState& bc = block_coder;
  for (unsigned i = 0; i < LITLEN_SYMBOLS; ++i) bc.litlen_len[i] = 0;
  bc.litlen_len[0] = 1;
  bc.litlen_len[20] = 1;
  count_pre_freq();
  EXPECT_EQ(bc.pre_freq[0], 1);
  EXPECT_EQ(bc.pre_freq[1], 1);
  EXPECT_EQ(bc.pre_freq[3], 2);
  // Lengths 2 2 0 0 0 1 ...: after the third length, 2 bits say 2 more zeros are skipped.
  const std::uint8_t lengths[6] = {2, 2, 0, 0, 0, 1};
  for (unsigned i = 0; i < PRE_SYMBOLS; ++i) bc.small_len[i] = i < 6 ? lengths[i] : 0;
  write_small_lengths(PRE_SYMBOLS, PRE_COUNT_BITS, 3);
  put_bits(7, 0);
  lzhtest::BitWriter w;
  w.put(5, 6);  // six lengths
  w.put(3, 2);
  w.put(3, 2);
  w.put(3, 0);
  w.put(2, 2);  // skip two zeros
  w.put(3, 1);
  EXPECT_EQ(lzhtest::contents(out_), w.bytes());
}

TEST_F(BlockCoderTest, LongLengthsAreSentInUnary) {
  BlockCoderState& bc = block_coder;
  for (unsigned i = 0; i < PRE_SYMBOLS; ++i) bc.small_len[i] = 0;
  bc.small_len[0] = 7;
  bc.small_len[1] = 16;
  write_small_lengths(DIST_SYMBOLS, DIST_COUNT_BITS, -1);
  put_bits(7, 0);
  lzhtest::BitWriter w;
  w.put(4, 2);
  w.put(4, 0b1110);                // 7: three ones and a zero
  w.put(13, 0b1111111111110);      // 16: twelve ones and a zero
  EXPECT_EQ(lzhtest::contents(out_), w.bytes());
}

TEST_F(BlockCoderTest, AnEmptyBlockStillCountsAsOutput) {
  codec.original_size = 0;
  EXPECT_TRUE(finish().empty());
  EXPECT_TRUE(codec.incompressible);
}

}  // namespace
