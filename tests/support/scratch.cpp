// Temporary directories and subprocess runs (fork/exec with captured output).
#include "tests/support/scratch.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace testimg {

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "optmix-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Restore permissions a test may have taken away, then remove everything.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void ScratchDir::write(const std::string& name, const Bytes& data) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + name);
}

void ScratchDir::write_text(const std::string& name, const std::string& text) const {
  write(name, Bytes(text.begin(), text.end()));
}

Bytes read_file(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ScratchDir::read(const std::string& name) const {
  if (!exists(name)) throw std::runtime_error("missing file " + name);
  return read_file(file(name));
}

bool ScratchDir::exists(const std::string& name) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(file(name), ec));
}

std::vector<std::string> ScratchDir::entries() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

CurrentDirGuard::CurrentDirGuard(const std::string& dir) : previous_(fs::current_path().string()) {
  fs::current_path(dir);
}

CurrentDirGuard::~CurrentDirGuard() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

static std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

RunResult run_program(const std::string& program, const ScratchDir& dir,
                      const std::vector<std::string>& args) {
  ScratchDir capture;
  const std::string out_path = capture.file("stdout"), err_path = capture.file("stderr");
  std::vector<std::string> argv_store;
  argv_store.push_back(program);
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  return r;
}

RunResult run_optmix(const ScratchDir& dir, const std::vector<std::string>& args) {
  // Every run is also checked for the tool's promise about the image: a run that does
  // not reach its normal end leaves the image file byte for byte as it was, and no run
  // leaves packing's temporary file behind.
  const bool has_image = !args.empty() && !args[0].empty() && dir.exists(args[0]);
  const Bytes before = has_image ? read_file(dir.file(args[0])) : Bytes{};
  RunResult r = run_program(OPTMIX_BINARY, dir, args);
  if (has_image && r.status != 0 && read_file(dir.file(args[0])) != before)
    ADD_FAILURE() << "exit status " << r.status << " but the image file " << args[0] << " changed";
  if (dir.exists("TEMP01")) ADD_FAILURE() << "TEMP01 left behind (exit status " << r.status << ")";
  return r;
}

}  // namespace testimg
