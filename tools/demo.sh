#!/usr/bin/env bash
# The README's demo: installs what is needed, builds tollwick, serves the bundled demo site
# (site/) with nginx on a free loopback port, crawls it with `tollwick generate` and shows
# where the sitemap went and how it begins. Leaves nothing running.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh

build_dir=${BUILD_DIR:-build-demo}
source tools/cmake-lib.sh
build_release_tollwick "$build_dir" -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF

# nginx in the foreground on a free port, in a throw-away prefix.
source tools/nginx-lib.sh
work=$(mktemp -d)
port=$(free_port)
trap 'nginx_stop; rm -rf "$work"' EXIT
nginx_serve "$work" 'access_log off;' "server { listen 127.0.0.1:$port; root $root/site; }"

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
