// Packing with the -lh5- codec: the compressed and stored paths, the packed-module file
// and its header, the announcement, round trips through unpacking, and damaged packed
// data, which must give "Bad table" or exactly original_size bytes, never a crash.
#include <gtest/gtest.h>

#include "bench/codec_inputs.hpp"
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/pack_internal.hpp"
#include "lzh/lzh.hpp"
#include "tests/image/container_fixture.hpp"
#include "tests/support/image_builder.hpp"

namespace {

using containertest::Bytes;

Bytes random_bytes(std::size_t n, std::uint32_t seed) { return testimg::pseudo_random(n, seed); }
// Text-like: words from a small vocabulary, chosen by a seeded generator.
Bytes text_like(std::size_t n, std::uint32_t seed) {
  static const char* const words[] = {"option ", "rom ", "region ", "module ", "the ", "image ",
                                      "header\n", "packed ", "data ", "0x4013 "};
  const Bytes pick = testimg::pseudo_random(n, seed);
  Bytes out;
  for (std::size_t i = 0; out.size() < n; ++i)
    for (const char* c = words[pick[i % pick.size()] % 10]; *c && out.size() < n; ++c)
      out.push_back(static_cast<std::uint8_t>(*c));
  return out;
}

// The announcement packing prints for a packed-module file.
std::string ratio_line(const Bytes& module) {
  const std::uint32_t packed = read_le(module.data() + HDR_PACKED_SIZE, 4);
  const std::uint32_t original = read_le(module.data() + HDR_ORIGINAL_SIZE, 4);
  const std::uint32_t r = ratio_permille(packed, original);
  return " " + std::to_string(r / 10) + "." + std::to_string(r % 10) + "%\n";
}

class PackCodecTest : public containertest::ContainerTest {
 protected:
  struct Result {
    std::string out, err;
    Bytes module;   // the packed-module file
  };
  // Packs `data` written as `input`, shown as `display` (or the input), announcing.
  Result pack(const Bytes& data, const std::string& input = "in.bin", const char* display = nullptr,
              std::uint8_t announce = 1) {
    dir.write(input, data);
    std::string path = input;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(pack_file(path, announce, display), 0);
    Result r;
    r.out = ::testing::internal::GetCapturedStdout();
    r.err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(path, input);
    EXPECT_TRUE(pack_state.packed_file_written);
    EXPECT_FALSE(dir.exists(TEMP_FILE_NAME));
    if (dir.exists(pack_state.packed_file_name)) r.module = dir.read(pack_state.packed_file_name);
    return r;
  }
  // Unpacks the packed-module file; returns stderr.
  std::string unpack_packed() {
    ::testing::internal::CaptureStderr();
    unpack_file(pack_state.packed_file_name);
    return ::testing::internal::GetCapturedStderr();
  }
};

// Checks every header field of a packed-module file and its length.
void expect_module(const Bytes& m, const std::string& name, char method, const Bytes& data,
                   std::uint16_t segment, std::uint16_t offset) {
  ASSERT_GE(m.size(), name.size() + 28);
  const unsigned n = static_cast<unsigned>(name.size());
  const unsigned h = n + 25;
  EXPECT_EQ(m[HDR_SIZE], h);
  EXPECT_EQ(m[HDR_SUM], header_sum(m.data(), h));
  EXPECT_EQ(std::string(m.begin() + HDR_METHOD, m.begin() + HDR_METHOD + 5), std::string("-lh") + method + "-");
  const std::uint32_t packed = read_le(m.data() + HDR_PACKED_SIZE, 4);
  EXPECT_EQ(read_le(m.data() + HDR_ORIGINAL_SIZE, 4), data.size());
  EXPECT_EQ(read_le(m.data() + HDR_LOAD_OFFSET, 2), offset);
  EXPECT_EQ(read_le(m.data() + HDR_TYPE_ID, 2), segment);
  EXPECT_EQ(m[HDR_ATTRIBUTE], 0x20);
  EXPECT_EQ(m[HDR_LEVEL], 0x01);
  EXPECT_EQ(m[HDR_NAME_LENGTH], n);
  EXPECT_EQ(std::string(m.begin() + HDR_NAME, m.begin() + HDR_NAME + n), name);
  EXPECT_EQ(read_le(m.data() + 22 + n, 2), testimg::crc16(data));
  EXPECT_EQ(m[24 + n], 0x20);
  EXPECT_EQ(read_le(m.data() + 25 + n, 2), 0u);
  EXPECT_EQ(m.size(), h + packed + 3);
  EXPECT_EQ(m.back(), 0x00);
  if (method == '0') {
    EXPECT_EQ(packed, data.size());
    EXPECT_EQ(Bytes(m.begin() + h + 2, m.end() - 1), data);
  } else {
    EXPECT_LT(packed, data.size());
  }
}

TEST_F(PackCodecTest, CompressibleInputBecomesALh5Module) {
  pack_state.load_text = "4001:0";
  const Bytes data = text_like(40000, 1);
  const Result r = pack(data, "MICRO.BIN");
  expect_module(r.module, "MICRO.BIN", '5', data, 0x4001, 0);
  EXPECT_EQ(r.out, "Adding MICRO.BIN " + ratio_line(r.module));
  EXPECT_EQ(r.err, std::string(r.err.size(), '.'));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"MICRO.BIN", "bios.rom"}));
}

TEST_F(PackCodecTest, IncompressibleInputIsStoredUnchanged) {
  pack_state.load_text = "4013:8";
  const Bytes data = random_bytes(20000, 2);
  const Result r = pack(data);
  expect_module(r.module, "in.bin", '0', data, 0x4013, 8);
  EXPECT_EQ(r.out, "Adding in.bin  100.0%\n");
}

TEST_F(PackCodecTest, AnEmptyInputIsAStoredModuleOfNoBytes) {
  const Result r = pack({});
  expect_module(r.module, "in.bin", '0', {}, 0x7000, 0);
  EXPECT_EQ(r.module.size(), 6u + 25 + 3);
  EXPECT_EQ(r.out, "Adding in.bin  0.0%\n");
}

TEST_F(PackCodecTest, TheDisplayNameIsStoredAndShown) {
  const Bytes data = text_like(5000, 3);
  const Result r = pack(data, "PelixBmp.bmp", "My Logo.bmp");
  expect_module(r.module, "My Logo.bmp", '5', data, 0x7000, 0);
  EXPECT_EQ(r.out, "Adding My Logo.bmp " + ratio_line(r.module));
  // The longest name that fits: H = 255.
  const std::string longest(230, 'n');
  const Result l = pack(data, "in.bin", longest.c_str());
  expect_module(l.module, longest, '5', data, 0x7000, 0);
}

TEST_F(PackCodecTest, WithoutAnnouncementNothingIsPrinted) {
  const Result r = pack(text_like(100000, 4), "in.bin", nullptr, 0);
  EXPECT_EQ(r.out + r.err, "");
}

TEST_F(PackCodecTest, ALaterPackingReplacesThePackedModuleFile) {
  const Bytes first = text_like(3000, 5), second = random_bytes(100, 6);
  pack(first);
  pack_state.load_text = "4002:0";
  const Result r = pack(second, "two.bin");
  expect_module(r.module, "two.bin", '0', second, 0x4002, 0);
  pack_state.packed_file_name = "other.rom";
  const Result o = pack(first, "three.bin");
  expect_module(o.module, "three.bin", '5', first, 0x4002, 0);
  EXPECT_EQ(dir.read("bios.rom"), r.module);
}

TEST_F(PackCodecTest, RoundTripsGiveBackTheInput) {
  // The codec benchmark's inputs (x86 code, text, picture, zeros, random) at the sizes
  // around the window's edges and beyond 64 KiB.
  for (const auto& input : codec_inputs::input_table())
    for (std::size_t size : {0u, 1u, 2u, 3u, 8191u, 8192u, 8193u, 70000u, 300000u}) {
      SCOPED_TRACE(testing::Message() << input.name << " " << size);
      const Bytes data = input.make(size);
      reset_pack_state();
      const Result r = pack(data, "in.bin", nullptr, 0);
      EXPECT_EQ(read_le(r.module.data() + HDR_ORIGINAL_SIZE, 4), size);
      EXPECT_EQ(unpack_packed(), "");
      EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), data);
    }
}

TEST_F(PackCodecTest, MethodFourUsesTheSameDecoder) {
  const Bytes data = text_like(20000, 8);
  Bytes module = pack(data).module;
  ASSERT_EQ(module[HDR_METHOD_DIGIT], '5');
  module[HDR_METHOD_DIGIT] = '4';
  module[HDR_SUM] = header_sum(module.data(), module[HDR_SIZE]);
  dir.write("bios.rom", module);
  EXPECT_EQ(unpack_packed(), "");
  EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), data);
}

// Runs unpack_file on `module` in a child process; returns its exit status (or 1000 +
// signal), its stdout and stderr.
struct ChildResult {
  int status = -1;
  std::string out, err;
};
ChildResult unpack_in_child(const testimg::ScratchDir& dir, const Bytes& module) {
  dir.write("FILE_BUF.BIN", module);
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("child.out", "w", stdout);
    std::freopen("child.err", "w", stderr);
    unpack_file("FILE_BUF.BIN");
    std::fflush(nullptr);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ChildResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  const Bytes out = dir.read("child.out"), err = dir.read("child.err");
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

TEST_F(PackCodecTest, DamagedPackedDataGivesBadTableOrExactlyTheOriginalSize) {
  const Bytes data = text_like(30000, 9);
  const Bytes module = pack(data, "in.bin", nullptr, 0).module;
  const std::size_t data_at = module[HDR_SIZE] + 2;
  const std::size_t packed = module.size() - data_at - 1;
  ASSERT_EQ(module[HDR_METHOD_DIGIT], '5');
  int bad_tables = 0, crc_errors = 0;
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(seed);
    Bytes damaged = module;
    const Bytes noise = testimg::pseudo_random(8, seed);
    const int flips = 1 + noise[0] % 4;
    for (int k = 0; k < flips; ++k) {
      // Early bytes hold the code tables: damage them more often.
      const std::size_t span = (seed % 2) ? std::min<std::size_t>(packed, 40) : packed;
      const std::size_t at = data_at + ((noise[1 + k] << 8 | noise[5 + k % 3]) % span);
      damaged[at] ^= static_cast<std::uint8_t>(1u << (noise[2 + k] % 8));
    }
    const ChildResult r = unpack_in_child(dir, damaged);
    ASSERT_LT(r.status, 1000) << "signal " << r.status - 1000;
    if (r.status == 1) {
      EXPECT_EQ(r.out, "Bad table\n");
      ++bad_tables;
    } else {
      ASSERT_EQ(r.status, 0);
      const Bytes produced = dir.read(UNPACKED_FILE_NAME);
      EXPECT_EQ(produced.size(), data.size());
      if (produced != data) {
        EXPECT_EQ(r.err, "CRC error in in.bin\n");
        ++crc_errors;
      } else {
        EXPECT_EQ(r.err, "");
      }
    }
  }
  // The sweep reaches both outcomes.
  EXPECT_GT(bad_tables, 0);
  EXPECT_GT(crc_errors, 0);
}

TEST_F(PackCodecTest, PackedDataCutShortStillGivesTheOriginalSizeOrBadTable) {
  const Bytes data = text_like(30000, 10);
  const Bytes module = pack(data, "in.bin", nullptr, 0).module;
  const std::size_t data_at = module[HDR_SIZE] + 2;
  for (std::size_t keep : {std::size_t{0}, std::size_t{5}, (module.size() - data_at) / 2}) {
    SCOPED_TRACE(keep);
    const ChildResult r = unpack_in_child(dir, Bytes(module.begin(), module.begin() + data_at + keep));
    ASSERT_LT(r.status, 1000);
    if (r.status == 1) {
      EXPECT_EQ(r.out, "Bad table\n");
    } else {
      ASSERT_EQ(r.status, 0);
      EXPECT_EQ(dir.read(UNPACKED_FILE_NAME).size(), data.size());
      EXPECT_EQ(r.err, "CRC error in in.bin\n");
    }
  }
}

}  // namespace

namespace {

using PackCodecDeathTest = PackCodecTest;

TEST_F(PackCodecDeathTest, AFailingTemporaryFileIsFatalAndRemoved) {
  ASSERT_EQ(::symlink("/dev/full", dir.file(TEMP_FILE_NAME).c_str()), 0);
  dir.write("in.bin", text_like(100, 11));
  dir.write_text("bios.rom", "kept");
  EXPECT_EXIT(
      {
        containertest::stdout_to_stderr();
        std::string path = "in.bin";
        pack_file(path, 0, nullptr);
      },
      ::testing::ExitedWithCode(1), "^Can't write\n$");
  // The exit handler removed "TEMP01"; the packed-module file is untouched.
  EXPECT_FALSE(dir.exists(TEMP_FILE_NAME));
  EXPECT_EQ(dir.read("bios.rom"), Bytes({'k', 'e', 'p', 't'}));
}

}  // namespace

TEST_F(PackCodecTest, DataReachingBeforeTheStreamReadsZerosNotAnEarlierModule) {
  // One block, single forms: every item is a match of 3 at distance code 8191, which
  // from the stream's first byte reaches before it.
  const Bytes packed = {
      0x00, 0x01,        // 16 bits: one item
      0x00, 0x00, 0x10,  // 5 + 5 bits 0: single pre-code; 9 bits 0, 9 bits 256: single litlen
      0x00, 0xDF, 0xFF,  // 4 bits 0, 4 bits 13: single distance; 12 extra bits: code 8191
  };
  dir.write("earlier.bin", testimg::stored_module("EARLIER.BIN", 0x4013, Bytes(8192, 0xAB)));
  dir.write("damaged.bin", testimg::module_file("DAMAGED.BIN", 0x4013, packed, 3, 0, '5'));
  unpack_file("earlier.bin");
  ::testing::internal::CaptureStderr();
  unpack_file("damaged.bin");
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), Bytes(3, 0x00));
}
