#!/usr/bin/env bash
# The README's demo: installs what is needed, builds tollwick, serves the bundled demo site
# (site/) with nginx on a free loopback port, crawls it with `tollwick generate` and shows
# where the sitemap went and how it begins. Leaves nothing running.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh

build_dir=${BUILD_DIR:-build-demo}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target tollwick >/dev/null

# nginx in the foreground on a free port, in a throw-away prefix.
work=$(mktemp -d)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root root;"
cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
error_log $work/error.log warn;
pid $work/nginx.pid;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  client_body_temp_path $work/body; proxy_temp_path $work/proxy; fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $root/site; }
}
CONF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
trap 'kill -QUIT $nginx_pid 2>/dev/null; wait $nginx_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done

url="http://127.0.0.1:$port/"
echo "Crawling the demo site at $url"
folder=$("$build_dir/app/tollwick" generate "$url" --html --urllist --delay-ms 200 \
  --title "Brindlewood Garden Supplies: sitemap" | tail -n 1)

echo
echo "Sitemap written to: $folder/sitemap.htm"
echo "URL list written to: $folder/urllist.txt"
echo
echo "First lines of sitemap.htm:"
head -n 16 "$folder/sitemap.htm"
echo
echo "urllist.txt:"
cat "$folder/urllist.txt"
echo
