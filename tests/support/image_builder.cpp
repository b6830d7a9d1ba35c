// Synthetic images and modules for the tests and the sample image.
#include "tests/support/image_builder.hpp"

#include <cstdio>
#include <stdexcept>

namespace testimg {

std::uint16_t crc16(const Bytes& data) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

static void append_le(Bytes& out, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes module_file(const std::string& name, std::uint16_t type_id, const Bytes& packed,
                  std::uint32_t original_size, std::uint16_t crc, char method,
                  std::uint16_t load_offset) {
  if (name.size() > 230) throw std::invalid_argument("module name too long");
  Bytes out;
  out.push_back(static_cast<std::uint8_t>(name.size() + 25));
  out.push_back(0);  // header sum, below
  for (char c : std::string("-lh") + method + "-") out.push_back(static_cast<std::uint8_t>(c));
  append_le(out, static_cast<std::uint32_t>(packed.size()), 4);
  append_le(out, original_size, 4);
  append_le(out, load_offset, 2);
  append_le(out, type_id, 2);
  out.push_back(0x20);
  out.push_back(0x01);
  out.push_back(static_cast<std::uint8_t>(name.size()));
  for (char c : name) out.push_back(static_cast<std::uint8_t>(c));
  append_le(out, crc, 2);
  out.push_back(0x20);
  append_le(out, 0, 2);
  unsigned sum = 0;
  for (std::size_t i = 2; i < out.size(); ++i) sum += out[i];
  out[1] = static_cast<std::uint8_t>(sum);
  out.insert(out.end(), packed.begin(), packed.end());
  out.push_back(0x00);
  return out;
}

Bytes stored_module(const std::string& name, std::uint16_t type_id, const Bytes& data,
                    std::uint16_t load_offset) {
  return module_file(name, type_id, data, static_cast<std::uint32_t>(data.size()), crc16(data), '0',
                     load_offset);
}

Bytes with_sum_byte(const Bytes& module) {
  Bytes out = module;
  unsigned sum = 0;
  for (std::uint8_t b : module) sum += b;
  out.push_back(static_cast<std::uint8_t>(sum));
  return out;
}

Bytes pseudo_random(std::size_t count, std::uint32_t seed) {
  Bytes out(count);
  std::uint32_t x = seed ? seed : 0x9E3779B9u;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

ImageBuilder::ImageBuilder(std::uint32_t image_size, std::uint8_t fill)
    : size(image_size), bytes(image_size, fill) {}

std::uint8_t& ImageBuilder::at(std::uint32_t window_offset) {
  if (window_offset < base() || window_offset >= 0x100000) throw std::out_of_range("outside the image");
  return bytes[window_offset - base()];
}

void ImageBuilder::put(std::uint32_t window_offset, const Bytes& data) {
  for (std::size_t i = 0; i < data.size(); ++i) at(static_cast<std::uint32_t>(window_offset + i)) = data[i];
}

void ImageBuilder::put_text(std::uint32_t window_offset, const std::string& text) {
  put(window_offset, Bytes(text.begin(), text.end()));
}

void ImageBuilder::put_le32(std::uint32_t window_offset, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i) at(window_offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t ImageBuilder::le32(std::uint32_t window_offset) const {
  std::uint32_t v = 0;
  for (std::uint32_t i = 4; i-- > 0;) v = (v << 8) | bytes.at(window_offset - base() + i);
  return v;
}

void ImageBuilder::boot_map(std::uint32_t where, std::uint32_t flags, std::uint32_t r0_start,
                            std::uint32_t r0_end, std::uint32_t r1_start, std::uint32_t r1_end) {
  put_text(where, "VELK_BROMMAP");
  put_le32(where + 12, flags);
  put_le32(where + 16, 0);
  put_le32(where + 20, r0_start);
  put_le32(where + 24, r0_end);
  put_le32(where + 28, r1_start);
  put_le32(where + 32, r1_end);
}

void ImageBuilder::marker(std::uint32_t where) { put_text(where, "= Pelix Decompression Bios ="); }

void ImageBuilder::main_map(std::uint32_t where, std::uint32_t map_word, std::uint32_t r0_start,
                            std::uint32_t r0_end, std::uint32_t r1_start, std::uint32_t r1_end) {
  put_text(where, "VELK_NROMMAP");
  put_le32(where + 12, map_word);
  put_le32(where + 16, r0_start);
  put_le32(where + 20, r0_end);
  put_le32(where + 24, r1_start);
  put_le32(where + 28, r1_end);
}

void ImageBuilder::pack_map(std::uint32_t map_word, std::uint32_t start, std::uint32_t end) {
  put_text(0xFFFE0, "VELK_PACKMAP");
  put_le32(0xFFFEC, map_word);
  put_le32(0xFFFF0, start);
  put_le32(0xFFFF4, end);
}

void ImageBuilder::erase(std::uint32_t start, std::uint32_t end) {
  for (std::uint32_t p = start; p < end; ++p) at(p) = 0xFF;
}

std::uint32_t ImageBuilder::add_module(std::uint32_t where, const Bytes& module) {
  Bytes placed = with_sum_byte(module);
  put(where, placed);
  return where + static_cast<std::uint32_t>(placed.size());
}

void ImageBuilder::write(const std::string& path) const {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  std::size_t n = std::fwrite(bytes.data(), 1, bytes.size(), f);
  if (std::fclose(f) != 0 || n != bytes.size()) throw std::runtime_error("cannot write " + path);
}

ImageBuilder standard_image() {
  using L = StandardLayout;
  ImageBuilder b(0x100000);
  b.boot_map(L::boot_map_at, 0, L::boot0_start, L::boot0_end, L::boot1_start, L::boot1_end);
  b.marker(L::marker_at);
  b.main_map(L::main_map_at, L::map_word, L::main0_start, L::main0_end, L::main1_start, L::main1_end);
  b.erase(L::boot0_start, L::boot1_end);
  b.erase(L::main0_start, L::main1_end);
  return b;
}

}  // namespace testimg
