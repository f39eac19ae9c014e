#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Tollwick need.
# Shared by the README's commands and by .ci/run; safe to run again.
set -euo pipefail

packages=(
  g++ cmake make ccache pkg-config
  zlib1g-dev libbz2-dev libssl-dev libpsl-dev qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  gzip python3 nginx-light tinyproxy libxml2-utils
  netcat-openbsd socat wget time chromium
  clang libclang-rt-14-dev
  qt6-qpa-plugins xvfb xauth x11-apps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
