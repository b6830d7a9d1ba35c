// The /D report: every module of every non-empty region with the space totals, and the
// microcode table of a region that holds a microcode module.
#pragma once

// Prints the combined-module listing on stdout for all four regions in table order.
// Unpacks a microcode module in passing (FILE_BUF.BIN, original.tmp, CPU_FILE.STV).
// A chain position that is neither free space nor a module, or a module running past
// its region, prints "BIOS Invalid \n" and ends that region's rows.
void list_combined_modules();

// Prints the microcode update table of "CPU_FILE.STV" and deletes the file.
void report_microcode();
