// The run driver: the program's entry and the walk over the option pairs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t COPY_BUFFER_SIZE = 0x8000;
inline constexpr const char* DEFAULT_EXTRACT_NAME = "extract.bin";

// The driver's state for one run.  The current load text and the packed-module file
// name live in pack_state (image/pack.hpp), where packing reads them.
struct RunState {
  std::string image_name;           // argument 1, as typed
  int walk_position = 2;            // argument index of the current pair's option
  int current_row = -1;             // item table row of the current option
  bool has_operand = false;
  std::uint16_t type_id = 0;        // row's type id, or the segment typed after /OTHER
  std::string operand_text;         // the operand, lower-cased (ASCII A-Z only)
  std::string extract_name = DEFAULT_EXTRACT_NAME;
  int logo_palette_flag = 0;        // bit 0 of window byte 0x7E05A, read once after loading
  std::vector<std::uint8_t> copy_buffer;  // file-to-file copies of the add path
};
extern RunState run;
void reset_run_state();

// Runs the tool on argv[1..argc-1] and ends the process: 0 after write-back; 1 usage
// text, "Bad usage.\n", "Input parameter %s error.", fatal errors, failed write-back;
// 10 "Memory is not enough.\n"; 52 "Please give the filename to be compressed.\n";
// 54/55/57 from the add path; 75 "%s Error.\n" when the image cannot be loaded.
// All messages on stdout.  The image file is written only at the normal end.
[[noreturn]] void run_optmix(int argc, char** argv);
