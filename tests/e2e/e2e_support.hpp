// Reading results of real runs: module chains in an image file, packed-module files,
// and the lines packing prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/image_builder.hpp"
#include "tests/support/scratch.hpp"

namespace e2e {

using testimg::Bytes;

// One module found in a region of an image file.
struct ChainModule {
  std::uint32_t pos = 0;        // window offset
  std::uint16_t type_id = 0;
  std::uint16_t load_offset = 0;
  std::string name;
  char method = 0;              // '0' stored, '5' compressed
  std::uint32_t packed = 0;
  std::uint32_t original = 0;
  std::uint32_t length = 0;     // H + packed + 4
  Bytes file;                   // the module without its sum byte
  std::uint8_t sum = 0;         // the sum byte as stored
};

// The modules chained in [start, end) of the image file `image` (window offsets for an
// image of image.size() bytes).  Stops at free space, at the region end or at anything
// that is not a module.
std::vector<ChainModule> chain(const Bytes& image, std::uint32_t start, std::uint32_t end);

// The bytes of window range [start, end) of an image file.
Bytes window_bytes(const Bytes& image, std::uint32_t start, std::uint32_t end);

// The packing announcement for a module file: "Adding NAME  r.r%\n".
std::string adding_line(const std::string& shown_name, const Bytes& packed_module_file);

// 8-bit sum of all bytes.
std::uint8_t sum8(const Bytes& data);

// Text as bytes.
Bytes text(const std::string& s);

// Compressible content shaped like code: repeated blocks with small changes.
Bytes code_like(std::size_t size, std::uint32_t seed);

// The names, sorted as ScratchDir::entries() lists them.
std::vector<std::string> sorted(std::vector<std::string> names);

// Number of '.' characters in s.
std::size_t dots(const std::string& s);

}  // namespace e2e

namespace e2e {

// Expected /D text of one region, from the modules the test placed there.
struct ListedModule {
  std::string item;          // item name, or "Other(6000:0000)"
  std::uint32_t original;
  std::uint32_t length;
  std::string name;
};
std::string listed_region(const std::string& region_name, std::uint32_t space,
                          const std::vector<ListedModule>& rows);

}  // namespace e2e
