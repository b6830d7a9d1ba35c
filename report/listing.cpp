// The /D listing: for each non-empty region, in table order, a table of the modules
// chained from the region's start (number, item name, original size, space taken,
// stored name) and the region's space totals; after the totals of a region that holds
// a microcode module, the microcode table of that module.
//
// Invariants: nothing outside the window is read, and no module is listed or copied
// unless all of its bytes lie inside its region, so the length total never exceeds the
// region's space.  The walk of a region ends at the free-space marker, at the region's
// end, and at a position that holds no module ("BIOS Invalid \n").  The image is never
// changed.  Within one region only the first microcode module is unpacked; its bytes
// travel FILE_BUF.BIN -> original.tmp -> CPU_FILE.STV and none of these files stays.
#include "report/listing.hpp"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/items.hpp"
#include "image/file_io.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "report/listing_internal.hpp"

namespace listing_internal {

std::string k_figure(std::uint32_t bytes) {
  // bytes / 1024 is exact in binary, but printf rounds an exact half to even
  // (0.125 -> "0.12"); whole hundredths in integers round every half up instead and
  // agree with "%.2f" everywhere else.
  const std::uint64_t hundredths = (std::uint64_t{bytes} * 100 + 512) / 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%02llu", static_cast<unsigned long long>(hundredths / 100),
                static_cast<unsigned long long>(hundredths % 100));
  return text;
}

}  // namespace listing_internal

namespace {

using listing_internal::k_figure;

constexpr const char* MODULE_COPY_NAME = "FILE_BUF.BIN";
constexpr const char* MICROCODE_FILE_NAME = "CPU_FILE.STV";

// Type id of the first item row of kind Cpucode.
std::uint16_t microcode_type() {
  for (const ItemEntry& row : item_table)
    if (row.kind == KIND_CPUCODE) return static_cast<std::uint16_t>(row.type_id);
  return 0;
}

// Writes `length` window bytes from `pos` to FILE_BUF.BIN.  false when the file cannot
// be created or fully written; no partial file is left then.
bool write_module_copy(std::uint32_t pos, std::uint32_t length) {
  return write_new_file(MODULE_COPY_NAME, {{image.window.base.data() + pos, length}});
}

// Unpacks the microcode module at `pos` (whole module inside the window) into
// CPU_FILE.STV for the report.  A header sum error ends the run inside unpack_file.
void unpack_microcode(std::uint32_t pos, std::uint32_t length) {
  if (!write_module_copy(pos, length)) return;  // the report then shows its headings only
  std::fflush(stdout);  // the rows so far come before any message of the unpacking
  unpack_file(MODULE_COPY_NAME);
  if (std::rename(UNPACKED_FILE_NAME, MICROCODE_FILE_NAME) != 0) std::remove(UNPACKED_FILE_NAME);
  std::remove(MODULE_COPY_NAME);
}

// Prints the row of the module at `pos`.  The caller has checked that its fixed header
// fields and its stored name lie inside the window.
void print_row(int number, std::uint32_t pos, std::uint32_t length) {
  const std::uint8_t* p = image.window.base.data() + pos;
  const std::uint16_t type_id = window_le16(pos + HDR_TYPE_ID);
  const std::uint32_t original = window_le32(pos + HDR_ORIGINAL_SIZE);

  std::printf(" %2d. ", number);
  const int item = find_item_by_type_id(type_id);
  if (item >= 0) std::printf("%-16s", item_table[item].name);
  else std::printf("Other(%04X:%04X)", type_id, window_le16(pos + HDR_LOAD_OFFSET));

  char cell[64];
  std::snprintf(cell, sizeof cell, "%05lX(%sK)", static_cast<unsigned long>(original),
                k_figure(original).c_str());
  std::printf(" %-15s", cell);
  std::snprintf(cell, sizeof cell, "%05lXh(%sK)", static_cast<unsigned long>(length),
                k_figure(length).c_str());
  std::printf(" %-15s", cell);

  const auto* name = reinterpret_cast<const char*>(p + HDR_NAME);
  std::string stored(name, ::strnlen(name, p[HDR_NAME_LENGTH]));
  std::printf(" %s\n", stored.c_str());
}

void print_total(const char* label, std::uint32_t bytes) {
  std::printf("%s%05lXh(%sK)\n", label, static_cast<unsigned long>(bytes), k_figure(bytes).c_str());
}

void list_region(const RegionDescriptor& region, std::uint16_t microcode) {
  std::printf("\n              ******** %s ********\n\n", region.name);
  std::printf(" No. Item-Name        Original-Size   Compressed-Size Original-File-Name \n");
  std::printf("%s\n", std::string(79, '=').c_str());

  int number = 0;
  std::uint32_t total = 0;
  bool microcode_found = false;
  // Region bounds are window offsets; the walk stays below the window's top regardless.
  const std::uint32_t end = std::min(region.end, WINDOW_SIZE);
  std::uint32_t pos = region.start;
  while (pos < end) {
    const ChainEntry entry = read_chain_entry(pos);
    if (entry.mark == ChainMark::free_space) break;
    // A module is listed only when all of it lies in the region and its name can be
    // read; anything else is damage, and the walk stops there.
    const bool listable = entry.mark == ChainMark::module && entry.length <= end - pos &&
                          window_has(pos, HDR_NAME) &&
                          window_has(pos, HDR_NAME + image.window.base[pos + HDR_NAME_LENGTH]);
    if (!listable) {
      std::printf("BIOS Invalid \n");
      break;
    }
    const auto length = static_cast<std::uint32_t>(entry.length);
    print_row(number, pos, length);
    if (entry.type_id == microcode && !microcode_found) {
      microcode_found = true;
      unpack_microcode(pos, length);
    }
    ++number;
    total += length;
    pos += length;
  }

  const std::uint32_t space = region.end - region.start;
  print_total("\n  Total compress code space  = ", space);
  print_total("  Total compressed code size = ", total);
  print_total("  Remain compress code space = ", space - total);
  if (microcode_found) report_microcode();
}

}  // namespace

void list_combined_modules() {
  std::remove(MICROCODE_FILE_NAME);  // a leftover must not pass for this image's microcode
  const std::uint16_t microcode = microcode_type();
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_in_use(row)) list_region(image.regions[row], microcode);
}
