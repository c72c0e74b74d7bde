# The app tests' common part (it sources ../e2e/private-cupsd.sh too): a
# private quillfeed-app on a free loopback port, with its spool, state, log
# and local socket in the test's own directory, so that a running service is
# neither used nor disturbed.
#
#   qf_app_setup NAME   T=/tmp/quillfeed-NAME.XXXXXX with out/, work/ and
#                       spool/; port, base (ipp://.../ipp/print), web; ok,
#                       fail and failures; on exit the app, a private cupsd
#                       and qf_app_cleanup (when the test defines it) are
#                       stopped, and T is removed unless a check failed or
#                       keep=1.
#   qf_app_start [-o KEY=VALUE ...]
#                       starts "$app server" with those options too and
#                       waits until it answers; the test ends if it does
#                       not. With qf_app_as set (an array: a command such
#                       as setpriv and its arguments), the server runs
#                       under it.
#   qf_free_port        a free loopback TCP port.
#   qf_args "$@"        the script's arguments: --app, --filter, --preview,
#                       --ppd-dir, --data and --shots with a value (into app,
#                       filter, preview, ppd_dir, data_dir and shots), --keep
#                       (keep=1); anything else ends the test (exit 2)
#   qf_usage            ends the test for a missing or wrong argument
#   qf_need TOOL ...    skips the test (exit SKIP) when a tool is missing

SKIP=77
# shellcheck source=../e2e/private-cupsd.sh
. "$(dirname "${BASH_SOURCE[0]}")/../e2e/private-cupsd.sh"

app= filter= preview= ppd_dir= data_dir= shots= keep=0
qf_args() {
    while [ $# -gt 0 ]; do
        case $1 in
            --app) app=$2; shift 2 ;;
            --filter) filter=$2; shift 2 ;;
            --preview) preview=$2; shift 2 ;;
            --ppd-dir) ppd_dir=$2; shift 2 ;;
            --data) data_dir=$2; shift 2 ;;
            --shots) shots=$2; shift 2 ;;
            --keep) keep=1; shift ;;
            *) echo "unknown argument: $1" >&2; exit 2 ;;
        esac
    done
}

qf_usage() {
    echo "usage: see the head of $0" >&2
    exit 2
}

qf_need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit $SKIP; }
    done
}

qf_free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

qf_app_finish() {
    local rc=$?
    declare -F qf_app_cleanup >/dev/null && qf_app_cleanup
    qf_cupsd_stop
    qf_stop_pid "$app_pid"
    if [ $rc -ne 0 ] || [ "$failures" -ne 0 ]; then
        echo "---- last errors of the app's log ($T/log)"
        grep -E '^[EW] ' "$T/log" 2>/dev/null | grep -v 'DNS-SD\|Driver does not' | tail -n 30 || true
        echo "kept for inspection: $T${qf_app_kept_also:+ ($qf_app_kept_also)}"
    elif [ "${keep:-0}" -eq 1 ]; then
        echo "kept: $T"
    else
        rm -rf "$T"
    fi
}

qf_app_setup() {
    T=$(mktemp -d "/tmp/quillfeed-$1.XXXXXX")
    chmod 0755 "$T"
    mkdir -p "$T/out" "$T/work" "$T/spool"
    app_pid= failures=0
    qf_app_as=()
    trap qf_app_finish EXIT
    trap 'exit 130' INT TERM
    port=$(qf_free_port)
    base=ipp://localhost:$port/ipp/print
    web=http://localhost:$port
    # PAPPL puts the local socket of the sub-commands under SNAP_COMMON.
    export SNAP_COMMON=$T
}

qf_app_start() {
    "${qf_app_as[@]}" "$app" server -o server-port="$port" -o listen-hostname=localhost -o spool-directory="$T/spool" \
        -o state-file="$T/state" -o log-file="$T/log" -o log-level=${qf_app_log_level:-info} -o server-options=no-tls "$@" \
        >>"$T/app.out" 2>&1 &
    app_pid=$!
    for _ in $(seq 100); do
        # As root the sub-commands' socket is under SNAP_COMMON: wait for it too.
        if { [ "$(id -u)" != 0 ] || [ ${#qf_app_as[@]} -gt 0 ] || [ -S "$T/quillfeed-app.sock" ]; } &&
            python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then
            return 0
        fi
        kill -0 "$app_pid" 2>/dev/null || { cat "$T/app.out"; echo "FAIL: the app did not start"; exit 1; }
        sleep 0.1
    done
    echo "FAIL: the app does not answer on port $port"
    exit 1
}
