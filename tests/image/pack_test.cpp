// The packing and unpacking drivers: headers, the stored path, the ratio, the working
// files, unpacking of stored modules and of damaged or missing module files, and the
// messages of each failure on the stream it belongs to.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
using testimg::stored_module;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes file_bytes(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  Bytes out;
  for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<std::uint8_t>(c));
  return out;
}

std::FILE* temp_file_with(const Bytes& data) {
  std::FILE* f = std::tmpfile();
  if (f && !data.empty()) std::fwrite(data.data(), 1, data.size(), f);
  if (f) std::rewind(f);
  return f;
}

class PackTest : public containertest::ContainerTest {
 protected:
  struct Output {
    std::string out, err;
  };
  template <typename F>
  Output captured(F&& f) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    f();
    Output o;
    o.out = ::testing::internal::GetCapturedStdout();
    o.err = ::testing::internal::GetCapturedStderr();
    return o;
  }
  // Unpacks `module` (written as "FILE_BUF.BIN") and returns what was printed.
  Output unpack(const Bytes& module) {
    dir.write("FILE_BUF.BIN", module);
    return captured([] { unpack_file("FILE_BUF.BIN"); });
  }
};

TEST(RatioTest, TenthsOfAPercentWithoutOverflow) {
  struct Case {
    std::uint32_t packed, original, permille;
  };
  const Case cases[] = {
      {500, 1000, 500},          {0, 0, 0},
      {7, 0, 0},                 {1000, 1000, 1000},
      {1, 3, 333},               {2, 3, 667},
      {0xFFFFFFFF, 0xFFFFFFFF, 1000}, {0x20000000, 0x40000000, 500},
      {123456, 1000000, 123},    {1, 2000, 1},
      {1, 2001, 0},              {0x19999999, 0x19999999, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.packed << "/" << c.original);
    EXPECT_EQ(ratio_permille(c.packed, c.original), c.permille);
  }
}

TEST_F(PackTest, WriteHeaderPutsTheCrcAfterTheNameAndSumsTheHeader) {
  build_crc_table();
  pack_work.h = 3 + 25;
  std::uint8_t* header = pack_work.header.bytes.data();
  std::memcpy(header + HDR_METHOD, "-lh5-", 5);
  header[HDR_NAME_LENGTH] = 3;
  std::memcpy(header + HDR_NAME, "A.B", 3);
  pack_work.file_crc = 0xBEEF;
  streams.packed_stream = std::tmpfile();
  ASSERT_NE(streams.packed_stream, nullptr);
  codec.running_crc = 0;
  write_header();
  const Bytes written = file_bytes(streams.packed_stream);
  std::fclose(streams.packed_stream);
  streams.packed_stream = nullptr;

  ASSERT_EQ(written.size(), 30u);
  EXPECT_EQ(written[0], 28);
  EXPECT_EQ(read_le(written.data() + 25, 2), 0xBEEFu);
  EXPECT_EQ(written[1], header_sum(written.data(), 28));
  // The H bytes went through the CRC.
  EXPECT_EQ(codec.running_crc, testimg::crc16(Bytes(written.begin() + 2, written.end())));
}

TEST_F(PackTest, StoreCopyCopiesInBlocksAndCounts) {
  build_crc_table();
  for (std::size_t size : {0u, 1u, 8192u, 8193u, 20000u}) {
    SCOPED_TRACE(size);
    const Bytes data = testimg::pseudo_random(size, 3);
    streams.source_stream = temp_file_with(data);
    streams.packed_stream = std::tmpfile();
    codec.original_size = 99;
    codec.running_crc = 99;
    store_copy();
    EXPECT_EQ(file_bytes(streams.packed_stream), data);
    EXPECT_EQ(codec.original_size, size);
    EXPECT_EQ(codec.packed_size, size);
    EXPECT_EQ(codec.running_crc, testimg::crc16(data));
    std::fclose(streams.source_stream);
    std::fclose(streams.packed_stream);
    streams = CodecStreams{};
  }
}

TEST_F(PackTest, TheExitHandlerClosesAndRemovesTemp01) {
  streams.packed_stream = std::fopen(TEMP_FILE_NAME, "wb");
  ASSERT_NE(streams.packed_stream, nullptr);
  remove_temp_at_exit();
  EXPECT_EQ(streams.packed_stream, nullptr);
  EXPECT_FALSE(dir.exists(TEMP_FILE_NAME));
  remove_temp_at_exit();  // none left: nothing happens
  EXPECT_FALSE(dir.exists(TEMP_FILE_NAME));
}

TEST_F(PackTest, AnInputThatCannotBeOpenedEmptiesTheArgumentAndLeavesThePackedFile) {
  dir.write_text("bios.rom", "an earlier module");
  ASSERT_EQ(::mkdir(dir.file("adir").c_str(), 0700), 0);
  for (const char* name : {"missing.bin", "adir"}) {
    SCOPED_TRACE(name);
    const std::string kept = name;
    std::string path = kept;
    pack_state.packed_file_written = true;
    const Output o = captured([&] { EXPECT_EQ(pack_file(path, 1, nullptr), 0); });
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "Can't open " + kept + "\n");
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(kept, name);
    EXPECT_FALSE(pack_state.packed_file_written);
    EXPECT_EQ(dir.read("bios.rom"), text("an earlier module"));
    EXPECT_EQ(streams.packed_stream, nullptr);
    EXPECT_EQ(streams.source_stream, nullptr);
  }
}

// --- Unpacking -----------------------------------------------------------------------

TEST_F(PackTest, StoredModulesUnpackToTheirBytes) {
  for (std::size_t size : {0u, 1u, 2u, 3u, 8191u, 8192u, 8193u, 70000u}) {
    SCOPED_TRACE(size);
    const Bytes data = testimg::pseudo_random(size, static_cast<std::uint32_t>(size) + 1);
    const Output o = unpack(stored_module("DATA.BIN", 0x4013, data));
    EXPECT_EQ(o.out + o.err, "");
    EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), data);
  }
}

TEST_F(PackTest, NoHeaderGivesAnEmptyOutputWithoutAWord) {
  const Bytes data = testimg::pseudo_random(500, 4);
  struct Case {
    const char* name;
    bool present;
    Bytes file;
  };
  const Case cases[] = {
      {"missing file", false, {}},
      {"empty file", true, {}},
      {"first byte 0", true, Bytes{0x00, 0x12, 0x34}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A good module first, so that a stale header and a stale output would show.
    unpack(stored_module("GOOD.BIN", 0x4013, data));
    std::remove("FILE_BUF.BIN");
    if (c.present) dir.write("FILE_BUF.BIN", c.file);
    const Output o = captured([] { unpack_file("FILE_BUF.BIN"); });
    EXPECT_EQ(o.out + o.err, "");
    EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), Bytes{});
  }
}

TEST_F(PackTest, UnknownMethodsLeaveTheOutputEmpty) {
  const Bytes data = testimg::pseudo_random(50, 5);
  auto with_method = [&](const char* method) {
    Bytes m = stored_module("ODD.BIN", 0x4013, data);
    std::memcpy(m.data() + HDR_METHOD, method, 5);
    m[HDR_SUM] = header_sum(m.data(), m[HDR_SIZE]);
    return m;
  };
  struct Case {
    Bytes module;
    const char* err;
  };
  const Case cases[] = {
      {with_method("-lh1-"), "Unknown method: 49\n"},
      {with_method("-lh6-"), "Unknown method: 54\n"},
      {with_method("-lz5-"), "Unknown method: 53\n"},
      {with_method("-lh0x"), "Unknown method: 48\n"},
      {with_method("xlh4-"), "Unknown method: 52\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    dir.write_text(UNPACKED_FILE_NAME, "stale");
    const Output o = unpack(c.module);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), Bytes{});
  }
}

TEST_F(PackTest, AHeaderTooShortForItsFieldsReadsNothingOfAnEarlierHeader) {
  unpack(stored_module("GOOD.BIN", 0x4013, Bytes(10, 1)));
  // H = 3: only the bytes at offsets 2 to 4 exist; the method digit reads as 0.
  const Bytes tiny{3, static_cast<std::uint8_t>('-' + 'l' + 'h'), '-', 'l', 'h'};
  const Output o = unpack(tiny);
  EXPECT_EQ(o.err, "Unknown method: 0\n");
  EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), Bytes{});
}

TEST_F(PackTest, ACrcMismatchIsReportedWithTheStoredNameAndTheOutputKept) {
  const Bytes data = testimg::pseudo_random(3000, 6);
  const Bytes bad = testimg::module_file("MICRO.BIN", 0x4001, data, 3000, testimg::crc16(data) ^ 0x100, '0');
  const Output o = unpack(bad);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "CRC error in MICRO.BIN\n");
  EXPECT_EQ(dir.read(UNPACKED_FILE_NAME), data);
  // A name with a zero byte in it is printed up to that byte.
  const Bytes zero_name = testimg::module_file(std::string("AB\0CD", 5), 1, data, 3000, 0, '0');
  EXPECT_EQ(unpack(zero_name).err, "CRC error in AB\n");
}

TEST_F(PackTest, AnOutputThatCannotBeCreatedLeavesNoOriginalTmp) {
  ASSERT_EQ(::mkdir(dir.file(UNPACKED_FILE_NAME).c_str(), 0700), 0);
  const Output o = unpack(stored_module("A.BIN", 1, Bytes(20, 3)));
  EXPECT_EQ(o.out + o.err, "");
  // The empty directory that stood in the way is gone; no output file appeared.
  EXPECT_FALSE(dir.exists(UNPACKED_FILE_NAME));
}

// --- Process-ending paths ------------------------------------------------------------

using PackDeathTest = PackTest;

TEST_F(PackDeathTest, ANameThatDoesNotFitAHeaderIsRefusedBeforeAnythingIsWritten) {
  dir.write_text("bios.rom", "kept");
  dir.write_text("in.bin", "data");
  const std::string long_name(231, 'x');
  EXPECT_EXIT(
      {
        containertest::stdout_to_stderr();
        std::string path = "in.bin";
        pack_file(path, 1, long_name.c_str());
      },
      ::testing::ExitedWithCode(1), "^Name too long: x{231}\n$");
  std::string long_path(231, 'p');
  EXPECT_EXIT(
      {
        containertest::stdout_to_stderr();
        pack_file(long_path, 1, nullptr);
      },
      ::testing::ExitedWithCode(1), "^Name too long: p{231}\n$");
  EXPECT_EQ(dir.read("bios.rom"), text("kept"));
  EXPECT_FALSE(dir.exists(TEMP_FILE_NAME));
}

TEST_F(PackDeathTest, Temp01ThatCannotBeCreatedIsFatal) {
  ASSERT_EQ(::mkdir(dir.file(TEMP_FILE_NAME).c_str(), 0700), 0);
  dir.write_text("in.bin", "data");
  EXPECT_EXIT(
      {
        containertest::stdout_to_stderr();
        std::string path = "in.bin";
        pack_file(path, 1, nullptr);
      },
      ::testing::ExitedWithCode(1), "^Can't open temporary file\n$");
}

TEST_F(PackDeathTest, DamagedHeadersAndStoredDataEndTheRun) {
  const Bytes data = testimg::pseudo_random(10000, 7);
  const Bytes good = stored_module("DATA.BIN", 0x4013, data);
  Bytes wrong_sum = good;
  wrong_sum[HDR_SUM] ^= 0x01;
  Bytes longer_original = testimg::module_file("DATA.BIN", 1, data, 10001, 0, '0');
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"wrong header sum", wrong_sum, "^Header sum error\n$"},
      {"file ends inside the header", Bytes(good.begin(), good.begin() + 20), "^Header sum error\n$"},
      {"file of one byte", Bytes{0x20}, "^Header sum error\n$"},
      {"stored data cut short", Bytes(good.begin(), good.begin() + 5000), "^Can't read\n$"},
      {"original size above the stored size", longer_original, "^Can't read\n$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("FILE_BUF.BIN", c.file);
    EXPECT_EXIT(
        {
          containertest::stdout_to_stderr();
          unpack_file("FILE_BUF.BIN");
        },
        ::testing::ExitedWithCode(1), c.message);
  }
}

}  // namespace
