#!/usr/bin/env bash
# What the status queries cost in the Printer Application: a 20-page job to
# the virtual printer (tools/sim) over socket://, with status-query off (the
# baseline, same run), against a printer that answers and against one that
# never answers. Each mode gets a new printer and five jobs: the first job's
# time, then the median of the other four (a printer that never answered is
# not asked again for a minute, so only the first job pays for it).
#
#   bash bench/status-cost-app.sh [BUILD_DIR]      (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build}
T=$(mktemp -d /tmp/quillfeed-status-cost-app.XXXXXX)
sim_pid= app_pid=
trap 'kill $sim_pid $app_pid 2>/dev/null || true; wait; rm -rf "$T"' EXIT
pages=20 runs=5
app=$B/app/quillfeed-app

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
one() { # PRINTER RASTER -> seconds from Print-Job to the job's end
    local t0 t1
    cat >"$T/job.test" <<EOT
{
 OPERATION Print-Job
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR name requesting-user-name bench
 ATTR mimeMediaType document-format image/pwg-raster
 FILE $2
 STATUS successful-ok
}
{
 OPERATION Get-Job-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR integer job-id \$job-id
 STATUS successful-ok
 EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 600
}
EOT
    t0=$(date +%s.%N)
    ipptool -t "ipp://localhost:$port/ipp/print/$1" "$T/job.test" >/dev/null
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
export SNAP_COMMON=$T
"$app" server -o server-port="$port" -o listen-hostname=localhost -o spool-directory="$T/spool" \
    -o state-file="$T/state" -o log-file="$T/app.log" -o server-options=no-tls >/dev/null 2>&1 &
app_pid=$!
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
    sleep 0.1
done

printf '%-8s %-8s %14s %18s %9s\n' family mode "first job (s)" "later jobs (s)" queries
for fam in tspl escpos cpcl; do
    case $fam in
    tspl) driver=tspl-203 w=400 h=240 ;;
    escpos) driver=escpos-58 w=384 h=400 ;;
    cpcl) driver=cpcl-203 w=400 h=240 ;;
    esac
    python3 tests/app/pwgraster.py "$T/$fam.ras" --width $w --height $h --dpi 203 --pages $pages --type sgray_8
    for mode in off answers silent; do
        rm -rf "$T/sim"
        flags=()
        [ $mode = silent ] && flags=(--silent)
        "$B/tools/sim/quillfeed-sim" --family $fam --port 0 --out "$T/sim" "${flags[@]}" >/dev/null 2>&1 &
        sim_pid=$!
        for _ in $(seq 50); do [ -s "$T/sim/port" ] && break; sleep 0.1; done
        q=1; [ $mode = off ] && q=0
        "$app" add -d "$fam-$mode" -m $driver -v "socket://127.0.0.1:$(cat "$T/sim/port")" \
            -o status-query-default=$q >/dev/null
        first=$(one "$fam-$mode" "$T/$fam.ras")
        later=$(for _ in $(seq $((runs - 1))); do one "$fam-$mode" "$T/$fam.ras"; done | median)
        printf '%-8s %-8s %14.3f %18.3f %9d\n' $fam $mode "$first" "$later" "$(grep -c ' query ' "$T/sim/events.txt")"
        kill $sim_pid; wait $sim_pid 2>/dev/null || true; sim_pid=
    done
done
