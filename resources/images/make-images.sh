#!/usr/bin/env bash
# Draws the window's small pictures with ImageMagick. The PNGs are kept in the tree and compiled
# into the program; run this again only to change a picture.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

# The four box-slot discs.
for pair in grey:#9a9a9a red:#d01818 orange:#f08c00 green:#18a828; do
  name=${pair%%:*} colour=${pair#*:}
  convert -size 20x20 xc:none -fill "$colour" -stroke '#404040' -strokewidth 1 \
    -draw "circle 9.5,9.5 9.5,1" -fill 'rgba(255,255,255,0.55)' -stroke none \
    -draw "ellipse 7,6 4,2.5 0,360" PNG32:disc_$name.png
done
# A detection removed by the operator.
convert -size 16x16 xc:none -stroke '#c00000' -strokewidth 3 \
  -draw "line 3,3 12,12" -draw "line 12,3 3,12" PNG32:removed.png
# The help document.
convert -size 32x32 xc:none -fill '#1e5aa8' -stroke '#0c2c5a' -draw "circle 15.5,15.5 15.5,1.5" \
  -fill white -stroke none -font DejaVu-Sans-Bold -pointsize 22 -gravity center \
  -annotate +0+1 '?' PNG32:help.png
# The long-race indicator.
convert -size 20x20 xc:none -fill '#ffd84a' -stroke '#7a5a00' -draw "circle 9.5,9.5 9.5,1" \
  -stroke '#303030' -strokewidth 2 -draw "line 9.5,9.5 9.5,4" -draw "line 9.5,9.5 14,11" \
  PNG32:longrace.png
# The direct connection: not connected, connecting, connected.
for pair in off:#b01010 connecting:#e08a00 on:#10a030; do
  name=${pair%%:*} colour=${pair#*:}
  convert -size 28x28 xc:none -fill "$colour" -stroke '#303030' \
    -draw "roundrectangle 2,8 17,19 3,3" -strokewidth 2 -draw "line 17,11 25,11" \
    -draw "line 17,16 25,16" -draw "line 2,13 0,13" PNG32:direct_$name.png
done
# The window icon.
convert -size 32x32 xc:none -fill '#16407a' -draw "roundrectangle 0,0 31,31 6,6" -fill white \
  -font DejaVu-Sans-Bold -pointsize 20 -gravity center -annotate +0+0 'L' PNG32:lapora.png
