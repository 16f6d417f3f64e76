#!/usr/bin/env bash
# Draws the Orvanta emblem (a young sprout on a rounded field under a sun) at every size the
# launcher embeds, as RGBA PNGs beside this script. Needs ImageMagick's convert.
# The art is drawn on a 256 x 171 canvas and scaled; below 48 pixels the furrows are left out
# and the strokes thickened so the emblem still reads at 16 x 11.
set -euo pipefail
cd "$(dirname "$0")"

art() {
  local small=$1
  local outline=6 stem=9 field='#5c9630' leaf='#b8ec6a'
  if [ "$small" = 1 ]; then outline=12; stem=18; field='#3d7420'; leaf='#e4ff8a'; fi
  cat <<MVG
stroke-linejoin round
stroke-linecap round
fill '#ffd246' stroke '#c98a1a' stroke-width $outline
circle 206,46 206,12
fill '$field' stroke '#2a4418' stroke-width $outline
roundrectangle 10,62 246,162 34,34
MVG
  if [ "$small" = 0 ]; then
    cat <<MVG
fill none stroke '#7fb845' stroke-width 6
path 'M 36,140 Q 128,110 220,140'
path 'M 52,116 Q 128,94 204,116'
fill '#6b4426' stroke none
path 'M 28,150 Q 128,128 228,150 L 228,156 Q 128,146 28,156 Z'
MVG
  fi
  cat <<MVG
fill none stroke '#2a4418' stroke-width $((stem + outline))
path 'M 128,150 L 128,84'
fill none stroke '$leaf' stroke-width $stem
path 'M 128,150 L 128,84'
fill '$leaf' stroke '#2a4418' stroke-width $outline
path 'M 126,96 C 96,100 64,84 56,44 C 96,40 124,58 126,96 Z'
path 'M 130,86 C 150,88 186,70 196,30 C 156,28 132,50 130,86 Z'
MVG
}

for size in 16x11 24x16 32x21 48x32 64x43 128x85 256x171; do
  width=${size%x*}
  height=${size#*x}
  small=0
  [ "$width" -lt 48 ] && small=1
  sx=$(awk "BEGIN { print $width / 256 }")
  sy=$(awk "BEGIN { print $height / 171 }")
  drawing="affine $sx,0,0,$sy,0,0
$(art "$small")"
  convert -size "$size" xc:none -draw "$drawing" \
    -define png:exclude-chunks=date,time "PNG32:orvanta-$size.png"
done
