# private-cupsd.sh - a private cupsd for tests, sourced by bash scripts.
#
# The cupsd listens on a free loopback port and has its own configuration,
# spool, cache, state and log directories under one directory T; the
# machine's own CUPS (its configuration, spool and daemon) is not used.
#
#   qf_cupsd_tree T     makes the tree:
#       T/bin      ServerBin: copies of CUPS's daemon, filter and monitor
#                  programs (so the filters installed on the machine), and a
#                  capturing backend "qfcapture"; no other backend and no
#                  driver programs (they would look for printers on the
#                  network).  A queue with the device URI qfcapture:/some/dir
#                  writes the data of job N to /some/dir/job-N.bin.
#       T/data     DataDir: links to CUPS's own data (drv and ppdc included),
#                  except model: T/data/model is empty, for the caller
#       T/conf, T/spool, T/cache, T/state, T/log, T/capture
#   qf_cupsd_start T    writes the configuration, starts cupsd, waits until
#                       it answers; exports CUPS_SERVER, CUPS_SERVERROOT and
#                       CUPS_STATEDIR for the CUPS commands; returns 1 (after
#                       showing cupsd's output) when it does not come up
#   qf_cupsd_stop       stops it (qf_stop_pid); safe to repeat
#   qf_stop_pid PID     stops a child: TERM, then KILL after 10 s; an empty
#                       or finished PID is fine
#   qf_finish_dir DIR FAILED KEEP [LOG [LINES]]
#                       the end of a test run: when FAILED is not 0, shows the
#                       last LINES (default 40) job, error and warning lines
#                       of the cupsd error_log LOG and keeps DIR; otherwise
#                       removes DIR unless KEEP is 1
#
# Needs root: cupsd runs filters as lp and insists on root-owned programs.

QF_CUPSD_PID=

qf_cupsd_tree() {
    local T=$1 serverbin datadir sub entry
    serverbin=$(cups-config --serverbin)
    datadir=$(cups-config --datadir)
    chmod 0755 "$T"            # filters run as lp and must reach the spool
    mkdir -p "$T/bin" "$T/conf/ppd" "$T/conf/ssl" "$T/spool" "$T/cache" \
             "$T/state" "$T/log" "$T/capture" "$T/data/model"
    chmod 0755 "$T/bin" "$T/conf" "$T/data"
    for sub in daemon filter monitor; do
        cp -a "$serverbin/$sub" "$T/bin/$sub"
    done
    mkdir -m 0755 "$T/bin/backend" "$T/bin/driver"
    # Mode 0700: cupsd runs such a backend as root, so it may write anywhere.
    cat >"$T/bin/backend/qfcapture" <<'EOF'
#!/bin/sh
# qfcapture: writes the printer bytes of job N to DIR/job-N.bin,
# for the device URI qfcapture:DIR.
if [ $# -eq 0 ]; then
    echo 'direct qfcapture "Unknown" "quillfeed capture"'
    exit 0
fi
dir=${DEVICE_URI#qfcapture:}
out=$dir/job-$1.bin
if [ $# -ge 6 ]; then cat "$6"; else cat; fi >"$out.part" || exit 1
mv "$out.part" "$out"
echo "INFO: captured $(wc -c <"$out") bytes" >&2
exit 0
EOF
    chown root:root "$T/bin/backend/qfcapture"
    chmod 0700 "$T/bin/backend/qfcapture"

    for entry in "$datadir"/*; do
        [ "$(basename "$entry")" = model ] && continue
        ln -s "$entry" "$T/data/$(basename "$entry")"
    done
}

qf_cupsd_start() {
    local T=$1 port up=0
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')

    cat >"$T/conf/cups-files.conf" <<EOF
ServerRoot $T/conf
ServerBin $T/bin
DataDir $T/data
RequestRoot $T/spool
CacheDir $T/cache
StateDir $T/state
ErrorLog $T/log/error_log
AccessLog $T/log/access_log
PageLog $T/log/page_log
Printcap $T/state/printcap
User lp
Group lp
SystemGroup root
FileDevice No
EOF
    cat >"$T/conf/cupsd.conf" <<EOF
LogLevel debug
MaxLogSize 0
Listen 127.0.0.1:$port
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
ErrorPolicy abort-job
JobRetryLimit 0
MaxJobTime 120
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
DefaultPolicy default
EOF

    export CUPS_SERVER=127.0.0.1:$port
    export CUPS_STATEDIR=$T/state
    export CUPS_SERVERROOT=$T/conf     # client.conf and lpoptions of the private tree
    unset CUPS_USER 2>/dev/null || true

    echo "== starting a private cupsd on 127.0.0.1:$port"
    cupsd -f -c "$T/conf/cupsd.conf" -s "$T/conf/cups-files.conf" \
          >"$T/log/cupsd.out" 2>&1 &
    QF_CUPSD_PID=$!
    for _ in $(seq 100); do
        if ! kill -0 "$QF_CUPSD_PID" 2>/dev/null; then break; fi
        if lpstat -r 2>/dev/null | grep -q 'is running'; then up=1; break; fi
        sleep 0.2
    done
    if [ $up -ne 1 ]; then
        cat "$T/log/cupsd.out"
        echo "FAIL: the private cupsd did not come up"
        return 1
    fi
}

qf_stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

qf_cupsd_stop() {
    qf_stop_pid "$QF_CUPSD_PID"
    QF_CUPSD_PID=
}

qf_finish_dir() {
    local dir=$1 failed=$2 keep=$3 log=${4:-} lines=${5:-40}
    if [ "$failed" -ne 0 ]; then
        if [ -n "$log" ] && [ -f "$log" ]; then
            echo "---- last lines of the private cupsd error_log ($log)"
            grep -E '\[Job [0-9]+\]|E \[|W \[' "$log" | tail -n "$lines" || true
        fi
        echo "kept for inspection: $dir"
    elif [ "$keep" -eq 1 ]; then
        echo "kept: $dir"
    else
        rm -rf "$dir"
    fi
}
