// The region operations: inserting the module of the packed-module file into a region
// (replacing a module of the same type id, appending at the free-space marker, growing
// the packed-map region downwards), releasing modules and extracting one to a file.
//
// Invariants:
// - Every window access lies in [0, WINDOW_SIZE); lengths read from modules are compared
//   with the room left (`length > end - pos`) in 64 bits, never added to 32-bit fields.
// - A chain position is examined only where its packed-size field lies inside the walk's
//   bound (the region end, or the window top for the packed-map region); a module that
//   runs past that bound ends the usable chain.
// - An operation that refuses leaves the window exactly as it was: every check, including
//   reading the whole packed-module file, comes before the first byte is changed.
// - Moved modules keep their sum bytes; the bytes from the chain end to the region end
//   are 0xFF after every change.
#include "image/common.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/exit_codes.hpp"
#include "image/fatal.hpp"
#include "image/file_io.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"

namespace {

constexpr int PACKED_MAP_ROW = 2;                                   // main region 0
constexpr std::uint32_t MARKER_FIELD_END = HDR_PACKED_SIZE + 4;     // bytes a chain position needs
constexpr std::size_t TYPE_ID_END = HDR_TYPE_ID + 2;                // a module header holds the type id
constexpr const char* EXTRACT_BUFFER_NAME = "FILE_BUF.BIN";
constexpr std::uint8_t ERASED = 0xFF;

[[noreturn]] void internal_error(int line) {
  std::printf("internal error image/common.cpp %d\n", line);
  end_run(EXIT_INTERNAL);
}

void report_bios_invalid() { std::printf("BIOS Invalid \n"); }

bool window_loaded() { return image.window.base.size() == WINDOW_SIZE; }

// Bounds of a row that operations can walk: not empty and inside a loaded window.
bool row_bounds(int row, std::uint32_t& start, std::uint32_t& end) {
  const RegionDescriptor& r = image.regions[row];
  if (!window_loaded() || r.end <= r.start || r.end > WINDOW_SIZE) return false;
  start = r.start;
  end = r.end;
  return true;
}

// The region described by the packed map may be walked past its end and grown downwards.
bool grows_downwards(int row) { return image.packmap_mode && row == PACKED_MAP_ROW; }

enum class Slot { free_space, module, invalid, no_room };
struct Position {
  Slot slot = Slot::no_room;
  std::uint64_t length = 0;
  std::uint16_t type_id = 0;
};

// What the chain holds at `pos` for a walk bounded by `limit`: no_room when the
// packed-size field would not lie below the bound.
Position examine(std::uint64_t pos, std::uint32_t limit) {
  Position at;
  if (pos >= limit || limit - pos < MARKER_FIELD_END) return at;
  const ChainEntry entry = read_chain_entry(static_cast<std::uint32_t>(pos));
  switch (entry.mark) {
    case ChainMark::free_space: at.slot = Slot::free_space; break;
    case ChainMark::module: at.slot = Slot::module; break;
    case ChainMark::invalid: at.slot = Slot::invalid; break;
  }
  at.length = entry.length;
  at.type_id = entry.type_id;
  return at;
}

// Follows the chain from `pos` to its end inside [pos, end): the free-space marker, the
// region end, or a tail too short for a marker.  False when a position holds neither a
// module nor the marker, or a module runs past `end`.
bool find_chain_end(std::uint64_t pos, std::uint32_t end, std::uint32_t& chain_end) {
  while (pos < end) {
    const Position at = examine(pos, end);
    if (at.slot == Slot::no_room || at.slot == Slot::free_space) break;
    if (at.slot == Slot::invalid || at.length > end - pos) return false;
    pos += at.length;
  }
  chain_end = static_cast<std::uint32_t>(pos);
  return true;
}

// The first module of `type_id` in the row's chain (release and extraction walk).
// False when the chain ends, breaks or leaves the region before one is found.
bool find_module(int row, std::uint16_t type_id, std::uint32_t& pos, std::uint32_t& length) {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  if (!row_bounds(row, start, end)) return false;
  std::uint64_t p = start;
  while (p < end) {
    const Position at = examine(p, end);
    if (at.slot != Slot::module || at.length > end - p) return false;
    if (at.type_id == type_id) {
      pos = static_cast<std::uint32_t>(p);
      length = static_cast<std::uint32_t>(at.length);
      return true;
    }
    p += at.length;
  }
  return false;
}

// The module of the packed-module file (untrusted: its fields may lie).
struct NewModule {
  std::uint32_t packed_size = 0;
  std::uint64_t length = 0;       // in a region: H + packed size + 4
  bool recognisable = false;      // "-lh" at bytes 2 to 4 and a header that holds the type id
};

bool read_new_header(std::FILE* file, NewModule& module) {
  std::uint8_t head[MARKER_FIELD_END];
  if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, file) != sizeof head)
    return false;
  const unsigned h = head[HDR_SIZE];
  module.packed_size = read_le(head + HDR_PACKED_SIZE, 4);
  module.length = std::uint64_t{h} + module.packed_size + MODULE_TRAILER_BYTES;
  module.recognisable = std::memcmp(head + HDR_METHOD, "-lh", 3) == 0 && h + 2 >= TYPE_ID_END;
  return true;
}

// The whole module without its sum byte; false when the file holds fewer bytes.
bool read_new_module(std::FILE* file, std::uint64_t length, std::vector<std::uint8_t>& bytes) {
  bytes.assign(static_cast<std::size_t>(length - 1), 0);
  return std::fseek(file, 0, SEEK_SET) == 0 && std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// Where a module of `length` bytes appended at the chain end `pos` goes, and by how many
// bytes the region must grow downwards first.
struct Placement {
  std::uint32_t pos = 0;
  std::uint32_t growth = 0;
};

bool plan_append(int row, std::uint64_t pos, std::uint64_t length, Placement& plan) {
  const RegionDescriptor& r = image.regions[row];
  const std::uint32_t start = r.start;
  const std::uint32_t end = r.end;
  if (pos <= end && length <= end - pos) {
    plan = Placement{static_cast<std::uint32_t>(pos), 0};
    return true;
  }
  if (!grows_downwards(row)) return false;
  // A chain that ran past the region end would be cut by moving [start, end).
  if (pos > end) return false;
  const std::uint64_t growth = pos + length - end;
  const std::uint32_t image_base = WINDOW_SIZE - image.window.image_size;
  // The region moves down over the growth bytes below it, and the image grows at its
  // front by as many: only a region that begins at the image's first byte may grow, or
  // the move would overwrite image bytes and the file would gain bytes from below it.
  if (start != image_base) return false;
  if (growth > start || growth > WINDOW_SIZE - image.window.image_size) return false;
  const std::uint32_t field_at = image.packmap_start_ref;
  if (!window_has(field_at, 4)) return false;
  if (field_at + 4 > start - growth && field_at < end) return false;  // the field would move
  if (window_le32(field_at) <= growth) return false;                  // start field 0 or below
  plan = Placement{static_cast<std::uint32_t>(pos - growth), static_cast<std::uint32_t>(growth)};
  return true;
}

// Carries out a checked placement: the growth, then the module and its sum byte.
void place_module(int row, const Placement& plan, const std::vector<std::uint8_t>& bytes) {
  std::uint8_t* w = image.window.base.data();
  RegionDescriptor& r = image.regions[row];
  if (plan.growth > 0) {
    const std::uint32_t h = plan.growth;
    std::memmove(w + r.start - h, w + r.start, r.end - r.start);
    std::memset(w + r.end - h, ERASED, h);
    image.window.image_size += h;
    r.start -= h;
    write_le(w + image.packmap_start_ref, 4, window_le32(image.packmap_start_ref) - h);
  }
  std::memcpy(w + plan.pos, bytes.data(), bytes.size());
  w[plan.pos + bytes.size()] = byte_sum(bytes.data(), bytes.size());
}

// Appends the file's module at the chain end `pos` of the row.  0 placed, -1 refused.
int append_module(int row, std::uint64_t pos, std::FILE* file) {
  NewModule module;
  if (!read_new_header(file, module)) return -1;
  Placement plan;
  if (!plan_append(row, pos, module.length, plan) || !module.recognisable) return -1;
  std::vector<std::uint8_t> bytes;
  if (!read_new_module(file, module.length, bytes)) return -1;
  place_module(row, plan, bytes);
  return 0;
}

// Replaces the module of `length` bytes at `pos`: it is removed, the modules after it
// move down, and the file's module is appended at the new chain end.
int replace_module(int row, std::uint64_t pos, std::uint64_t length, std::FILE* file) {
  const std::uint32_t end = image.regions[row].end;
  std::uint32_t chain_end = 0;
  if (pos >= end || length > end - pos || !find_chain_end(pos + length, end, chain_end)) {
    report_bios_invalid();
    return -1;
  }
  NewModule module;
  if (!read_new_header(file, module)) return -1;
  if (module.packed_size == FREE_SPACE_MARKER) {
    report_bios_invalid();
    return -1;
  }
  const std::uint64_t append_at = chain_end - length;
  Placement plan;
  if (!plan_append(row, append_at, module.length, plan) || !module.recognisable) return -1;
  std::vector<std::uint8_t> bytes;
  if (!read_new_module(file, module.length, bytes)) return -1;
  close_gap(static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(length), end);
  place_module(row, plan, bytes);
  return 0;
}

}  // namespace

void close_gap(std::uint32_t pos, std::uint32_t length, std::uint32_t region_end) {
  if (!window_loaded() || region_end > WINDOW_SIZE || pos > region_end || length > region_end - pos) return;
  std::uint8_t* w = image.window.base.data();
  std::uint64_t moved = 0;
  for (;;) {
    const std::uint64_t next = std::uint64_t{pos} + length + moved;
    const Position at = examine(next, region_end);
    if (at.slot != Slot::module || at.length > region_end - next) break;
    std::memmove(w + pos + moved, w + next, static_cast<std::size_t>(at.length));
    moved += at.length;
  }
  std::memset(w + pos + moved, ERASED, static_cast<std::size_t>(region_end - pos - moved));
}

int insert_into_region(int row, std::FILE* packed_file, std::uint16_t type_id) {
  if (row < 0 || row >= REGION_COUNT) internal_error(274);
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  if (!packed_file || !row_bounds(row, start, end)) return -1;
  const bool grows = grows_downwards(row);
  const std::uint32_t limit = grows ? WINDOW_SIZE : end;

  std::uint64_t pos = start;
  for (;;) {
    if (pos >= end && !grows) return -1;
    const Position at = examine(pos, limit);
    switch (at.slot) {
      case Slot::no_room: return -1;
      case Slot::free_space: return append_module(row, pos, packed_file);
      case Slot::invalid: report_bios_invalid(); return -1;
      case Slot::module: break;
    }
    if (at.type_id == type_id) return replace_module(row, pos, at.length, packed_file);
    if (at.length > limit - pos) return -1;  // the next position lies past the bound
    pos += at.length;
  }
}

void insert_module(std::FILE* packed_file, std::uint16_t type_id) {
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_takes_part(row) && insert_into_region(row, packed_file, type_id) == 0) return;
  std::printf("No enough space for adding ROM.\n");
}

int release_from_region(int row, std::uint16_t type_id) {
  if (row < 0 || row >= REGION_COUNT) internal_error(541);
  std::uint32_t pos = 0;
  std::uint32_t length = 0;
  if (!find_module(row, type_id, pos, length)) return 1;
  // The modules after it must form a whole chain, or moving them would damage it.
  const std::uint32_t end = image.regions[row].end;
  std::uint32_t chain_end = 0;
  if (!find_chain_end(std::uint64_t{pos} + length, end, chain_end)) return 1;
  close_gap(pos, length, end);
  return 0;
}

int release_module(std::uint16_t type_id) {
  int result = 1;
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_takes_part(row) && release_from_region(row, type_id) == 0) result = 0;
  return result;
}

namespace {

// Writes the module without its sum byte to "FILE_BUF.BIN"; false when it cannot.
bool write_extract_buffer(std::uint32_t pos, std::uint32_t length) {
  return write_new_file(EXTRACT_BUFFER_NAME, {{image.window.base.data() + pos, length - 1}});
}

}  // namespace

int extract_from_region(int row, std::uint16_t type_id, const std::string& output_name) {
  if (row < 0 || row >= REGION_COUNT) internal_error(462);
  std::uint32_t pos = 0;
  std::uint32_t length = 0;
  if (!find_module(row, type_id, pos, length)) return 1;
  if (!write_extract_buffer(pos, length)) return 1;
  unpack_file(EXTRACT_BUFFER_NAME);
  std::remove(EXTRACT_BUFFER_NAME);
  // Only a file that unpacking wrote is given the output name (a directory of that name
  // is no output).  rename replaces an existing output file; when it fails the old one stays.
  struct stat st {};
  if (::lstat(UNPACKED_FILE_NAME, &st) != 0 || !S_ISREG(st.st_mode)) return 1;
  if (std::rename(UNPACKED_FILE_NAME, output_name.c_str()) != 0) {
    std::remove(UNPACKED_FILE_NAME);
    return 1;
  }
  return 0;
}

int extract_module(std::uint16_t type_id, const std::string& output_name) {
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_takes_part(row) && extract_from_region(row, type_id, output_name) == 0) return 0;
  return 1;
}
