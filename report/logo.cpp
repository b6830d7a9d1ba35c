// Placeholder until the logo conversions land.
#include "report/logo.hpp"

#include "image/fatal.hpp"

void convert_logo_bitmap(const std::string&, const std::string&, bool, bool) {
  fatal("logo conversion not built yet");
}
bool prepare_fullscreen_logo(const std::string&, const std::string&) { fatal("256-colour logo preparation not built yet"); }
