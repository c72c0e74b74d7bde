#!/usr/bin/env bash
# Whole-process timing: an A4 page at 300 dpi through the real filter for
# every printer family, next to `cat` of the same raster (the cost of just
# moving the bytes) in the same run. Median of N runs, in milliseconds.
#
#   bash bench/filter-timing.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-7}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

gen="$build"/tools/rastergen/quillfeed-rastergen
"$gen" --width 2480 --height 3508 --bpp 8 --dpi 300 --pattern gradient "$tmp"/a4-8.ras
"$gen" --width 2480 --height 3508 --bpp 24 --dpi 300 --pattern frame "$tmp"/a4-24.ras

median_ms() { # command...
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

ppds="$build"/ppd/ppd
printf '%-34s %8s\n' "case" "ms"
for ras in a4-8 a4-24; do
  printf '%-34s %8s\n' "cat $ras.ras (baseline)" "$(median_ms cat "$tmp/$ras.ras")"
  for ppd in tspl-300 escpos-80 cpcl-203 paperang-p2 peripage-a6plus cat-gb01 niimbot-b21 phomemo-m110; do
    ms=$(PPD="$ppds/quillfeed-$ppd.ppd" median_ms "$build"/filter/quillfeed 1 u t 1 "" "$tmp/$ras.ras")
    printf '%-34s %8s\n' "quillfeed $ppd $ras.ras" "$ms"
  done
done
