// The decoder: known streams, hand-built blocks one field per line, every "Bad table"
// condition, damaged streams that must still give the requested count, and seeded
// corruption of valid streams.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "bench/codec_inputs.hpp"
#include "image/module.hpp"
#include "lzh/decoder_internal.hpp"
#include "tests/lzh/lzh_test_support.hpp"

namespace {

using lzhtest::BitWriter;
using lzhtest::Bytes;

// A block whose literal/length and distance codes both use the single form.
void single_form_block(BitWriter& w, unsigned items, unsigned litlen_symbol, unsigned dist_symbol) {
  w.put(16, items);          // block size
  w.put(5, 0);               // pre-code count 0: single form ...
  w.put(5, 0);               // ... pre-code symbol 0
  w.put(9, 0);               // literal/length count 0: single form ...
  w.put(9, litlen_symbol);   // ... its one symbol
  w.put(4, 0);               // distance count 0: single form ...
  w.put(4, dist_symbol);     // ... its one symbol
}

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { lzhtest::reset_everything(); }
};

TEST_F(DecoderTest, TheTwelveKnownBytesGiveThreeHundredEqualBytes) {
  const Bytes packed = {0x00, 0x03, 0x28, 0x04, 0x4B, 0xFC, 0x26, 0xE5, 0x94, 0x60, 0x60, 0x16};
  lzhtest::Decompressed d = lzhtest::decompress(packed, 300);
  EXPECT_EQ(d.out, Bytes(300, 0x61));
  EXPECT_EQ(d.bytes_read, 12);
}

TEST_F(DecoderTest, AMatchCrossingTheChunkBoundaryIsFinishedByTheNextCall) {
  Bytes input = codec_inputs::random_bytes(8000, 11);
  const Bytes repeat(input.begin() + 1000, input.begin() + 1300);
  input.insert(input.end(), repeat.begin(), repeat.end());  // 8,300 bytes
  lzhtest::Compressed c = lzhtest::compress(input);
  ASSERT_FALSE(c.incompressible);

  std::FILE* archive = lzhtest::file_with(c.packed);
  streams.archive_stream = archive;
  codec.packed_size = c.packed_size;
  start_decode();
  Bytes ring(DICT_SIZE);
  decode_chunk(8192, ring.data());
  EXPECT_TRUE(std::equal(ring.begin(), ring.end(), input.begin()));
  EXPECT_EQ(decoder.dec_copy_left, 8000 + 256 - 8192);  // the first 256-byte match is cut
  decode_chunk(108, ring.data());
  EXPECT_TRUE(std::equal(ring.begin(), ring.begin() + 108, input.begin() + 8192));
  std::fclose(archive);
}

TEST_F(DecoderTest, ABlockSizeOfZeroHolds65536Items) {
  BitWriter w;
  single_form_block(w, 0, 'z', 0);  // 0 = 65,536 items of 'z', no bits each
  single_form_block(w, 5, 'y', 0);
  lzhtest::Decompressed d = lzhtest::decompress(w.bytes(), 65536 + 5);
  Bytes expected(65536, 'z');
  expected.insert(expected.end(), 5, 'y');
  EXPECT_TRUE(d.out == expected);
}

TEST_F(DecoderTest, SingleFormCodesCostOnlyTheDistanceExtraBits) {
  BitWriter w;
  for (char ch : {'a', 'b', 'c', 'd'}) single_form_block(w, 1, static_cast<unsigned>(ch), 0);
  single_form_block(w, 2, 257, 2);  // matches of 4; distance symbol 2: one extra bit each
  w.put(1, 1);                      // distance code 3: distance 4
  w.put(1, 0);                      // distance code 2: distance 3
  lzhtest::Decompressed d = lzhtest::decompress(w.bytes(), 12);
  const std::string expected = "abcdabcdbcdb";
  EXPECT_EQ(std::string(d.out.begin(), d.out.end()), expected);
}

TEST_F(DecoderTest, DistanceCode8191CopiesFrom8192BytesBack) {
  BitWriter w;
  auto byte_at = [](unsigned k) { return (k * 7 + k / 256) & 0xFF; };
  for (unsigned k = 0; k < 8192; ++k) single_form_block(w, 1, byte_at(k), 0);
  single_form_block(w, 2, 256, 13);  // matches of 3; distance symbol 13
  w.put(12, 4095);                   // 4096 + 4095 = distance code 8191
  w.put(12, 4095);
  lzhtest::Decompressed d = lzhtest::decompress(w.bytes(), 8192 + 6);
  ASSERT_EQ(d.out.size(), 8198u);
  for (unsigned k = 0; k < 8192; ++k) ASSERT_EQ(d.out[k], byte_at(k)) << k;
  for (unsigned k = 0; k < 6; ++k) EXPECT_EQ(d.out[8192 + k], byte_at(k)) << k;
}

TEST_F(DecoderTest, LengthCountsAboveTheAlphabetAreReadButNotStored) {
  BitWriter w;
  w.put(16, 4);  // block size
  // Pre-code: 22 lengths, three past the alphabet of 19.
  w.put(5, 22);
  w.put(3, 0);       // 0
  w.put(3, 0);       // 1
  w.put(3, 1);       // 2: length 1 (runs of 20+ zeros)
  w.put(2, 0);       // skip field: no zeros skipped
  w.put(3, 1);       // 3: length 1 (literal/length 1)
  for (int i = 4; i < 19; ++i) w.put(3, 0);
  w.put(3, 5);       // 19: past the alphabet
  w.put(4, 0b1110);  // 20: length 7, past the alphabet
  w.put(3, 2);       // 21: past the alphabet
  // Literal/length lengths: 511 entries, the last past the alphabet; 'A' and 'B' 1.
  w.put(9, 511);
  w.put(1, 0);       // pre symbol 2: a run of ...
  w.put(9, 45);      // ... 65 zeros
  w.put(1, 1);       // pre symbol 3: 'A' has length 1
  w.put(1, 1);       // 'B' has length 1
  w.put(1, 0);       // a run of ...
  w.put(9, 500);     // ... 520 zeros, past entry 509
  // Distance code: 15 lengths, one past the alphabet; symbols 0 and 2 of length 1.
  w.put(4, 15);
  w.put(3, 1);       // 0
  w.put(3, 0);       // 1
  w.put(3, 1);       // 2
  for (int i = 3; i < 14; ++i) w.put(3, 0);
  w.put(3, 3);       // 14: past the alphabet
  // Items: A B B A.
  w.put(1, 0);
  w.put(1, 1);
  w.put(1, 1);
  w.put(1, 0);
  // Next block: two matches of 5.
  w.put(16, 2);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 258);     // single form: matches of 5 only
  w.put(4, 0);
  w.put(4, 2);       // single form: distance symbol 2, one extra bit
  w.put(1, 1);       // distance code 3: distance 4
  w.put(1, 0);       // distance code 2: distance 3
  lzhtest::Decompressed d = lzhtest::decompress(w.bytes(), 14);
  const std::string expected = "ABBA" "ABBAA" "BAABA";
  EXPECT_EQ(std::string(d.out.begin(), d.out.end()), expected);
}

TEST_F(DecoderTest, AllZeroLengthSetsAreAcceptedWithoutAMessage) {
  BitWriter w;
  w.put(16, 4);
  w.put(5, 1);  // pre-code: one length ...
  w.put(3, 0);  // ... of 0
  w.put(9, 3);  // three literal/length lengths through the untouched pre-code table
  w.put(4, 1);  // distance code: one length ...
  w.put(3, 0);  // ... of 0
  lzhtest::Decompressed d = lzhtest::decompress(w.bytes(), 4);
  EXPECT_EQ(d.out.size(), 4u);
}

TEST_F(DecoderTest, DataEndingAtPackedSizeIsFollowedByZeroBits) {
  BitWriter w;
  single_form_block(w, 0, 'z', 0);  // 52 bits: the last 4 (distance symbol 0) are cut off
  Bytes cut = w.bytes();
  cut.resize(6);
  lzhtest::Decompressed d = lzhtest::decompress(cut, 1000);
  EXPECT_EQ(d.out, Bytes(1000, 'z'));
  EXPECT_EQ(d.bytes_read, 6);
}

TEST(DecoderEndDeathTest, AFileShorterThanPackedSizeReadsAs255) {
  lzhtest::reset_everything();
  BitWriter w;
  single_form_block(w, 0, 'z', 0);
  Bytes cut = w.bytes();
  cut.resize(6);  // the missing byte reads as 255: distance symbol 15
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        std::FILE* archive = lzhtest::file_with(cut);
        streams.archive_stream = archive;
        codec.packed_size = 7;
        start_decode();
        Bytes ring(8192);
        decode_chunk(10, ring.data());
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "^Bad table\n$");
}

// ---- "Bad table" ----------------------------------------------------------------

struct BadStream {
  const char* name;
  void (*build)(BitWriter&);
};

void bad_precode_overfull(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 3);  // three pre-code lengths ...
  w.put(3, 1);
  w.put(3, 1);
  w.put(3, 1);  // ... of 1: 3/2 of the code space
  w.put(2, 0);
}
void bad_precode_incomplete(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 2);
  w.put(3, 1);
  w.put(3, 2);  // 1 + 2: 3/4 of the code space
}
void bad_precode_length_17(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 2);
  w.put(3, 1);
  w.put(14, 0b11111111111110);  // 7 + 10 ones: 17
}
void bad_precode_length_20(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 1);
  w.put(16, 0xFFFF);  // c = 7 + 13 ones = 20; 17 bits consumed
  w.put(1, 0);
}
void bad_precode_single_19(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 19);
}
void bad_precode_single_31(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 31);
}
void bad_litlen_single_510(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 510);
}
void bad_litlen_single_511(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 511);
}
void bad_distance_single_14(BitWriter& w) {
  single_form_block(w, 1, 'a', 0);  // a good block, then one whose distance symbol is 14
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 'a');
  w.put(4, 0);
  w.put(4, 14);
}
void bad_distance_single_15(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 'a');
  w.put(4, 0);
  w.put(4, 15);
}
// A valid pre-code with symbols 2 and 3 of length 1.
void precode_2_and_3(BitWriter& w) {
  w.put(5, 4);
  w.put(3, 0);
  w.put(3, 0);
  w.put(3, 1);
  w.put(2, 0);
  w.put(3, 1);
}
void bad_litlen_incomplete(BitWriter& w) {
  w.put(16, 1);
  precode_2_and_3(w);
  w.put(9, 66);
  w.put(1, 0);   // 65 zeros
  w.put(9, 45);
  w.put(1, 1);   // 'A' alone has length 1: half the code space
}
void bad_litlen_overfull(BitWriter& w) {
  w.put(16, 1);
  precode_2_and_3(w);
  w.put(9, 68);
  w.put(1, 0);
  w.put(9, 45);
  w.put(1, 1);
  w.put(1, 1);
  w.put(1, 1);   // three codes of length 1
}
void bad_distance_overfull(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 'a');
  w.put(4, 3);
  w.put(3, 1);
  w.put(3, 1);
  w.put(3, 1);
}
void bad_distance_incomplete(BitWriter& w) {
  w.put(16, 1);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 'a');
  w.put(4, 1);
  w.put(3, 1);
}

class DecoderDeathTest : public ::testing::TestWithParam<BadStream> {
 protected:
  void SetUp() override { lzhtest::reset_everything(); }
};

TEST_P(DecoderDeathTest, EndsWithBadTable) {
  BitWriter w;
  GetParam().build(w);
  const Bytes packed = w.bytes();
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        lzhtest::decompress(packed, 8192 + 100);
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "^Bad table\n$");
}

INSTANTIATE_TEST_SUITE_P(
    Streams, DecoderDeathTest,
    ::testing::Values(BadStream{"PreCodeOverfull", bad_precode_overfull},
                      BadStream{"PreCodeIncomplete", bad_precode_incomplete},
                      BadStream{"PreCodeLength17", bad_precode_length_17},
                      BadStream{"PreCodeLength20", bad_precode_length_20},
                      BadStream{"PreCodeSingle19", bad_precode_single_19},
                      BadStream{"PreCodeSingle31", bad_precode_single_31},
                      BadStream{"LitLenSingle510", bad_litlen_single_510},
                      BadStream{"LitLenSingle511", bad_litlen_single_511},
                      BadStream{"DistanceSingle14", bad_distance_single_14},
                      BadStream{"DistanceSingle15", bad_distance_single_15},
                      BadStream{"LitLenIncomplete", bad_litlen_incomplete},
                      BadStream{"LitLenOverfull", bad_litlen_overfull},
                      BadStream{"DistanceOverfull", bad_distance_overfull},
                      BadStream{"DistanceIncomplete", bad_distance_incomplete}),
    [](const ::testing::TestParamInfo<BadStream>& info) { return std::string(info.param.name); });

// ---- Damaged streams --------------------------------------------------------------

struct DamagedCase {
  Bytes packed;
  long packed_size;
  std::size_t original_size;
};

// In a child: decode the damaged stream; exit 0 when the count came out with no byte
// outside the ring touched and no byte past packed_size read, 3 otherwise.  A "Bad
// table" ends the child through fatal with exit code 1.
void decode_damaged(const void* arg) {
  const DamagedCase& dc = *static_cast<const DamagedCase*>(arg);
  const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
  const int parts_before = result->total_part_count();
  lzhtest::Decompressed d = lzhtest::decompress(dc.packed, dc.original_size, dc.packed_size);
  const long limit = dc.packed_size;
  const bool canaries_intact = result->total_part_count() == parts_before;
  const bool ok = d.out.size() == dc.original_size && d.bytes_read <= limit && canaries_intact;
  if (!ok)
    std::printf("produced %zu of %zu, read %ld of %ld, canaries %s\n", d.out.size(),
                dc.original_size, d.bytes_read, limit,
                canaries_intact ? "intact" : "touched");
  std::fflush(stdout);
  _exit(ok ? 0 : 3);
}

void expect_survives(const DamagedCase& dc, unsigned* bad_tables) {
  auto [status, out] = lzhtest::run_in_child(decode_damaged, &dc);
  if (status == 1) {
    EXPECT_EQ(out, "Bad table\n");
    ++*bad_tables;
  } else {
    EXPECT_EQ(status, 0) << out;
  }
}

TEST(DecoderDamageTest, SeededCorruptionGivesTheCountOrBadTable) {
  lzhtest::reset_everything();
  std::vector<std::pair<Bytes, Bytes>> streams_and_inputs;
  for (const auto& named : codec_inputs::input_table()) {
    if (std::string(named.name) == "random") continue;
    Bytes input = named.make(24000);
    lzhtest::Compressed c = lzhtest::compress(input);
    ASSERT_FALSE(c.incompressible);
    streams_and_inputs.emplace_back(c.packed, input);
  }
  codec_inputs::Random rng(2024);
  unsigned bad_tables = 0, cases = 0;
  for (const auto& [packed, input] : streams_and_inputs) {
    for (int round = 0; round < 60; ++round) {
      DamagedCase dc{packed, static_cast<long>(packed.size()), input.size()};
      unsigned flips = 1 + rng.below(8);
      for (unsigned f = 0; f < flips; ++f) {
        std::size_t at = rng.below(static_cast<unsigned>(dc.packed.size()));
        dc.packed[at] ^= static_cast<std::uint8_t>(1 + rng.below(255));
      }
      if (round % 10 == 9) dc.packed.resize(rng.below(static_cast<unsigned>(dc.packed.size())));
      SCOPED_TRACE(round);
      expect_survives(dc, &bad_tables);
      ++cases;
    }
  }
  EXPECT_GT(bad_tables, 0u);
  EXPECT_LT(bad_tables, cases);
}

TEST(DecoderDamageTest, GarbageNeverReadsPastPackedSize) {
  codec_inputs::Random rng(99);
  unsigned bad_tables = 0;
  for (int round = 0; round < 60; ++round) {
    lzhtest::reset_everything();
    std::size_t n = rng.below(400);
    DamagedCase dc{codec_inputs::random_bytes(n + 50, rng.next()), static_cast<long>(n),
                   1 + rng.below(30000)};
    SCOPED_TRACE(round);
    expect_survives(dc, &bad_tables);
  }
}

}  // namespace

namespace {

// After every chunk the bit state must be what fetching byte by byte gives: with B
// bytes fetched (packed_size counts the rest) and in_left bits of the last one unused,
// in_window holds the 16 stream bits that end in_left bits before the end of byte B,
// and in_byte is byte B.
TEST(DecoderStateTest, TheBitStateAfterEachChunkMatchesTheBytesFetched) {
  lzhtest::reset_everything();
  const Bytes input = codec_inputs::text(100000 + 8192);
  lzhtest::Compressed c = lzhtest::compress(input);
  ASSERT_FALSE(c.incompressible);
  const Bytes& packed = c.packed;
  auto stream_byte = [&packed](std::size_t k) -> unsigned { return k < packed.size() ? packed[k] : 0; };

  std::FILE* archive = lzhtest::file_with(packed);
  streams.archive_stream = archive;
  codec.packed_size = c.packed_size;
  start_decode();
  Bytes ring(DICT_SIZE);
  for (std::size_t done = 0; done < input.size();) {
    const std::size_t n = std::min<std::size_t>(DICT_SIZE, input.size() - done);
    decode_chunk(static_cast<std::uint16_t>(n), ring.data());
    ASSERT_TRUE(std::equal(ring.begin(), ring.begin() + static_cast<long>(n), input.begin() + static_cast<long>(done)));
    done += n;
    if (codec.packed_size == 0) continue;  // past the end: how far is not recorded
    const std::size_t fetched = packed.size() - codec.packed_size;
    ASSERT_GE(fetched, 2u);
    ASSERT_LE(bit_io.in_left, 7u);
    EXPECT_EQ(bit_io.in_byte, stream_byte(fetched - 1)) << done;
    const std::size_t first_bit = 8 * fetched - bit_io.in_left - 16;
    unsigned expected = 0;
    for (std::size_t b = first_bit; b < first_bit + 16; ++b)
      expected = expected << 1 | ((stream_byte(b / 8) >> (7 - b % 8)) & 1);
    EXPECT_EQ(bit_io.in_window, expected) << done;
  }
  EXPECT_LE(std::ftell(archive), static_cast<long>(packed.size()));
  std::fclose(archive);
}

}  // namespace

namespace {

// decode_litlen and decode_distance, one symbol at a time as the block format reads,
// agree with decode_chunk's loop on whole streams.
TEST(DecoderStateTest, SymbolBySymbolDecodingAgreesWithDecodeChunk) {
  for (const char* kind : {"x86", "text", "picture", "zeros"}) {
    SCOPED_TRACE(kind);
    lzhtest::reset_everything();
    Bytes input;
    for (const auto& named : codec_inputs::input_table())
      if (std::string(named.name) == kind) input = named.make(70000);
    lzhtest::Compressed c = lzhtest::compress(input);
    ASSERT_FALSE(c.incompressible);

    std::FILE* archive = lzhtest::file_with(c.packed);
    streams.archive_stream = archive;
    codec.packed_size = c.packed_size;
    start_decode();
    Bytes out;
    while (out.size() < input.size()) {
      const unsigned symbol = decode_litlen();
      if (symbol < 256) {
        out.push_back(static_cast<std::uint8_t>(symbol));
        continue;
      }
      const std::size_t distance = decode_distance() + 1u;
      ASSERT_LE(distance, out.size());
      for (unsigned k = 0; k < symbol - 253; ++k) out.push_back(out[out.size() - distance]);
    }
    std::fclose(archive);
    out.resize(input.size());
    EXPECT_TRUE(out == input);
  }
}

}  // namespace
