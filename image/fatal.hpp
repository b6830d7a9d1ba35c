// Ending the process.  Every path that ends a run goes through end_run(), so that a
// fuzzing build can link a replacement (fuzz/throwing_exit.cpp) that throws instead.
#pragma once

// Prints `message` and a line end ("%s\n") on standard output and ends the process
// with exit code 1.  The exit handler that removes "TEMP01" still runs.
[[noreturn]] void fatal(const char* message);

// Flushes standard output and ends the process with `status` (see driver/exit_codes.hpp).
[[noreturn]] void end_run(int status);
