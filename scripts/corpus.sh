#!/usr/bin/env bash
# The byte-for-byte record of what the writers produce: converts the test fonts in every format at
# several sizes, resolutions and code pages, and compares each file's SHA-256 with the manifest in
# tests/data/corpus.sha256. A change that should not alter any file (a refactoring) must leave the
# comparison clean; a change that should alter files records the new manifest with `record`.
#
#   scripts/corpus.sh [check|record] [BUILD_DIR]     (default: check, build)
#   scripts/corpus.sh keep BUILD_DIR DIR              makes the files into DIR and keeps them
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-check}
build=${2:-build}
cli="$build/quenfold-cli"
manifest=tests/data/corpus.sha256
[ -x "$cli" ] || { echo "corpus: $cli not built (make build)" >&2; exit 2; }
[ -f "$build/testfonts/fonts.conf" ] || { echo "corpus: $build/testfonts/fonts.conf missing" >&2; exit 2; }
case $build in /*) ;; *) build="$PWD/$build" ;; esac
export FONTCONFIG_FILE="$build/testfonts/fonts.conf"

if [ "$mode" = keep ]; then
  out=${3:?"corpus: keep needs a folder"}
  mkdir -p "$out"
else
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
fi

convert() {  # case-name, then quenfold-cli options
  local name=$1
  shift
  mkdir -p "$out/$name"
  # Refused sizes are part of the record too (exit 1): only a usage error stops the corpus.
  "$cli" -q -o "$out/$name" --unsupported yes "$@" all 2>/dev/null || [ $? -eq 1 ]
}

for format in fnt sfp sfl bdf; do
  convert "$format-1252" -f "$format" -s "6, 8, 10, 12, 18, 24, 36"
done
convert fon-1252 -f fon -s "6, 8, 10, 12, 14"
for format in fnt sfp bdf; do
  convert "$format-1251" -f "$format" -c 1251 -s "9, 14"
  convert "$format-437" -f "$format" -c 437 -s "10, 16"
done
convert fnt-300x200 -f fnt -r 300x200 -s "8, 12"
convert bdf-72x144 -f bdf -r 72x144 -s "10, 20"
convert fon-120 -f fon -r 120 -s "8, 10, 12"
convert bdf-unicode -f bdf --chars "latin1, U+0370-U+03FF, U+0400-U+04FF, U+2190-U+21FF, U+2500-U+257F" -s "8, 12, 24"
convert pcf-unicode -f pcf --chars "latin1, U+0370-U+03FF, U+0400-U+04FF, U+2190-U+21FF, U+2500-U+257F" -s "8, 12, 24"
convert pcf-1251 -f pcf -c 1251 -s "10"
convert psf-console -f psf -s "8, 12, 16"
convert otb-unicode -f otb --chars "latin1, U+0370-U+03FF, U+0400-U+04FF, U+2190-U+21FF, U+2500-U+257F" -s "8, 12, 24"

actual=$(cd "$out" && find . -type f | LC_ALL=C sort | xargs -d '\n' sha256sum)
if [ "$mode" = keep ]; then
  echo "corpus: $(find "$out" -type f | wc -l) files in $out"
  exit 0
fi
if [ "$mode" = record ]; then
  printf '%s\n' "$actual" > "$manifest"
  echo "corpus: recorded $(wc -l < "$manifest") files in $manifest"
  exit 0
fi
if diff <(printf '%s\n' "$actual") "$manifest" > "$out/diff"; then
  echo "corpus: all $(wc -l < "$manifest") files byte-identical"
else
  echo "corpus: files differ from $manifest:" >&2
  cat "$out/diff" >&2
  exit 1
fi
