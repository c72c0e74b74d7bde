#!/usr/bin/env bash
# The status fault matrix: the filter (as CUPS's socket backend runs it, and
# through a private cupsd when run as root) and the Printer Application print
# five pages to the virtual printer of each family that answers, while it
# runs out of paper before the job and after page 2, has its cover open, never
# answers, drops the link in the middle of a job, or takes data slowly, and
# with the status query switched off. Every case checks the pages the virtual
# printer decoded against the pages of a clean job: all of them, once, in
# order. Through the app on a socket, jobs also outlive a stop (SIGKILL,
# SIGTERM) of the app. The app is also run against a TSPL printer on a serial line (a pty),
# where a dropped link cannot be told from a quiet one and is left out, and
# behind a driverless CUPS queue (as root), where CUPS must show the app's
# reasons. Every front and family runs side by side with its own virtual
# printer, app and cupsd; the reports follow in order.
#
#   run-status.sh --sim SIM --filter FILTER --ppd-dir DIR [--app APP] [--keep]
#                 [--families "tspl escpos cpcl"] [--fronts "filter cupsd app serial cupsapp"]
set -uo pipefail

SKIP=77
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/private-cupsd.sh"
# QF_STATUS_FRONTS: the fronts when --fronts is not given (the sanitizer
# runs take the app's own).
sim= filter= ppd_dir= app= keep=0 families="tspl escpos cpcl" query_opt=""
fronts=${QF_STATUS_FRONTS:-filter cupsd app serial cupsapp}
# QF_STATUS_FAMILIES likewise; QF_STATUS_SERIAL=1: one front and family
# after the other (a slow build, whose answers would come late side by side).
families=${QF_STATUS_FAMILIES:-$families}
one_by_one=${QF_STATUS_SERIAL:-0}
while [ $# -gt 0 ]; do
    case $1 in
        --sim) sim=$2; shift 2 ;;
        --filter) filter=$2; shift 2 ;;
        --ppd-dir) ppd_dir=$2; shift 2 ;;
        --app) app=$2; shift 2 ;;
        --families) families=$2; shift 2 ;;
        --fronts) fronts=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
[ -x "$sim" ] && [ -x "$filter" ] && [ -d "$ppd_dir" ] || { echo "usage: see the head of $0" >&2; exit 2; }
command -v python3 >/dev/null || { echo "SKIP: python3 is not installed"; exit $SKIP; }

T=$(mktemp -d /tmp/quillfeed-status-test.XXXXXX)
chmod 0755 "$T"
sim_pid= app_pid= failures=0
front_pids=()
finish() {
    local rc=$?
    local p
    for p in "${front_pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
    for p in "${front_pids[@]}"; do wait "$p" 2>/dev/null; done
    qf_stop_pid "$sim_pid"
    qf_stop_pid "$app_pid"
    qf_cupsd_stop
    [ $failures -ne 0 ] && rc=1
    qf_finish_dir "$T" "$rc" "$keep" "$T/cupsd-tspl/cupsd/log/error_log"
    exit $rc
}
trap finish EXIT
trap 'exit 130' INT TERM
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

# family: PPD, page size, filter options, app job attributes
ppd_of() { case $1 in tspl) echo quillfeed-tspl-203.ppd ;; escpos) echo quillfeed-escpos-58.ppd ;; cpcl) echo quillfeed-cpcl-203.ppd ;; esac; }
size_of() { case $1 in escpos) echo "384 400" ;; *) echo "400 240" ;; esac; }
# Receipts: every page on its own and cut, so that pages stay pages.
opts_of() { case $1 in escpos) echo "ReceiptMode=0 CutMode=3" ;; *) echo "" ;; esac; }
driver_of() { case $1 in tspl) echo tspl-203 ;; escpos) echo escpos-58 ;; cpcl) echo cpcl-203 ;; esac; }

# ---------------------------------------------------------------- the sim
start_sim() { # FAMILY DIR [pty]
    local d=$2 link="--port 0" ready=$2/port
    mkdir -p "$d"
    : >"$d/control"
    [ "${3:-}" = pty ] && link="--pty $d/tty --idle-ms 2500" ready=$d/tty
    "$sim" --family "$1" $link --out "$d" --control "$d/control" >"$d/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do [ -s "$ready" ] || [ -L "$ready" ] && return 0; sleep 0.1; done
    fail "the virtual printer did not start"; return 1
}
control() { echo "$2" >"$1/control"; sleep 0.3; }
events_after() { tail -n +$(($2 + 1)) "$1/events.txt"; }
lines() { wc -l <"$1/events.txt"; }
# Waits until PATTERN has shown COUNT times in the events after line FROM.
wait_event() { # DIR FROM PATTERN COUNT [SECONDS]
    local n
    for _ in $(seq $((${5:-30} * 10))); do
        n=$(events_after "$1" "$2" | grep -c -- "$3")
        [ "$n" -ge "$4" ] && return 0
        sleep 0.1
    done
    return 1
}
# The pages of job J in the sim as "WxH HASH" lines, printed ones only.
printed() { awk -v j="$2" '$1 == "job" && $2 == j && $7 == "printed" { print $5, $6 }' "$1/pages.txt"; }
lost() { awk -v j="$2" '$1 == "job" && $2 == j && $7 == "lost"' "$1/pages.txt" | wc -l; }
last_job() { awk '$1 == "job" && $3 == "begins" { j = $2 } END { print j + 0 }' "$1/events.txt"; }
# The first job after job BEFORE that carried data (the app also connects
# to ask for the status alone), once it has ended.
job_after() { # DIR BEFORE
    local j
    for _ in $(seq 600); do
        j=$(awk -v b="$2" '$1 == "job" && $2 > b && $3 == "ends" && $(NF - 3) + 0 > 100 { print $2; exit }' \
            "$1/events.txt")
        [ -n "$j" ] && { echo "$j"; return 0; }
        sleep 0.1
    done
    echo 0
}
check_pages() { # WHAT DIR JOB REFERENCE
    local got
    got=$(printed "$2" "$3")
    if [ "$got" = "$(cat "$4")" ] && [ "$(lost "$2" "$3")" -eq 0 ]; then
        ok "$1: $(echo "$got" | wc -l) pages, each once, in order"
    else
        fail "$1: pages differ from the clean job"
        echo "  expected:"; sed 's/^/    /' "$4"; echo "  got:"; grep "^job $3 " "$2/pages.txt" | sed 's/^/    /'
    fi
}

# ---------------------------------------------------------------- front ends
# Each prints RASTER to the sim and returns when the job is over.
print_filter() { # FAMILY DIR RASTER
    python3 "$here/sim_filter.py" "$filter" "$ppd_dir/$(ppd_of "$1")" "$(cat "$2/port")" "$3" "$(opts_of "$1") $query_opt" \
        2>>"$2/filter.err"
}
print_cupsd() { # FAMILY DIR RASTER
    local q=sim-$1 id
    id=$(lp -d "$q" -o document-format=image/pwg-raster $(for o in $(opts_of "$1"); do echo "-o $o"; done) "$3" 2>&1 |
        sed -n 's/.*request id is [^-]*-\([0-9]*\).*/\1/p')
    [ -n "$id" ] || return 1
    for _ in $(seq 600); do
        lpstat -W not-completed -o "$q" 2>/dev/null | grep -q -- "-$id " || return 0
        sleep 0.1
    done
    return 1
}
app_submit() { # FAMILY RASTER
    local test=$T/app-job.test attrs=""
    [ "$1" = escpos ] && attrs=' GROUP job-attributes-tag
 ATTR integer receipt-mode 0
 ATTR integer cut-mode 3'
    cat >"$test" <<EOT
{
 OPERATION Print-Job
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR name requesting-user-name test
 ATTR mimeMediaType document-format image/pwg-raster
$attrs
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
 DISPLAY job-state
 DISPLAY job-state-message
}
EOT
    ipptool -t "$app_base/sim-$1" "$test" >>"$T/app-jobs.log" 2>&1
}
print_app() { app_submit "$1" "$3"; }
print_serial() { app_submit "$1" "$3"; }
print_cupsapp() { print_cupsd "$@"; }

# ---------------------------------------------------------------- the cases
run_matrix() { # FRONT FAMILY
    local front=$1 fam=$2 d=$T/$1-$2 ras=$R/$2.ras ref=$T/$1-$2.ref from j t0 t1 bytes n
    start_sim "$fam" "$d" $([ "$front" = serial ] && echo pty) || return
    local rc=0
    setup_$front "$fam" "$d" || rc=$?
    if [ $rc -eq $SKIP ]; then
        echo "skipped: $front $fam: this build cannot add a socket:// printer"; qf_stop_pid "$sim_pid"; return
    elif [ $rc -ne 0 ]; then
        fail "$front $fam: no queue"; qf_stop_pid "$sim_pid"; return
    fi

    # A clean job: the pages to expect, and the job's size.
    from=$(lines "$d"); b=$(last_job "$d")
    t0=$(date +%s.%N)
    print_$front "$fam" "$d" "$ras"
    t1=$(date +%s.%N)
    j=$(job_after "$d" "$b")
    printed "$d" "$j" >"$ref"
    bytes=$(grep "^job $j ends" "$d/events.txt" | sed 's/.*: \([0-9]*\) bytes.*/\1/')
    if [ "$(wc -l <"$ref")" -ne 5 ] || [ "$(lost "$d" "$j")" -ne 0 ]; then
        fail "$front $fam: the clean job printed $(wc -l <"$ref") of 5 pages"; qf_stop_pid "$sim_pid"; return
    fi
    ok "$front $fam: clean job, 5 pages, $bytes bytes, $(events_after "$d" "$from" | grep -c query) queries, $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }') s"

    # An idle printer: paper out and a cover opened while nothing prints
    # show within 10 s of someone looking, and go the same way.
    case $front in app | serial | cupsapp)
        idle_fault "$fam" "$d" paper-out media-empty
        idle_fault "$fam" "$d" cover-open cover-open
        # On a serial line the virtual printer tells jobs apart by a pause.
        [ "$front" = serial ] && sleep 3 ;;
    esac

    [ "$front" = app ] && kept_jobs "$fam" "$d"

    # Paper out before the job: nothing printed until paper is back.
    control "$d" paper-out=1
    from=$(lines "$d"); b=$(last_job "$d")
    print_$front "$fam" "$d" "$ras" &
    local pid=$!
    if wait_event "$d" "$from" " query " 3; then
        [ "$(events_after "$d" "$from" | grep -c ' printed')" -eq 0 ] || fail "$front $fam: pages printed while out of paper"
        shown_$front "$fam"
        control "$d" paper-out=0
    else
        fail "$front $fam: no query while out of paper"; control "$d" paper-out=0
    fi
    wait $pid; j=$(job_after "$d" "$b")
    check_pages "$front $fam: paper out before the job" "$d" "$j" "$ref"

    # Paper out for over a minute, the job sent with the app's own submit:
    # it waits as long as the job does and reports it; the job prints once
    # (PAPPL's submit gave up after a minute and said it had failed).
    if [ "$front" = app ] && [ "$fam" = tspl ]; then
        control "$d" paper-out=1
        b=$(last_job "$d")
        (sleep 65; control "$d" paper-out=0) &
        pid=$!
        if "$app" submit -d "sim-$fam" "$ras" >"$T/submit.out" 2>&1; then
            ok "app $fam: submit waited for paper: $(tr '\n' ' ' <"$T/submit.out")"
        else
            fail "app $fam: submit while out of paper: $(cat "$T/submit.out")"
        fi
        wait $pid
        j=$(job_after "$d" "$b")
        check_pages "app $fam: out of paper for 65 s" "$d" "$j" "$ref"
    fi

    # Paper out after page 2 of 5.
    control "$d" paper-out-after=2
    from=$(lines "$d"); b=$(last_job "$d")
    print_$front "$fam" "$d" "$ras" &
    pid=$!
    if wait_event "$d" "$from" "paper ran out" 1 && wait_event "$d" "$from" " query " 5; then
        control "$d" paper-out=0
    else
        fail "$front $fam: the printer was not asked after the paper ran out"; control "$d" paper-out=0
    fi
    wait $pid; j=$(job_after "$d" "$b")
    check_pages "$front $fam: paper out after page 2" "$d" "$j" "$ref"

    # Cover open.
    control "$d" cover-open=1
    from=$(lines "$d"); b=$(last_job "$d")
    print_$front "$fam" "$d" "$ras" &
    pid=$!
    wait_event "$d" "$from" " query " 3 || fail "$front $fam: no query while the cover is open"
    control "$d" cover-open=0
    wait $pid; j=$(job_after "$d" "$b")
    check_pages "$front $fam: cover open" "$d" "$j" "$ref"

    # A printer that never answers: one timeout, then no more questions.
    control "$d" silent=1
    from=$(lines "$d"); b=$(last_job "$d")
    t0=$(date +%s.%N)
    print_$front "$fam" "$d" "$ras"
    t1=$(date +%s.%N)
    j=$(job_after "$d" "$b")
    check_pages "$front $fam: never answers ($(events_after "$d" "$from" | grep -c ' query ') queries, $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }') s)" "$d" "$j" "$ref"
    # About a second per job, not a stall (PAPPL's own socket device read
    # waited ten).
    [ "$front" = app ] && awk -v a="$t0" -v b="$t1" 'BEGIN { exit !(b - a > 6) }' &&
        fail "$front $fam: a printer that never answers held the job for over 6 s"
    control "$d" silent=0

    # The link drops in the middle of a job: the job ends, the next prints.
    [ "$front" = serial ] || {
    control "$d" drop-after=$((bytes / 2))
    b=$(last_job "$d")
    print_$front "$fam" "$d" "$ras"
    j=$(job_after "$d" "$b")
    if grep -q "^job $j ends (link dropped)" "$d/events.txt"; then ok "$front $fam: link dropped in job $j"; else fail "$front $fam: the link did not drop"; fi
    after_drop_$front "$fam" "$d"
    b=$(last_job "$d")
    print_$front "$fam" "$d" "$ras"
    j=$(job_after "$d" "$b")
    check_pages "$front $fam: the job after a dropped link" "$d" "$j" "$ref"
    }

    # A slow link: about three seconds for the job.
    control "$d" bytes-per-second=$((bytes / 3))
    b=$(last_job "$d")
    print_$front "$fam" "$d" "$ras"
    j=$(job_after "$d" "$b")
    check_pages "$front $fam: slow link" "$d" "$j" "$ref"
    control "$d" bytes-per-second=0

    # The status query switched off: nothing is asked, the job prints.
    query_switch_$front "$fam" 0
    from=$(lines "$d"); b=$(last_job "$d")
    print_$front "$fam" "$d" "$ras"
    j=$(job_after "$d" "$b")
    n=$(events_after "$d" "$from" | grep -c ' query ')
    [ "$n" -eq 0 ] || fail "$front $fam: $n status queries with the status query off"
    check_pages "$front $fam: status query off, $n queries" "$d" "$j" "$ref"
    query_switch_$front "$fam" 1

    qf_stop_pid "$sim_pid"; sim_pid=
}

# The app's status of an idle printer while FAULT lasts, then once mended.
idle_fault() { # FAMILY DIR FAULT REASON
    local t0 seen=
    control "$2" "$3=1"
    t0=$(date +%s.%N)
    for _ in $(seq 40); do
        "$app" status -d "sim-$1" 2>&1 | grep -q -- "$4" && { seen=1; break; }
        sleep 0.25
    done
    [ -n "$seen" ] && ok "$front $1: idle, $3 shown after $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s" ||
        fail "$front $1: idle, $3 not shown within 10 s: $("$app" status -d "sim-$1" 2>&1)"
    control "$2" "$3=0"
    t0=$(date +%s.%N) seen=
    for _ in $(seq 40); do
        "$app" status -d "sim-$1" 2>&1 | grep -q -- "$4" || { seen=1; break; }
        sleep 0.25
    done
    [ -n "$seen" ] && ok "$front $1: idle, $3 cleared after $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s" ||
        fail "$front $1: idle, $3 still shown 10 s after it was mended"
}

# Sends picture N in COPIES copies (receipts: each copy on its own, cut);
# returns once the app has answered.
send_picture() { # FAMILY N COPIES
    local attrs=""
    [ "$1" = escpos ] && attrs=' ATTR integer receipt-mode 0
 ATTR integer cut-mode 3'
    cat >"$T/picture.test" <<EOT
{
 OPERATION Print-Job
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR name requesting-user-name test
 ATTR mimeMediaType document-format image/png
 GROUP job-attributes-tag
 ATTR integer copies $3
$attrs
 FILE $R/picture-$2.png
 STATUS successful-ok
}
EOT
    ipptool -t "$app_base/sim-$1" "$T/picture.test" >>"$T/app-jobs.log" 2>&1
}
# The pages printed in the jobs after job BEFORE, once there are COUNT
# (or 60 s have passed).
pages_after() { # DIR BEFORE COUNT
    local got
    for _ in $(seq 600); do
        got=$(awk -v b="$2" '$1 == "job" && $2 > b && $7 == "printed" { print $5, $6 }' "$1/pages.txt")
        [ -n "$got" ] && [ "$(echo "$got" | wc -l)" -ge "$3" ] && break
        sleep 0.1
    done
    echo "$got"
}
restart_app() { # SIGNAL: the app stopped with it, then started again
    sleep 2 # the state is saved within a second of a job's document arriving
    kill -"$1" "$app_pid"; wait "$app_pid" 2>/dev/null
    start_app
}

# Jobs outlive the app: three pictures queued while the paper is out, the
# app killed (SIGKILL) and started again, then the paper back: each prints
# once, in order. A picture in five copies, the app stopped (SIGTERM) after
# the paper ran out at page 2: the job goes on from page 3.
kept_jobs() { # FAMILY DIR
    local i b want= got
    for i in 1 2 3; do
        b=$(last_job "$2")
        send_picture "$1" "$i" 1
        want+=$(pages_after "$2" "$b" 1)$'\n'
    done
    control "$2" paper-out=1
    b=$(last_job "$2") from=$(lines "$2")
    for i in 1 2 3; do send_picture "$1" "$i" 1 || fail "$front $1: picture $i was not taken"; done
    wait_event "$2" "$from" " query " 2 || fail "$front $1: no query while out of paper"
    restart_app KILL
    control "$2" paper-out=0
    pages_after "$2" "$b" 3 >/dev/null; sleep 2 # and none more
    got=$(pages_after "$2" "$b" 3)
    [ "$got"$'\n' = "$want" ] &&
        ok "$front $1: three jobs queued, the app killed and started again: each printed once, in order" ||
        fail "$front $1: three jobs over a restart: expected $(echo $want), got $(echo $got)"

    control "$2" paper-out-after=2
    b=$(last_job "$2") from=$(lines "$2")
    send_picture "$1" 1 5 || fail "$front $1: the picture in five copies was not taken"
    wait_event "$2" "$from" "paper ran out" 1 && wait_event "$2" "$from" " query " 3 ||
        fail "$front $1: the paper did not run out after page 2"
    restart_app TERM
    control "$2" paper-out=0
    pages_after "$2" "$b" 5 >/dev/null; sleep 2
    got=$(pages_after "$2" "$b" 5)
    [ "$(echo "$got" | wc -l)" -eq 5 ] && [ "$(echo "$got" | sort -u)" = "$(echo "$want" | head -1)" ] &&
        ok "$front $1: five copies, the app stopped after page 2: pages 3 to 5 printed after the restart, none twice" ||
        fail "$front $1: five copies over a restart: $(echo "$got" | wc -l) pages: $(echo $got)"
}

setup_filter() { :; }
after_drop_filter() { :; }
query_switch_filter() { query_opt=qfStatusQuery=$2; }
query_switch_cupsd() { lpadmin -p "sim-$1" -o qfStatusQuery="$2"; }
query_switch_app() { "$app" modify -d "sim-$1" -o status-query-default="$2" >>"$T/app.out" 2>&1; }
query_switch_serial() { query_switch_app "$@"; }
query_switch_cupsapp() { query_switch_app "$@"; }
# What users see while the printer is out of paper.
shown_filter() { :; }
shown_cupsd() { # FAMILY [SECONDS]
    local st
    for _ in $(seq $((${2:-1} * 5))); do
        st="$(lpstat -p "sim-$1" -l 2>&1 | tr -s ' \n\t' ' ')$(ipptool -tv "ipp://$CUPS_SERVER/printers/sim-$1" \
            get-printer-attributes.test 2>/dev/null | grep -o 'printer-state-reasons (.*' | head -1)"
        echo "$st" | grep -q "media-empty\|out of paper" && break
        sleep 0.2
    done
    echo "$st" | grep -q "media-empty\|out of paper" && ok "$front $1: lpstat shows: $st" || fail "$front $1: lpstat while out of paper: $st"
}
shown_app() {
    local st page
    st=$("$app" status -d "sim-$1" 2>&1)
    echo "$st" | grep -q "media-empty" && ok "$front $1: status shows: $st" ||
        fail "$front $1: status while out of paper: $st"
    page=$(curl -s "http://localhost:$port/sim-$1")
    echo "$page" | grep -q -i "media.empty\|out of paper" && ok "$front $1: the web page shows the paper out" ||
        fail "$front $1: the web page does not show the paper out"
}
shown_serial() { shown_app "$@"; }
# CUPS's ipp backend asks the app for its reasons every few seconds.
shown_cupsapp() { shown_app "$@"; shown_cupsd "$1" 20; }
setup_cupsd() {
    lpadmin -p "sim-$1" -E -v "socket://127.0.0.1:$(cat "$2/port")" -P "$ppd_dir/$(ppd_of "$1")" \
        -o printer-error-policy=abort-job 2>/dev/null
}
after_drop_cupsd() { sleep 1; cupsenable "sim-$1" 2>/dev/null; }
setup_app() {
    "$app" add -d "sim-$1" -m "$(driver_of "$1")" -v "socket://127.0.0.1:$(cat "$2/port")" >"$T/app-add.out" 2>&1 &&
        return 0
    cat "$T/app-add.out" >>"$T/app.out"
    # An app whose device schemes hide PAPPL's socket:// cannot reach the
    # virtual printer.
    grep -q 'Unsupported.*device-uri' "$T/app-add.out" && return $SKIP
    return 1
}
after_drop_app() { :; }
setup_cupsapp() {
    "$app" add -d "sim-$1" -m "$(driver_of "$1")" -v "socket://127.0.0.1:$(cat "$2/port")" >"$T/app-add.out" 2>&1 ||
        { cat "$T/app-add.out" >>"$T/app.out"; return 1; }
    lpadmin -p "sim-$1" -E -v "$app_base/sim-$1" -m everywhere -o printer-error-policy=abort-job >>"$T/app.out" 2>&1 ||
        return 1
    for _ in $(seq 150); do lpoptions -p "sim-$1" -l 2>/dev/null | grep -q '^PageSize' && return 0; sleep 0.2; done
    return 1
}
after_drop_cupsapp() { after_drop_cupsd "$@"; }
setup_serial() {
    "$app" add -d "sim-$1" -m "$(driver_of "$1")" -v "serial:$(readlink -f "$2/tty")?baud=115200" \
        >"$T/app-add.out" 2>&1 || { cat "$T/app-add.out" >>"$T/app.out"; return 1; }
}

R=$T # the rasters and pictures, for every front
for fam in $families; do
    read -r w h <<<"$(size_of "$fam")"
    python3 "$here/../app/pwgraster.py" "$R/$fam.ras" --width "$w" --height "$h" --dpi 203 --pages 5 --type sgray_8
done
# Three pictures, told apart by where their black bar is.
python3 - "$R" <<'EOF'
import struct, sys, zlib
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
w, h = 300, 180
for n in (1, 2, 3):
    rows = b''.join(b'\0' + bytes(0 if 60 * n <= x < 60 * n + 40 else 255 for x in range(w)) for _ in range(h))
    open('%s/picture-%d.png' % (sys.argv[1], n), 'wb').write(
        b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 0, 0, 0, 0)) +
        chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
EOF

start_app() {
    "$app" server -o server-port="$port" -o listen-hostname=localhost -o spool-directory="$T/spool" \
        -o state-file="$T/state-$front" -o log-file="$T/app-$front.log" -o log-level=info -o server-options=no-tls \
        -o serial-ports='/dev/pts/*' \
        >>"$T/app.out" 2>&1 &
    app_pid=$!
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
        sleep 0.1
    done
}

# One front and family: its own directory, virtual printer, app and cupsd.
run_front() { # FRONT FAMILY
    local front=$1
    T=$R/$front-$2
    mkdir -p "$T"
    chmod 0755 "$T"
    trap 'qf_stop_pid "$sim_pid"; qf_stop_pid "$app_pid"; qf_cupsd_stop; exit 1' TERM
    case $front in
    cupsd | cupsapp)
        if [ "$(id -u)" -ne 0 ] || ! command -v cupsd >/dev/null && [ ! -x /usr/sbin/cupsd ]; then
            echo "skipped: $front front (needs root and CUPS)"; return
        fi
        mkdir -p "$T/cupsd"
        qf_cupsd_tree "$T/cupsd"
        cp -a "$(cups-config --serverbin)/backend/socket" "$(cups-config --serverbin)/backend/ipp" "$T/cupsd/bin/backend/"
        install -m 0755 -o root -g root "$filter" "$T/cupsd/bin/filter/quillfeed"
        qf_cupsd_start "$T/cupsd" || { fail "cupsd did not start"; return; }
        ;;
    esac
    case $front in
    app | serial | cupsapp)
        if [ -z "$app" ] || ! command -v ipptool >/dev/null; then echo "skipped: $front front (no app or ipptool)"; return; fi
        port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
        app_base=ipp://localhost:$port/ipp/print
        export SNAP_COMMON=$T
        mkdir -p "$T/spool"
        start_app
        ;;
    esac
    run_matrix "$front" "$2"
    case $front in cupsd | cupsapp) qf_cupsd_stop ;; esac
    case $front in app | serial | cupsapp) qf_stop_pid "$app_pid"; app_pid= ;; esac
}

# Every front and family side by side, each in a shell of its own; their
# reports in order once all are done.
units=()
for front in $fronts; do
    fams=$families
    # One family behind the serial line and the CUPS queue: TSPL, when asked for.
    case $front in serial | cupsapp) case " $families " in *" tspl "*) fams=tspl ;; *) fams= ;; esac ;; esac
    for fam in $fams; do
        (
            run_front "$front" "$fam"
            exit $((failures > 0))
        ) >"$R/unit-$front-$fam.txt" 2>&1 &
        front_pids+=($!)
        [ "$one_by_one" = 1 ] && { wait "$!"; echo $? >"$R/unit-$front-$fam.rc"; }
        units+=("$front-$fam")
    done
done
i=0
for unit in "${units[@]}"; do
    if [ -f "$R/unit-$unit.rc" ]; then
        rc=$(cat "$R/unit-$unit.rc")
    else
        wait "${front_pids[$i]}"
        rc=$?
    fi
    if [ "$rc" -ne 0 ]; then
        n=$(grep -c '^FAIL' "$R/unit-$unit.txt" || true)
        failures=$((failures + (n > 0 ? n : 1)))
    fi
    cat "$R/unit-$unit.txt"
    i=$((i + 1))
done
front_pids=()
echo "status matrix: $failures failures"
