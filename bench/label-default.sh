#!/usr/bin/env bash
# The label printer's default job against its floor: 100 labels of 4 x 6 in
# at 203 dpi, 8-bit grey PWG raster (the pattern of tests/app/pwgraster.py:
# frame, diagonal, bars, a grey ramp over the lower right quarter), through
# the filter with the shipped TSPL 203 dpi PPD's defaults, next to
# qf_raster_read, libcups reading the same raster and nothing else; then the
# same for labels half picture (rows 300 to 899 a grey ramp) and half line
# art (a checkerboard). Both of a page are measured in the same run,
# alternately; the figure is filter / floor.
#
#   bash bench/label-default.sh [BUILD_DIR] [PAGES] [RUNS] [OPTIONS]
#
# QF_BENCH_MEASURE=cpu (default): user + system CPU seconds, median of RUNS
# (default 5). QF_BENCH_MEASURE=callgrind: instructions counted by valgrind's
# callgrind, one run each; repeatable where CPU time is noisy. OPTIONS are
# the filter's job options ('ImageFilter=2' for Burkes, say); none by default.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
pages=${2:-100}
runs=${3:-5}
options=${4:-}
measure=${QF_BENCH_MEASURE:-cpu}
filter=$build/filter/quillfeed
reader=$build/bench/qf_raster_read
ppd=$build/ppd/ppd/quillfeed-tspl-203.ppd
[ -x "$filter" ] && [ -x "$reader" ] && [ -f "$ppd" ] ||
  { echo "build quillfeed, qf_raster_read (bench/) and the PPDs first" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cost() { # command... -> CPU seconds or instructions
  if [ "$measure" = callgrind ]; then
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
      awk '/Collected :/ { print $NF }'
  else
    /usr/bin/time -f '%U %S' -o "$tmp/t" "$@" >/dev/null 2>&1
    awk '{ printf "%.3f\n", $1 + $2 }' "$tmp/t"
  fi
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

[ "$measure" = callgrind ] && runs=1
unit=$([ "$measure" = callgrind ] && echo instructions || echo "s CPU")
for pattern in label grey; do
  python3 tests/app/pwgraster.py "$tmp/job.pwg" --width 812 --height 1218 --dpi 203 --pages "$pages" --pattern $pattern
  : >"$tmp/floor"
  : >"$tmp/filter"
  for _ in $(seq "$runs"); do
    cost "$reader" "$tmp/job.pwg" >>"$tmp/floor"
    PPD=$ppd cost "$filter" 1 bench labels 1 "$options" "$tmp/job.pwg" >>"$tmp/filter"
  done
  floor=$(median <"$tmp/floor")
  cost=$(median <"$tmp/filter")
  what=$([ $pattern = label ] && echo "line art and a grey ramp" || echo "half a grey ramp, half a checkerboard")
  echo "$pages labels ($what), 4 x 6 in at 203 dpi, 8-bit; TSPL 203 dpi PPD defaults${options:+, $options}"
  echo "  floor (libcups reads the raster): $floor $unit"
  echo "  filter:                           $cost $unit"
  awk -v a="$cost" -v b="$floor" 'BEGIN { if (b > 0) printf "  filter / floor: %.2f\n", a / b }'
done
