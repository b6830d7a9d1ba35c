#include "driver/run.hpp"

#include "driver/exit_codes.hpp"
#include "driver/items.hpp"
#include "image/fatal.hpp"

void run_optmix(int argc, char** argv) {
  if (argc < 3 || find_option(argv[2]) < 0) print_usage();
  end_run(EXIT_NORMAL);
}
