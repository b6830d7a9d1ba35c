// The compressor as a whole: exact streams for known inputs, the matches the finder
// chooses, progress dots, and round trips over generated inputs of every edge size.
#include <gtest/gtest.h>

#include "bench/codec_inputs.hpp"
#include "image/module.hpp"
#include "lzh/block_coder_internal.hpp"
#include "lzh/encoder_internal.hpp"
#include "tests/lzh/lzh_test_support.hpp"
#include "tests/support/image_builder.hpp"

namespace {

using lzhtest::Bytes;
using Items = std::vector<std::pair<unsigned, unsigned>>;

class EncoderTest : public ::testing::Test {
 protected:
  void SetUp() override { lzhtest::reset_everything(); }
};

TEST_F(EncoderTest, ThreeHundredEqualBytesGiveTheKnownTwelveBytes) {
  lzhtest::Compressed c = lzhtest::compress(Bytes(300, 0x61));
  EXPECT_EQ(c.packed, (Bytes{0x00, 0x03, 0x28, 0x04, 0x4B, 0xFC, 0x26, 0xE5, 0x94, 0x60, 0x60, 0x16}));
  EXPECT_FALSE(c.incompressible);
  EXPECT_EQ(c.packed_size, 12u);
  EXPECT_EQ(c.original_size, 300u);
  EXPECT_EQ(c.crc, testimg::crc16(Bytes(300, 0x61)));
  // A literal, a match of 256 at distance 1, a match of 43 at distance 1.
  EXPECT_EQ(lzhtest::buffered_items(), (Items{{0x61, 0}, {509, 0}, {296, 0}}));
}

TEST_F(EncoderTest, AbcabcabcIsThreeLiteralsAndOneMatch) {
  lzhtest::compress(Bytes{'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'});
  EXPECT_EQ(lzhtest::buffered_items(), (Items{{'a', 0}, {'b', 0}, {'c', 0}, {259, 2}}));
}

TEST_F(EncoderTest, OnlyAStrictlyLongerMatchAtTheNextPositionDefersTheMatch) {
  const struct {
    const char* text;
    Items items;
  } cases[] = {
      // At 9 "abcdx" gives 4 (from 0); at 10 "bcdx" gives 4 too (from 5), not longer:
      // the match at 9 is sent.
      {"abcdYbcdxabcdx",
       {{'a', 0}, {'b', 0}, {'c', 0}, {'d', 0}, {'Y', 0}, {256, 3}, {'x', 0}, {257, 8}, {'x', 0}}},
      // At 10 "abcdxy" gives 4 (from 0); at 11 "bcdxy" gives 5 (from 5), longer: the
      // byte at 10 goes out as a literal and the match at 11 follows.
      {"abcdYbcdxyabcdxy",
       {{'a', 0}, {'b', 0}, {'c', 0}, {'d', 0}, {'Y', 0}, {256, 3}, {'x', 0}, {'y', 0}, {'a', 0}, {258, 5}}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.text);
    lzhtest::reset_everything();
    const std::string s = tc.text;
    lzhtest::compress(Bytes(s.begin(), s.end()));
    EXPECT_EQ(lzhtest::buffered_items(), tc.items);
  }
}

TEST_F(EncoderTest, AnEmptySourceIsIncompressible) {
  lzhtest::Compressed c = lzhtest::compress({});
  EXPECT_TRUE(c.incompressible);
  EXPECT_TRUE(c.packed.empty());
  EXPECT_EQ(c.original_size, 0u);
  EXPECT_TRUE(lzhtest::buffered_items().empty());
}

TEST_F(EncoderTest, OneByteIsOneLiteral) {
  lzhtest::compress({0x42});
  EXPECT_EQ(lzhtest::buffered_items(), (Items{{0x42, 0}}));
}

TEST_F(EncoderTest, MatchesAreClippedToTheDataLeft) {
  // 10 equal bytes: a literal and a match of 9, never longer.
  lzhtest::Compressed c = lzhtest::compress(Bytes(10, 0));
  EXPECT_EQ(lzhtest::buffered_items(), (Items{{0, 0}, {256 + 9 - 3, 0}}));
  EXPECT_FALSE(c.incompressible);
  EXPECT_EQ(lzhtest::decompress(c.packed, 10).out, Bytes(10, 0));
}

TEST_F(EncoderTest, RandomDataIsIncompressible) {
  lzhtest::Compressed c = lzhtest::compress(codec_inputs::random_bytes(100000));
  EXPECT_TRUE(c.incompressible);
  EXPECT_LE(c.packed_size, c.original_size);
  EXPECT_EQ(c.packed.size(), c.packed_size);
}

TEST_F(EncoderTest, TheEncoderStopsOnceTheOutputCatchesUpWithTheInput) {
  // Expanding blocks: the output overtakes the input read so far after a few blocks,
  // long before the end of the source.
  Bytes input = codec_inputs::random_bytes(2000000);
  lzhtest::Compressed c = lzhtest::compress(input);
  EXPECT_TRUE(c.incompressible);
  EXPECT_LT(c.original_size, input.size());
  EXPECT_EQ(c.packed_size, c.original_size);
}

TEST_F(EncoderTest, ProgressDotsCountTheSlidesOfTheWindow) {
  const struct {
    std::size_t size;
    std::uint8_t show;
    const char* dots;
  } cases[] = {{8191, 1, ""}, {8192, 1, "."}, {20000, 1, ".."}, {3 * 8192 + 5, 1, "..."}, {20000, 0, ""}};
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.size);
    lzhtest::reset_everything();
    testing::internal::CaptureStderr();
    lzhtest::compress(codec_inputs::text(tc.size), tc.show);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), tc.dots);
  }
}

TEST_F(EncoderTest, TheCountersDescribeTheWholeInput) {
  Bytes input = codec_inputs::text(50000);
  lzhtest::Compressed c = lzhtest::compress(input);
  EXPECT_FALSE(c.incompressible);
  EXPECT_EQ(c.original_size, input.size());
  EXPECT_EQ(c.packed_size, c.packed.size());
  EXPECT_EQ(c.crc, testimg::crc16(input));
}

TEST_F(EncoderTest, ASecondCompressionInTheSameRunGivesTheSameStream) {
  Bytes input = codec_inputs::x86_code(40000);
  lzhtest::Compressed first = lzhtest::compress(input);
  lzhtest::compress(codec_inputs::random_bytes(30000));
  lzhtest::Compressed again = lzhtest::compress(input);
  EXPECT_EQ(first.packed, again.packed);
}

// Round trips: every generated input at the edge sizes and at the benchmark's sizes
// decodes to itself.  Inputs that do not shrink are checked up to the point where the
// encoder stopped.
struct RoundTrip {
  const char* input;
  std::size_t size;
};

class RoundTripTest : public ::testing::TestWithParam<RoundTrip> {
 protected:
  void SetUp() override { lzhtest::reset_everything(); }
};

TEST_P(RoundTripTest, DecodesToTheInput) {
  const RoundTrip& rt = GetParam();
  Bytes input;
  for (const auto& named : codec_inputs::input_table())
    if (std::string(named.name) == rt.input) input = named.make(rt.size);
  ASSERT_EQ(input.size(), rt.size);
  lzhtest::Compressed c = lzhtest::compress(input);
  if (c.incompressible) {
    EXPECT_LE(c.packed_size, c.original_size);
    EXPECT_TRUE(std::string(rt.input) == "random" || rt.size < 64) << "should have shrunk";
    return;
  }
  EXPECT_EQ(c.original_size, input.size());
  EXPECT_LE(c.packed.size(), input.size());
  lzhtest::Decompressed d = lzhtest::decompress(c.packed, input.size());
  EXPECT_TRUE(d.out == input);
  EXPECT_LE(d.bytes_read, static_cast<long>(c.packed.size()));
}

std::vector<RoundTrip> round_trips() {
  std::vector<RoundTrip> cases;
  const std::size_t sizes[] = {0, 1, 2, 3, 8191, 8192, 8193, 16384 + 256, 16384 + 257,
                               65536, 1 << 20};
  for (const auto& named : codec_inputs::input_table())
    for (std::size_t size : sizes) cases.push_back({named.name, size});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTripTest, ::testing::ValuesIn(round_trips()),
                         [](const ::testing::TestParamInfo<RoundTrip>& info) {
                           return std::string(info.param.input) + "_" + std::to_string(info.param.size);
                         });

// Inputs shaped to stress the finder: long runs, 256-byte leaf replacements, periodic
// data with periods around the window size, and mixtures.
TEST_F(EncoderTest, StressedInputsRoundTrip) {
  codec_inputs::Random rng(77);
  std::vector<Bytes> inputs;
  {
    Bytes b;  // runs of every length with short periods
    while (b.size() < 200000) {
      unsigned period = 1 + rng.below(6), run = rng.below(700);
      Bytes unit(period);
      for (auto& u : unit) u = static_cast<std::uint8_t>(rng.below(4));
      for (unsigned i = 0; i < run; ++i) b.push_back(unit[i % period]);
    }
    inputs.push_back(b);
  }
  for (std::size_t period : {8191u, 4096u, 300u}) {
    Bytes unit = codec_inputs::random_bytes(period, static_cast<std::uint32_t>(period));
    Bytes b;
    while (b.size() < 70000) b.insert(b.end(), unit.begin(), unit.end());
    inputs.push_back(b);
  }
  {
    Bytes b;  // pieces copied from anywhere earlier, some with mutations
    b = codec_inputs::random_bytes(2000, 5);
    while (b.size() < 300000) {
      std::size_t from = rng.below(static_cast<unsigned>(b.size()));
      std::size_t len = 1 + rng.below(400);
      for (std::size_t i = 0; i < len && from + i < b.size(); ++i) b.push_back(b[from + i]);
      if (rng.below(3) == 0) b.push_back(static_cast<std::uint8_t>(rng.next()));
    }
    inputs.push_back(b);
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    lzhtest::Compressed c = lzhtest::compress(inputs[i]);
    ASSERT_FALSE(c.incompressible);
    EXPECT_TRUE(lzhtest::decompress(c.packed, inputs[i].size()).out == inputs[i]);
  }
}

}  // namespace
