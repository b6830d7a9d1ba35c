#!/usr/bin/env bash
# Instructions per byte of whole optmix runs, counted by callgrind: a run that adds a
# module of 1 MiB of x86 machine code (as the VGA module) and a run that extracts it,
# less the same runs on a 1-byte module, divided by 1 MiB.
# Usage: bench/measure_optmix.sh BUILD_DIR   (built with -DOPTMIX_BUILD_BENCHMARKS=ON)
set -euo pipefail
build=$(cd "${1:?usage: measure_optmix.sh BUILD_DIR}" && pwd)
optmix="$build/driver/optmix"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
size=1048576

count() {  # instructions of one optmix run: count NAME ARGS...
  local name=$1
  shift
  valgrind --tool=callgrind --callgrind-out-file="$work/$name.cg" "$optmix" "$@" >"$name.log" 2>&1 ||
    { echo "optmix $* failed:" >&2; cat "$name.log" >&2; exit 1; }
  awk '/^(summary|totals):/ {print $2; exit}' "$work/$name.cg"
}

"$build/bench/codec_run" make x86 $size BIG.BIN
"$build/bench/codec_run" make x86 1 ONE.BIN
"$build/bench/bench_image" big.img
cp big.img one.img

add_big=$(count add_big big.img /vga BIG.BIN)
add_one=$(count add_one one.img /vga ONE.BIN)
extract_big=$(count extract_big big.img /vga extract BIG.OUT)
extract_one=$(count extract_one one.img /vga extract ONE.OUT)
cmp -s BIG.BIN BIG.OUT || { echo "extracted bytes differ" >&2; exit 1; }
cmp -s ONE.BIN ONE.OUT || { echo "extracted byte differs" >&2; exit 1; }
grep -h "Adding" add_big.log || true

awk -v ab="$add_big" -v ao="$add_one" -v eb="$extract_big" -v eo="$extract_one" -v n=$size 'BEGIN {
  printf "add (encode): %.1f instructions per input byte\n", (ab - ao) / n
  printf "extract (decode): %.1f instructions per output byte\n", (eb - eo) / n
}'
