// A fixture for the packing drivers and the region operations: a fresh scratch
// directory as the current directory, every component's state back at program start,
// and helpers to load a built image and to read the window.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "lzh/lzh.hpp"
#include "tests/support/image_builder.hpp"
#include "tests/support/scratch.hpp"

namespace containertest {

using testimg::Bytes;

inline void reset_all_state() {
  reset_image_state();
  reset_codec_state();
  reset_pack_state();
  reset_lzh_state();
}

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    guard_ = std::make_unique<testimg::CurrentDirGuard>(dir.path());
    reset_all_state();
  }
  void TearDown() override {
    reset_all_state();
    guard_.reset();
  }

  // Writes `b` as "image.bin" and loads it.
  void load(const testimg::ImageBuilder& b) {
    b.write(dir.file("image.bin"));
    ASSERT_EQ(load_image("image.bin"), 0);
  }

  // Window bytes [from, to).
  static Bytes window(std::uint32_t from, std::uint32_t to) {
    return Bytes(image.window.base.begin() + from, image.window.base.begin() + to);
  }

  testimg::ScratchDir dir;

 private:
  std::unique_ptr<testimg::CurrentDirGuard> guard_;
};

// The bytes of several byte strings one after the other.
inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// `content` followed by 0xFF up to `size` bytes: a region's expected bytes.
inline Bytes erased_to(Bytes content, std::size_t size) {
  content.resize(size, 0xFF);
  return content;
}

// Death tests match standard error; fatal and the internal error print on stdout.
inline void stdout_to_stderr() {
  std::fflush(stdout);
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

}  // namespace containertest
