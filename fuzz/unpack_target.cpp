// Fuzz target "unpack": packed data of any length, with any original size (capped at
// 4 MiB, as a guard against decompression bombs) and any method, through unpack_file.
//
// Input: byte 0 chooses the form (bit 7: the rest of the input is the whole module file
// as it is; else bits 0-1 the method -lh5-, -lh0-, -lh4- or the digit in byte 1, bit 2 a
// packed-size field from bytes 6-9 instead of the data length, bit 3 a wrong header
// sum, bits 4-6 a right shift of the original size); bytes 1-3 the original size, 4-5
// the CRC, 6-9 the packed-size field, 10.. the packed data.
//
// Checked: the run ends only through fatal (exit code 1), always for a wrong header sum;
// otherwise "original.tmp" holds exactly the original size for a known method (the data
// itself for -lh0-) and nothing for an unknown one; unpacking a shorter original size
// gives a prefix of the same bytes, whatever follows the packed data in the file.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/harness.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "lzh/lzh.hpp"
#include "tests/support/image_builder.hpp"

using namespace fuzzing;

namespace {

constexpr const char* MODULE_NAME = "module.bin";
constexpr std::uint32_t MAX_ORIGINAL = 4u << 20;

// Unpacks MODULE_NAME; true when it ran to its end, false when it ended the run.
bool unpack(bool sum_broken) {
  try {
    unpack_file(MODULE_NAME);
  } catch (const RunEnded& e) {
    if (e.status != 1) broken("unpacking ended the run with " + std::to_string(e.status));
    return false;
  }
  if (sum_broken) broken("a wrong header sum was accepted");
  if (!file_exists(UNPACKED_FILE_NAME)) broken("no original.tmp after unpacking");
  return true;
}

// The module file with the field at `offset` of `width` bytes set to `value` and the
// header sum made right again.
void set_field(Bytes& file, std::size_t offset, unsigned width, std::uint32_t value) {
  write_le(file.data() + offset, width, value);
  file[HDR_SUM] = header_sum(file.data(), file[HDR_SIZE]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputScope scope;
  Reader in(data, size);
  const std::uint8_t form = in.byte();

  if (form & 0x80) {
    write_file(MODULE_NAME, in.rest());
    unpack(false);
    return 0;
  }

  const std::uint8_t method_byte = in.byte();
  // Sizes of every scale: the 24-bit field shifted right by form bits 4-6.
  std::uint32_t original = (method_byte | (in.le(2) << 8)) >> ((form >> 4) & 7);
  if (original > MAX_ORIGINAL) original %= MAX_ORIGINAL + 1;
  const auto crc = static_cast<std::uint16_t>(in.le(2));
  const std::uint32_t packed_field = in.le(4);
  const Bytes packed = in.rest();

  static constexpr char METHODS[] = {'5', '0', '4'};
  const char method = (form & 3) == 3 ? static_cast<char>(method_byte) : METHODS[form & 3];
  Bytes file = testimg::module_file("FUZZ.BIN", 0x4001, packed, original, crc, method);
  if (form & 4) set_field(file, HDR_PACKED_SIZE, 4, packed_field);
  const bool sum_broken = (form & 8) != 0;
  if (sum_broken) file[HDR_SUM] = static_cast<std::uint8_t>(file[HDR_SUM] + 1);
  write_file(MODULE_NAME, file);

  if (!unpack(sum_broken)) return 0;
  const Bytes output = read_file(UNPACKED_FILE_NAME);
  const bool known = method == '0' || method == '4' || method == '5';
  if (!known) {
    if (!output.empty()) broken("an unknown method produced bytes");
    return 0;
  }
  if (output.size() != original) broken("output is not the original size");
  // Stored data is copied from the bytes after the header (the end byte may follow it).
  const std::size_t data_at = std::size_t{file[HDR_SIZE]} + 2;
  if (method == '0' && (file.size() - data_at < output.size() ||
                        !std::equal(output.begin(), output.end(), file.begin() + data_at)))
    broken("stored data unpacked to other bytes");

  // A shorter original size gives the first bytes of the same stream when decoded from
  // the same start.  Damaged data may read what an earlier stream left: ring bytes
  // before the stream's first byte, and a table kept by a code whose lengths are all 0;
  // so the unpacking state starts afresh, as in a new run.
  if (original == 0) return 0;
  reset_lzh_state();
  reset_pack_state();
  // Nothing after the packed size is read either: other bytes there change nothing.
  const std::uint32_t shorter = original - 1 - (crc % original);
  set_field(file, HDR_ORIGINAL_SIZE, 4, shorter);
  const std::uint64_t packed_end = data_at + std::uint64_t{read_le(file.data() + HDR_PACKED_SIZE, 4)};
  if (packed_end <= file.size()) {
    file.resize(static_cast<std::size_t>(packed_end));
    file.insert(file.end(), 64, 0xA5);
  }
  write_file(MODULE_NAME, file);
  if (!unpack(false)) broken("a shorter original size ended the run");
  const Bytes prefix = read_file(UNPACKED_FILE_NAME);
  if (prefix.size() != shorter || !std::equal(prefix.begin(), prefix.end(), output.begin()))
    broken("a shorter original size, or other bytes after the packed data, gave other bytes");
  return 0;
}
