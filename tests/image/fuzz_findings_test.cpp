// Faults the fuzz targets found in the image subsystem, each kept as the smallest case
// that shows it.  The end-of-run handler is the one a fuzzing build installs: it throws,
// so that a run that ends inside an operation comes back to the test.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "image/fatal.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "lzh/lzh.hpp"
#include "tests/image/container_fixture.hpp"
#include "tests/support/image_builder.hpp"

namespace {

using containertest::Bytes;

struct RunEnded {
  int status;
};
[[noreturn]] void throw_run_ended(int status) { throw RunEnded{status}; }

int open_descriptors() {
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++count;
    ::closedir(d);
  }
  return count;
}

class FuzzFindingsTest : public containertest::ContainerTest {
 protected:
  void SetUp() override {
    ContainerTest::SetUp();
    previous_ = set_end_run_handler(throw_run_ended);
  }
  void TearDown() override {
    set_end_run_handler(previous_);
    ContainerTest::TearDown();
  }

  // Unpacks `file`; the exit status when the run ended inside, else -1000.  The codec's
  // input stream is closed afterwards, as the caller of a run that ended would.
  int unpack(const Bytes& file) {
    dir.write("module.bin", file);
    int status = -1000;
    try {
      unpack_file("module.bin");
    } catch (const RunEnded& e) {
      status = e.status;
    }
    if (streams.archive_stream) std::fclose(streams.archive_stream);
    streams.archive_stream = nullptr;
    return status;
  }

 private:
  EndRunHandler previous_ = nullptr;
};

TEST(EndRunHandlerTest, AHandlerReceivesTheStatusAndCanLeaveByAnException) {
  const EndRunHandler previous = set_end_run_handler(throw_run_ended);
  int status = 0;
  try {
    fatal("Bad table");
  } catch (const RunEnded& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(set_end_run_handler(previous), throw_run_ended);
}

// Found by the "unpack" target: unpacking that ended inside the decoder ("Bad table")
// or the stored copy ("Can't read") left "original.tmp" open, one descriptor per run,
// until no file could be opened any more.
TEST_F(FuzzFindingsTest, UnpackingThatEndsTheRunLeavesNoFileOpen) {
  const Bytes short_stored = testimg::module_file("S.BIN", 0x4013, Bytes(10, 7), 100, 0, '0');
  // -lh5- data whose first pre-code is a single-form symbol outside its alphabet.
  const Bytes bad_table = testimg::module_file("B.BIN", 0x4013, Bytes{0x00, 0x05, 0x07, 0xFF}, 100, 0, '5');
  const int before = open_descriptors();
  for (const Bytes* file : {&short_stored, &bad_table}) {
    EXPECT_EQ(unpack(*file), 1);
    EXPECT_EQ(open_descriptors(), before);
  }
}

}  // namespace
