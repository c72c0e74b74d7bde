#!/usr/bin/env bash
# Peak memory of the filter for a long receipt: 5 m of 58 mm paper at 203 dpi
# (384 x 40000 dots, 8-bit grey raster), sent once as one page and once as
# 100 pages of 400 rows, through the shipped 58 mm PPD (receipt mode, bands of
# 256 rows). Peak resident size as GNU time reports it, less the filter's own
# baseline (the same run with one page of 8 rows: libraries, PPD, buffers),
# against the bound of twice one page's raster plus 2 MiB. A benchmark, not a
# test: it prints figures and says whether they are within the bound.
#
#   bash bench/receipt-memory.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

gen="$build"/tools/rastergen/quillfeed-rastergen
filter="$build"/filter/quillfeed
ppd="$build"/ppd/ppd/quillfeed-escpos-58.ppd
"$gen" --width 384 --height 8 --bpp 8 --dpi 203 --pattern checker "$tmp"/base.ras >/dev/null
"$gen" --width 384 --height 40000 --bpp 8 --dpi 203 --pattern checker "$tmp"/one.ras >/dev/null
"$gen" --width 384 --height 400 --bpp 8 --dpi 203 --pattern checker --pages 100 "$tmp"/hundred.ras >/dev/null

peak_bytes() { # raster file -> peak resident bytes of the filter
  local kib
  kib=$(PPD="$ppd" /usr/bin/time -f '%M' "$filter" 1 u t 1 "" "$1" 2>&1 >"$1.out" | tail -n 1)
  echo $((kib * 1024))
}

base=$(peak_bytes "$tmp"/base.ras)
awk -v b="$base" 'BEGIN { printf "baseline (one page of 8 rows): %.1f MiB peak\n", b / 1048576 }'
printf '%-20s %9s %11s %9s %14s %10s  %s\n' case rows/page "raster MiB" "peak MiB" "above base MiB" "bound MiB" verdict
for run in "one 40000 1" "hundred 400 100"; do
  set -- $run
  name=$1 rows=$2 pages=$3
  page_bytes=$((384 * rows))
  peak=$(peak_bytes "$tmp/$name.ras")
  above=$((peak - base))
  bound=$((2 * page_bytes + 2 * 1048576))
  verdict=ok
  [ "$above" -le "$bound" ] || verdict=OVER
  awk -v n="$pages x $rows rows" -v r="$rows" -v p="$page_bytes" -v k="$peak" -v a="$above" -v b="$bound" \
    -v v="$verdict" 'BEGIN { m = 1048576
      printf "%-20s %9d %11.1f %9.1f %14.1f %10.1f  %s\n", n, r, p / m, k / m, a / m, b / m, v }'
done
# The whole receipt left the filter either way.
printf 'printer bytes: one page %d, 100 pages %d\n' "$(stat -c %s "$tmp"/one.ras.out)" "$(stat -c %s "$tmp"/hundred.ras.out)"
