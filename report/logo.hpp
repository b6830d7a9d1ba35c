// The two logo conversions: 16-colour bitmap to the planar AWBM logo, and the 640 x 480
// 256-colour full-screen logo.
#pragma once

#include <string>

// Converts the 16-colour bitmap `input_name` (untrusted; missing bytes read as 0) into
// the AWBM logo `output_name`.  Width above 640 or height above 480 prints
// "BMP size exceed, max size is 640x480\n" and ends the process with exit code 57.
void convert_logo_bitmap(const std::string& input_name, const std::string& output_name,
                         bool preset_grey_blue, bool preset_black_white);

// Prepares the 640 x 480 8-bit bitmap `bitmap_name` (rows turned top first) in
// "FILE_TEM.STV", packs it under `display_name` (the name as the user typed it; the
// bitmap's own name when empty) and removes the work file.
// true: accepted and packed; false: refused, nothing written.
bool prepare_fullscreen_logo(const std::string& bitmap_name, const std::string& display_name = {});
