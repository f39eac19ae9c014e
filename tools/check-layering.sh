#!/usr/bin/env bash
# Fails when a source file includes a header of a folder above its own: dependencies run one way,
# app -> spider -> http -> net -> base. Prints every upward include it finds.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(base net http spider app)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && echo "$i" && return; done
  echo -1
}

status=0
for folder in "${layers[@]}"; do
  own=$(rank "$folder")
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#include[[:space:]]+"([a-z]+)\/.*/\1/' <<<"$text")
    if [ "$(rank "$target")" -gt "$own" ]; then
      echo "upward include: $file:$line: $text"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#include[[:space:]]+"[a-z]+/' --include='*.h' --include='*.cpp' \
             "$folder" || true)
done
[ "$status" -eq 0 ] && echo "layering: every include points downward"
exit "$status"
