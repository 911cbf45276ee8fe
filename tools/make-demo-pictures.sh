#!/usr/bin/env bash
# Writes demo pictures KORVA001.DAT ... KORVA050.DAT into FOLDER: every
# fitting case (small, exact width, wider or taller only, wide, square,
# portrait, the screen's own aspect, thin strips) in PNG, JPEG, BMP and GIF,
# each labelled with its number, size and format. A few numbers are left out
# and one file is not a picture at all, so the demo shows black intervals too.
#
#   tools/make-demo-pictures.sh FOLDER [SCREEN_WIDTHxSCREEN_HEIGHT]
#
# The screen size (default 1280x720) only sets which pictures come out as
# exactly as wide or as tall as the screen. Needs ImageMagick's `convert`.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 FOLDER [WIDTHxHEIGHT]" >&2
  exit 2
fi
folder=$1
screen=${2:-1280x720}
W=${screen%x*} H=${screen#*x}
command -v convert >/dev/null || { echo "ImageMagick's convert is needed" >&2; exit 1; }
mkdir -p "$folder"

formats=(png jpg bmp3 gif)
colours=("#1f77b4" "#ff7f0e" "#2ca02c" "#d62728" "#9467bd" "#8c564b" "#e377c2" "#17becf" "#bcbd22")
# Numbers shown as a black interval: missing files, and 30 holds no picture.
missing=" 7 19 33 44 "

# number: width height label
shape() {
  local n=$1
  case $(( (n - 1) % 12 )) in
  0) echo "$((W / 3)) $((H / 3)) small" ;;
  1) echo "$W $((H / 2)) exactly-as-wide" ;;
  2) echo "$((W * 3 / 2)) $((H / 3)) wider-only" ;;
  3) echo "$((W / 4)) $((H * 3 / 2)) taller-only" ;;
  4) echo "$((W * 2)) $((H * 2 / 3)) wide-landscape" ;;
  5) echo "$((H * 2)) $((H * 2)) big-square" ;;
  6) echo "$((W * 2)) $((H * 2)) same-aspect" ;;
  7) echo "$((H / 2)) $((H * 3)) tall-portrait" ;;
  8) echo "$((W / 3)) $H exactly-as-tall" ;;
  9) echo "$((W * 4)) $((H / 5)) panorama" ;;
  10) echo "320 240 small-4x3" ;;
  11) echo "2400 1600 photo-3x2" ;;
  esac
}

for n in $(seq 1 50); do
  name=$(printf 'KORVA%03d.DAT' "$n")
  rm -f "$folder/$name"
  case "$missing" in *" $n "*) continue ;; esac
  if [ "$n" -eq 30 ]; then
    echo "this file holds no picture" >"$folder/$name"
    continue
  fi
  read -r w h label < <(shape "$n")
  # Rotated every round of shapes, so each shape comes in several formats.
  format=${formats[$(( (n - 1 + (n - 1) / 12) % 4 ))]}
  kind=${format%3}
  kind=${kind^^}
  colour=${colours[$(( n % ${#colours[@]} ))]}
  short=$(( w < h ? w : h ))
  # Text sized for the picture as fitted to the screen, so every label stays
  # readable once scaled down.
  point=$(awk -v w="$w" -v h="$h" -v W="$W" -v H="$H" 'BEGIN {
    s = W / w; if (H / h < s) s = H / h; if (s > 1) s = 1
    fw = w * s; fh = h * s; f = (fw < fh ? fw : fh) / 4; if (f > 120) f = 120
    p = f / s; if (p < 12) p = 12; if (p > h * 0.45) p = h * 0.45
    printf "%d", p }')
  convert -size "${w}x${h}" "gradient:${colour}-black" -depth 8 -alpha off \
    -fill none -stroke white -strokewidth $(( short / 60 + 1 )) \
    -draw "rectangle 0,0 $((w - 1)),$((h - 1))" -draw "line 0,0 $((w - 1)),$((h - 1))" \
    -stroke none -fill white -undercolor '#00000099' -font DejaVu-Sans -gravity center -pointsize "$point" \
    -annotate +0-$((point / 2)) "$(printf '%03d' "$n")" \
    -pointsize $(( point / 3 > 8 ? point / 3 : 8 )) \
    -annotate +0+$((point * 2 / 3)) "${w}x${h} ${kind} ${label}" \
    -quality 90 -define png:compression-level=1 \
    "${format}:$folder/$name"
done
echo "demo pictures in $folder (missing: ${missing}, 30 is not a picture)"
