// The image file under failure: a write-back that fails part way leaves it as it was
// and says so; a run killed at any moment leaves either the old or the new image, never
// a mix.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/e2e/e2e_support.hpp"

using e2e::Bytes;
using L = testimg::StandardLayout;

namespace {

testimg::ImageBuilder image_with_logo() {
  testimg::ImageBuilder b = testimg::standard_image();
  b.add_module(L::main0_start, testimg::stored_module("LOGO.BIN", 0x4002, testimg::pseudo_random(5000, 1)));
  return b;
}

// Starts optmix in `dir` without waiting for it.
pid_t spawn(const testimg::ScratchDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), OPTMIX_BINARY);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::freopen("/dev/null", "w", stdout);
    ::execv(OPTMIX_BINARY, argv.data());
    ::_exit(127);
  }
  return pid;
}

}  // namespace

TEST(WriteBack, AFileSizeLimitMakesItFailCleanly) {
  testimg::ScratchDir dir;
  const Bytes image = image_with_logo().bytes;
  dir.write("stn.bin", image);
  dir.write("VGA.BIN", e2e::code_like(6000, 2));
  // 64 blocks of 512 bytes: room for the working files, not for the 1 MiB image.
  const testimg::RunResult r = testimg::run_program(
      "/bin/sh", dir, {"-c", "ulimit -f 64 && exec \"$0\" \"$@\"", OPTMIX_BINARY, "stn.bin", "/vga", "VGA.BIN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, e2e::adding_line("VGA.BIN", dir.read("bios.rom")) + "Can't write stn.bin\n");
  EXPECT_EQ(dir.read("stn.bin"), image);
  EXPECT_EQ(dir.entries(), e2e::sorted({"VGA.BIN", "bios.rom", "stn.bin"}));
}

TEST(WriteBack, AKilledRunLeavesTheOldOrTheNewImage) {
  testimg::ScratchDir reference;
  const Bytes before = image_with_logo().bytes;
  reference.write("stn.bin", before);
  ASSERT_EQ(testimg::run_optmix(reference, {"stn.bin", "/epa", "release"}).status, 0);
  const Bytes after = reference.read("stn.bin");
  ASSERT_NE(after, before);

  // Time one whole run, then kill runs at moments spread over that time.
  testimg::ScratchDir dir;
  dir.write("stn.bin", before);
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = spawn(dir, {"stn.bin", "/epa", "release"});
  int status = 0;
  ::waitpid(pid, &status, 0);
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
  ASSERT_EQ(dir.read("stn.bin"), after);

  std::mt19937 random(12345);
  std::uniform_int_distribution<long> delay(0, full.count() + 200);
  int old_seen = 0, new_seen = 0;
  for (int i = 0; i < 150; ++i) {
    dir.write("stn.bin", before);
    pid = spawn(dir, {"stn.bin", "/epa", "release"});
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    const Bytes now = dir.read("stn.bin");
    ASSERT_TRUE(now == before || now == after) << "a mixed image after a kill, round " << i;
    (now == before ? old_seen : new_seen) += 1;
    for (const auto& name : dir.entries())
      if (name != "stn.bin") std::filesystem::remove(dir.file(name));  // temporary files of killed runs
  }
  // Both outcomes occur, so the kills did land during the runs.
  EXPECT_GT(old_seen, 0);
  RecordProperty("old_images", old_seen);
  RecordProperty("new_images", new_seen);
}
