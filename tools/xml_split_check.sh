#!/usr/bin/env bash
# Crawls a generated site of 60,000 pages (tools/gen_crawl_site.py) served by nginx on a free
# loopback port and checks the XML sitemap: it must split into sitemap-1.xml and sitemap-2.xml
# with a sitemap.xml index, every file valid against the schemas in tests/data/app/xsd, and list
# each page once. Too slow for the test suite; prints the crawl's time. Leaves nothing running.
#   tools/xml_split_check.sh [BUILD_DIR] [PAGES]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=${1:-build}
pages=${2:-60000}
tollwick="$build_dir/app/tollwick"
[ -x "$tollwick" ] || { echo "build $tollwick first" >&2; exit 1; }

source "$root/tools/nginx-lib.sh"
work=$(mktemp -d)
port=$(free_port)
python3 tools/gen_crawl_site.py site "$work/site" "http://127.0.0.1:$port" --pages "$pages"
trap 'nginx_stop; rm -rf "$work"' EXIT
nginx_serve "$work" 'access_log off;' "server { listen 127.0.0.1:$port; root $work/site; }"

start=$(date +%s.%N)
folder=$(TMPDIR="$work" "$tollwick" generate "http://127.0.0.1:$port/" --delay-ms 0 --no-html \
  --no-urllist --output-dir "$work/out" 2>"$work/stderr" | tail -n 1)
end=$(date +%s.%N)
tail -n 2 "$work/stderr"
echo "crawl of $pages pages: $(python3 -c "print(round($end - $start, 1))") s"

xsd="$root/tests/data/app/xsd"
ls "$folder"
[ -f "$folder/sitemap-1.xml" ] && [ -f "$folder/sitemap-2.xml" ] && [ ! -e "$folder/sitemap-3.xml" ]
xmllint --noout --schema "$xsd/siteindex.xsd" "$folder/sitemap.xml"
xmllint --noout --schema "$xsd/sitemap.xsd" "$folder/sitemap-1.xml" "$folder/sitemap-2.xml"
listed=$(cat "$folder"/sitemap-*.xml | grep -c '<url>')
unique=$(cat "$folder"/sitemap-*.xml | grep -o '<loc>[^<]*' | sort -u | wc -l)
echo "URLs listed: $listed, distinct: $unique"
[ "$listed" -eq "$unique" ] && [ "$listed" -gt 50000 ]
echo "split check passed"
