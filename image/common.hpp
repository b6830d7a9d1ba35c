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
// "BIOS Invalid \n".  A row beyond the table prints "internal error ..." and ends the
// process with exit code -1.
int insert_into_region(int row, std::FILE* packed_file, std::uint16_t type_id);

// Removes the module of `length` bytes at `pos`: the modules after it move down and the
// rest of the region up to `region_end` is filled with 0xFF.
void close_gap(std::uint32_t pos, std::uint32_t length, std::uint32_t region_end);

// 0 when at least one region of the target group released a module of `type_id`, 1 when
// none did.
int release_module(std::uint16_t type_id);
int release_from_region(int row, std::uint16_t type_id);

// 0 when the first module of `type_id` (rows in table order) was unpacked into
// `output_name`, 1 when none was found or the output could not be given that name.
int extract_module(std::uint16_t type_id, const std::string& output_name);
int extract_from_region(int row, std::uint16_t type_id, const std::string& output_name);
