// Ending the process.  Every path that ends a run goes through end_run().  The shipped
// tool exits; a program that must survive these paths (a fuzzing target) installs a
// handler that leaves by an exception instead.
#pragma once

// Prints `message` and a line end ("%s\n") on standard output and ends the run with
// exit code 1 through end_run.  The exit handler that removes "TEMP01" still runs.
[[noreturn]] void fatal(const char* message);

// Flushes standard output and ends the run with `status` (see driver/exit_codes.hpp):
// calls the installed end-of-run handler with the status, or, when there is none or it
// returns, exits the process with that status.
[[noreturn]] void end_run(int status);

// An end-of-run handler receives the exit status and must not return (it throws or
// jumps away); one that returns lets end_run exit the process as usual.
using EndRunHandler = void (*)(int status);

// Installs `handler` for every later end_run (nullptr: exit, the shipped behaviour) and
// returns the handler installed before.
EndRunHandler set_end_run_handler(EndRunHandler handler);
