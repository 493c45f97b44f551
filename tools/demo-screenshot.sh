#!/usr/bin/env bash
# Photographs the demo page (tools/demo.sh writes build/demo/index.html, GIF
# and SVG charts side by side) with headless Chromium, as a browser shows the
# SVG answers: writes build/demo/screenshot.png (and screenshot-upload.png of
# the upload form). Needs /usr/bin/chromium.
# usage: tools/demo-screenshot.sh [WIDTH HEIGHT]   (default 1900 2200)
set -euo pipefail
cd "$(dirname "$0")/.."
demo=$PWD/build/demo
[ -f "$demo/index.html" ] || { echo "no $demo/index.html: run tools/demo.sh first" >&2; exit 1; }
[ -x /usr/bin/chromium ] || { echo "needs /usr/bin/chromium (Debian package chromium)" >&2; exit 1; }
profile=$(mktemp -d /tmp/grafolio-chromium.XXXXXX)
trap 'rm -rf "$profile"' EXIT
shoot() {  # shoot PAGE OUT
  rm -f "$2"
  timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$profile" \
    --hide-scrollbars --window-size="${1%%|*}" --screenshot="$2" "file://$demo/${1#*|}" >/dev/null 2>&1 || true
  [ -s "$2" ] || { echo "Chromium wrote no screenshot $2" >&2; exit 1; }
  echo "$2"
}
shoot "${1:-1900},${2:-2200}|index.html" "$demo/screenshot.png"
shoot "700,500|upload.html" "$demo/screenshot-upload.png"
