#!/bin/sh
# Runs a test program as an unprivileged user when started as root (as CI is), so that file
# permissions apply to it: root reads and writes whatever the mode says. The test's scratch
# folders ($TMPDIR, $XDG_CONFIG_HOME) are handed to that user first.
#   run-unprivileged.sh <program> [arguments...]
# QUILLON_TEST_USER names the user (default: nobody).
set -eu
if [ "$(id -u)" -ne 0 ]; then
  exec "$@"
fi
user=${QUILLON_TEST_USER:-nobody}
if ! id "$user" >/dev/null 2>&1 || ! command -v setpriv >/dev/null 2>&1; then
  echo "run-unprivileged: no user '$user' or no setpriv; running as root" >&2
  exec "$@"
fi
chown -R "$user" "${TMPDIR:?}" "${XDG_CONFIG_HOME:?}"
exec setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups -- "$@"
