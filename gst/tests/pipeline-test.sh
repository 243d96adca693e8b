#!/usr/bin/env bash
# lumorasrc num-buffers=50 ! videoconvert ! pngenc ! multifilesink: 50 PNG files of the
# simulated picture, each a valid PNG of the camera's size.
set -euo pipefail
launch=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$launch" -q lumorasrc num-buffers=50 width=640 height=512 ! videoconvert ! pngenc ! \
    multifilesink location="$work/frame-%03d.png"
count=$(ls "$work"/frame-*.png | wc -l)
[ "$count" -eq 50 ] || { echo "expected 50 PNG files, got $count" >&2; exit 1; }
if command -v pngcheck >/dev/null; then pngcheck -q "$work"/frame-*.png; fi
if command -v identify >/dev/null; then
    size=$(identify -format '%wx%h' "$work/frame-000.png")
    [ "$size" = "640x512" ] || { echo "frame size $size, expected 640x512" >&2; exit 1; }
    # The simulated picture, not an empty frame: its pixels vary.
    deviation=$(identify -format '%[fx:standard_deviation]' "$work/frame-025.png")
    awk -v d="$deviation" 'BEGIN { exit !(d > 0.01) }' || { echo "flat picture" >&2; exit 1; }
fi
echo "50 PNG files written"
