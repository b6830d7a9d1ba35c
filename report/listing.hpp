// The /D report: every module of every non-empty region with the space totals, and the
// microcode table of a region that holds a microcode module.
#pragma once

// Prints the combined-module listing on stdout for all non-empty regions in table order
// (whatever target_group says); removes a leftover "CPU_FILE.STV" first.  The first
// microcode module of a region is unpacked in passing (FILE_BUF.BIN, original.tmp,
// CPU_FILE.STV; none stays) and its table follows the region's totals.  A region's walk
// ends at the free-space marker or the region's end; a position that is neither free
// space nor a module, or a module running past its region or the window, prints
// "BIOS Invalid \n" (no row for it) before the totals.  The image is untrusted and never
// changed.  A microcode module with a wrong header sum ends the run inside unpack_file
// (fatal "Header sum error", exit code 1).
void list_combined_modules();

// Prints the three heading lines of the microcode table and one cell per update of
// "CPU_FILE.STV" (untrusted; reads stop quietly at the file end or at an offset entry
// 0xFFFF), four cells to a line joined by "  |  ", the last unfinished line without a
// line break; then deletes the file.  A missing file gives the headings only.
void report_microcode();
