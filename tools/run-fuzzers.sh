#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each with a fixed seed and a
# fixed number of runs over its committed corpus. Long fuzzing is done by hand with -runs=-1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

build_dir=${BUILD_DIR:-build-fuzz}
runs=${FUZZ_RUNS:-20000}
source tools/cmake-lib.sh
export CC=clang CXX=clang++
cmake_configure "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_FUZZ=ON -DQUILLON_SANITIZE=ON -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF -DQUILLON_APP=OFF
cmake --build "$build_dir" -j "$(nproc)"

shopt -s nullglob
for fuzzer in "$build_dir"/tests/fuzz/*_fuzzer; do
  name=$(basename "$fuzzer" _fuzzer)
  corpus=tests/fuzz/corpus/$name
  work=$(mktemp -d)
  echo "== $name ($runs runs)"
  # New inputs go to a scratch folder so the committed corpus stays as it is.
  inputs=("$work")
  [ -d "$corpus" ] && inputs+=("$corpus")
  "$fuzzer" -seed=1 -runs="$runs" -max_len=65536 "${inputs[@]}"
  rm -rf "$work"
done
