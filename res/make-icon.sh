#!/usr/bin/env bash
# The application icon's artwork: a game controller with an upward arrow (an
# update), drawn on a 32 x 32 grid so that every size shows the same picture.
#   res/make-icon.sh                   rewrites res/tarvik_update.ico (one 32 x 32 image)
#   res/make-icon.sh SIZE OUTPUT.png   a PNG of SIZE x SIZE pixels, for other desktops
# Needs ImageMagick's convert. The .ico is kept in the repository, so that
# building for Windows does not need ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

draw() {
  local size=$1 output=$2
  local scale
  scale=$(awk -v s="$size" 'BEGIN { print s / 32 }')
  convert -size "${size}x${size}" xc:none -depth 8 \
    -draw "scale ${scale},${scale}
      fill #1F2937 stroke #0B1220 stroke-width 0.8
      path 'M 9,12 L 23,12 C 28,12 30.5,15 30.5,20 C 30.5,26 28.5,29.5 25.5,29.5
            C 23,29.5 22,27 20.5,25 L 11.5,25 C 10,27 9,29.5 6.5,29.5
            C 3.5,29.5 1.5,26 1.5,20 C 1.5,15 4,12 9,12 Z'
      stroke none fill #E5E7EB
      rectangle 6,17.2 11,19.2
      rectangle 7.5,15.7 9.5,20.7
      fill #F59E0B circle 22.5,16.8 23.9,16.8
      fill #EF4444 circle 25.5,19.8 26.9,19.8
      fill #3B82F6 circle 19.5,19.8 20.9,19.8
      fill #10B981 circle 22.5,22.6 23.9,22.6
      fill #16A34A stroke #FFFFFF stroke-width 1
      path 'M 16,0.8 L 22.5,7.5 L 18.6,7.5 L 18.6,14.5 L 13.4,14.5 L 13.4,7.5 L 9.5,7.5 Z'" \
    "$output"
}

if (($# == 0)); then
  draw 32 tarvik_update.ico
elif (($# == 2)); then
  draw "$1" "$2"
else
  echo "usage: $0 [SIZE OUTPUT.png]" >&2
  exit 2
fi
