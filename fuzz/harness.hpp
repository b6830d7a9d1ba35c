// What every fuzz target shares: the end-of-run handler that turns the tool's process
// ends into an exception, one private working directory per process (the tool's working
// files have fixed names in the current directory), every subsystem's state back at
// program start before and after each input, and a reader for the input's bytes.
//
// Invariant: after an InputScope ends, the working directory is empty, the process is
// back in the directory it started in, no stream of the codec is open and every
// subsystem's state is as at program start, whatever way the input ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

using Bytes = std::vector<std::uint8_t>;

// Thrown by the installed end-of-run handler in place of the process end.
struct RunEnded {
  int status;
};

// One input's stay in the working directory.  The constructor installs the handler (on
// first use), resets every subsystem and enters the emptied working directory; the
// destructor closes the codec's streams, resets every subsystem, empties the directory,
// goes back, and fails (broken) when a file opened during the input is still open.
class InputScope {
 public:
  InputScope();
  ~InputScope();
  InputScope(const InputScope&) = delete;
  InputScope& operator=(const InputScope&) = delete;

 private:
  int descriptors_ = 0;
};

// A broken invariant: prints "fuzz invariant broken: <what>" on stderr and aborts, so
// that the fuzzer records the input as a crash.
[[noreturn]] void broken(const std::string& what);

// Files of the working directory (names relative to it).
void write_file(const std::string& name, const Bytes& data);
Bytes read_file(const std::string& name);  // empty when missing
bool file_exists(const std::string& name);
std::vector<std::string> directory_entries();  // names, sorted

// Standard output goes to the file `name` (created anew) until restore_stdout; returns
// the descriptor to restore.
int capture_stdout(const std::string& name);
void restore_stdout(int saved);

// True when every region's totals in a /D listing add up: the space left is the space
// less the size listed, and the size listed never exceeds the space.
bool listing_totals_add_up(const Bytes& listing);

// Runs the /D listing with its output in the file `name`, checks that the run ends only
// through fatal (status 1) and that the totals add up.  True when the listing ended the run.
bool list_into(const std::string& name);

// Consumes the input front to back; bytes past its end read as 0.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t le(unsigned width) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) v |= std::uint32_t{byte()} << (8 * i);
    return v;
  }
  Bytes rest() {
    Bytes out(data_ + pos_, data_ + size_);
    pos_ = size_;
    return out;
  }
  std::size_t left() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzzing
