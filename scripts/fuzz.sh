#!/usr/bin/env bash
# Fuzzes every format reader with libFuzzer for SECONDS each (default 30), seeded with the files
# the corpus script makes with BUILD_DIR's quenfold-cli. Fails on the first crash, hang or memory
# blow-up; the input that caused it is left in build-fuzz/ as crash-*, timeout-* or oom-*.
#
#   scripts/fuzz.sh [SECONDS] [BUILD_DIR]     (default: 30, build)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${2:-build}
fuzz=build-fuzz
command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (apt-get install clang)" >&2; exit 2; }
CXX=clang++ cmake -S . -B "$fuzz" -DQUENFOLD_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$fuzz" -j "$(nproc)" >/dev/null

seeds="$fuzz/seeds"
if [ ! -d "$seeds/all" ]; then
  rm -rf "$seeds"
  scripts/corpus.sh keep "$build" "$seeds/all" >/dev/null
fi
# Each target starts from its format's smallest files: large ones only slow every execution.
declare -A extensions=([fnt]=fnt [fon]=fon [pcl]="sfp sfl" [bdf]=bdf [pcf]=pcf [otb]=otb [psf]=psf)
status=0
for target in fnt fon pcl bdf pcf otb psf; do
  mkdir -p "$seeds/$target" "$fuzz/corpus-$target"
  for ext in ${extensions[$target]}; do
    # Named by their case and file, as cases share file names.
    find "$seeds/all" -name "*.$ext" -size -24k -print0 |
      while IFS= read -r -d '' f; do
        rel=${f#"$seeds/all/"}
        cp "$f" "$seeds/$target/${rel//[\/ ]/_}"
      done
  done
  log="$fuzz/fuzz-$target.log"
  if (cd "$fuzz" && "./fuzz-$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
        -malloc_limit_mb=256 -max_len=65536 -print_final_stats=1 "corpus-$target" "seeds/$target") >"$log" 2>&1; then
    echo "fuzz-$target: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') executions, no crash"
  else
    echo "fuzz-$target: FAILED (see $log)" >&2
    tail -30 "$log" >&2
    status=1
  fi
done
exit $status
