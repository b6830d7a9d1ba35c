#!/usr/bin/env bash
# Instructions per byte of the codec, counted by callgrind: the instructions of one
# codec_run over 1 MiB of a generated input (x86 machine code by default), less those of
# the same run over 1 byte, divided by 1 MiB.  The CRC is included, as in packing and
# unpacking.  Usage: bench/measure_codec.sh BUILD_DIR [KIND]
set -euo pipefail
build=${1:?usage: measure_codec.sh BUILD_DIR [KIND]}
kind=${2:-x86}
run="$build/bench/codec_run"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
size=1048576

count() {  # instructions of one run: count NAME ARGS...
  local name=$1
  shift
  valgrind --tool=callgrind --callgrind-out-file="$work/$name.out" "$@" >/dev/null 2>&1
  awk '/^(summary|totals):/ {print $2; exit}' "$work/$name.out"
}

"$run" make "$kind" $size "$work/big.bin"
"$run" make "$kind" 1 "$work/one.bin"
"$run" pack "$work/big.bin" "$work/big.lzh" | grep -q incompressible && {
  echo "$kind: incompressible, nothing to decode" >&2
  exit 1
}
"$run" pack "$work/one.bin" "$work/one.lzh" >/dev/null

pack_big=$(count pack_big "$run" pack "$work/big.bin" "$work/big.lzh")
pack_one=$(count pack_one "$run" pack "$work/one.bin" "$work/one.lzh")
# A 1-byte input is stored, not packed: decode a 1-byte stream made by hand instead
# (a single-form block of one literal).
printf '\x00\x01\x00\x00\x00\x00\x00\x00' >"$work/one.lzh"
unpack_big=$(count unpack_big "$run" unpack "$work/big.lzh" "$work/big.out" $size)
unpack_one=$(count unpack_one "$run" unpack "$work/one.lzh" "$work/one.out" 1)
cmp -s "$work/big.bin" "$work/big.out" || { echo "round trip differs" >&2; exit 1; }

packed=$(stat -c %s "$work/big.lzh")
awk -v pb="$pack_big" -v po="$pack_one" -v ub="$unpack_big" -v uo="$unpack_one" \
    -v n=$size -v p="$packed" -v k="$kind" 'BEGIN {
  printf "%s, 1 MiB packed to %d bytes (%.1f%%)\n", k, p, 100 * p / n
  printf "encode: %.1f instructions per input byte\n", (pb - po) / n
  printf "decode: %.1f instructions per output byte\n", (ub - uo) / n
}'
