// The steps of packing and unpacking, and the state they share between one call of
// pack_file or unpack_file and its steps.  Used only by image/pack.cpp and its tests.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/module.hpp"

inline constexpr std::size_t COPY_BLOCK = 8192;   // store_copy block, decoder ring and output block

// The working state of the packing and unpacking drivers.  reset_pack_state() clears it.
struct PackWork {
  ModuleHeader header;             // the header being built or the one read (bytes 0, 1: H, sum)
  unsigned h = 0;                  // H of that header
  std::uint16_t file_crc = 0;      // CRC of the original data, as written or as read
  std::string input_path;          // packing: the file that is read
  std::string display_name;        // packing: the name printed and stored in the header
  LoadFields load;                 // packing: load offset and segment of the current load text
  long header_pos = 0;             // packing: offsets in TEMP01 of the header and the data
  long data_pos = 0;
  bool header_read = false;        // unpacking: read_header found a whole, checked header
  std::string stored_name;         // unpacking: the header's name, up to its first zero byte
  std::array<std::uint8_t, COPY_BLOCK> buffer{};
};
extern PackWork pack_work;

// Packs pack_work.input_path into the open TEMP01 (streams.packed_stream): header, data,
// header again with the final fields.  1: done.  0: the input cannot be opened or is
// not a regular file; "Can't open %s\n" (input path) was printed on stderr.  With
// `announce` non-zero prints "Adding %s " and " %d.%d%%\n" on stdout.  Short writes are
// fatal("Unable to write") (exit 1).
int add_file(std::uint8_t announce);

// Writes H, the header sum and the H header bytes of pack_work.header at TEMP01's
// position, with pack_work.file_crc put at offset H - 3 first.  The H bytes pass
// through write_with_crc (codec.running_crc changes; fatal "Unable to write", exit 1).
void write_header();

// Copies the input (streams.source_stream, from its position) unchanged into TEMP01 in
// blocks of up to 8192 bytes: codec.original_size = codec.packed_size = bytes copied,
// codec.running_crc = their CRC.  fatal("Unable to write") (exit 1) on a short write.
void store_copy();

// packed / original in tenths of a percent, rounded, in unsigned 32-bit arithmetic
// that never overflows; 0 when the original size is 0.
std::uint32_t ratio_permille(std::uint32_t packed, std::uint32_t original);

// Exit handler: closes TEMP01 if it is still open, then removes "TEMP01" (no message
// when there is none).
void remove_temp_at_exit();

// Reads and checks the header of the module in streams.archive_stream (untrusted).
// 1: a header was read; codec.packed_size, codec.original_size, pack_work.file_crc and
// pack_work.stored_name are set.  0: the file is empty or its first byte is 0.  A wrong
// header sum, or a file that ends inside the header, is fatal("Header sum error") (exit 1).
int read_header();

// Writes "original.tmp" from the module whose header read_header read; empty when no
// header was read (nothing printed).  Prints "Unknown method: %u\n" on stderr for a
// method other than -lh0-, -lh4-, -lh5- (output empty), and "CRC error in %s\n" (stored
// name) on stderr when the produced bytes do not match the header's CRC.  Missing stored
// bytes are fatal("Can't read"); damaged -lh5- data may be fatal("Bad table") (exit 1).
// When "original.tmp" cannot be created, no such file is left behind.
void unpack_data();
