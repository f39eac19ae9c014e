#!/usr/bin/env bash
# One command from a fresh machine to a passing test run: install, configure, build, test.
#   bash tools/build-and-test.sh            normal build in build/
#   BUILD_DIR=... CMAKE_ARGS=... TEST_ARGS=... to vary it (CI uses this for the sanitizer build)
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

source tools/cmake-lib.sh
build_dir=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake_configure "$build_dir" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} ${CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$(nproc)"
# shellcheck disable=SC2086
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" ${TEST_ARGS:-}

# CTest lists the programs that skipped tests; name the skipped test cases too.
skipped=$(grep -E '^\[  SKIPPED \] .+ \([0-9]+ ms\)$' "$build_dir/Testing/Temporary/LastTest.log" \
  | sed 's/^\[  SKIPPED \] //' | sort -u || true)
echo "Skipped test cases: $(printf '%s' "$skipped" | grep -c . || true)"
[ -z "$skipped" ] || sed 's/^/  /' <<<"$skipped"
