#!/usr/bin/env bash
# Crawl benchmark: tollwick generate --delay-ms 0 against wget --spider -r on the same
# generated site (tools/gen_crawl_site.py, 2,000 pages by default) served by nginx on a free
# loopback port. Prints pages, seconds, pages per second and peak RSS for each.
#   bash bench/crawl_bench.sh            PAGES=... BUILD_DIR=... to vary it
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
pages=${PAGES:-2000}
build_dir=${BUILD_DIR:-build-bench}

command -v wget >/dev/null && [ -x /usr/bin/time ] || bash tools/install-deps.sh
# NO_BUILD=1 reuses an existing build.
if [ ! -x "$build_dir/app/tollwick" ] || [ -z "${NO_BUILD:-}" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF \
    "${launcher[@]}" >/dev/null
  cmake --build "$build_dir" -j "$(nproc)" --target tollwick >/dev/null
fi

work=$(mktemp -d)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"
python3 tools/gen_crawl_site.py site "$work/site" "$base" --pages "$pages"
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root root;"
cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
error_log $work/error.log warn;
pid $work/nginx.pid;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  access_log $work/access.log;
  keepalive_requests 100000;
  client_body_temp_path $work/body; proxy_temp_path $work/proxy; fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $work/site; location /gz/ { add_header Content-Encoding gzip; } }
}
CONF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
trap 'kill -QUIT $nginx_pid 2>/dev/null; wait $nginx_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done

# Field of GNU time's -v report.
field() { grep -F "$1" "$2" | sed 's/.*: //'; }
seconds() {  # "m:ss.cc" or "h:mm:ss" to seconds
  awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }' <<<"$1"
}
report() {  # name pages timefile
  local wall rss
  wall=$(seconds "$(field 'Elapsed (wall clock)' "$3")")
  rss=$(field 'Maximum resident set size' "$3")
  awk -v n="$1" -v p="$2" -v w="$wall" -v r="$rss" 'BEGIN {
    printf "%-9s %6d pages  %7.2f s  %8.1f pages/s  peak RSS %6.1f MB\n", n, p, w, (w > 0 ? p / w : 0), r / 1024 }'
}

echo "Site: $pages generated pages at $base ($(nproc) cores)"

: >"$work/access.log"
TMPDIR="$work" XDG_CONFIG_HOME="$work/config" /usr/bin/time -v -o "$work/tollwick.time" \
  "$build_dir/app/tollwick" generate "$base/" --delay-ms 0 >"$work/tollwick.out" 2>"$work/tollwick.err"
folder=$(tail -n 1 "$work/tollwick.out")
tollwick_pages=$(($(grep -c '' "$folder/urllist.txt")))
tollwick_requests=$(grep -c '' "$work/access.log")

: >"$work/access.log"
(cd "$work" && /usr/bin/time -v -o "$work/wget.time" \
  wget --spider -r -l inf --follow-tags=a -nv "$base/" >"$work/wget.out" 2>&1) || true
wget_requests=$(grep -c '' "$work/access.log")
# Pages wget fetched with a GET and a 200 (its --spider HEAD requests and robots.txt left out),
# from the server's own record.
wget_pages=$(grep '"GET ' "$work/access.log" | grep -v '/robots.txt' | grep -c '" 200 ' || true)

report tollwick "$tollwick_pages" "$work/tollwick.time"
report wget "$wget_pages" "$work/wget.time"
echo "requests seen by nginx: tollwick $tollwick_requests, wget $wget_requests"
