// Resolution of typed input names on a file system that tells letter case apart, so
// that "VGA.BIN" typed for a file stored as "vga.bin" names that file, and opening
// inputs only when they are regular files.
#include "driver/file_names.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool equal_ignoring_ascii_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::string resolve_input_name(const std::string& typed) {
  std::error_code ec;
  if (typed.empty() || fs::exists(fs::symlink_status(typed, ec))) return typed;

  const std::string::size_type slash = typed.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : typed.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? typed : typed.substr(slash + 1);
  if (base.empty()) return typed;

  std::vector<std::string> candidates;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (equal_ignoring_ascii_case(name, base)) candidates.push_back(std::move(name));
  }
  if (candidates.empty()) return typed;
  std::sort(candidates.begin(), candidates.end());
  return slash == std::string::npos ? candidates.front() : dir + candidates.front();
}
