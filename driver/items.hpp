// The item table: the command line's vocabulary of module kinds, and the small pieces
// of command-line text handling the run driver needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// What the driver does with an option.  The numbers are fixed; kind 19 has no row.
enum ItemKind : std::int32_t {
  KIND_OTHER = 0,
  KIND_CPUCODE = 1,
  KIND_EPA = 2,
  KIND_ACPITBL = 3,
  KIND_BOOT = 16,
  KIND_SYS = 17,
  KIND_ENGLISHPOST = 18,
  KIND_D = 20,
  KIND_LOGO = 21,
  KIND_LOGO256 = 22,
};

struct ItemEntry {
  std::int32_t kind;
  char load_text[8];       // "4013:0", NUL-padded
  std::uint32_t type_id;   // only the low 16 bits are used
  const char* name;        // option name without the leading "/"
};

inline constexpr std::size_t ITEM_COUNT = 44;
extern const ItemEntry item_table[ITEM_COUNT];

// Row (0 to 43) named by a command-line argument "/NAME" (any letter case, no prefix
// matching), or -1.
int find_option(std::string_view argument);

// First row whose type id (low 16 bits) equals `type_id`, or -1.
int find_item_by_type_id(std::uint16_t type_id);

// Segment of a typed load address "SSSS:OOOO": hex digits up to the colon or the end,
// low 16 bits kept; 0 for every refused text (empty, leading colon, non-hex character).
std::uint16_t parse_load_segment(std::string_view text);

// Prints the usage text on stdout and ends the process with exit code 1.
[[noreturn]] void print_usage();
