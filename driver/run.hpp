// The run driver: the program's entry and the walk over the option pairs.
#pragma once

// Runs the tool on argv[1..argc-1] and ends the process with its exit code.
[[noreturn]] void run_optmix(int argc, char** argv);
