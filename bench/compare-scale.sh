#!/usr/bin/env bash
# Speed at scale of quenfold-cli, each measure in interleaved rounds (the machine is shared):
#   repertoire: every character WenQuanYi Zen Hei maps, at 12 points, as BDF, PCF and OTB, with one
#               thread and with the default threads, against FreeType rendering the same glyphs
#               monochrome and writing nothing (ftfloor-charmap.c, one thread)
#   collection: every face of a folder made by make-installed-faces.py, BDF at 12 points, the
#               default threads against -j 1
#   memory:     the whole repertoire at 72 points as BDF: its size and the run's peak resident memory
# Usage: compare-scale.sh PATH/TO/quenfold-cli [ROUNDS] [FACES-FOLDER]
#   (needs libfreetype-dev, fonts-wqy-zenhei, python3-fonttools, time; FACES-FOLDER is made when
#   missing)
# Goals: repertoire -j 1 / floor <= 1.15, default threads / floor <= 1.0, PCF and OTB within 10 % of
# BDF; collection default / -j 1 <= 0.9; memory: the file past 64 MiB written, peak below 128 MiB.
set -euo pipefail
cli=$(readlink -f "$1"); rounds=${2:-3}; faces=${3:-}
here=$(dirname "$(readlink -f "$0")")
font=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/floor" "$here/ftfloor-charmap.c" $(pkg-config --cflags --libs freetype2)
printf '<?xml version="1.0"?><fontconfig><dir>%s</dir><cachedir>%s/cache</cachedir></fontconfig>\n' \
  "$(dirname "$font")" "$work" > "$work/wqy.conf"
if [ -z "$faces" ]; then faces="$work/faces"; fi
[ -f "$faces/fonts.conf" ] || /usr/bin/python3 "$here/make-installed-faces.py" "$faces" 300
mkdir -p "$work/out"
# A run that fails would time as a fast one: the script stops instead.
ms() {
  local t0 t1; t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  t1=$(date +%s%N); echo $(( (t1 - t0) / 1000000 ))
}
q() { FONTCONFIG_FILE="$work/wqy.conf" "$cli" -q --chars all -s 12 -o "$work/out" "$@" "WenQuanYi Zen Hei"; }
coll() { FONTCONFIG_FILE="$faces/fonts.conf" "$cli" -q -f bdf -s 12 -o "$work/out" "$@" all; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a/b}'; }
q -f bdf; coll   # warm the caches once
# The program sizes a face by its ascent at the point size (WQY Zen Hei at 12 points: 14 pixels per
# em, not 16), so a second floor draws at the pixel size the BDF states: the same glyphs as ours.
px=$(awk '/^PIXEL_SIZE/ {print $2; exit}' "$work/out/WenQuanYi Zen Hei_12.bdf")

for r in $(seq "$rounds"); do
  f=$(ms "$work/floor" "$font" 0 96 12)
  same=$(ms "$work/floor" "$font" 0 $((px * 6)) 12)
  line="round $r  floor ${f} ms (at ${px} px ${same} ms)"
  bdf1=0
  for fmt in bdf pcf otb; do
    one=$(ms q -f "$fmt" -j 1); all=$(ms q -f "$fmt")
    [ "$fmt" = bdf ] && bdf1=$one
    line+="  | $fmt -j1 $(ratio "$one" "$f") default $(ratio "$all" "$f")"
    [ "$fmt" = bdf ] && line+=" (-j1 vs the ${px} px floor $(ratio "$one" "$same"))"
    [ "$fmt" != bdf ] && line+=" (-j1 vs bdf $(ratio "$one" "$bdf1"))"
  done
  c1=$(ms coll -j 1); cd=$(ms coll)
  echo "$line  | collection default/-j1 $(ratio "$cd" "$c1") ($c1 ms, $cd ms)"
done
rm -rf "$work/out"; mkdir -p "$work/out"
FONTCONFIG_FILE="$work/wqy.conf" /usr/bin/time -v "$cli" -q -f bdf --chars all -s 72 -o "$work/out" \
  "WenQuanYi Zen Hei" 2> "$work/time.txt" || true
peak=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time.txt")
[ -n "$peak" ] || { echo "no peak memory measured (is /usr/bin/time installed?)" >&2; exit 1; }
size=$(stat -c %s "$work/out/WenQuanYi Zen Hei_72.bdf" 2>/dev/null || echo 0)
echo "memory: 72 pt BDF $((size / 1048576)) MiB written, peak resident $((peak / 1024)) MiB"
grep -i "not written" "$work/time.txt" || true
