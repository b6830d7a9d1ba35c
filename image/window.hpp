// The image window (the image right-aligned in 1 MiB, as the BIOS sits below the top
// of the processor's first mebibyte), the region table found through the area maps,
// the run flags, and write-back.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/module.hpp"

inline constexpr std::uint32_t WINDOW_SIZE = 0x100000;
inline constexpr std::uint32_t WINDOW_MASK = 0xFFFFF;
inline constexpr std::uint32_t LOGO_PALETTE_OFFSET = 0x7E05A;

// The loaded image.  File offset f sits at window offset WINDOW_SIZE - image_size + f.
// base is zero-filled before loading, so bytes below a short image read as 0.
struct ImageWindow {
  std::vector<std::uint8_t> base;   // WINDOW_SIZE bytes once loaded
  std::uint32_t image_size = 0;     // bytes of the image, at most WINDOW_SIZE
  std::string path;                 // the file read and rewritten (letter case resolved)
  std::string shown_name;           // the image file name as typed, for messages
  int image_file = -1;              // descriptor, open read-write from loading to write-back
};

// One option-ROM region.  start: window offset of its first byte; end: one past its
// last byte.  A region with end <= start is empty and skipped by every operation.
struct RegionDescriptor {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::int32_t group = 0;      // 1 boot block, 0 main BIOS
  std::uint32_t map_word = 0;  // main map word (row 2 only), unmasked
  const char* name = "";
};

inline constexpr int REGION_COUNT = 4;

// Everything the image subsystem keeps for one run.
struct ImageState {
  ImageWindow window;
  std::array<RegionDescriptor, REGION_COUNT> regions{};
  int target_group = 0;            // 0 main regions, 1 boot-block regions
  bool boot_only_map = false;      // boot-block map flag word bit 16
  bool packmap_mode = false;       // main region 0 came from the packed map
  std::uint32_t packmap_start_ref = 0;  // window offset of the packed map's start field (0xFFFF0)
};
extern ImageState image;

// Back to the state before loading (window released, regions and flags cleared).
void reset_image_state();

// True when the region takes part in insertion, release and extraction.
bool region_takes_part(int row);

// True when the region is not empty (end above start).
bool region_in_use(int row);

// Reads the image file at `path` into the window and identifies it.
// 0: loaded, region table valid.  -1: the file cannot be opened for reading and
// writing, is not a regular file or is longer than WINDOW_SIZE (no message).
// 75: the area maps do not identify the image (an empty file never holds them);
// "The Area Map is unknown.\n" and
// "Either not VELK's BIOS or incorrect BIOS kernal.\n" have been printed on stdout.
int load_image(const std::string& path);

// Searches the window's top 128 KiB for the area maps and fills the raw bounds.
// 0 when they identify the image, 75 when not.  Called by load_image only.
int find_area_maps();

// Writes the window's image bytes to a temporary file beside the image, syncs it and
// renames it over the image (through a symbolic link, keeping the permission bits).
// On any failure prints "Can't write %s\n" with shown_name, removes the temporary
// file, leaves the image as it was and ends the process with exit code 1.
void write_back_image();

// --- Bounds-checked access to the window -------------------------------------------

// True when [pos, pos + length) lies inside the window.
inline bool window_has(std::uint64_t pos, std::uint64_t length) {
  return pos <= WINDOW_SIZE && length <= WINDOW_SIZE - pos;
}

// Little-endian reads; the caller has checked window_has(pos, width).
inline std::uint32_t window_le32(std::uint32_t pos) {
  const std::uint8_t* p = image.window.base.data() + pos;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t window_le16(std::uint32_t pos) {
  const std::uint8_t* p = image.window.base.data() + pos;
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// What a position of a region's module chain holds.
enum class ChainMark {
  free_space,  // packed-size field reads FREE_SPACE_MARKER: the chain ends here
  module,      // "-lh" at bytes 2 to 4: a module of `length` bytes starts here
  invalid,     // neither, or the fields it needs lie outside the window
};
struct ChainEntry {
  ChainMark mark = ChainMark::invalid;
  std::uint64_t length = 0;     // module length H + packed size + 4 (module only)
  std::uint16_t type_id = 0;    // bytes 17 and 18 (module only; 0 if outside the window)
};

// Examines the chain position `pos`: the free-space marker test first, then "-lh".
// Never reads outside the window; the length is not checked against any bound.
ChainEntry read_chain_entry(std::uint32_t pos);
