// The shared fuzz-target support: the throwing end-of-run handler, the private working
// directory and the per-input reset of every subsystem.
#include "fuzz/harness.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "driver/run.hpp"
#include "image/fatal.hpp"
#include "image/module.hpp"
#include "image/pack.hpp"
#include "image/window.hpp"
#include "lzh/lzh.hpp"
#include "report/listing.hpp"

namespace fs = std::filesystem;

namespace fuzzing {

namespace {

struct Place {
  bool ready = false;
  std::string work_dir;   // the private working directory
  int home = -1;          // descriptor of the directory the process started in
};
Place place;

[[noreturn]] void throw_run_ended(int status) { throw RunEnded{status}; }

void remove_work_dir() {
  std::error_code ec;
  if (!place.work_dir.empty()) fs::remove_all(place.work_dir, ec);
}

void prepare_once() {
  if (place.ready) return;
  set_end_run_handler(throw_run_ended);
  std::string pattern = (fs::temp_directory_path() / "optmix-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) broken("cannot create the working directory");
  place.work_dir = pattern;
  place.home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (place.home < 0) broken("cannot open the current directory");
  std::atexit(remove_work_dir);
  place.ready = true;
}

void close_stream(std::FILE*& stream) {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
}

void reset_everything() {
  close_stream(streams.source_stream);
  close_stream(streams.packed_stream);
  close_stream(streams.archive_stream);
  reset_image_state();  // closes the image file
  reset_codec_state();
  reset_pack_state();
  reset_lzh_state();
  reset_run_state();
}

// Open file descriptors of the process.
int open_descriptors() {
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++count;
    ::closedir(d);
  }
  return count;
}

void empty_work_dir() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(place.work_dir, ec)) {
    std::error_code ignored;
    fs::remove_all(entry.path(), ignored);
  }
}

}  // namespace

InputScope::InputScope() {
  prepare_once();
  reset_everything();
  descriptors_ = open_descriptors();
  empty_work_dir();
  if (::chdir(place.work_dir.c_str()) != 0) broken("cannot enter the working directory");
}

InputScope::~InputScope() {
  std::fflush(stdout);
  reset_everything();
  empty_work_dir();
  if (::fchdir(place.home) != 0) broken("cannot leave the working directory");
  if (open_descriptors() != descriptors_) broken("a file was left open");
}

void broken(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
  std::abort();
}

void write_file(const std::string& name, const Bytes& data) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) broken("cannot write " + name);
}

Bytes read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& name) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(name, ec));
}

std::vector<std::string> directory_entries() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(".", ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int capture_stdout(const std::string& name) {
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int file = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (saved < 0 || file < 0 || ::dup2(file, STDOUT_FILENO) < 0) broken("cannot capture standard output");
  ::close(file);
  return saved;
}

void restore_stdout(int saved) {
  std::fflush(stdout);
  if (::dup2(saved, STDOUT_FILENO) < 0) broken("cannot restore standard output");
  ::close(saved);
}

bool listing_totals_add_up(const Bytes& listing) {
  const std::string text(listing.begin(), listing.end());
  const std::string space_label = "  Total compress code space  = ";
  const std::string used_label = "  Total compressed code size = ";
  const std::string left_label = "  Remain compress code space = ";
  // The hexadecimal figure after the label.
  auto figure = [](const std::string& line, const std::string& label) {
    return static_cast<std::uint32_t>(std::stoul(line.substr(label.size()), nullptr, 16));
  };
  std::uint32_t space = 0;
  std::uint32_t used = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.rfind(space_label, 0) == 0) space = figure(line, space_label);
    if (line.rfind(used_label, 0) == 0) used = figure(line, used_label);
    if (line.rfind(left_label, 0) == 0 && (used > space || figure(line, left_label) != space - used))
      return false;
  }
  return true;
}

bool list_into(const std::string& name) {
  const int saved_stdout = capture_stdout(name);
  bool ended = false;
  try {
    list_combined_modules();
  } catch (const RunEnded& e) {
    if (e.status != 1) broken("listing ended the run with " + std::to_string(e.status));
    ended = true;
  }
  restore_stdout(saved_stdout);
  if (!listing_totals_add_up(read_file(name))) broken("a region lists more than its space");
  return ended;
}

}  // namespace fuzzing
