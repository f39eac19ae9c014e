#!/usr/bin/env bash
# Takes a screenshot of the tollwick dialog under Xvfb and writes it as a PNG (docs/dialog.png
# by default). Needs xvfb, xauth and x11-apps (xwd); the XWD image is turned into a PNG with
# python3's standard library. The dialog runs with a profile of its own, so the welcome message
# stays away and the user's settings are not touched.
# Usage: tools/dialog_screenshot.sh [build-dir] [output.png]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$root/docs/dialog.png}
binary=$build/app/tollwick
[ -x "$binary" ] || { echo "no $binary; build the project first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/Brindlewood" "$work/tmp"
cat > "$work/config/Brindlewood/Tollwick.conf" <<'EOF'
[Settings]
First%20Time=0
URL=http://www.brindlewood.example/
EOF

export XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp BINARY=$binary XWD=$work/dialog.xwd
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$BINARY" & pid=$!
  for _ in $(seq 50); do
    sleep 0.2
    xwd -silent -name Tollwick -out "$XWD" 2>/dev/null && break
  done
  # One more look once the window has surely painted.
  sleep 1
  xwd -silent -name Tollwick -out "$XWD"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
'

mkdir -p "$(dirname "$out")"
python3 - "$work/dialog.xwd" "$out" <<'EOF'
# XWD (ZPixmap, 24 or 32 bits per pixel, TrueColor) to an 8-bit RGB PNG.
import struct, sys, zlib

data = open(sys.argv[1], "rb").read()
fields = struct.unpack(">25I", data[:100])
header_size, _, pixmap_format, depth, width, height = fields[:6]
byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
red_mask, green_mask, blue_mask, ncolors = fields[14], fields[15], fields[16], fields[19]
if pixmap_format != 2 or bits_per_pixel not in (24, 32):
    sys.exit("unsupported XWD image (format %d, %d bits per pixel)" % (pixmap_format, bits_per_pixel))

def shift(mask):
    return (mask & -mask).bit_length() - 1

shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
step = bits_per_pixel // 8
order = "little" if byte_order == 0 else "big"
pixels = data[header_size + ncolors * 12:]
rows = bytearray()
for y in range(height):
    rows.append(0)
    line = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
    for x in range(width):
        value = int.from_bytes(line[x * step:(x + 1) * step], order)
        rows += bytes(((value & m) >> s) & 0xFF for m, s in zip((red_mask, green_mask, blue_mask), shifts))

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
print(sys.argv[2], "%dx%d" % (width, height))
EOF
