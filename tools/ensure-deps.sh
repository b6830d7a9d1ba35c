#!/usr/bin/env bash
# Checks for the tools and libraries the build needs and installs the missing ones with
# apt-get when that is possible (running as root); otherwise prints the line to run.
set -euo pipefail

want_fuzz=${1:-}
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
if [ "$want_fuzz" = fuzz ]; then
  command -v clang++ >/dev/null 2>&1 || missing+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 \
    || missing+=(libclang-rt-14-dev)
fi

[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get install -y ${missing[*]}"
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null && exit 0
  echo "apt-get could not install the packages; run as root: $line" >&2
  exit 1
fi
echo "Missing build dependencies. Run as root: $line" >&2
exit 1
