#!/usr/bin/env bash
# Runs cupstestppd on every generated PPD; fails on any FAIL.
# Usage: run-cupstestppd.sh CUPSTESTPPD PPD-DIR SCRATCH-ROOT SERVERBIN [FILTER]
# With FILTER, cupstestppd finds it as SCRATCH-ROOT/SERVERBIN/filter/quillfeed
# (the cupsFilter2 check); without it the filter checks are skipped.
set -euo pipefail
cupstestppd=$1 ppd_dir=$2 root=$3 serverbin=$4 filter=${5:-}

shopt -s nullglob
ppds=("$ppd_dir"/*.ppd)
if [ ${#ppds[@]} -eq 0 ]; then
    echo "no PPD files in $ppd_dir (was the 'ppds' target built?)"
    exit 1
fi

args=()
if [ -n "$filter" ]; then
    if [ ! -x "$filter" ]; then
        echo "the filter $filter has not been built"
        exit 1
    fi
    rm -rf "$root"
    mkdir -p "$root$serverbin/filter"
    # cupstestppd, run as root, wants root-owned programs that only the owner
    # may change; a copy made here has the right mode.
    install -m 0755 "$filter" "$root$serverbin/filter/quillfeed"
    args+=(-R "$root")
else
    echo "NOTE: no filter built; the cupsFilter2 program is not checked"
    args+=(-I filters)
fi

status=0
for ppd in "${ppds[@]}"; do
    if ! out=$("$cupstestppd" "${args[@]}" "$ppd" 2>&1); then
        status=1
    fi
    echo "$out"
    if grep -q 'FAIL' <<<"$out"; then
        status=1
    fi
done
[ $status -eq 0 ] && echo "cupstestppd: ${#ppds[@]} PPD files pass"
exit $status
