#!/bin/sh
# Runs the libFuzzer programs of a fuzzing build for a bounded time each.
#
#   fuzz/run_fuzzers.sh [BUILD_DIR]          (default build-fuzz; run from the source root)
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   targets to run (default: all)
#
# New inputs go to BUILD_DIR/corpus/<target>; the committed seeds (fuzz/corpus/<target>)
# and reproducers (fuzz/regressions/<target>) are read, never written.  Inputs that fail
# land in BUILD_DIR/artifacts/<target>/.  The exit status is 1 when any target failed.
set -u
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"image unpack roundtrip regions logo"}
failed=""
# Absolute: a failing input is written while the target is in its working directory.
mkdir -p "$build" && build=$(cd "$build" && pwd)

for target in $targets; do
  case $target in
    image|unpack|roundtrip) max_len=65536 ;;
    regions) max_len=16384 ;;
    *) max_len=8192 ;;
  esac
  mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
  seeds="fuzz/corpus/$target"
  [ -d "fuzz/regressions/$target" ] && seeds="$seeds fuzz/regressions/$target"
  echo "== fuzz_$target: $seconds s"
  # shellcheck disable=SC2086  # $seeds holds one or two directories
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 \
      -rss_limit_mb=2048 -close_fd_mask=1 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target/" "$build/corpus/$target" $seeds; then
    failed="$failed $target"
  fi
done

if [ -n "$failed" ]; then
  echo "fuzzing failed:$failed (inputs in $build/artifacts/)"
  exit 1
fi
