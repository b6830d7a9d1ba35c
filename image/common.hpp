// The region operations: inserting a packed module into the regions of the target
// group, releasing and extracting modules of a type id.  All work on the window;
// nothing reaches the image file before write-back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Places the module of the open packed-module file into the first region of the target
// group that takes it (rows 0 to 3 in order).  Prints "No enough space for adding ROM.\n"
// when none does.  The file is only seeked and read.
void insert_module(std::FILE* packed_file, std::uint16_t type_id);

// 0: placed in region `row`; -1: this region did not take it (unchanged).  May print
// "BIOS Invalid \n".  The region described by the packed map (packmap_mode, row 2) may
// be grown downwards; a growth or walk that would leave the window, make the image
// longer than 1 MiB or the packed map's start field 0 is refused (-1, no message).  A
// packed-module file shorter than its header claims is refused.  A row beyond the
// table prints "internal error image/common.cpp 274\n" and ends the process with -1.
int insert_into_region(int row, std::FILE* packed_file, std::uint16_t type_id);

// Removes the module of `length` bytes at `pos`: the modules after it move down and the
// rest of the region up to `region_end` is filled with 0xFF.  Moving stops at the first
// position that is not a module lying inside the region.  Arguments outside the window
// or the region change nothing.
void close_gap(std::uint32_t pos, std::uint32_t length, std::uint32_t region_end);

// 0 when at least one region of the target group released a module of `type_id`, 1 when
// none did.
int release_module(std::uint16_t type_id);
// 0: the row's first module of `type_id` was removed; 1: none, or the row's chain is
// broken before or after it (nothing changed).  A row beyond the table prints
// "internal error image/common.cpp 541\n" and ends the process with -1.
int release_from_region(int row, std::uint16_t type_id);

// 0 when the first module of `type_id` (rows in table order) was unpacked into
// `output_name`, 1 when none was found or the output could not be given that name.
// Unpacking may end the run (fatal "Header sum error", "Can't read", "Bad table").
int extract_module(std::uint16_t type_id, const std::string& output_name);
// Per row; leaves no "FILE_BUF.BIN" or "original.tmp" behind.  A row beyond the table
// prints "internal error image/common.cpp 462\n" and ends the process with -1.
int extract_from_region(int row, std::uint16_t type_id, const std::string& output_name);
