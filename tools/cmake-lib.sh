# The CMake steps the build, package, fuzz and benchmark scripts share; source it from the
# repository's root.

# cmake_configure DIR [CMAKE ARGUMENTS...]: configures DIR, with ccache as the compiler
# launcher when it is installed.
cmake_configure() {
  local dir=$1
  shift
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" "${launcher[@]}" "$@"
}

# build_release_tollwick DIR [CMAKE ARGUMENTS...]: a Release build of the tollwick program in
# DIR, unless NO_BUILD is set and one is already there.
build_release_tollwick() {
  local dir=$1
  shift
  if [ -n "${NO_BUILD:-}" ] && [ -x "$dir/app/tollwick" ]; then return; fi
  cmake_configure "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target tollwick >/dev/null
}
