#!/usr/bin/env bash
# Parallel connections and politeness, in one run on free loopback ports:
#  - a 2,000-page site 20 ms away per answer (bench/delayed_site_server.py): tollwick with
#    --connections 8 --delay-ms 0 and with one connection, against wget2's default (5 threads);
#  - the same site from nginx, one connection each: CPU per page of tollwick and of wget2
#    --max-threads=1;
#  - identical sitemap.htm, urllist.txt and sitemap.xml for --connections 1 and 8, on the
#    2,000-page site and on the Python documentation (python3-doc);
#  - Crawl-delay: 2 with --delay-ms 0 and 4 connections: the gaps between request starts;
#  - a page answered 429 with Retry-After: 1 once: requests for it and the wait before the retry.
#   bash bench/parallel_bench.sh      PAGES=... BUILD_DIR=... to vary it
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
pages=${PAGES:-2000}
build_dir=${BUILD_DIR:-build-bench}
docs=/usr/share/doc/python3.11/html

command -v wget2 >/dev/null && [ -x /usr/bin/time ] && [ -d "$docs" ] || {
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    wget2 time python3-doc >/dev/null
}
source tools/cmake-lib.sh
build_release_tollwick "$build_dir"
source tools/nginx-lib.sh

work=$(mktemp -d)
pids=()
trap 'nginx_stop; for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
slow_port=$(free_port); port=$(free_port); docs_port=$(free_port); polite_port=$(free_port)
python3 tools/gen_crawl_site.py site "$work/site" "http://127.0.0.1:$port" --pages "$pages" >/dev/null
python3 tools/gen_crawl_site.py site "$work/slow" "http://127.0.0.1:$slow_port" --pages "$pages" \
  >/dev/null
nginx_serve "$work" 'access_log off;' \
  "server { listen 127.0.0.1:$port; root $work/site; }" \
  "server { listen 127.0.0.1:$docs_port; root $docs; }"

serve_delayed() {  # root port delay_ms log [busy_path]
  python3 bench/delayed_site_server.py "$1" "$2" "$3" ${5:-} >"$4" &
  pids+=($!)
  for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$2/" && return; sleep 0.1; done
}
serve_delayed "$work/slow" "$slow_port" 20 "$work/slow.log"

field() { grep -F "$1" "$2" | sed 's/.*: //'; }
seconds() { awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }' <<<"$1"; }
wall() { seconds "$(field 'Elapsed (wall clock)' "$1")"; }
cpu() { awk -v u="$(field 'User time' "$1")" -v s="$(field 'System time' "$1")" 'BEGIN { print u + s }'; }
tollwick() {  # base timefile out_dir options...
  local base=$1 timefile=$2 out=$3
  shift 3
  mkdir -p "$out"
  TMPDIR="$work" XDG_CONFIG_HOME="$work/config" /usr/bin/time -v -o "$timefile" \
    "$build_dir/app/tollwick" generate "$base/" -q --output-dir "$out" "$@" >"$out.stdout"
  tail -1 "$out.stdout"
}
wget2_crawl() {  # base timefile options...
  local base=$1 timefile=$2
  shift 2
  rm -rf "$work/wget2" && mkdir "$work/wget2"
  (cd "$work/wget2" && /usr/bin/time -v -o "$timefile" wget2 -q -r -l inf "$@" "$base/") || true
  find "$work/wget2" -type f | grep -c '' || true
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== A site 20 ms away per answer ($pages pages)"
slow="http://127.0.0.1:$slow_port"
tollwick "$slow" "$work/t8.time" "$work/t8" --delay-ms 0 --connections 8 >/dev/null
tollwick "$slow" "$work/t1.time" "$work/t1" --delay-ms 0 >/dev/null
w2=$(wget2_crawl "$slow" "$work/w2.time")
printf "tollwick, 8 connections: %6.2f s\n" "$(wall "$work/t8.time")"
printf "tollwick, 1 connection:  %6.2f s\n" "$(wall "$work/t1.time")"
printf "wget2, 5 threads:        %6.2f s (%s files)\n" "$(wall "$work/w2.time")" "$w2"
echo "8 connections take $(ratio "$(wall "$work/t8.time")" "$(wall "$work/w2.time")") of wget2's time;" \
  "one connection $(ratio "$(wall "$work/t1.time")" "$(wall "$work/w2.time")")"

echo "== CPU per page, one connection, nginx ($pages pages)"
listed=$(grep -c '' "$(tollwick "http://127.0.0.1:$port" "$work/c1.time" "$work/c1" --delay-ms 0)/urllist.txt")
w2=$(wget2_crawl "http://127.0.0.1:$port" "$work/cw.time" --max-threads=1)
t_cpu=$(cpu "$work/c1.time"); w_cpu=$(cpu "$work/cw.time")
printf "tollwick: %.3f s CPU for %s pages (%.1f us a page)\n" "$t_cpu" "$listed" \
  "$(awk -v c="$t_cpu" -v n="$listed" 'BEGIN { print c / n * 1e6 }')"
printf "wget2 --max-threads=1: %.3f s CPU for %s files (%.1f us a file)\n" "$w_cpu" "$w2" \
  "$(awk -v c="$w_cpu" -v n="$w2" 'BEGIN { print c / n * 1e6 }')"

echo "== The same files with 1 and 8 connections"
same() {  # name base
  local one eight
  one=$(tollwick "$2" "$work/s1.time" "$work/s1-$1" --delay-ms 0)
  eight=$(tollwick "$2" "$work/s8.time" "$work/s8-$1" --delay-ms 0 --connections 8)
  for f in sitemap.htm urllist.txt sitemap.xml; do
    if cmp -s "$one/$f" "$eight/$f"; then echo "$1 $f: identical ($(wc -c <"$one/$f") bytes)"
    else echo "$1 $f: DIFFERENT"; fi
  done
}
same generated "http://127.0.0.1:$port"
same python-docs "http://127.0.0.1:$docs_port"

echo "== Crawl-delay: 2, --delay-ms 0, 4 connections"
mkdir -p "$work/polite"
for i in 1 2 3 4; do echo "<a href=p$((i % 4 + 1)).html>next</a>" >"$work/polite/p$i.html"; done
echo '<a href=p1.html>1</a><a href=p2.html>2</a><a href=busy.html>busy</a>' >"$work/polite/index.html"
echo 'fine' >"$work/polite/busy.html"
printf 'User-agent: *\nCrawl-delay: 2\n' >"$work/polite/robots.txt"
serve_delayed "$work/polite" "$polite_port" 0 "$work/polite.log" /busy.html
logged=$(grep -c '' "$work/polite.log" || true)
tollwick "http://127.0.0.1:$polite_port" "$work/p.time" "$work/p" --delay-ms 0 --connections 4 \
  >/dev/null
tail -n +$((logged + 1)) "$work/polite.log" | grep -v robots.txt | awk '
  NR > 1 { gap = $1 - last; if (min == "" || gap < min) min = gap; printf "%-12s %.2f s after the one before\n", $3, gap }
  NR == 1 { printf "%-12s first\n", $3 }
  { last = $1 }
  END { printf "smallest gap between request starts: %.2f s\n", min }'
echo "requests for /busy.html: $(grep -c ' /busy.html' "$work/polite.log"); listed:" \
  "$(grep -c busy "$work/p/"*/urllist.txt || true)"
