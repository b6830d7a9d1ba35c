// Fuzz target "regions": sequences of adds, releases, extractions, listings and gap
// closings on fuzzed images, checked after every step against a model of the module
// chains.
//
// Input (bytes past the end read as 0):
//   byte 0      layout: bits 0-1 0 boot-block and main maps in a 32 KiB image, 1 a packed
//               map whose region starts at the image's first byte, 2 the same with a
//               boot-block map, 3 the image taken raw from the input; bit 2 boot-block
//               regions as the target group
//   byte 1      number of steps, 1 to 16, then 4 bytes per step: kind, type selector and
//               a 16-bit size
//   layouts 0-2 geometry (4 x 16-bit region sizes, 1 byte image size), modules placed
//               before loading (count, then row, type selector, 16-bit size each), pokes
//               (count, then 24-bit image offset and value each)
//   the rest    the pool that module contents are cut from (layout 3: also the image)
//
// Checked after each step: the window stays 1 MiB and the image at most 1 MiB; region
// bounds stay in the window and move only by a growth of the packed-map region (which
// lengthens the image by as much and lowers the packed map's start field by as much);
// nothing outside the regions the step may change is changed; a refused insertion
// changes nothing.  Where the regions in use are disjoint, each row's chain (the modules
// walked from its start) must become exactly what the step makes of it: an insertion
// removes the first module of the type id and appends the new one (an append leaves
// the bytes after it, which may still read as modules), a release removes the first
// module of the type id and erases the rest of the row, an extraction or a listing
// changes nothing; an insertion that fits in a row without growth is never refused; a
// module added from a known content is extracted back to that content; an extraction
// finds a module exactly when a row's chain holds one; a listing's totals add up.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "image/common.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "tests/support/image_builder.hpp"

using namespace fuzzing;

namespace {

constexpr const char* IMAGE_NAME = "image.bin";
constexpr const char* CONTENT_NAME = "content.bin";
constexpr const char* EXTRACT_NAME = "out.bin";
constexpr const char* CHECK_NAME = "check.bin";
constexpr const char* LISTING_NAME = "listing.txt";
constexpr std::uint32_t START_FIELD = 0xFFFF0;
constexpr std::uint32_t BOOT_MAP_AT = 0xFF000;
constexpr std::uint32_t MARKER_AT = 0xFF100;
constexpr std::uint32_t MAIN_MAP_AT = 0xFF120;
constexpr std::uint32_t MAP_AREA = 0xFF000;  // regions of the built layouts end below it
constexpr std::uint16_t TYPE_IDS[] = {0x4001, 0x4013, 0x4014, 0x2400, 0x5000, 0xA000};

std::uint16_t type_of(std::uint8_t selector) {
  if (selector >= 0xF0) return static_cast<std::uint16_t>(selector << 8 | selector);
  return TYPE_IDS[selector % std::size(TYPE_IDS)];
}

// Contents are cut from the pool in turn, wrapping around; an empty pool gives zeros.
class Pool {
 public:
  explicit Pool(Bytes bytes) : bytes_(std::move(bytes)) {}
  Bytes take(std::size_t count) {
    Bytes out(count, 0);
    if (bytes_.empty()) return out;
    for (auto& b : out) {
      b = bytes_[cursor_];
      cursor_ = (cursor_ + 1) % bytes_.size();
    }
    return out;
  }
  const Bytes& all() const { return bytes_; }

 private:
  Bytes bytes_;
  std::size_t cursor_ = 0;
};

// --- Building the image ------------------------------------------------------------

struct Step {
  std::uint8_t kind;
  std::uint8_t type_selector;
  std::uint16_t size;
};

// Places stored modules in [at, end) of a built image while they fit.
struct RowFill {
  std::uint32_t at = 0;
  std::uint32_t end = 0;
};

testimg::ImageBuilder build_image(int layout, Reader& in, Pool& pool) {
  std::uint32_t sizes[REGION_COUNT];
  for (auto& s : sizes) s = in.le(2);
  const std::uint32_t size_byte = in.byte();

  std::uint32_t image_size = 0x8000;
  if (layout != 0) image_size = std::min<std::uint32_t>(0x2000 + (size_byte << 12), WINDOW_SIZE);
  testimg::ImageBuilder b(image_size, 0x00);
  const std::uint32_t base = b.base();
  RowFill rows[REGION_COUNT];

  if (layout == 0) {
    // Rows 0, 1, 2, 3 one after the other from the image's first byte, below the maps.
    std::uint32_t at = base;
    for (int row = 0; row < REGION_COUNT; ++row) {
      const std::uint32_t size = sizes[row] % 0x1C01;
      rows[row] = RowFill{at, at + size};
      at += size;
    }
    b.boot_map(BOOT_MAP_AT, 0, rows[0].at, rows[0].end, rows[1].at, rows[1].end);
    b.marker(MARKER_AT);
    b.main_map(MAIN_MAP_AT, 0x12345678, rows[2].at, rows[2].end, rows[3].at, rows[3].end);
  } else {
    // Main region 0 from the image's first byte; boot-block rows after it (layout 2).
    const std::uint32_t room = MAP_AREA - base;
    const std::uint32_t main_size = 1 + sizes[2] % std::min<std::uint32_t>(room / 2, 0xFFFF);
    rows[2] = RowFill{base, base + main_size};
    b.pack_map(0x12345678, base, base + main_size);
    if (layout == 2) {
      std::uint32_t at = base + main_size;
      for (int row = 0; row < 2; ++row) {
        const std::uint32_t size = std::min(sizes[row] % 0x2001, MAP_AREA - at);
        rows[row] = RowFill{at, at + size};
        at += size;
      }
      b.boot_map(BOOT_MAP_AT, 0, rows[0].at, rows[0].end, rows[1].at, rows[1].end);
    }
  }
  for (const RowFill& r : rows)
    if (r.end > r.at) b.erase(r.at, r.end);

  // Modules placed before loading.
  const unsigned modules = in.byte() % 16;
  for (unsigned i = 0; i < modules; ++i) {
    RowFill& r = rows[in.byte() % REGION_COUNT];
    const std::uint16_t type_id = type_of(in.byte());
    const Bytes module = testimg::stored_module("PLACED.ROM", type_id, pool.take(in.le(2) % 0x800));
    if (r.end > r.at && module.size() + 1 <= r.end - r.at) r.at = b.add_module(r.at, module);
  }

  // Pokes: any byte of the image may be damaged.
  const unsigned pokes = in.byte() % 8;
  for (unsigned i = 0; i < pokes; ++i) {
    const std::uint32_t offset = in.le(3) % image_size;
    b.at(base + offset) = in.byte();
  }
  return b;
}

// --- The chain model -----------------------------------------------------------------

enum class WalkEnd { free_space, tail, region_end, invalid, overrun };

struct Chain {
  std::vector<Bytes> modules;            // each module's bytes, sum byte included
  std::vector<std::uint16_t> type_ids;
  std::vector<std::uint32_t> positions;
  WalkEnd how = WalkEnd::region_end;
  std::uint32_t end_pos = 0;             // where the walk stopped

  bool whole() const { return how == WalkEnd::free_space || how == WalkEnd::tail || how == WalkEnd::region_end; }
  int first_of(std::uint16_t type_id) const {
    for (std::size_t i = 0; i < type_ids.size(); ++i)
      if (type_ids[i] == type_id) return static_cast<int>(i);
    return -1;
  }
};

// The chain of a row: modules from its start while each lies inside the row, up to the
// free-space marker, a tail too short for one, the row's end or damage.
Chain walk(int row) {
  Chain c;
  const RegionDescriptor& r = image.regions[row];
  std::uint64_t pos = r.start;
  for (;;) {
    if (pos >= r.end) { c.how = WalkEnd::region_end; break; }
    if (r.end - pos < HDR_PACKED_SIZE + 4) { c.how = WalkEnd::tail; break; }
    const ChainEntry e = read_chain_entry(static_cast<std::uint32_t>(pos));
    if (e.mark == ChainMark::free_space) { c.how = WalkEnd::free_space; break; }
    if (e.mark == ChainMark::invalid) { c.how = WalkEnd::invalid; break; }
    if (e.length > r.end - pos) { c.how = WalkEnd::overrun; break; }
    const auto* p = image.window.base.data() + pos;
    c.modules.emplace_back(p, p + e.length);
    c.type_ids.push_back(e.type_id);
    c.positions.push_back(static_cast<std::uint32_t>(pos));
    pos += e.length;
  }
  c.end_pos = static_cast<std::uint32_t>(pos);
  return c;
}

// The regions in use do not overlap one another nor the packed map's start field, so
// each row's chain changes only through its own row.
bool rows_disjoint() {
  for (int a = 0; a < REGION_COUNT; ++a) {
    if (!region_in_use(a)) continue;
    const RegionDescriptor& ra = image.regions[a];
    if (image.packmap_mode && START_FIELD + 4 > ra.start && START_FIELD < ra.end) return false;
    for (int b = a + 1; b < REGION_COUNT; ++b) {
      const RegionDescriptor& rb = image.regions[b];
      if (region_in_use(b) && ra.start < rb.end && rb.start < ra.end) return false;
    }
  }
  return true;
}

bool erased_after(const Chain& c, int row) {
  const std::uint32_t end = image.regions[row].end;
  for (std::uint32_t p = c.end_pos; p < end; ++p)
    if (image.window.base[p] != 0xFF) return false;
  return true;
}

// Everything the checks compare against: the state before a step.
struct Snapshot {
  Bytes window;
  std::uint32_t image_size = 0;
  std::array<RegionDescriptor, REGION_COUNT> regions{};
  std::array<Chain, REGION_COUNT> chains;
  bool disjoint = false;
  std::uint32_t start_field = 0;
};

Snapshot take_snapshot() {
  Snapshot s;
  s.window = image.window.base;
  s.image_size = image.window.image_size;
  s.regions = image.regions;
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_in_use(row)) s.chains[row] = walk(row);
  s.disjoint = rows_disjoint();
  s.start_field = window_le32(START_FIELD);
  return s;
}

struct Span {
  std::uint32_t from;
  std::uint32_t to;
};

// The window is as before except inside `changeable`; bounds and image size hold.
void check_frame(const Snapshot& before, std::vector<Span> changeable) {
  if (image.window.base.size() != WINDOW_SIZE) broken("window is not 1 MiB");
  const std::uint32_t size = image.window.image_size;
  if (size > WINDOW_SIZE || size < before.image_size) broken("image size left its bounds");
  const std::uint32_t growth = size - before.image_size;
  for (int row = 0; row < REGION_COUNT; ++row) {
    const RegionDescriptor& r = image.regions[row];
    const RegionDescriptor& old = before.regions[row];
    if (r.start > WINDOW_SIZE || r.end > WINDOW_SIZE) broken("region bound outside the window");
    if (r.end != old.end) broken("a region end moved");
    const bool grown_row = image.packmap_mode && row == 2 && growth > 0;
    if (r.start != (grown_row ? old.start - growth : old.start)) broken("a region start moved without growth");
  }
  if (growth > 0) {
    if (!image.packmap_mode) broken("the image grew without a packed map");
    if (image.regions[2].start != WINDOW_SIZE - size) broken("a grown region does not begin the image");
    if (window_le32(START_FIELD) != before.start_field - growth) broken("start field not lowered by the growth");
    changeable.push_back(Span{START_FIELD, START_FIELD + 4});
  }
  std::sort(changeable.begin(), changeable.end(), [](Span a, Span b) { return a.from < b.from; });
  std::uint32_t pos = 0;
  auto same = [&](std::uint32_t from, std::uint32_t to) {
    if (to > from && std::memcmp(image.window.base.data() + from, before.window.data() + from, to - from) != 0)
      broken("window changed outside the rows the step may change");
  };
  for (const Span& s : changeable) {
    if (s.from > pos) same(pos, s.from);
    pos = std::max(pos, s.to);
  }
  same(pos, WINDOW_SIZE);
}

Span row_span(int row) { return Span{image.regions[row].start, image.regions[row].end}; }

// --- Steps ---------------------------------------------------------------------------

// With OPTMIX_FUZZ_TRACE set, the steps and their outcomes go to stderr (for looking
// into a reproducer or at what a corpus reaches).
bool tracing() {
  static const bool on = std::getenv("OPTMIX_FUZZ_TRACE") != nullptr;
  return on;
}

// The module of a packed-module file as it lies in a region.
Bytes placed_module(const Bytes& file) {
  const std::uint64_t length = std::uint64_t{file[HDR_SIZE]} + read_le(file.data() + HDR_PACKED_SIZE, 4) + 4;
  return testimg::with_sum_byte(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length - 1)));
}

// True when the model says some row of the target group must take a well-formed module
// of `length` bytes without growing.
bool must_fit(const Snapshot& before, std::uint16_t type_id, std::uint64_t length) {
  for (int row = 0; row < REGION_COUNT; ++row) {
    if (!region_takes_part(row)) continue;
    const Chain& c = before.chains[row];
    const std::uint32_t end = before.regions[row].end;
    const int i = c.first_of(type_id);
    if (i >= 0) {
      if (c.whole() && c.end_pos - c.modules[i].size() + length <= end) return true;
    } else if (c.how == WalkEnd::free_space && c.end_pos + length <= end) {
      return true;
    }
  }
  return false;
}

// Inserts `file` (written as the packed-module file) row by row as insert_module does;
// returns the row that took it, or -1.
int insert_rows(std::uint16_t type_id) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(DEFAULT_PACKED_NAME, "rb"), std::fclose);
  if (!f) broken("cannot open the packed-module file");
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_takes_part(row) && insert_into_region(row, f.get(), type_id) == 0) return row;
  return -1;
}

void check_insert(const Snapshot& before, int row, std::uint16_t type_id, const Bytes& file,
                  const Bytes* content) {
  if (tracing())
    std::fprintf(stderr, "  insert of %zu bytes: row %d, image %05X -> %05X\n", file.size(), row,
                 before.image_size, image.window.image_size);
  if (row < 0) {
    check_frame(before, {});
    if (image.window.image_size != before.image_size) broken("a refused insertion grew the image");
    if (content && before.disjoint && must_fit(before, type_id, file.size() + 1))
      broken("a module that fits was refused");
    return;
  }
  check_frame(before, {row_span(row)});
  if (!before.disjoint || !rows_disjoint()) return;

  const Chain& old = before.chains[row];
  std::vector<Bytes> expected = old.modules;
  const int replaced = old.first_of(type_id);
  if (replaced >= 0) expected.erase(expected.begin() + replaced);
  expected.push_back(placed_module(file));
  const Chain now = walk(row);
  // An append writes over the free-space marker and leaves what follows the new module
  // as it was, which may read as further modules; a replacement erases the rest first.
  const bool prefix = now.modules.size() >= expected.size() &&
                      std::equal(expected.begin(), expected.end(), now.modules.begin());
  if (!prefix || (replaced >= 0 && now.modules.size() != expected.size()))
    broken("the chain after an insertion is not the old one with the new module last");
  if (replaced >= 0 && !erased_after(now, row)) broken("the rest of the row is not erased after a replacement");

  // The new module comes back out when it is the first of its type id in the row.
  if (!content || now.first_of(type_id) != static_cast<int>(expected.size()) - 1) return;
  const Bytes window = image.window.base;
  int result = 1;
  try {
    result = extract_from_region(row, type_id, CHECK_NAME);
  } catch (const RunEnded& e) {
    broken("extracting an added module ended the run with " + std::to_string(e.status));
  }
  if (result != 0 || read_file(CHECK_NAME) != *content) broken("an added module did not extract to its content");
  if (tracing()) std::fprintf(stderr, "  extracted back\n");
  if (image.window.base != window) broken("extraction changed the window");
  std::remove(CHECK_NAME);
}

// Adds `content` as a module of `type_id`: stored as it is, or packed by pack_file.
void add_content(const Snapshot& before, std::uint16_t type_id, const Bytes& content, bool packed) {
  if (packed) {
    write_file(CONTENT_NAME, content);
    char load_text[16];
    std::snprintf(load_text, sizeof load_text, "%04X:0", type_id);
    pack_state.load_text = load_text;
    std::string path = CONTENT_NAME;
    pack_file(path, 0, "FUZZ.ROM");
    if (!pack_state.packed_file_written) broken("packing wrote no packed-module file");
  } else {
    write_file(DEFAULT_PACKED_NAME, testimg::stored_module("FUZZ.ROM", type_id, content));
  }
  const Bytes file = read_file(DEFAULT_PACKED_NAME);
  check_insert(before, insert_rows(type_id), type_id, file, &content);
}

// Inserts a packed-module file of raw pool bytes (optionally made to look like a module).
void add_raw(const Snapshot& before, std::uint16_t type_id, std::uint16_t size, Pool& pool) {
  Bytes file = pool.take(size % 0x1000);
  if ((size & 0x8000) && file.size() >= 5) std::memcpy(file.data() + 2, "-lh", 3);
  write_file(DEFAULT_PACKED_NAME, file);
  const int row = insert_rows(type_id);
  if (row < 0) {
    check_insert(before, row, type_id, file, nullptr);
    return;
  }
  // A placed module was recognisable and its file held all its bytes.
  if (file.size() < HDR_TYPE_ID + 2) broken("a file shorter than a header was inserted");
  const std::uint64_t length = std::uint64_t{file[HDR_SIZE]} + read_le(file.data() + HDR_PACKED_SIZE, 4) + 4;
  if (length - 1 > file.size()) broken("a file shorter than its module was inserted");
  check_insert(before, row, type_id, file, nullptr);
}

// Adds through insert_module itself: only the frame can be checked.
void add_public(const Snapshot& before, std::uint16_t type_id, const Bytes& content) {
  write_file(DEFAULT_PACKED_NAME, testimg::stored_module("FUZZ.ROM", type_id, content));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(DEFAULT_PACKED_NAME, "rb"), std::fclose);
  if (!f) broken("cannot open the packed-module file");
  insert_module(f.get(), type_id);
  std::vector<Span> rows;
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_takes_part(row)) rows.push_back(row_span(row));
  check_frame(before, rows);
}

void release(const Snapshot& before, std::uint16_t type_id) {
  const int result = release_module(type_id);
  std::vector<Span> changeable;
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_takes_part(row)) changeable.push_back(row_span(row));
  check_frame(before, changeable);
  if (image.window.image_size != before.image_size) broken("a release changed the image size");
  if (!before.disjoint) return;

  bool any = false;
  for (int row = 0; row < REGION_COUNT; ++row) {
    if (!region_takes_part(row)) continue;
    const Chain& old = before.chains[row];
    const int i = old.first_of(type_id);
    const auto span = row_span(row);
    const bool same = std::equal(image.window.base.begin() + span.from, image.window.base.begin() + span.to,
                                 before.window.begin() + span.from);
    if (i < 0 || !old.whole()) {
      if (!same) broken("a row without a whole chain holding the type id changed in a release");
      continue;
    }
    any = true;
    std::vector<Bytes> expected = old.modules;
    expected.erase(expected.begin() + i);
    const Chain now = walk(row);
    if (now.modules != expected) broken("the chain after a release is not the old one without the module");
    if (!erased_after(now, row)) broken("the rest of the row is not erased after a release");
  }
  if ((result == 0) != any) broken("release result disagrees with the chains");
}

// Ends the step sequence (the run would have ended) when the step ended the run.
bool extract(const Snapshot& before, std::uint16_t type_id) {
  int result = 1;
  try {
    result = extract_module(type_id, EXTRACT_NAME);
  } catch (const RunEnded& e) {
    if (e.status != 1) broken("extraction ended the run with " + std::to_string(e.status));
    return false;
  }
  check_frame(before, {});
  if (file_exists("FILE_BUF.BIN") || file_exists(UNPACKED_FILE_NAME)) broken("extraction left a working file");
  if (result == 0 && !file_exists(EXTRACT_NAME)) broken("extraction reported success without output");
  bool found = false;
  for (int row = 0; row < REGION_COUNT; ++row)
    if (region_takes_part(row) && before.chains[row].first_of(type_id) >= 0) found = true;
  if ((result == 0) != found) broken("extraction result disagrees with the chains");
  std::remove(EXTRACT_NAME);
  return true;
}

bool list(const Snapshot& before) {
  const bool ended = list_into(LISTING_NAME);
  std::remove(LISTING_NAME);
  check_frame(before, {});
  return !ended;
}

void gap(const Snapshot& before, std::uint16_t size, std::uint8_t selector, Pool& pool) {
  const int row = size % REGION_COUNT;
  const RegionDescriptor r = image.regions[row];
  const Chain& c = before.chains[row];
  std::uint32_t pos = r.start;
  std::uint32_t length = 0;
  if ((selector & 1) && !c.modules.empty()) {
    // A module of the chain, as a release would remove it.
    const std::size_t i = (size >> 2) % c.modules.size();
    pos = c.positions[i];
    length = static_cast<std::uint32_t>(c.modules[i].size());
  } else {
    const Bytes n = pool.take(4);
    pos = r.start + static_cast<std::uint32_t>(read_le(n.data(), 2));
    length = read_le(n.data() + 2, 2);
  }
  const std::uint32_t end = (selector & 2) ? r.end : r.end + (selector >> 2);
  close_gap(pos, length, end);
  const bool valid = end <= WINDOW_SIZE && pos <= end && length <= end - pos;
  check_frame(before, valid ? std::vector<Span>{Span{pos, end}} : std::vector<Span>{});
  if (!valid || !(selector & 1) || c.modules.empty() || end != r.end || !before.disjoint) return;
  std::vector<Bytes> expected = c.modules;
  expected.erase(expected.begin() + static_cast<std::ptrdiff_t>((size >> 2) % c.modules.size()));
  const Chain now = walk(row);
  if (now.modules != expected) broken("close_gap did not remove exactly the module");
  if (!erased_after(now, row)) broken("the rest of the row is not erased after close_gap");
}

void trace_step(const Step& step, std::uint16_t type_id, const Snapshot& before) {
  if (!tracing()) return;
  std::fprintf(stderr, "step %d type %04X size %u; image %05X group %d%s\n", step.kind % 8, type_id,
               step.size, before.image_size, image.target_group, before.disjoint ? "" : " (rows overlap)");
  for (int row = 0; row < REGION_COUNT; ++row) {
    const Chain& c = before.chains[row];
    std::fprintf(stderr, "  row %d [%05X, %05X) %zu modules, walk ends at %05X (%d)\n", row,
                 before.regions[row].start, before.regions[row].end, c.modules.size(), c.end_pos,
                 static_cast<int>(c.how));
  }
}

// One step; false when it ended the run (only extraction and listing may end it).
bool run_step(const Step& step, Pool& pool) {
  const Snapshot before = take_snapshot();
  const std::uint16_t type_id = type_of(step.type_selector);
  const int kind = step.kind % 8;
  trace_step(step, type_id, before);
  if (kind == 5) return extract(before, type_id);
  if (kind == 6) return list(before);
  try {
    switch (kind) {
      case 0: add_content(before, type_id, pool.take(step.size % 0x4000), false); break;
      case 1: add_content(before, type_id, pool.take(step.size % 0x4000), true); break;
      case 2: add_raw(before, type_id, step.size, pool); break;
      case 3: add_public(before, type_id, pool.take(step.size % 0x4000)); break;
      case 4: release(before, type_id); break;
      default:
        if (step.size & 0x8000) image.target_group ^= 1;
        else gap(before, step.size, step.type_selector, pool);
        break;
    }
  } catch (const RunEnded& e) {
    broken("step " + std::to_string(kind) + " ended the run with " + std::to_string(e.status));
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputScope scope;
  Reader in(data, size);
  const std::uint8_t layout_byte = in.byte();
  const int layout = layout_byte & 3;
  std::vector<Step> steps(in.byte() % 16 + 1);
  for (Step& s : steps) {
    s.kind = in.byte();
    s.type_selector = in.byte();
    s.size = static_cast<std::uint16_t>(in.le(2));
  }

  Bytes image_bytes;
  Pool pool({});
  if (layout == 3) {
    image_bytes = in.rest();
    pool = Pool(image_bytes);
  } else {
    // The pool is what follows the geometry, the placed modules and the pokes; it is
    // found first so that the placed modules can be cut from it.
    Reader probe = in;
    for (int i = 0; i < REGION_COUNT; ++i) probe.le(2);
    probe.byte();
    const unsigned modules = probe.byte() % 16;
    for (unsigned i = 0; i < modules; ++i) probe.le(4);
    const unsigned pokes = probe.byte() % 8;
    for (unsigned i = 0; i < pokes; ++i) probe.le(4);
    pool = Pool(probe.rest());
    image_bytes = build_image(layout, in, pool).bytes;
  }
  write_file(IMAGE_NAME, image_bytes);
  if (load_image(IMAGE_NAME) != 0) return 0;
  image.target_group = (layout_byte >> 2) & 1;

  for (const Step& step : steps)
    if (!run_step(step, pool)) break;
  return 0;
}
