#!/usr/bin/env bash
# The service unit: systemd-analyze verify passes, its exposure score
# (systemd-analyze security) stays at or below a bound, and its start
# commands, run as systemd runs them (the server as the service user, with
# the unit's environment; ExecStartPost as root) under a private root of
# paths, let root's commands reach the running service; a second server on
# the same state is refused.
#
# Usage: check-unit.sh UNIT_IN APP_BINARY MAX_EXPOSURE
set -euo pipefail
unit_in=$1 app=$2 max=$3
command -v systemd-analyze >/dev/null 2>&1 || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
T=$(mktemp -d /tmp/quillfeed-unit.XXXXXX)
server_pid=
finish() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$T"
}
trap finish EXIT
sed "s|@CMAKE_INSTALL_FULL_SBINDIR@|$(dirname "$app")|" "$unit_in" >"$T/quillfeed-app.service"
systemd-analyze verify --man=no "$T/quillfeed-app.service"
score=$(systemd-analyze security --offline=true "$T/quillfeed-app.service" 2>&1 |
    sed -n 's/.*Overall exposure level for quillfeed-app.service: \([0-9.]*\).*/\1/p')
echo "exposure: $score (at most $max)"
python3 -c "import sys; sys.exit(0 if float('$score') <= float('$max') else 1)"

[ "$(id -u)" = 0 ] && command -v setpriv >/dev/null 2>&1 || { echo "the start commands need root and setpriv: not run"; exit 0; }
chmod 0755 "$T"
# The service user runs the app from here: the build tree may be closed to it.
mkdir -p "$T/bin"
install -m 0755 "$app" "$T/bin/quillfeed-app"
app=$T/bin/quillfeed-app
sed -i "s|^ExecStart=[^ ]*|ExecStart=$app|" "$T/quillfeed-app.service"
# The service user is uid 65534 here, its directories under $T.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
unit_line() { sed -n "s/^$1=//p" "$T/quillfeed-app.service" | sed "s|/run/|$T/run/|g; s|/var/|$T/var/|g; s|\\\$\\\$|\$|g; s|id -u quillfeed|echo 65534|; s|8631|$port|"; }
start=$(unit_line ExecStart)
post=$(unit_line ExecStartPost)
post=${post#+}
mkdir -p "$T/run/quillfeed-app" "$T/var/lib/quillfeed-app" "$T/var/cache/quillfeed-app"
chown 65534:65534 "$T/run/quillfeed-app" "$T/var/lib/quillfeed-app" "$T/var/cache/quillfeed-app"
chmod 0700 "$T/run/quillfeed-app"
(cd / && exec setpriv --reuid=65534 --regid=65534 --clear-groups env TMPDIR="$T/run/quillfeed-app" HOME=/nonexistent \
    $start -o listen-hostname=localhost -o server-options=no-tls) >"$T/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
    [ -S "$T/run/quillfeed-app/quillfeed-app65534.sock" ] && break
    sleep 0.1
done
eval "$post"
# Root's commands look for the system server's socket under SNAP_COMMON
# when it is set, /run otherwise.
export SNAP_COMMON=$T/run
"$app" add -d viaroot -m tspl-203 -v socket://127.0.0.1:9 >"$T/add.out" 2>&1 ||
    { cat "$T/add.out" "$T/server.out"; echo "FAIL: root's add did not reach the service"; exit 1; }
setpriv --reuid=65534 --regid=65534 --clear-groups env TMPDIR="$T/run/quillfeed-app" "$app" printers >"$T/printers.out" 2>&1
grep -q '^viaroot' "$T/printers.out" || { cat "$T/printers.out"; echo "FAIL: root's printer is not the service's"; exit 1; }
echo "ok: root's add reached the service through the unit's link"
if "$app" server -o state-file="$T/var/lib/quillfeed-app/state" -o server-port=0 -o private-server=true \
    -o spool-directory="$T/spool2" >"$T/second.out" 2>&1; then
    echo "FAIL: a second server ran on the service's state"
    exit 1
fi
grep -q 'no second server is started' "$T/second.out" || { cat "$T/second.out"; echo "FAIL: no reason given"; exit 1; }
echo "ok: a second server on the same state is refused: $(head -1 "$T/second.out")"
