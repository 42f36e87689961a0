#!/usr/bin/env bash
# Renders the icon drawing into the raster files committed beside it: the PNG
# that the Linux window falls back on when the icon theme has no SVG support,
# and the Windows .ico (16 to 48 px as bitmaps, 256 px as PNG). Run it after
# editing the SVG; the build itself needs neither rsvg-convert nor icotool.
#   packaging/render-icons.sh
set -euo pipefail
cd "$(dirname "$0")"
svg=io.github.quorvel.Quorvel.svg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 24 32 48 256; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$work/$size.png"
done
cp "$work/256.png" quorvel-256.png
icotool -c -o quorvel.ico "$work"/16.png "$work"/24.png "$work"/32.png "$work"/48.png -r "$work"/256.png
