#!/usr/bin/env bash
# What the status queries between pages cost: the filter prints a 20-page job
# to the virtual printer (tools/sim) through its back channel, as CUPS's
# socket backend runs it, with qfStatusQuery=0 (the baseline, same run), with
# qfStatusQuery=1 against a printer that answers, and against one that never
# answers. Prints the median of 5 runs of each and the added time per page.
#
#   bash bench/status-cost.sh [BUILD_DIR]      (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build}
T=$(mktemp -d /tmp/quillfeed-status-cost.XXXXXX)
sim_pid=
trap 'kill $sim_pid 2>/dev/null || true; rm -rf "$T"' EXIT
pages=20 runs=5

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
one() { # PORT PPD RASTER OPTIONS -> seconds
    local t0 t1
    t0=$(date +%s.%N)
    python3 tests/status/sim_filter.py "$B/filter/quillfeed" "$2" "$1" "$3" "$4" 2>/dev/null
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}
printf '%-8s %12s %12s %12s %16s %16s\n' family "off (s)" "answers (s)" "silent (s)" "ms/page answers" "ms/page silent"
for fam in tspl escpos cpcl; do
    case $fam in
    tspl) ppd=quillfeed-tspl-203.ppd w=400 h=240 extra= ;;
    escpos) ppd=quillfeed-escpos-58.ppd w=384 h=400 extra="ReceiptMode=0 CutMode=3" ;;
    cpcl) ppd=quillfeed-cpcl-203.ppd w=400 h=240 extra= ;;
    esac
    python3 tests/app/pwgraster.py "$T/$fam.ras" --width $w --height $h --dpi 203 --pages $pages --type sgray_8
    declare -A t
    for mode in off answers silent; do
        rm -rf "$T/sim"
        flags=()
        [ $mode = silent ] && flags=(--silent)
        "$B/tools/sim/quillfeed-sim" --family $fam --port 0 --out "$T/sim" "${flags[@]}" >/dev/null 2>&1 &
        sim_pid=$!
        for _ in $(seq 50); do [ -s "$T/sim/port" ] && break; sleep 0.1; done
        q=1; [ $mode = off ] && q=0
        t[$mode]=$(for _ in $(seq $runs); do one "$(cat "$T/sim/port")" "$B/ppd/ppd/$ppd" "$T/$fam.ras" \
            "qfStatusQuery=$q $extra"; done | median)
        kill $sim_pid; wait $sim_pid 2>/dev/null || true; sim_pid=
    done
    awk -v f=$fam -v o="${t[off]}" -v a="${t[answers]}" -v s="${t[silent]}" -v p=$pages \
        'BEGIN { printf "%-8s %12.3f %12.3f %12.3f %16.2f %16.2f\n", f, o, a, s, (a - o) * 1000 / p, (s - o) * 1000 / p }'
done
