// Replays inputs through a fuzz target without the fuzzing engine: every regular file of
// every directory named on the command line (in name order), or a file named directly,
// goes once to LLVMFuzzerTestOneInput.  A directory that does not exist is skipped with
// a note (a target may have no reproducers yet); replaying no input at all fails.
//
//   fuzz_replay_<target> DIR_OR_FILE ...     exit 0 when every input ran through
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputs_of(const fs::path& where) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_regular_file(where, ec)) {
    files.push_back(where);
  } else if (fs::is_directory(where, ec)) {
    for (const auto& entry : fs::directory_iterator(where, ec))
      if (entry.is_regular_file(ec)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
  } else {
    std::fprintf(stderr, "replay: %s does not exist, skipped\n", where.c_str());
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& file : inputs_of(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.eof() && in.fail()) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return 1;
      }
      std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), data.size());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++replayed;
    }
  }
  std::fprintf(stderr, "replay: %zu inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
