#!/usr/bin/env bash
# Crawls the Python documentation (python3-doc, about 500 pages) served by nginx on a free
# loopback port, checks the crawl report (pages.csv has one row per line of urllist.txt plus one
# per URL left out, failed or too large, as stderr names them; xmllint reads report.html without an error; headless Chromium loads it with no
# console error) and takes its screenshot (docs/report.png by default).
# Usage: tools/report_screenshot.sh [build-dir] [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build}
out=${2:-$root/docs/report.png}
docs=/usr/share/doc/python3/html
[ -x "$build/app/tollwick" ] || { echo "no $build/app/tollwick; build the project first" >&2; exit 1; }
[ -d "$docs" ] && command -v chromium >/dev/null || bash tools/install-deps.sh

source tools/nginx-lib.sh
work=$(mktemp -d)
port=$(free_port)
trap 'nginx_stop; rm -rf "$work"' EXIT
nginx_serve "$work" 'access_log off;' "server { listen 127.0.0.1:$port; root $docs; }"

TMPDIR="$work" XDG_CONFIG_HOME="$work/config" "$build/app/tollwick" generate \
  "http://127.0.0.1:$port/" --delay-ms 0 -q >"$work/out" 2>"$work/err" || true
folder=$(tail -n 1 "$work/out")
grep -E '^tollwick: [0-9]+ pages? listed|^tollwick: report:' "$work/err"

listed=$(grep -c '' "$folder/urllist.txt")
failed=$(grep -c -E '^tollwick: (failed: |warning: left out )' "$work/err" || true)
rows=$(python3 -c 'import csv, sys; print(sum(1 for _ in csv.reader(open(sys.argv[1], newline=""))) - 1)' \
  "$folder/pages.csv")
echo "pages.csv: $rows rows; urllist.txt: $listed lines; left out: $failed"
[ "$rows" -eq $((listed + failed)) ] || { echo "pages.csv does not match the crawl" >&2; exit 1; }
xmllint --html --noout "$folder/report.html"
echo "xmllint: no error"

# Chromium's own start-up chatter (D-Bus, GPU) is not the page's: only console lines count.
chromium --headless --no-sandbox --disable-gpu --enable-logging=stderr --v=0 \
  --window-size=1200,2000 --screenshot="$out" "file://$folder/report.html" 2>"$work/chromium.err"
if grep -F 'CONSOLE' "$work/chromium.err"; then
  echo "console messages while loading the report" >&2
  exit 1
fi
echo "Chromium: no console message; screenshot in $out"
