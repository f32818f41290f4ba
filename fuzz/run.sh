#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang (preset fuzz) and runs each in turn for
# SECONDS (default 60) on a scratch copy of its seed corpus, so that the
# checked-in corpus only changes by hand. Exits non-zero on the first
# finding; the input that caused it is saved in the preset's build directory
# as crash-<target>-*, the output as <target>.log.
#
#   fuzz/run.sh [SECONDS] [TARGET...]      targets: listing scan line_reader
#
# FUZZ_CORPUS_DIR=DIR keeps the grown corpora in DIR/<target> between runs.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(listing scan line_reader)

# shellcheck source=cmake/preset-dir.sh
source cmake/preset-dir.sh

build=$(preset_dir fuzz)
[ -n "$build" ]
cmake --build --preset fuzz

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in "${targets[@]}"; do
  if [ -n "${FUZZ_CORPUS_DIR:-}" ]; then
    corpus=$FUZZ_CORPUS_DIR/$target
  else
    corpus=$scratch/$target
  fi
  mkdir -p "$corpus"
  cp fuzz/corpus/"$target"/* "$corpus"/
  log=$build/$target.log
  echo "== $target: ${seconds}s, log in $log"
  # -timeout catches a hang, -rss_limit_mb a leak or a growing buffer.
  if ! "$build/fuzz/${target}_fuzz" "$corpus" -dict=fuzz/listing.dict \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=512 \
      -artifact_prefix="$build/crash-$target-" -print_final_stats=1 >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz target $target failed" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|^Done ' "$log"
done
