// The microcode table of the /D listing: reads "CPU_FILE.STV" (the unpacked microcode
// module), prints one 16-character cell per update, four to a line, and deletes the file.
//
// Invariants: every read is a positioned read of a fixed size, and a short one (the file
// ends) stops the table quietly; the entry position only grows, so the table always ends.
// The last line of a table whose update count is not a multiple of four ends with the
// separator and no line break.
#include <cstdint>
#include <cstdio>

#include "image/module.hpp"
#include "report/listing.hpp"

namespace {

constexpr const char* MICROCODE_FILE_NAME = "CPU_FILE.STV";
constexpr long OFFSET_TABLE_START = 8;
constexpr std::size_t UPDATE_HEADER_BYTES = 48;
constexpr std::size_t UPDATE_REVISION = 4;
constexpr std::size_t UPDATE_SIGNATURE = 12;
constexpr std::size_t UPDATE_FLAGS = 24;
constexpr std::uint32_t END_OF_TABLE = 0xFFFF;

// Reads exactly `count` bytes at `offset`; false on a short read.
bool read_at(std::FILE* file, long offset, std::uint8_t* buffer, std::size_t count) {
  return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(buffer, 1, count, file) == count;
}

void print_cells(std::FILE* file) {
  unsigned cells = 0;
  for (long entry_at = OFFSET_TABLE_START;; entry_at += 4) {
    std::uint8_t entry[4];
    if (!read_at(file, entry_at, entry, sizeof entry)) return;
    const std::uint32_t header_at = read_le(entry, 2);
    if (header_at == END_OF_TABLE) return;
    std::uint8_t header[UPDATE_HEADER_BYTES];
    if (!read_at(file, static_cast<long>(header_at), header, sizeof header)) return;
    std::printf("   %02X", header[UPDATE_FLAGS]);
    std::printf("  %02X   %04X", header[UPDATE_REVISION], read_le(header + UPDATE_SIGNATURE, 2));
    ++cells;
    std::fputs(cells % 4 == 0 ? "\n" : "  |  ", stdout);
  }
}

}  // namespace

void report_microcode() {
  std::printf("\n     ** Micro Code Information **\n");
  std::printf("Update ID  CPUID  |  Update ID  CPUID  |  Update ID  CPUID  |  Update ID  CPUID\n");
  std::printf("------------------+--------------------+--------------------+------------------\n");
  if (std::FILE* file = std::fopen(MICROCODE_FILE_NAME, "rb")) {
    print_cells(file);
    std::fclose(file);
  }
  std::remove(MICROCODE_FILE_NAME);
}
