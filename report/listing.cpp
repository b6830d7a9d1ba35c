// Placeholder until the listing lands.
#include "report/listing.hpp"

#include "image/fatal.hpp"

void list_combined_modules() { fatal("the /D listing is not built yet"); }
void report_microcode() { fatal("the microcode report is not built yet"); }
