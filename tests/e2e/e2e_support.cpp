#include "tests/e2e/e2e_support.hpp"

#include <algorithm>

namespace e2e {

static std::uint32_t le(const Bytes& b, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width; i-- > 0;) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
  return v;
}

Bytes window_bytes(const Bytes& image, std::uint32_t start, std::uint32_t end) {
  const std::uint32_t base = 0x100000 - static_cast<std::uint32_t>(image.size());
  return Bytes(image.begin() + (start - base), image.begin() + (end - base));
}

std::vector<ChainModule> chain(const Bytes& image, std::uint32_t start, std::uint32_t end) {
  const std::uint32_t base = 0x100000 - static_cast<std::uint32_t>(image.size());
  std::vector<ChainModule> out;
  std::uint32_t pos = start;
  while (pos + 27 <= end) {
    const std::size_t f = pos - base;
    if (le(image, f + 7, 4) == 0xFFFFFFFFu) break;
    if (image[f + 2] != '-' || image[f + 3] != 'l' || image[f + 4] != 'h') break;
    ChainModule m;
    m.pos = pos;
    m.method = static_cast<char>(image[f + 5]);
    m.packed = le(image, f + 7, 4);
    m.original = le(image, f + 11, 4);
    m.load_offset = static_cast<std::uint16_t>(le(image, f + 15, 2));
    m.type_id = static_cast<std::uint16_t>(le(image, f + 17, 2));
    const std::size_t n = image[f + 21];
    m.name.assign(image.begin() + static_cast<long>(f + 22), image.begin() + static_cast<long>(f + 22 + n));
    const std::uint64_t length = std::uint64_t{image[f]} + m.packed + 4;
    if (length > end - pos) break;
    m.length = static_cast<std::uint32_t>(length);
    m.file.assign(image.begin() + static_cast<long>(f), image.begin() + static_cast<long>(f + m.length - 1));
    m.sum = image[f + m.length - 1];
    out.push_back(m);
    pos += m.length;
  }
  return out;
}

std::uint8_t sum8(const Bytes& data) {
  unsigned s = 0;
  for (auto b : data) s += b;
  return static_cast<std::uint8_t>(s);
}

std::string adding_line(const std::string& shown_name, const Bytes& module) {
  std::uint32_t a = le(module, 7, 4), b = le(module, 11, 4);
  for (int i = 0; i < 3; ++i) {
    if (a <= 0x19999999u) a *= 10;
    else b /= 10;
  }
  if (a + b / 2 < a) {
    a /= 2;
    b /= 2;
  }
  const std::uint32_t r = b == 0 ? 0 : (a + b / 2) / b;
  return "Adding " + shown_name + "  " + std::to_string(r / 10) + "." + std::to_string(r % 10) + "%\n";
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes code_like(std::size_t size, std::uint32_t seed) {
  Bytes block = testimg::pseudo_random(700, seed);
  Bytes out;
  out.reserve(size);
  std::size_t k = 0;
  while (out.size() < size) {
    block[(k * 37) % block.size()] ^= static_cast<std::uint8_t>(k);
    out.insert(out.end(), block.begin(), block.end());
    ++k;
  }
  out.resize(size);
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t dots(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '.')); }

}  // namespace e2e

#include <cstdio>

#include "report/listing_internal.hpp"

namespace e2e {

using listing_internal::k_figure;

std::string listed_region(const std::string& region_name, std::uint32_t space,
                          const std::vector<ListedModule>& rows) {
  char line[512];
  std::string out = "\n              ******** " + region_name + " ********\n\n";
  out += " No. Item-Name        Original-Size   Compressed-Size Original-File-Name \n";
  out += std::string(79, '=') + "\n";
  std::uint32_t total = 0;
  int number = 0;
  for (const ListedModule& m : rows) {
    const std::string original = [&] {
      char c[64];
      std::snprintf(c, sizeof c, "%05X(%sK)", m.original, k_figure(m.original).c_str());
      return std::string(c);
    }();
    const std::string taken = [&] {
      char c[64];
      std::snprintf(c, sizeof c, "%05Xh(%sK)", m.length, k_figure(m.length).c_str());
      return std::string(c);
    }();
    std::snprintf(line, sizeof line, " %2d. %-16s %-15s %-15s %s\n", number++, m.item.c_str(), original.c_str(),
                  taken.c_str(), m.name.c_str());
    out += line;
    total += m.length;
  }
  std::snprintf(line, sizeof line, "\n  Total compress code space  = %05Xh(%sK)\n", space, k_figure(space).c_str());
  out += line;
  std::snprintf(line, sizeof line, "  Total compressed code size = %05Xh(%sK)\n", total, k_figure(total).c_str());
  out += line;
  std::snprintf(line, sizeof line, "  Remain compress code space = %05Xh(%sK)\n", space - total,
                k_figure(space - total).c_str());
  out += line;
  return out;
}

}  // namespace e2e
