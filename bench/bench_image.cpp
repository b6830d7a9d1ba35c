// Writes a 1 MiB image whose first main region is large enough for a module of 1 MiB of
// machine code (for measure_optmix.sh): the usual area maps, main regions
// [0x10000, 0xD0000) and [0xD0000, 0xE0000), all regions erased.
// Usage: bench_image FILE
#include <cstdio>

#include "tests/support/image_builder.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_image FILE\n");
    return 2;
  }
  using L = testimg::StandardLayout;
  testimg::ImageBuilder b(0x100000);
  b.boot_map(L::boot_map_at, 0, L::boot0_start, L::boot0_end, L::boot1_start, L::boot1_end);
  b.marker(L::marker_at);
  b.main_map(L::main_map_at, L::map_word, 0x10000, 0xD0000, 0xD0000, 0xE0000);
  b.erase(L::boot0_start, L::boot1_end);
  b.erase(0x10000, 0xE0000);
  b.write(argv[1]);
  return 0;
}
