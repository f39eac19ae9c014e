#!/usr/bin/env bash
# Rendering benchmark: tollwick generate --delay-ms 0 with and without --render-js, against one
# nginx on free loopback ports serving
#  - the five-page site whose links only scripts write (tests/data/render_site);
#  - the Python documentation (python3-doc), the first MAX_PAGES pages (default 200).
# Per case: pages listed, pages rendered, median wall seconds of REPEAT runs, and the
# milliseconds per rendered page (the whole run, browser start-up included, over the pages
# rendered) and what each added over the plain crawl (which on the script site lists one page).
#   bash bench/render_bench.sh     MAX_PAGES=... REPEAT=... BUILD_DIR=... to vary it,
#                                  NO_BUILD=1 to reuse the build
set -euo pipefail
cd "$(dirname "$0")/.."
max_pages=${MAX_PAGES:-200}
repeat=${REPEAT:-3}
build_dir=${BUILD_DIR:-build-bench}
docs=/usr/share/doc/python3/html

command -v chromium >/dev/null || bash tools/install-deps.sh
if [ ! -d "$docs" ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    python3-doc >/dev/null
fi
source tools/cmake-lib.sh
build_release_tollwick "$build_dir"

source tools/nginx-lib.sh
work=$(mktemp -d)
site_port=$(free_port)
docs_port=$(free_port)
trap 'nginx_stop; rm -rf "$work"' EXIT
nginx_serve "$work" "access_log off;" \
  "server { listen 127.0.0.1:$site_port; root $(pwd)/tests/data/render_site; }" \
  "server { listen 127.0.0.1:$docs_port; root $docs; }"

# crawl URL [options...]: prints "listed rendered seconds" of one run.
crawl() {
  local url=$1
  shift
  local start end summary
  start=$(date +%s.%N)
  summary=$("$build_dir/app/tollwick" generate "$url" --delay-ms 0 --no-html --no-xml \
    --output-dir "$work/out" "$@" 2>&1 >/dev/null | grep ' pages\? listed' || true)
  end=$(date +%s.%N)
  local listed rendered
  listed=$(sed -nE 's/.*tollwick: ([0-9]+) pages? listed.*/\1/p' <<<"$summary")
  rendered=$(sed -nE 's/.*, ([0-9]+) rendered.*/\1/p' <<<"$summary")
  echo "${listed:-0} ${rendered:-0} $(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')"
}

# median_run URL [options...]: the run with the median time of REPEAT.
median_run() {
  for _ in $(seq "$repeat"); do crawl "$@"; done | sort -k3 -n | sed -n "$(((repeat + 1) / 2))p"
}

report() {  # name url [options...]
  local name=$1 url=$2
  shift 2
  read -r plain_listed _ plain_seconds < <(median_run "$url" "$@")
  read -r listed rendered seconds < <(median_run "$url" --render-js "$@")
  awk -v n="$name" -v pl="$plain_listed" -v ps="$plain_seconds" -v l="$listed" -v r="$rendered" \
      -v s="$seconds" 'BEGIN {
    printf "%-12s plain: %4d pages %6.2f s | --render-js: %4d pages, %4d rendered %6.2f s | %6.1f ms per rendered page, %6.1f ms more than plain\n",
      n, pl, ps, l, r, s, (r > 0 ? s * 1000 / r : 0), (r > 0 ? (s - ps) * 1000 / r : 0) }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)   $(chromium --version 2>/dev/null | tail -1)"
report "script site" "http://127.0.0.1:$site_port/"
report "python docs" "http://127.0.0.1:$docs_port/" --max-pages "$max_pages"
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
