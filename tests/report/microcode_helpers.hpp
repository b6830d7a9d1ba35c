// Hand-made unpacked microcode modules ("CPU_FILE.STV" content) for the report tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/image_builder.hpp"

namespace mctest {

using testimg::Bytes;

struct Update {
  std::uint32_t flags, revision, signature;
};

inline void put_le32(Bytes& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// 8 unused bytes, the offset table (one entry per update, then 0xFFFF unless
// `terminated` is false), then the 48-byte update headers (other bytes 0xEE).
inline Bytes microcode_content(const std::vector<Update>& updates, bool terminated = true) {
  const std::size_t table_entries = updates.size() + (terminated ? 1 : 0);
  const std::size_t first_header = 8 + 4 * table_entries;
  Bytes out(first_header + 48 * updates.size(), 0xEE);
  for (std::size_t i = 0; i < 8; ++i) out[i] = 0;
  for (std::size_t i = 0; i < updates.size(); ++i) {
    const std::size_t at = first_header + 48 * i;
    put_le32(out, 8 + 4 * i, static_cast<std::uint32_t>(at));
    put_le32(out, at + 4, updates[i].revision);
    put_le32(out, at + 12, updates[i].signature);
    put_le32(out, at + 24, updates[i].flags);
  }
  if (terminated) put_le32(out, 8 + 4 * updates.size(), 0x0000FFFF);
  return out;
}

// Four, or five updates with distinct fields.
inline std::vector<Update> updates(int count) {
  std::vector<Update> out;
  for (int i = 0; i < count; ++i)
    out.push_back({static_cast<std::uint32_t>(1u << i), static_cast<std::uint32_t>(0x10 + i),
                   static_cast<std::uint32_t>(0x0680 + i)});
  return out;
}

inline const std::string MICROCODE_HEADING =
    "\n     ** Micro Code Information **\n"
    "Update ID  CPUID  |  Update ID  CPUID  |  Update ID  CPUID  |  Update ID  CPUID\n"
    "------------------+--------------------+--------------------+------------------\n";

// The table text of updates(4) and updates(5).
inline const std::string FOUR_CELLS =
    "   01  10   0680  |     02  11   0681  |     04  12   0682  |     08  13   0683\n";
inline const std::string FIVE_CELLS = FOUR_CELLS + "   10  14   0684  |  ";

}  // namespace mctest
