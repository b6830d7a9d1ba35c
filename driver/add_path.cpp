// The add path.  The route follows the input's first bytes, in the order "-lh", "BM",
// "MZ": packed files are refused, bitmaps converted, executables stripped of their
// header, everything else packed as it is.  Only a packed-module file that this pair's
// preparation wrote is inserted; the user's input files are never renamed or changed.
#include "driver/add_path.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "driver/exit_codes.hpp"
#include "driver/file_names.hpp"
#include "driver/items.hpp"
#include "driver/run.hpp"
#include "image/common.hpp"
#include "image/fatal.hpp"
#include "image/file_io.hpp"
#include "image/pack.hpp"
#include "report/logo.hpp"

namespace {

constexpr std::size_t PEEK_SIZE = 48;
constexpr const char* LOGO_WORK_FILE = "PelixBmp.bmp";
constexpr const char* BODY_WORK_FILE = "FILE_TEM.STV";
constexpr const char* ACPI_EXECUTABLE = "ACPITBL.EXE";
constexpr const char* ACPI_TABLE = "DSDT.AML";
constexpr const char* ACPI_MERGED = "ACPITBL.BIN";

// The first bytes of an input; bytes the file does not have read as 0.
struct Peek {
  std::array<std::uint8_t, PEEK_SIZE> bytes{};
  std::size_t length = 0;

  bool starts_with(const char* two) const { return bytes[0] == two[0] && bytes[1] == two[1]; }
  bool is_packed() const { return bytes[2] == '-' && bytes[3] == 'l' && bytes[4] == 'h'; }
  // Where the body of a DOS executable begins: header paragraphs times 16.
  long body_offset() const { return static_cast<long>(bytes[8] | (bytes[9] << 8)) * 16; }
};

// An open file, closed on every way out of a step (also when the run ends inside it
// under a handler that unwinds).
struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

Peek read_peek(std::FILE* f) {
  Peek peek;
  peek.length = std::fread(peek.bytes.data(), 1, PEEK_SIZE, f);
  return peek;
}

// Copies the rest of `from` to `to` through the run's copy buffer; a read that fails
// ends the copy like the end of the file.  A short write is fatal: a truncated copy
// must never become a module.
void copy_rest(std::FILE* from, std::FILE* to) {
  std::uint8_t* buffer = run.copy_buffer.data();
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, COPY_BUFFER_SIZE, from);
    if (got == 0) break;
    if (std::fwrite(buffer, 1, got, to) != got) fatal("Unable to write");
  }
  if (std::fflush(to) != 0) fatal("Unable to write");
}

// Closes a file this path wrote; a failing close means lost data.
void close_written(File file) {
  if (std::fclose(file.release()) != 0) fatal("Unable to write");
}

// Packs `input` (a work file or the user's file) under `display_name`.
void pack(const std::string& input, const std::string& display_name) {
  std::string path = input;  // pack_file empties its own copy when it cannot open it
  pack_file(path, 1, display_name.c_str());
}

// Writes the body of the executable `from` (from `offset` on) into `output`.
void write_executable_body(std::FILE* from, long offset, const char* output) {
  File to(std::fopen(output, "wb"));
  if (!to) return;  // packing then finds no work file and says so
  if (std::fseek(from, offset, SEEK_SET) == 0) copy_rest(from, to.get());
  close_written(std::move(to));
}

// Inserts the packed-module file when this pair's preparation wrote one.
void insert_packed(int row, std::uint16_t type_id, const char* announce_acpi) {
  File packed(pack_state.packed_file_written ? open_regular_for_reading(pack_state.packed_file_name) : nullptr);
  if (!packed) {
    std::printf("Not found %s file !!!\n", item_table[row].name);
    return;
  }
  if (announce_acpi) std::printf("Combine %s file to %s...\n", ACPI_MERGED, announce_acpi);
  insert_module(packed.get(), type_id);
}

void add_bitmap(int row, const std::string& typed, const std::string& path) {
  const std::int32_t kind = item_table[row].kind;
  if (kind == KIND_LOGO256) {
    if (!prepare_fullscreen_logo(path, typed))
      std::printf("Error : %s is not valid BMP with 256 Colors in 640x480 Size !\n", typed.c_str());
    return;
  }
  if (kind == KIND_EPA) convert_logo_bitmap(path, LOGO_WORK_FILE, true, true);
  else convert_logo_bitmap(path, LOGO_WORK_FILE, false, run.logo_palette_flag == 0);
  pack(LOGO_WORK_FILE, typed);
  std::remove(LOGO_WORK_FILE);
}

void add_operand(int row, std::uint16_t type_id, const std::string& typed) {
  const std::string path = resolve_input_name(typed);
  File input(open_regular_for_reading(path));
  if (!input) {
    std::printf("Can't open %s\n", typed.c_str());
    end_run(EXIT_OPEN_INPUT);
  }
  const Peek peek = read_peek(input.get());
  if (peek.is_packed()) {
    input.reset();
    std::printf("File %s is compressed.\n", typed.c_str());
    end_run(EXIT_PACKED_INPUT);
  }
  if (peek.starts_with("BM")) {
    input.reset();
    add_bitmap(row, typed, path);
  } else if (peek.starts_with("MZ")) {
    write_executable_body(input.get(), peek.body_offset(), BODY_WORK_FILE);
    input.reset();
    pack(BODY_WORK_FILE, typed);
    std::remove(BODY_WORK_FILE);
  } else {
    input.reset();
    pack(path, typed);
  }
  insert_packed(row, type_id, nullptr);
}

[[noreturn]] void merge_input_missing(const char* name) {
  std::printf("%s open in failure !!!\n", name);
  end_run(EXIT_OPEN_INPUT);
}

// "ACPITBL.BIN" = the body of "ACPITBL.EXE" (all of it when it is no executable),
// followed by "DSDT.AML"; always made anew.
void merge_acpi_table(int row, std::uint16_t type_id) {
  {
    File exe(open_regular_for_reading(resolve_input_name(ACPI_EXECUTABLE)));
    if (!exe) merge_input_missing(ACPI_EXECUTABLE);
    const Peek peek = read_peek(exe.get());
    if (peek.length == 0) {
      exe.reset();
      std::printf("Not found %s file !!!\n", item_table[row].name);
      return;
    }
    write_executable_body(exe.get(), peek.starts_with("MZ") ? peek.body_offset() : 0, ACPI_MERGED);
  }
  {
    File merged(std::fopen(ACPI_MERGED, "r+b"));
    if (!merged) merge_input_missing(ACPI_MERGED);
    File table(open_regular_for_reading(resolve_input_name(ACPI_TABLE)));
    if (!table) {
      merged.reset();
      merge_input_missing(ACPI_TABLE);
    }
    std::fseek(merged.get(), 0, SEEK_END);
    copy_rest(table.get(), merged.get());
    table.reset();
    close_written(std::move(merged));
  }
  pack(ACPI_MERGED, ACPI_MERGED);
  insert_packed(row, type_id, run.image_name.c_str());
}

}  // namespace

void add_input(int row, std::uint16_t type_id, const std::string* operand) {
  pack_state.packed_file_written = false;
  if (operand) add_operand(row, type_id, *operand);
  else merge_acpi_table(row, type_id);
}
