#!/usr/bin/env bash
# Crawl benchmark, in one run against one nginx on free loopback ports:
#  - tollwick generate --delay-ms 0 against wget --spider -r -l inf on the generated site
#    (tools/gen_crawl_site.py, 2,000 pages by default): pages, seconds, pages per second, peak
#    RSS, and the TCP connections each opened (from nginx's access log);
#  - system calls per crawled page of tollwick (strace -f -c);
#  - both crawlers over the Python documentation (python3-doc, about 500 pages).
# Ratios against wget close the report.
#   bash bench/crawl_bench.sh            PAGES=... BUILD_DIR=... to vary it, NO_BUILD=1 to reuse
# The 50 MB body figures come from bench/http_client_bench and bench/https_bench, memory per
# queued URL from bench/spider_bench.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
pages=${PAGES:-2000}
build_dir=${BUILD_DIR:-build-bench}
docs=/usr/share/doc/python3.11/html

command -v wget >/dev/null && [ -x /usr/bin/time ] || bash tools/install-deps.sh
need=()
command -v strace >/dev/null || need+=(strace)
[ -d "$docs" ] || need+=(python3-doc)
if [ ${#need[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${need[@]}" >/dev/null
fi
source tools/cmake-lib.sh
build_release_tollwick "$build_dir"

source tools/nginx-lib.sh
work=$(mktemp -d)
port=$(free_port)
docs_port=$(free_port)
base="http://127.0.0.1:$port"
docs_base="http://127.0.0.1:$docs_port"
python3 tools/gen_crawl_site.py site "$work/site" "$base" --pages "$pages"
trap 'nginx_stop; rm -rf "$work"' EXIT
nginx_serve "$work" \
  "log_format withconnection '\$connection \$status \"\$request\"'; access_log $work/access.log withconnection;" \
  "server { listen 127.0.0.1:$port; root $work/site; location /gz/ { add_header Content-Encoding gzip; } }" \
  "server { listen 127.0.0.1:$docs_port; root $docs; }"

# Field of GNU time's -v report.
field() { grep -F "$1" "$2" | sed 's/.*: //'; }
seconds() {  # "m:ss.cc" or "h:mm:ss" to seconds
  awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }' <<<"$1"
}
wall() { seconds "$(field 'Elapsed (wall clock)' "$1")"; }
rss_kb() { field 'Maximum resident set size' "$1"; }
connections() { cut -d' ' -f1 "$work/access.log" | sort -u | grep -c '' || true; }
report() {  # name pages timefile
  awk -v n="$1" -v p="$2" -v w="$(wall "$3")" -v r="$(rss_kb "$3")" -v c="$(connections)" 'BEGIN {
    printf "%-9s %6d pages  %7.2f s  %8.1f pages/s  peak RSS %6.1f MB  %5d connections\n",
      n, p, w, (w > 0 ? p / w : 0), r / 1024, c }'
}
tollwick() {  # base timefile [wrapper...]
  local url=$1 timefile=$2
  shift 2
  TMPDIR="$work" XDG_CONFIG_HOME="$work/config" /usr/bin/time -v -o "$timefile" "$@" \
    "$build_dir/app/tollwick" generate "$url/" --delay-ms 0 >"$work/tollwick.out" 2>"$work/tollwick.err"
  folder=$(tail -n 1 "$work/tollwick.out")
  grep -c '' "$folder/urllist.txt"
}
wget_spider() {  # base timefile
  (cd "$work" && rm -rf wget && mkdir wget && cd wget && /usr/bin/time -v -o "$2" \
    wget --spider -r -l inf --follow-tags=a -nv "$1/" >"$work/wget.out" 2>&1) || true
  # Pages fetched with a GET and a 200 (--spider's HEAD requests and robots.txt left out).
  grep '"GET ' "$work/access.log" | grep -v '/robots.txt' | grep -c '^[0-9]* 200 ' || true
}

echo "Generated site: $pages pages at $base; Python documentation at $docs_base ($(nproc) cores)"

: >"$work/access.log"
tollwick_pages=$(tollwick "$base" "$work/tollwick.time")
report tollwick "$tollwick_pages" "$work/tollwick.time"
: >"$work/access.log"
wget_pages=$(wget_spider "$base" "$work/wget.time")
report wget "$wget_pages" "$work/wget.time"

strace_pages=$(tollwick "$base" "$work/strace.time" strace -f -c -o "$work/strace.txt")
calls=$(awk '$NF == "total" { print $(NF - 2) }' "$work/strace.txt")
awk -v c="$calls" -v p="$strace_pages" 'BEGIN {
  printf "tollwick system calls: %d for %d pages, %.2f per page\n", c, p, c / p }'
awk '$4 ~ /^[0-9]+$/ && $NF != "total" { print $4, $NF }' "$work/strace.txt" | sort -n -r |
  head -n 6 | awk '{ printf "  %-12s %7d\n", $2, $1 }'

: >"$work/access.log"
docs_tollwick=$(tollwick "$docs_base" "$work/docs-tollwick.time")
report tollwick "$docs_tollwick" "$work/docs-tollwick.time"
: >"$work/access.log"
docs_wget=$(wget_spider "$docs_base" "$work/docs-wget.time")
report wget "$docs_wget" "$work/docs-wget.time"

awk -v tp="$tollwick_pages" -v tw="$(wall "$work/tollwick.time")" -v tr="$(rss_kb "$work/tollwick.time")" \
    -v wp="$wget_pages" -v ww="$(wall "$work/wget.time")" -v wr="$(rss_kb "$work/wget.time")" \
    -v dt="$(wall "$work/docs-tollwick.time")" -v dw="$(wall "$work/docs-wget.time")" 'BEGIN {
  printf "generated site: pages/s %.2f times those of wget, peak RSS %.2f times\n",
    (tp / tw) / (wp / ww), tr / wr
  printf "Python documentation: %.2f s against %.2f s for wget (%.2f of its time)\n", dt, dw, dt / dw
}'
