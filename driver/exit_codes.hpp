// Every exit status the tool can end with, in one place.  Each call that ends the
// process names one of these.
#pragma once

inline constexpr int EXIT_NORMAL = 0;          // normal end, image written back
inline constexpr int EXIT_USAGE = 1;           // usage text, "Bad usage.", refused address, fatal()
inline constexpr int EXIT_NO_MEMORY = 10;      // the copy buffer cannot be allocated
inline constexpr int EXIT_NO_OPERAND = 52;     // an option that needs an operand has none
inline constexpr int EXIT_OPEN_INPUT = 54;     // an input file or ACPITBL.EXE cannot be opened
inline constexpr int EXIT_PACKED_INPUT = 55;   // the input is already LZH-packed
inline constexpr int EXIT_BITMAP_SIZE = 57;    // a logo bitmap larger than 640 x 480
inline constexpr int EXIT_BAD_IMAGE = 75;      // the image cannot be loaded or identified
inline constexpr int EXIT_INTERNAL = -1;       // region index beyond the table (status 255)
