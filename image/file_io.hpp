// Small checked file helpers shared by every subsystem that writes or opens files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>

// Writes all `count` bytes to the descriptor, retrying after interruptions.
// false when a write fails or makes no progress.
bool write_all(int fd, const std::uint8_t* data, std::size_t count);

// Creates or empties `name` (read and write for the owner) and writes `parts` in order.
// false when the file cannot be created or fully written; no file of that name is then
// left behind.
bool write_new_file(const char* name, std::initializer_list<std::span<const std::uint8_t>> parts);

// Opens `path` for binary reading only when it names a regular file (after following
// links); nullptr for a missing file, a directory or any other kind of file.
std::FILE* open_regular_for_reading(const std::string& path);
