// Packing a file into the packed-module file ("bios.rom": header, -lh5- or -lh0- data,
// end byte) and unpacking a one-module file into "original.tmp".
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* TEMP_FILE_NAME = "TEMP01";
inline constexpr const char* UNPACKED_FILE_NAME = "original.tmp";
inline constexpr const char* DEFAULT_PACKED_NAME = "bios.rom";

// What packing keeps for the run.  The run driver sets load_text for every pair;
// packed_file_name is "bios.rom" between pairs.
struct PackState {
  std::string load_text = "7000:0";          // current load text, parsed into the header
  std::string packed_file_name = DEFAULT_PACKED_NAME;
  bool exit_handler_registered = false;
  bool packed_file_written = false;          // the last pack_file reached its final rename
};
extern PackState pack_state;
void reset_pack_state();

// Packs the file `input_path` into TEMP01 and renames it to pack_state.packed_file_name.
// The header stores `display_name` (or the input path when null) and the load fields of
// pack_state.load_text.  With `announce` non-zero prints "Adding %s " and " %d.%d%%\n"
// on stdout and progress dots on stderr.  When the input cannot be opened prints
// "Can't open %s\n" on stderr, empties `input_path` and leaves the packed-module file
// untouched.  pack_state.packed_file_written is cleared on entry and set only when TEMP01
// was renamed to the packed-module file name.  A name longer than 230 bytes is fatal("Name too long: <name>").
// fatal("Can't open temporary file"), fatal("Can't write"), fatal("Unable to write")
// end the process with exit code 1.  Always returns 0.
int pack_file(std::string& input_path, std::uint8_t announce, const char* display_name);

// Reads the one module in `module_file_name` (untrusted) and writes its original bytes
// to "original.tmp".  A wrong header sum, or a file ending inside its header, is
// fatal("Header sum error"); missing stored bytes fatal("Can't read"); damaged -lh5-
// tables fatal("Bad table") (exit 1).  An unknown method prints "Unknown method: %u\n"
// on stderr and leaves "original.tmp" empty; a CRC mismatch after unpacking prints
// "CRC error in %s\n" (stored name) on stderr.  A missing file or one without a header
// (first byte 0) gives an empty "original.tmp"; when "original.tmp" cannot be created
// no file of that name is left.
void unpack_file(const std::string& module_file_name);
