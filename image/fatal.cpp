// The process-ending paths of the shipped tool: plain exit with the given status, so
// that atexit handlers (removal of "TEMP01") run and stdio buffers are flushed.
#include "image/fatal.hpp"

#include <cstdio>
#include <cstdlib>

#include "driver/exit_codes.hpp"

void fatal(const char* message) {
  std::printf("%s\n", message);
  end_run(EXIT_USAGE);
}

void end_run(int status) {
  std::fflush(stdout);
  std::exit(status);
}
