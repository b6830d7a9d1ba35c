#!/usr/bin/env bash
# Runs optmix on a generated sample image: a listing, an add, an extract.
set -euo pipefail
build=${1:-build}
bin="$(cd "$build" && pwd)"
demo="$bin/demo"
rm -rf "$demo" && mkdir -p "$demo" && cd "$demo"
"$bin/tools/make_sample_image" .

run() { echo; echo "\$ optmix $*"; "$bin/driver/optmix" "$@"; echo "(exit code $?)"; }

run sample.bin /D
run sample.bin /vga VGA.BIN /D
run sample.bin /vga extract VGA.OUT
echo
if cmp -s VGA.BIN VGA.OUT; then echo "VGA.OUT is byte-identical to VGA.BIN"; else echo "VGA.OUT differs from VGA.BIN"; exit 1; fi
echo "Files left in $demo:"; ls
