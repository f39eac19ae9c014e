#!/bin/sh
# Runs a test program as an unprivileged user when started as root (as CI is), so that file
# permissions apply to it: root reads and writes whatever the mode says.
#   run-unprivileged.sh <program> [arguments...]
# QUILLON_TEST_USER names the user (default: nobody). The build tree may lie where that user
# cannot reach (a clone under /root), so the program is copied to a fresh folder under /tmp and
# runs with scratch folders of that user's own as its $TMPDIR and $XDG_CONFIG_HOME.
set -eu
if [ "$(id -u)" -ne 0 ]; then
  exec "$@"
fi
user=${QUILLON_TEST_USER:-nobody}
if ! id "$user" >/dev/null 2>&1 || ! command -v setpriv >/dev/null 2>&1; then
  echo "run-unprivileged: no user '$user' or no setpriv; running as root" >&2
  exec "$@"
fi
work=$(mktemp -d /tmp/quillon-unprivileged.XXXXXX)
trap 'rm -rf "$work"' EXIT
program=$1
shift
cp "$program" "$work/"
mkdir "$work/tmp" "$work/config"
chown "$user" "$work/tmp" "$work/config"
chmod 755 "$work"
status=0
TMPDIR="$work/tmp" XDG_CONFIG_HOME="$work/config" \
  setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups -- \
  "$work/$(basename "$program")" "$@" || status=$?
exit "$status"
