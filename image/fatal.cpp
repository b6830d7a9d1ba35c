// The process-ending paths of the tool: by default a plain exit with the given status, so
// that atexit handlers (removal of "TEMP01") run and stdio buffers are flushed.  An
// installed end-of-run handler is called first; only one that returns lets the exit
// happen.
#include "image/fatal.hpp"

#include <cstdio>
#include <cstdlib>

#include "driver/exit_codes.hpp"

namespace {

EndRunHandler end_run_handler = nullptr;

}  // namespace

EndRunHandler set_end_run_handler(EndRunHandler handler) {
  const EndRunHandler previous = end_run_handler;
  end_run_handler = handler;
  return previous;
}

void fatal(const char* message) {
  std::printf("%s\n", message);
  end_run(EXIT_USAGE);
}

void end_run(int status) {
  std::fflush(stdout);
  if (end_run_handler != nullptr) end_run_handler(status);
  std::exit(status);
}
