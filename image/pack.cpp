// Packing a file into the packed-module file and unpacking a one-module file into
// "original.tmp".
//
// Packing writes "TEMP01": a provisional header, the -lh5- data (or the input stored
// unchanged as -lh0- when the encoder finds it incompressible), the end byte 0x00; then
// the header again with its final fields, and renames "TEMP01" to the packed-module
// file name.  The file always holds H + packed size + 3 bytes.  An exit handler removes
// "TEMP01" when a run ends before the rename.
//
// Unpacking treats the module file as untrusted: it never reads through an absent
// stream, never uses the header of an earlier call, produces exactly original_size
// bytes or ends the run, and compares the CRC of what it produced with the header's.
#include "image/pack.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/fatal.hpp"
#include "image/file_io.hpp"
#include "image/module.hpp"
#include "image/pack_internal.hpp"
#include "lzh/lzh.hpp"

PackState pack_state;
PackWork pack_work;

namespace {

constexpr unsigned HEADER_FIXED_BYTES = 25;   // H = name length + 25
constexpr char METHOD_COMPRESSED[] = "-lh5-";

}  // namespace

void reset_pack_state() {
  // The exit handler, once registered, stays registered for the process.
  const bool registered = pack_state.exit_handler_registered;
  pack_state = PackState{};
  pack_state.exit_handler_registered = registered;
  pack_work = PackWork{};
}

std::uint32_t ratio_permille(std::uint32_t packed, std::uint32_t original) {
  std::uint32_t a = packed;
  std::uint32_t b = original;
  for (int i = 0; i < 3; ++i) {
    if (a <= 0x19999999u) a *= 10;
    else b /= 10;
  }
  if (a > 0xFFFFFFFFu - b / 2) {
    a /= 2;
    b /= 2;
  }
  if (b == 0) return 0;
  return (a + b / 2) / b;
}

void remove_temp_at_exit() {
  if (streams.packed_stream) {
    std::fclose(streams.packed_stream);
    streams.packed_stream = nullptr;
  }
  std::remove(TEMP_FILE_NAME);
}

void write_header() {
  std::uint8_t* header = pack_work.header.bytes.data();
  const unsigned h = pack_work.h;
  write_le(header + h - 3, 2, pack_work.file_crc);
  header[HDR_SIZE] = static_cast<std::uint8_t>(h);
  header[HDR_SUM] = header_sum(header, h);
  std::fputc(header[HDR_SIZE], streams.packed_stream);
  std::fputc(header[HDR_SUM], streams.packed_stream);
  write_with_crc(header + HDR_METHOD, h, streams.packed_stream);
}

void store_copy() {
  codec.original_size = 0;
  codec.running_crc = 0;
  for (;;) {
    std::size_t got = std::fread(pack_work.buffer.data(), 1, pack_work.buffer.size(), streams.source_stream);
    if (got == 0) break;
    write_with_crc(pack_work.buffer.data(), got, streams.packed_stream);
    codec.original_size += static_cast<std::uint32_t>(got);
  }
  codec.packed_size = codec.original_size;
}

int add_file(std::uint8_t announce) {
  std::FILE* input = open_regular_for_reading(pack_work.input_path);
  if (!input) {
    std::fprintf(stderr, "Can't open %s\n", pack_work.input_path.c_str());
    return 0;
  }
  streams.source_stream = input;
  if (announce) std::printf("Adding %s ", pack_work.display_name.c_str());

  std::FILE* out = streams.packed_stream;
  std::uint8_t* header = pack_work.header.bytes.data();
  pack_work.header_pos = std::ftell(out);
  const auto n = static_cast<unsigned>(pack_work.display_name.size());
  header[HDR_NAME_LENGTH] = static_cast<std::uint8_t>(n);
  std::memcpy(header + HDR_NAME, pack_work.display_name.data(), n);
  pack_work.h = n + HEADER_FIXED_BYTES;
  std::memcpy(header + HDR_METHOD, METHOD_COMPRESSED, 5);
  write_header();  // provisional: rewritten below with the final fields

  pack_work.data_pos = std::ftell(out);
  codec.packed_size = 0;
  codec.original_size = 0;
  codec.running_crc = 0;
  codec.incompressible = false;
  encode(announce);

  if (codec.incompressible) {
    header[HDR_METHOD_DIGIT] = '0';
    std::rewind(input);
    std::fseek(out, pack_work.data_pos, SEEK_SET);
    store_copy();
    // The stored data covers everything the encoder wrote; make sure nothing follows it.
    std::fflush(out);
    if (::ftruncate(::fileno(out), pack_work.data_pos + static_cast<long>(codec.packed_size)) != 0)
      fatal("Unable to write");
  }
  pack_work.file_crc = codec.running_crc;
  std::fclose(input);
  streams.source_stream = nullptr;

  write_le(header + HDR_PACKED_SIZE, 4, codec.packed_size);
  write_le(header + HDR_ORIGINAL_SIZE, 4, codec.original_size);
  write_le(header + HDR_LOAD_OFFSET, 2, pack_work.load.offset);
  write_le(header + HDR_TYPE_ID, 2, pack_work.load.segment);
  header[HDR_ATTRIBUTE] = 0x20;
  header[HDR_LEVEL] = 0x01;
  header[24 + n] = 0x20;  // system byte
  header[25 + n] = 0x00;  // extension size
  header[26 + n] = 0x00;
  std::fseek(out, pack_work.header_pos, SEEK_SET);
  write_header();
  std::fseek(out, 0, SEEK_END);

  const std::uint32_t ratio = ratio_permille(codec.packed_size, codec.original_size);
  if (announce) std::printf(" %u.%u%%\n", ratio / 10, ratio % 10);
  return 1;
}

int pack_file(std::string& input_path, std::uint8_t announce, const char* display_name) {
  pack_state.packed_file_written = false;
  const std::string name = display_name ? std::string(display_name) : std::string(input_path.c_str());
  if (name.size() > MAX_NAME_LENGTH) {
    const std::string message = "Name too long: " + name;
    fatal(message.c_str());
  }

  if (streams.packed_stream) std::fclose(streams.packed_stream);
  streams.packed_stream = std::fopen(TEMP_FILE_NAME, "wb");
  if (!streams.packed_stream) fatal("Can't open temporary file");
  if (!pack_state.exit_handler_registered) {
    std::atexit(remove_temp_at_exit);
    pack_state.exit_handler_registered = true;
  }
  build_crc_table();

  pack_work.header = ModuleHeader{};
  pack_work.h = 0;
  pack_work.file_crc = 0;
  pack_work.input_path = input_path.c_str();
  pack_work.display_name = name;
  pack_work.load = parse_load_text(pack_state.load_text);

  if (add_file(announce) == 0) {
    input_path.clear();
    // "TEMP01" itself is left for the exit handler.
    std::fclose(streams.packed_stream);
    streams.packed_stream = nullptr;
    return 0;
  }

  std::fputc(0x00, streams.packed_stream);  // end byte
  bool failed = std::ferror(streams.packed_stream) != 0;
  failed = std::fclose(streams.packed_stream) != 0 || failed;
  streams.packed_stream = nullptr;
  if (failed) fatal("Can't write");

  std::remove(pack_state.packed_file_name.c_str());
  if (std::rename(TEMP_FILE_NAME, pack_state.packed_file_name.c_str()) == 0)
    pack_state.packed_file_written = true;
  return 0;
}

int read_header() {
  std::FILE* in = streams.archive_stream;
  if (!in) return 0;
  const int first = std::fgetc(in);
  if (first == EOF || first == 0) return 0;
  const int stored_sum = std::fgetc(in);

  std::uint8_t* header = pack_work.header.bytes.data();
  const auto h = static_cast<unsigned>(first);
  header[HDR_SIZE] = static_cast<std::uint8_t>(h);
  std::size_t got = 0;
  if (stored_sum != EOF) got = read_with_crc(header + HDR_METHOD, h, in);
  if (stored_sum == EOF || got < h || header_sum(header, h) != stored_sum) fatal("Header sum error");
  header[HDR_SUM] = static_cast<std::uint8_t>(stored_sum);

  pack_work.h = h;
  codec.packed_size = read_le(header + HDR_PACKED_SIZE, 4);
  codec.original_size = read_le(header + HDR_ORIGINAL_SIZE, 4);
  pack_work.file_crc = h >= 3 ? static_cast<std::uint16_t>(read_le(header + h - 3, 2)) : 0;

  // The name: n bytes from offset 22, within the header bytes read, up to a zero byte.
  const std::size_t header_end = h + 2;
  const std::size_t available = header_end > HDR_NAME ? header_end - HDR_NAME : 0;
  const std::size_t n = std::min<std::size_t>(header[HDR_NAME_LENGTH], available);
  const char* name = reinterpret_cast<const char*>(header + HDR_NAME);
  pack_work.stored_name.assign(name, ::strnlen(name, n));
  pack_work.header_read = true;
  return 1;
}

void unpack_data() {
  // Closed on every way out, also when an end-of-run handler unwinds from inside the
  // decoder (the output stream would otherwise stay open for the rest of the process).
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(UNPACKED_FILE_NAME, "wb"), std::fclose);
  if (!out) {
    // Whatever stands under that name is not this module's output.
    std::remove(UNPACKED_FILE_NAME);
    return;
  }
  if (!pack_work.header_read) return;

  const std::uint8_t* header = pack_work.header.bytes.data();
  const std::uint8_t method = header[HDR_METHOD_DIGIT];
  codec.running_crc = 0;
  const bool known = method == '0' || method == '4' || method == '5';
  if (!known || std::memcmp(header + HDR_METHOD, "-lh", 3) != 0 || header[HDR_METHOD + 4] != '-') {
    std::fprintf(stderr, "Unknown method: %u\n", static_cast<unsigned>(method));
    return;
  }

  std::uint8_t* buffer = pack_work.buffer.data();
  if (method != '0') {
    // The ring starts as zeros for every module: damaged data that reaches before the
    // stream's first byte reads zeros, never bytes of a module unpacked earlier.
    std::fill(pack_work.buffer.begin(), pack_work.buffer.end(), std::uint8_t{0});
    start_decode();
  }
  while (codec.original_size > 0) {
    const auto n = static_cast<std::uint16_t>(std::min<std::uint32_t>(codec.original_size, COPY_BLOCK));
    if (method == '0') {
      if (n > codec.packed_size || std::fread(buffer, 1, n, streams.archive_stream) != n) fatal("Can't read");
      codec.packed_size -= n;
    } else {
      decode_chunk(n, buffer);
    }
    write_with_crc(buffer, n, out.get());
    codec.original_size -= n;
  }
  if (std::fclose(out.release()) != 0) fatal("Unable to write");
  if (codec.running_crc != pack_work.file_crc)
    std::fprintf(stderr, "CRC error in %s\n", pack_work.stored_name.c_str());
}

void unpack_file(const std::string& module_file_name) {
  pack_work.header = ModuleHeader{};
  pack_work.h = 0;
  pack_work.file_crc = 0;
  pack_work.header_read = false;
  pack_work.stored_name.clear();

  streams.archive_stream = std::fopen(module_file_name.c_str(), "rb");
  build_crc_table();
  read_header();
  unpack_data();
  if (streams.archive_stream) std::fclose(streams.archive_stream);
  streams.archive_stream = nullptr;
}
