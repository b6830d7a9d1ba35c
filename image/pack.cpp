// Placeholder until packing lands.
#include "image/pack.hpp"

#include "image/fatal.hpp"

PackState pack_state;
void reset_pack_state() { pack_state = PackState{}; }

int pack_file(std::string&, std::uint8_t, const char*) { fatal("packing not built yet"); }
void unpack_file(const std::string&) { fatal("unpacking not built yet"); }
