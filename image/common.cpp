// Placeholder until the region operations land.
#include "image/common.hpp"

#include "image/fatal.hpp"

void insert_module(std::FILE*, std::uint16_t) { fatal("adding modules not built yet"); }
int insert_into_region(int, std::FILE*, std::uint16_t) { fatal("adding modules not built yet"); }
void close_gap(std::uint32_t, std::uint32_t, std::uint32_t) { fatal("release not built yet"); }
int release_module(std::uint16_t) { fatal("release not built yet"); }
int release_from_region(int, std::uint16_t) { fatal("release not built yet"); }
int extract_module(std::uint16_t, const std::string&) { fatal("extraction not built yet"); }
int extract_from_region(int, std::uint16_t, const std::string&) { fatal("extraction not built yet"); }
