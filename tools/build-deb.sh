#!/usr/bin/env bash
# Builds the Debian package tollwick_<version>_amd64.deb with CPack in a build folder of its own
# (no tests, no benchmarks), prints its contents and leaves it in that folder.
#   tools/build-deb.sh [BUILD_DIR]    (default build-deb)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/cmake-lib.sh
build_dir=${1:-build-deb}
cmake_configure "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_TESTS=OFF \
  -DQUILLON_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
(cd "$build_dir" && cpack -G DEB)
deb=$(ls "$build_dir"/tollwick_*_amd64.deb)
dpkg-deb --info "$deb"
dpkg -c "$deb"
# Debian's own checks: no error may remain (warnings are printed).
if command -v lintian >/dev/null; then lintian --fail-on error "$deb"; fi
echo "$deb"
