#!/usr/bin/env bash
# quillfeed-app against a local user without rights.
#
# A private app runs as a service user of its own (uid 64000, no name),
# with two printers on a loopback listener and a held job of root's. uid 65534 then tries every administrative act through
# every door (attack.py: the local socket; IPP over loopback TCP, alone and
# after a job on the same kept-alive connection; the web forms with the
# session field the public pages hand out, alone and after a job), and must
# be refused each time, while printing, following its jobs and cancelling
# its own job still work. Afterwards nothing has changed: the printers,
# their settings, the default printer, the system's location, the printer
# not paused, root's job still there. Root, over loopback, may do the acts.
# Needs root (to act as the two users), ipptool, setpriv and python3.
#
# Usage: run-attacks.sh --app FILE [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_args "$@"
[ -x "$app" ] || qf_usage
qf_need ipptool python3 setpriv
[ "$(id -u)" = 0 ] || { echo "SKIP: not root (the test acts as two other users)"; exit $SKIP; }

service=64000
qf_app_setup attacks
listener_pid=
qf_app_cleanup() { qf_stop_pid "$listener_pid"; }
mkdir -p "$T/run" "$T/net" "$T/bin"
# The two users run their programs from here: the build and source trees
# may be closed to them.
install -m 0755 "$app" "$T/bin/quillfeed-app"
install -m 0644 "$here/attack.py" "$T/bin/attack.py"
app=$T/bin/quillfeed-app
chown -R "$service:$service" "$T"
as_service() { setpriv --reuid=$service --regid=$service --clear-groups env TMPDIR="$T/run" HOME="$T" "$@"; }
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
qf_app_as=(setpriv --reuid=$service --regid=$service --clear-groups env TMPDIR="$T/run" HOME="$T")
qf_app_start
socket=$T/run/quillfeed-app$service.sock
for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.1; done

python3 "$here/listener.py" "$T/net/port" "$T/net" &
listener_pid=$!
for _ in $(seq 50); do [ -s "$T/net/port" ] && break; sleep 0.1; done
as_service "$app" add -d victim -m tspl-203 -v "socket://127.0.0.1:$(cat "$T/net/port")" >/dev/null ||
    fail "the service user cannot add a printer over its socket"
as_service "$app" add -d other -m tspl-203 -v "socket://127.0.0.1:$(cat "$T/net/port")" >/dev/null ||
    fail "the service user cannot add the second printer"
python3 "$here/pwgraster.py" "$T/page.pwg" --width 400 --height 240 --dpi 203 --type sgray_8
chmod 0644 "$T/page.pwg"

# ipp_test NAME: $T/NAME.test from standard input.
ipp_test() { cat >"$T/$1.test"; chmod 0644 "$T/$1.test"; }
ipp_test attrs <<'EOF'
{
 NAME "Get-Printer-Attributes"
 OPERATION Get-Printer-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 STATUS successful-ok
 DISPLAY printer-id
 DISPLAY printer-state
 DISPLAY printer-location
 DISPLAY printer-is-accepting-jobs
 DISPLAY print-darkness-default
 DISPLAY smi55357-device-uri
}
EOF
ipp_test system <<'EOF'
{
 NAME "Get-System-Attributes"
 OPERATION Get-System-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri system-uri $uri
 STATUS successful-ok
 DISPLAY system-default-printer-id
 DISPLAY system-location
 DISPLAY system-configured-printers
}
EOF
ipp_test held <<'EOF'
{
 NAME "Root's held job"
 OPERATION Create-Job
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR name requesting-user-name root
 ATTR keyword job-hold-until indefinite
 STATUS successful-ok
 DISPLAY job-id
}
EOF
# What ipptool shows of the printers and the system.
snapshot() {
    local shown='^ *[a-z-]* ([a-zA-Z0-9 -]*) = '
    ipptool -t "$base/victim" "$T/attrs.test" 2>&1 | grep "$shown" || true
    ipptool -t "$base/other" "$T/attrs.test" 2>&1 | grep "$shown" || true
    ipptool -t "ipp://localhost:$port/ipp/system" "$T/system.test" 2>&1 | grep "$shown" || true
    # State changes settle in the state file within a second.
    sleep 1
    # Printing moves the job counters on.
    grep -v '^Job \|^NextJobId \|^ImpressionsCompleted ' "$T/state" 2>/dev/null || true
}
others_job=$(ipptool -t "$base/victim" "$T/held.test" 2>&1 | sed -n 's/.*job-id (integer) = //p')
victim_id=$(ipptool -t "$base/victim" "$T/attrs.test" 2>&1 | sed -n 's/.*printer-id (integer) = //p')
[ -n "$others_job" ] && [ -n "$victim_id" ] || fail "setting up: job '$others_job', printer id '$victim_id'"
before=$(snapshot)

echo "DOOR           | ACT                    | RESULT"
if as_nobody /usr/bin/python3 "$T/bin/attack.py" --port "$port" --printer victim --printer-id "$victim_id" \
    --document "$T/page.pwg" --socket "$socket" --others-job "$others_job" >"$T/matrix.txt" 2>&1; then
    cat "$T/matrix.txt"
    ok "uid 65534: every administrative act refused, printing and its own jobs work"
else
    cat "$T/matrix.txt"
    fail "uid 65534: $(grep -c WRONG "$T/matrix.txt" || true) case(s) went wrong"
fi
after=$(snapshot)
if [ "$before" = "$after" ]; then
    ok "nothing changed: printers, settings, default, location, root's job"
else
    fail "something changed: $(diff <(echo "$before") <(echo "$after") || true)"
fi
grep -q "Refused" "$T/log" && ok "the refusals are in the log: $(grep -c 'Refused' "$T/log") lines" ||
    fail "no refusal in the log"

# Root may: the acts are real ones.
if python3 "$here/attack.py" --port "$port" --printer victim --printer-id "$victim_id" --document "$T/page.pwg" \
    --socket "$socket" --as-admin >"$T/admin.txt" 2>&1; then
    ok "root over loopback: $(grep -v '^$' "$T/admin.txt" | head -1 | tr -s ' ')"
else
    cat "$T/admin.txt"
    fail "root cannot administer over loopback"
fi
kill -0 "$app_pid" 2>/dev/null && ok "the app is running" || fail "the app stopped"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all attack checks passed"
