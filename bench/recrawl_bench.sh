#!/usr/bin/env bash
# Re-crawl benchmark: tollwick generate --delay-ms 0 over the generated site
# (tools/gen_crawl_site.py, 2,000 pages by default, files dated ten days back so that the
# Last-Modified rule keeps entries fresh for two and a half days) against one nginx on a free
# loopback port, with:
#  - no cache; a cold --cache DIR (empty, filled by the run); the same cache warm (fresh entries);
#  - the same cache with every entry expired and --revalidate (each page a conditional request);
#  - --http-cache cold and warm, and warm with --revalidate (each page a conditional request).
# Per case: median wall seconds of REPEAT runs, pages listed, requests nginx logged (200 / 304 /
# other), cache size. A cold cache costs one new file per page: its time follows the disk.
#   bash bench/recrawl_bench.sh   PAGES=... REPEAT=... BUILD_DIR=... to vary it, NO_BUILD=1 to reuse
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${PAGES:-2000}
repeat=${REPEAT:-3}
build_dir=${BUILD_DIR:-build-bench}

source tools/cmake-lib.sh
build_release_tollwick "$build_dir"

source tools/nginx-lib.sh
work=$(mktemp -d)
port=$(free_port)
base="http://127.0.0.1:$port"
python3 tools/gen_crawl_site.py site "$work/site" "$base" --pages "$pages"
find "$work/site" -type f -exec touch -d '10 days ago' {} +
trap 'nginx_stop; rm -rf "$work"' EXIT
nginx_serve "$work" \
  "log_format withconnection '\$connection \$status \"\$request\"'; access_log $work/access.log withconnection;" \
  "server { listen 127.0.0.1:$port; root $work/site; location /gz/ { add_header Content-Encoding gzip; } }"

# Every entry of the one-file store expired long ago (expiry day count 1.0 at offset 10).
age_entries() {
  python3 - "$work/cache" <<'PY'
import os, struct, sys
for folder, _, names in os.walk(sys.argv[1]):
    for name in names:
        if name.endswith(".dat"):
            with open(os.path.join(folder, name), "r+b") as f:
                f.seek(10)
                f.write(struct.pack("<d", 1.0))
PY
}
empty_cache() { rm -rf "$work/cache"; }
# run NAME PREPARE [options...]: the crawl $repeat times, PREPARE before each; prints the median
# wall time and the requests of the last one, and keeps the median in $last_wall.
run() {
  local name=$1 prepare=$2
  shift 2
  local walls=()
  for _ in $(seq "$repeat"); do
    $prepare
    : >"$work/access.log"
    TMPDIR="$work" XDG_CONFIG_HOME="$work/config" /usr/bin/time -f '%e' -o "$work/time" \
      "$build_dir/app/tollwick" generate "$base/" --delay-ms 0 "$@" >"$work/out" 2>"$work/err"
    walls+=("$(cat "$work/time")")
  done
  last_wall=$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(( (repeat + 1) / 2 ))p")
  local listed cache_kb
  listed=$(grep -c '' "$(tail -n 1 "$work/out")/urllist.txt")
  cache_kb=$( [ -d "$work/cache" ] && du -sk "$work/cache" | cut -f1 || echo 0)
  awk -v n="$name" -v w="$last_wall" -v l="$listed" -v c="$cache_kb" '
    { total++; if ($2 == 200) ok++; else if ($2 == 304) nm++; else other++ }
    END { printf "%-22s %6.2f s  %5d pages  %5d requests (%d 200, %d 304, %d other)",
            n, w, l, total, ok, nm, other
          printf "  cache %5.1f MB\n", c / 1024 }' "$work/access.log"
}

echo "Re-crawl of the generated site: $pages pages at $base ($(nproc) cores, median of $repeat)"
run "no cache" :
plain_wall=$last_wall
run "--cache, cold" empty_cache --cache "$work/cache"
cold_wall=$last_wall
run "--cache, warm" : --cache "$work/cache"
warm_wall=$last_wall
run "--cache, stale + 304s" age_entries --cache "$work/cache" --revalidate
reval_wall=$last_wall
run "--http-cache, cold" empty_cache --cache "$work/cache" --http-cache
hcold_wall=$last_wall
run "--http-cache, warm" : --cache "$work/cache" --http-cache
hwarm_wall=$last_wall
run "--http-cache, 304s" : --cache "$work/cache" --http-cache --revalidate
hreval_wall=$last_wall
awk -v p="$plain_wall" -v c="$cold_wall" -v w="$warm_wall" -v r="$reval_wall" \
    -v hc="$hcold_wall" -v hw="$hwarm_wall" -v hr="$hreval_wall" 'BEGIN {
  printf "warm fresh re-crawl: %.1f times faster than cold", c / w
  printf " (%.1f times faster than the uncached run)\n", p / w
  printf "revalidating re-crawl: %.2f of the cold time\n", r / c
  printf "--http-cache warm: %.1f times faster than cold\n", hc / hw
  printf "--http-cache revalidating re-crawl: %.2f of its cold time\n", hr / hc
}'
