#!/usr/bin/env bash
# Crawl report benchmark: tollwick generate --delay-ms 0 over a generated site
# (tools/gen_crawl_site.py, 250,000 pages by default) served by nginx on a free loopback port,
# once with the crawl report and once with --no-report. Prints for each run the pages, the wall
# time and the peak RSS (GNU time), then the report's size, pages.csv's size and rows, and the
# memory the report costs against the run without it.
#   bash bench/report_bench.sh           PAGES=... BUILD_DIR=... to vary it, NO_BUILD=1 to reuse
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${PAGES:-250000}
build_dir=${BUILD_DIR:-build-bench}

command -v nginx >/dev/null && [ -x /usr/bin/time ] || bash tools/install-deps.sh
source tools/cmake-lib.sh
build_release_tollwick "$build_dir"

source tools/nginx-lib.sh
work=$(mktemp -d)
port=$(free_port)
base="http://127.0.0.1:$port"
trap 'nginx_stop; rm -rf "$work"' EXIT
python3 tools/gen_crawl_site.py site "$work/site" "$base" --pages "$pages"
nginx_serve "$work" 'access_log off;' \
  "server { listen 127.0.0.1:$port; root $work/site; location /gz/ { add_header Content-Encoding gzip; } }"

field() { grep -F "$1" "$2" | sed 's/.*: //'; }
seconds() {  # "m:ss.cc" or "h:mm:ss" to seconds
  awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }' <<<"$1"
}
# crawl NAME [options...]: one run; its folder in $work/NAME.folder, GNU time's report in
# $work/NAME.time.
crawl() {
  local name=$1
  shift
  TMPDIR="$work" XDG_CONFIG_HOME="$work/config" /usr/bin/time -v -o "$work/$name.time" \
    "$build_dir/app/tollwick" generate "$base/" --delay-ms 0 -q "$@" \
    >"$work/$name.out" 2>"$work/$name.err"
  tail -n 1 "$work/$name.out" >"$work/$name.folder"
  local folder listed wall rss
  folder=$(cat "$work/$name.folder")
  listed=$(grep -c '' "$folder/urllist.txt")
  wall=$(seconds "$(field 'Elapsed (wall clock)' "$work/$name.time")")
  rss=$(field 'Maximum resident set size' "$work/$name.time")
  awk -v n="$name" -v p="$listed" -v w="$wall" -v r="$rss" 'BEGIN {
    printf "%-10s %7d pages  %7.1f s  %7.0f pages/s  peak RSS %7.1f MB\n", n, p, w, p / w, r / 1024 }'
}
rss_kb() { field 'Maximum resident set size' "$work/$1.time"; }

echo "Generated site: $pages pages at $base ($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
crawl no-report --no-report
crawl report
folder=$(cat "$work/report.folder")
grep -F 'tollwick: report:' "$work/report.err" || true
awk -v h="$(stat -c %s "$folder/report.html")" -v c="$(stat -c %s "$folder/pages.csv")" \
    -v rows="$(python3 -c 'import csv, sys; print(sum(1 for _ in csv.reader(open(sys.argv[1], newline=""))) - 1)' "$folder/pages.csv")" \
    -v with="$(rss_kb report)" -v without="$(rss_kb no-report)" 'BEGIN {
  printf "report.html %.2f MB, pages.csv %.1f MB with %d rows\n", h / 1048576, c / 1048576, rows
  printf "peak RSS with the report %.1f MB against %.1f MB without: %+.1f%%\n",
    with / 1024, without / 1024, (with - without) * 100 / without
}'
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
