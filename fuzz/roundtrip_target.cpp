// Fuzz target "roundtrip": any input through packing (pack_file) and back through
// unpacking (unpack_file), which must give the input back byte for byte.
//
// Checked besides: neither step ends the run; the packed-module file holds H + packed
// size + 3 bytes with a right header sum, the input's size and CRC, -lh5- data no longer
// than the input or -lh0- data equal to it; TEMP01 is gone.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/harness.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "tests/support/image_builder.hpp"

using namespace fuzzing;

namespace {

constexpr const char* INPUT_NAME = "input.bin";

void check_packed_file(const Bytes& input, const Bytes& file) {
  if (file.size() < 2 || file.size() < std::size_t{file[HDR_SIZE]} + 2) broken("packed file ends in its header");
  const unsigned h = file[HDR_SIZE];
  if (h != std::string(INPUT_NAME).size() + 25) broken("header size is not name length + 25");
  if (header_sum(file.data(), h) != file[HDR_SUM]) broken("header sum is wrong");
  const std::uint32_t packed = read_le(file.data() + HDR_PACKED_SIZE, 4);
  if (read_le(file.data() + HDR_ORIGINAL_SIZE, 4) != input.size()) broken("original size field is wrong");
  if (file.size() != std::size_t{h} + packed + 3) broken("packed file length is not H + packed size + 3");
  if (read_le(file.data() + h - 3, 2) != testimg::crc16(input)) broken("CRC field is wrong");
  const char method = static_cast<char>(file[HDR_METHOD_DIGIT]);
  if (method == '5') {
    if (packed > input.size()) broken("-lh5- data longer than the input");
  } else if (method == '0') {
    if (packed != input.size() || !std::equal(input.begin(), input.end(), file.begin() + h + 2))
      broken("-lh0- data is not the input");
  } else {
    broken("packing chose a method other than -lh5- and -lh0-");
  }
  if (file.back() != 0x00) broken("end byte is not 0");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputScope scope;
  const Bytes input(data, data + size);
  write_file(INPUT_NAME, input);

  try {
    std::string path = INPUT_NAME;
    pack_file(path, 0, INPUT_NAME);
    if (!pack_state.packed_file_written) broken("packing wrote no packed-module file");
    if (file_exists(TEMP_FILE_NAME)) broken("TEMP01 left after packing");
    check_packed_file(input, read_file(DEFAULT_PACKED_NAME));
    unpack_file(DEFAULT_PACKED_NAME);
  } catch (const RunEnded& e) {
    broken("the round trip ended the run with " + std::to_string(e.status));
  }
  if (read_file(UNPACKED_FILE_NAME) != input) broken("unpacking did not give the input back");
  return 0;
}
