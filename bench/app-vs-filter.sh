#!/usr/bin/env bash
# CPU time and peak memory of a 100-label job through quillfeed-app against
# the filter on the same pages: a 100-page PWG raster (4 x 6 in labels at
# 203 dpi, 8-bit grey) printed to a TSPL printer with a file device.
#
#   bash bench/app-vs-filter.sh [BUILD_DIR] [PAGES]
#
# The filter: user + system CPU and peak resident memory of the process
# (/usr/bin/time). The app: the server's CPU time spent on the job (from
# /proc before and after) and its peak resident memory (VmHWM) after the job,
# with its idle peak before the job for reference. Both print the same bytes
# (checked).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
pages=${2:-100}
app=$build/app/quillfeed-app
filter=$build/filter/quillfeed
ppd=$build/ppd/ppd/quillfeed-tspl-203.ppd
[ -x "$app" ] && [ -x "$filter" ] || { echo "build quillfeed-app and quillfeed first" >&2; exit 1; }

T=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$T"
}
trap cleanup EXIT
mkdir -p "$T/out"
python3 tests/app/pwgraster.py "$T/job.pwg" --width 812 --height 1218 --dpi 203 --pages "$pages"

# The filter.
/usr/bin/time -f '%U %S %M' -o "$T/filter.time" \
    env PPD="$ppd" "$filter" 1 bench labels 1 "" "$T/job.pwg" >"$T/filter.bin" 2>/dev/null
read -r fu fs fmem <"$T/filter.time"

# The app.
export SNAP_COMMON=$T
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
"$app" server -o server-port="$port" -o listen-hostname=localhost -o spool-directory="$T/spool" \
    -o state-file="$T/state" -o log-file="$T/log" -o log-level=warn -o server-options=no-tls &
pid=$!
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
    sleep 0.1
done
"$app" add -d bench -m tspl-203 -v "file://$T/out"
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hwm() { awk '/^VmHWM/ {print $2}' "/proc/$pid/status"; }
idle_mem=$(hwm)
before=$(cpu)
cat >"$T/job.test" <<'EOF'
{
 OPERATION Print-Job
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR name requesting-user-name bench
 ATTR name job-name labels
 ATTR mimeMediaType document-format image/pwg-raster
 FILE $filename
 STATUS successful-ok
}
{
 OPERATION Get-Job-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR integer job-id $job-id
 STATUS successful-ok
 EXPECT job-state WITH-VALUE 9 REPEAT-NO-MATCH REPEAT-LIMIT 600
}
EOF
start=$(date +%s%N)
ipptool -t -f "$T/job.pwg" "ipp://localhost:$port/ipp/print/bench" "$T/job.test" >"$T/ipptool.out" ||
    { cat "$T/ipptool.out"; exit 1; }
end=$(date +%s%N)
after=$(cpu)
job_mem=$(hwm)
tick=$(getconf CLK_TCK)

same=different
cmp -s "$T/filter.bin" "$T/out/labels.prn" && same=same
awk -v fu="$fu" -v fs="$fs" -v fmem="$fmem" -v b="$before" -v a="$after" -v t="$tick" \
    -v idle="$idle_mem" -v peak="$job_mem" -v wall="$(((end - start) / 1000000))" -v n="$pages" -v same="$same" 'BEGIN {
    fcpu = fu + fs; acpu = (a - b) / t
    printf "%d labels, 4 x 6 in at 203 dpi, TSPL; printer bytes: %s\n", n, same
    printf "filter: CPU %.2f s, peak RSS %d KiB\n", fcpu, fmem
    printf "app:    CPU %.2f s (job, server side; wall %d ms incl. polling), peak RSS %d KiB (idle %d KiB)\n", acpu, wall, peak, idle
    if (fcpu > 0) printf "app/filter CPU: %.2f\n", acpu / fcpu
}'
