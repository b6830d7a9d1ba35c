// The run driver.  Start checks run before the image is touched; the image file is
// written once, at the normal end, and every earlier end of the process leaves it as
// it was.  target_group only ever goes from 0 to 1.
#include "driver/run.hpp"

#include <csignal>
#include <cstdio>
#include <new>

#include "driver/add_path.hpp"
#include "driver/exit_codes.hpp"
#include "driver/file_names.hpp"
#include "driver/items.hpp"
#include "image/common.hpp"
#include "image/fatal.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "report/listing.hpp"

RunState run;

void reset_run_state() { run = RunState{}; }

namespace {

std::string ascii_lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool is_option(const char* argument) { return find_option(argument) >= 0; }

[[noreturn]] void bad_usage() {
  std::printf("Bad usage.\n");
  end_run(EXIT_USAGE);
}

[[noreturn]] void missing_operand() {
  std::printf("Please give the filename to be compressed.\n");
  end_run(EXIT_NO_OPERAND);
}

void check_start(int argc, char** argv) {
  if (argc < 3) print_usage();
  const int row = find_option(argv[2]);
  if (row < 0) print_usage();
  if (argc == 3 && item_table[row].kind != KIND_ACPITBL && item_table[row].kind != KIND_D) print_usage();
}

void load(const std::string& typed_name) {
  try {
    run.copy_buffer.assign(COPY_BUFFER_SIZE, 0);
  } catch (const std::bad_alloc&) {
    std::printf("Memory is not enough.\n");
    end_run(EXIT_NO_MEMORY);
  }
  if (load_image(resolve_input_name(typed_name)) != 0) {
    std::printf("%s Error.\n", typed_name.c_str());
    end_run(EXIT_BAD_IMAGE);
  }
  image.window.shown_name = typed_name;
  run.logo_palette_flag = image.window.base[LOGO_PALETTE_OFFSET] & 1;
  if (image.boot_only_map) image.target_group = 1;
}

void report_outcome(int result) {
  const char* format = result == 0 ? "%s Type %s ROM is %sed.\n" : "%s Type %s ROM can't %sed.\n";
  std::printf(format, item_table[run.current_row].name, pack_state.load_text.c_str(),
              run.operand_text.c_str());
}

}  // namespace

void run_optmix(int argc, char** argv) {
  // A file-size limit then makes a write fail with an error the tool reports, instead of
  // killing the process half way through a working file.
  std::signal(SIGXFSZ, SIG_IGN);
  check_start(argc, argv);
  run.image_name = argv[1];
  load(run.image_name);

  int& p = run.walk_position;
  p = 2;
  for (;;) {
    // A trailing /BOOT leaves no option for the next pair.
    if (p >= argc) bad_usage();
    run.current_row = find_option(argv[p]);
    if (run.current_row < 0) bad_usage();
    const ItemEntry& item = item_table[run.current_row];

    run.has_operand = p + 1 < argc && !is_option(argv[p + 1]);
    if (!run.has_operand && item.kind != KIND_ACPITBL && item.kind != KIND_D && item.kind != KIND_BOOT)
      missing_operand();

    if (item.kind == KIND_BOOT) {
      image.target_group = 1;
      p += 1;
      continue;
    }

    if (item.kind == KIND_OTHER) {
      pack_state.load_text = argv[p + 1];
      run.type_id = parse_load_segment(pack_state.load_text);
      if (run.type_id == 0) {
        std::printf("Input parameter %s error.", argv[p + 1]);
        end_run(EXIT_USAGE);
      }
      p += 1;
      if (p + 1 >= argc) missing_operand();
    } else {
      pack_state.load_text = item.load_text;
      run.type_id = static_cast<std::uint16_t>(item.type_id);
    }

    if (run.has_operand) run.operand_text = ascii_lower(argv[p + 1]);

    if (run.has_operand && run.operand_text == "release") {
      report_outcome(release_module(run.type_id));
    } else if (run.has_operand && run.operand_text == "extract") {
      run.extract_name = DEFAULT_EXTRACT_NAME;
      if (p + 2 < argc && argv[p + 2][0] != '/') {
        run.extract_name = argv[p + 2];
        p += 1;
      }
      report_outcome(extract_module(run.type_id, run.extract_name));
    } else if (item.kind == KIND_D) {
      list_combined_modules();
    } else {
      const std::string operand = run.has_operand ? std::string(argv[p + 1]) : std::string();
      add_input(run.current_row, run.type_id, run.has_operand ? &operand : nullptr);
    }

    p += run.has_operand ? 2 : 1;
    if (p >= argc) {
      write_back_image();
      run.copy_buffer.clear();
      run.copy_buffer.shrink_to_fit();
      end_run(EXIT_NORMAL);
    }
    pack_state.packed_file_name = DEFAULT_PACKED_NAME;
  }
}
