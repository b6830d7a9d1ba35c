// Loading the image into the 1 MiB window, identifying it by its area maps, and the
// checked write-back.
//
// Invariants: the window is WINDOW_SIZE bytes and zero below the image; the image's
// last byte is at window offset 0xFFFFF; every map search tests a candidate only where
// its whole record lies inside the window; region bounds are masked to 20 bits.
#include "image/window.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "driver/exit_codes.hpp"
#include "image/fatal.hpp"
#include "image/file_io.hpp"

ImageState image;

namespace {

constexpr const char* REGION_NAMES[REGION_COUNT] = {
    "BootBlock option rom region 0",
    "BootBlock option rom region 1",
    "Main BIOS option rom region 0",
    "Main BIOS option rom region 1",
};
constexpr std::int32_t REGION_GROUPS[REGION_COUNT] = {1, 1, 0, 0};

constexpr std::string_view BOOT_MAP_SIGNATURE = "VELK_BROMMAP";
constexpr std::string_view MAIN_MAP_SIGNATURE = "VELK_NROMMAP";
constexpr std::string_view PACK_MAP_SIGNATURE = "VELK_PACKMAP";
constexpr std::string_view KERNEL_MARKER = "= Pelix Decompression Bios =";

constexpr std::uint32_t SEARCH_START = 0xE0000;        // the window's top 128 KiB
constexpr std::uint32_t BOOT_MAP_SEARCH_START = SEARCH_START + 0x2710;
constexpr std::uint32_t LAST_CANDIDATE = 0xFFFF0;
constexpr std::uint32_t BOOT_MAP_RECORD = 36;
constexpr std::uint32_t MAIN_MAP_RECORD = 32;
constexpr std::uint32_t PACK_MAP_AT = 0xFFFE0;
constexpr std::uint32_t PACK_MAP_START_FIELD = 0xFFFF0;
constexpr std::uint32_t BOOT_ONLY_FLAG = 0x10000;

bool matches_at(std::uint32_t pos, std::string_view signature) {
  if (!window_has(pos, signature.size())) return false;
  return std::memcmp(image.window.base.data() + pos, signature.data(), signature.size()) == 0;
}

// First candidate pos = first, first + 16, ... <= LAST_CANDIDATE whose whole record of
// `record` bytes lies in the window and starts with `signature`; 0 when none.
std::uint32_t search(std::uint32_t first, std::string_view signature, std::uint32_t record) {
  for (std::uint32_t pos = first; pos <= LAST_CANDIDATE; pos += 16) {
    if (!window_has(pos, record)) break;
    if (matches_at(pos, signature)) return pos;
  }
  return 0;
}

void set_region_names() {
  for (int row = 0; row < REGION_COUNT; ++row) {
    image.regions[row].name = REGION_NAMES[row];
    image.regions[row].group = REGION_GROUPS[row];
  }
}

void close_image_file() {
  if (image.window.image_file >= 0) ::close(image.window.image_file);
  image.window.image_file = -1;
}

int refuse_load() {
  close_image_file();
  image.window.base.clear();
  image.window.base.shrink_to_fit();
  image.window.image_size = 0;
  return -1;
}

}  // namespace

void reset_image_state() {
  close_image_file();
  image = ImageState{};
  set_region_names();
}

bool region_in_use(int row) {
  return row >= 0 && row < REGION_COUNT && image.regions[row].end > image.regions[row].start;
}

bool region_takes_part(int row) {
  return region_in_use(row) && image.regions[row].group == image.target_group;
}

ChainEntry read_chain_entry(std::uint32_t pos) {
  ChainEntry entry;
  if (!window_has(pos, HDR_PACKED_SIZE + 4)) return entry;
  const std::uint8_t* p = image.window.base.data() + pos;
  if (window_le32(pos + 7) == 0xFFFFFFFFu) {
    entry.mark = ChainMark::free_space;
    return entry;
  }
  if (p[2] != '-' || p[3] != 'l' || p[4] != 'h') return entry;
  entry.mark = ChainMark::module;
  entry.length = std::uint64_t{p[0]} + window_le32(pos + 7) + 4;
  if (window_has(pos, 19)) entry.type_id = window_le16(pos + 17);
  return entry;
}

int find_area_maps() {
  for (auto& r : image.regions) r.start = r.end = r.map_word = 0;
  image.boot_only_map = false;
  image.packmap_mode = false;
  image.packmap_start_ref = 0;

  // Boot-block map.
  if (std::uint32_t at = search(BOOT_MAP_SEARCH_START, BOOT_MAP_SIGNATURE, BOOT_MAP_RECORD)) {
    if (window_le32(at + 12) & BOOT_ONLY_FLAG) image.boot_only_map = true;
    image.regions[0].start = window_le32(at + 20);
    image.regions[0].end = window_le32(at + 24);
    image.regions[1].start = window_le32(at + 28);
    image.regions[1].end = window_le32(at + 32);
  }
  if (image.boot_only_map) return 0;

  // Main map, only at or after the kernel marker.
  if (std::uint32_t marker = search(SEARCH_START, KERNEL_MARKER, KERNEL_MARKER.size())) {
    if (std::uint32_t at = search(marker, MAIN_MAP_SIGNATURE, MAIN_MAP_RECORD)) {
      image.regions[2].map_word = window_le32(at + 12);
      image.regions[2].start = window_le32(at + 16);
      image.regions[2].end = window_le32(at + 20);
      image.regions[3].start = window_le32(at + 24);
      image.regions[3].end = window_le32(at + 28);
    }
  }

  if (image.regions[2].start != 0) return image.regions[2].end != 0 ? 0 : EXIT_BAD_IMAGE;
  if (image.regions[2].end != 0) return EXIT_BAD_IMAGE;

  // Packed map in the image's last 32 bytes.
  if (matches_at(PACK_MAP_AT, PACK_MAP_SIGNATURE)) {
    image.regions[2].start = window_le32(PACK_MAP_START_FIELD);
    image.regions[2].end = window_le32(PACK_MAP_START_FIELD + 4);
    image.regions[3].start = image.regions[3].end = 0;
    image.regions[2].map_word = window_le32(PACK_MAP_AT + 12);
    image.packmap_mode = true;
    image.packmap_start_ref = PACK_MAP_START_FIELD;
  }
  return (image.regions[2].start != 0 && image.regions[2].end != 0) ? 0 : EXIT_BAD_IMAGE;
}

int load_image(const std::string& path) {
  reset_image_state();
  image.window.path = path;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  image.window.image_file = fd;

  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return refuse_load();
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > WINDOW_SIZE) return refuse_load();

  image.window.base.assign(WINDOW_SIZE, 0);
  const auto length = static_cast<std::uint32_t>(st.st_size);
  std::uint8_t* dest = image.window.base.data() + (WINDOW_SIZE - length);
  std::uint32_t done = 0;
  while (done < length) {
    ssize_t got = ::pread(fd, dest + done, length - done, done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return refuse_load();
    done += static_cast<std::uint32_t>(got);
  }
  image.window.image_size = length;

  if (find_area_maps() != 0) {
    std::printf("The Area Map is unknown.\n");
    std::printf("Either not VELK's BIOS or incorrect BIOS kernal.\n");
    return EXIT_BAD_IMAGE;
  }
  for (auto& r : image.regions) {
    r.start &= WINDOW_MASK;
    r.end &= WINDOW_MASK;
  }
  return 0;
}

void write_back_image() {
  namespace fs = std::filesystem;
  const std::string& shown = image.window.shown_name.empty() ? image.window.path : image.window.shown_name;
  auto fail = [&](const std::string& temp) {
    if (!temp.empty()) ::unlink(temp.c_str());
    close_image_file();
    std::printf("Can't write %s\n", shown.c_str());
    end_run(EXIT_USAGE);
  };

  std::error_code ec;
  const fs::path target = fs::canonical(image.window.path, ec);
  struct stat st {};
  if (ec || ::stat(target.c_str(), &st) != 0) fail("");

  std::string temp = target.parent_path().string();
  temp += "/.";
  temp += target.filename().string();
  temp += ".optmix-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) fail("");

  const std::uint32_t size = image.window.image_size;
  bool ok = write_all(fd, image.window.base.data() + (WINDOW_SIZE - size), size);
  ok = ok && ::fchmod(fd, st.st_mode & 07777) == 0;
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) fail(temp);

  // Make the rename itself durable; a failure here no longer endangers the image.
  int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  close_image_file();
}
