// Scratch directories and runs of the built optmix binary, for tests that touch files.
// The tool's working files have fixed names in the current directory, so every test that
// runs it (in process or as a subprocess) gets a fresh directory of its own.
#pragma once

#include <string>
#include <vector>

#include "tests/support/image_builder.hpp"

namespace testimg {

// A fresh temporary directory, removed with its content at destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const Bytes& data) const;
  void write_text(const std::string& name, const std::string& text) const;
  Bytes read(const std::string& name) const;   // throws when missing
  bool exists(const std::string& name) const;
  std::vector<std::string> entries() const;    // names, sorted

 private:
  std::string path_;
};

// Makes `dir` the current directory for the guard's lifetime (in-process tests).
class CurrentDirGuard {
 public:
  explicit CurrentDirGuard(const std::string& dir);
  ~CurrentDirGuard();
  CurrentDirGuard(const CurrentDirGuard&) = delete;
  CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

 private:
  std::string previous_;
};

struct RunResult {
  int status = -1;      // exit status 0..255, or 1000 + signal number
  std::string out;      // standard output
  std::string err;      // standard error
};

// Runs the built optmix binary with `args` (argv[1..]) in `dir`.  Adds a test failure
// when a run that ends with a non-zero status changed the image file (args[0]), or when
// "TEMP01" is left in `dir`.
RunResult run_optmix(const ScratchDir& dir, const std::vector<std::string>& args);

// Runs `program` with `args` in `dir` (any executable path).
RunResult run_program(const std::string& program, const ScratchDir& dir,
                      const std::vector<std::string>& args);

// Reads a whole file; empty when missing.
Bytes read_file(const std::string& path);

}  // namespace testimg
