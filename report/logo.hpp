// The two logo conversions: 16-colour bitmap to the planar AWBM logo, and the 640 x 480
// 256-colour full-screen logo.
#pragma once

#include <string>

// Converts the 16-colour bitmap `input_name` (untrusted; bytes it does not hold read as
// 0) into the AWBM logo `output_name`: "AWBM", W, H, rows of four bit planes top row
// first, "RGB " and 16 slot colours.  The presets fix slots 7 and 9 (grey, blue) and
// 0 and 15 (black, white).  Width above 640 or height above 480 prints "BMP size
// exceed, max size is 640x480\n" on stdout and ends the process with exit code 57 (the
// output then holds its 8-byte header).  When the input cannot be opened or is not a
// regular file, or the output cannot be created or written, no output file is left.
void convert_logo_bitmap(const std::string& input_name, const std::string& output_name,
                         bool preset_grey_blue, bool preset_black_white);

// Prepares the 640 x 480 8-bit bitmap `bitmap_name` (untrusted): its first 1078 bytes
// (colours-used 0 stored as 256) and its rows turned top first go to "FILE_TEM.STV",
// which is packed (pack_file, announce on, stored under `display_name`, the name as the
// user typed it, or `bitmap_name` when that is empty) and removed.
// true: accepted (packed unless the work file could not be written; then
// pack_state.packed_file_written stays false).  false: refused - not a regular file, not
// 640 x 480 at 8 bits, colours used above 256, or the file too short for its rows - and
// nothing written.
// Clears pack_state.packed_file_written on entry.
bool prepare_fullscreen_logo(const std::string& bitmap_name, const std::string& display_name = {});
