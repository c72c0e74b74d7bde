#!/usr/bin/env bash
# quillfeed-app device and administration test.
#
# Starts quillfeed-app on a free loopback port (state, spool, log, local
# socket and the file device's directory under one temporary directory),
# then checks:
#   - PAPPL's schemes are offered next to serial: (usb, socket, file, ...);
#     `quillfeed-app devices` answers;
#   - socket:// against a loopback listener prints; usb:// is accepted as an
#     address; serial: prints through a pty pair (socat), the pty allowed by
#     the administrator's serial-ports option;
#   - unusable addresses are refused when the printer is added: a serial
#     port outside the allowed ones, a missing one, a file: path outside the
#     file directory, an unknown scheme;
#   - a network printer that resets the connection mid-job: the job stops
#     with a reason, the app lives on, the next job prints;
#   - a printer that cannot be reached: the job ends with a reason after
#     device-timeout instead of waiting for ever;
#   - a local user who is not an administrator (uid 65534) can neither
#     create a printer that writes to a file of their choosing (IPP over
#     TCP, the local socket, the web form) nor change one, and can print;
#   - a file: printer writes its file, and writes nothing once the file
#     is swapped for a link to another;
#   - SIGTERM with jobs pending stops the app within a few seconds.
# Needs root (to act as uid 65534), socat, ipptool and python3.
#
# Usage: run-devices.sh --app FILE --preview FILE [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_args "$@"
[ -x "$app" ] && [ -x "$preview" ] || qf_usage
qf_need ipptool python3 socat setpriv curl
[ "$(id -u)" = 0 ] || { echo "SKIP: not root (the test acts as another user)"; exit $SKIP; }

qf_app_setup devices-test
mkdir -p "$T/net" "$T/drop"
chmod 0755 "$T/out" "$T/work"
listener_pid= drop_pid= socat_pid=
qf_app_cleanup() {
    qf_stop_pid "$socat_pid"
    qf_stop_pid "$listener_pid"
    qf_stop_pid "$drop_pid"
}
nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }
# The listeners' connections are counted: no status questions to idle
# printers.
start_app() {
    qf_app_start -o file-directory="$T/out" -o serial-ports='/dev/pts/*' -o device-timeout=6 -o status-interval=0
}

# ipp_test NAME: writes $T/work/NAME.test from standard input.
ipp_test() { cat >"$T/work/$1.test"; chmod 0644 "$T/work/$1.test"; }

ipp_test create <<'EOF2'
{
 NAME "Create-Printer"
 OPERATION Create-Printer
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri system-uri $uri
 ATTR name requesting-user-name attacker
 ATTR keyword printer-service-type print
 ATTR uri smi55357-device-uri $device
 ATTR keyword smi55357-driver tspl-203
 GROUP printer-attributes-tag
 ATTR name printer-name $name
 STATUS successful-ok
}
EOF2
ipp_test delete <<'EOF2'
{
 NAME "Delete-Printer"
 OPERATION Delete-Printer
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri system-uri $uri
 ATTR name requesting-user-name attacker
 ATTR integer printer-id $id
 STATUS successful-ok
}
EOF2
ipp_test modify <<'EOF2'
{
 NAME "Set-Printer-Attributes"
 OPERATION Set-Printer-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR name requesting-user-name attacker
 GROUP printer-attributes-tag
 ATTR text printer-location "moved"
 STATUS successful-ok
}
EOF2
ipp_test schemes <<'EOF2'
{
 NAME "Get-System-Attributes"
 OPERATION Get-System-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri system-uri $uri
 STATUS successful-ok
 DISPLAY smi55357-device-uri-schemes-supported
}
EOF2

# submit PRINTER FILE NAME [USER-COMMAND...]: prints FILE (PWG raster),
# waits for the end, prints the final state, reasons and message.
submit() {
    local printer=$1 file=$2 name=$3
    shift 3
    ipp_test "$name" <<EOF2
{
 NAME "Print-Job"
 OPERATION Print-Job
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR name requesting-user-name test
 ATTR name job-name $name
 ATTR mimeMediaType document-format image/pwg-raster
 FILE $file
 STATUS successful-ok
 EXPECT job-id OF-TYPE integer WITH-VALUE >0
}
{
 NAME "Wait for the job"
 OPERATION Get-Job-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR integer job-id \$job-id
 STATUS successful-ok
 EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 60
 DISPLAY job-state
 DISPLAY job-state-reasons
 DISPLAY job-state-message
}
EOF2
    "$@" ipptool -t "$base/$printer" "$T/work/$name.test" >"$T/work/$name.ipp" 2>&1 || true
    grep -E 'job-state|Print-Job|status-code' "$T/work/$name.ipp" || true
}

# create URI NAME DEVICE [USER-COMMAND...]: Create-Printer; ipptool's output.
create() {
    local name=$1 device=$2
    shift 2
    "$@" ipptool -d "device=$device" -d "name=$name" -t "ipp://localhost:$port/ipp/system" "$T/work/create.test" 2>&1 || true
}

python3 "$here/pwgraster.py" "$T/work/page.pwg" --width 400 --height 240 --dpi 203 --type sgray_8
chmod 0644 "$T/work/page.pwg"
start_app
ok "app started (pid $app_pid, port $port)"

# ------------------------------------------------------------ schemes
schemes=$(ipptool -t "ipp://localhost:$port/ipp/system" "$T/work/schemes.test" 2>&1 | grep -E 'schemes-supported' || true)
missing=
for s in usb socket file serial; do
    echo "$schemes" | grep -Eq "[=,] ?$s(,|$)" || missing="$missing $s"
done
[ -z "$missing" ] && ok "device schemes: ${schemes##*= }" || fail "device schemes miss$missing: $schemes"
if timeout 60 "$app" devices >"$T/work/devices.txt" 2>&1; then
    ok "quillfeed-app devices answers ($(wc -l <"$T/work/devices.txt") devices)"
else
    fail "quillfeed-app devices: $(tail -3 "$T/work/devices.txt")"
fi

# ------------------------------------------------------------- socket
python3 "$here/listener.py" "$T/net/port" "$T/net" &
listener_pid=$!
for _ in $(seq 50); do [ -s "$T/net/port" ] && break; sleep 0.1; done
if "$app" add -d net -m tspl-203 -v "socket://127.0.0.1:$(cat "$T/net/port")" >"$T/work/add-net.txt" 2>&1; then
    state=$(submit net "$T/work/page.pwg" net-job)
    for _ in $(seq 50); do [ -s "$T/net/conn-1.bin" ] && break; sleep 0.1; done
    if echo "$state" | grep -q 'job-state (enum) = completed' &&
        "$preview" --lang tspl -o "$T/work/net-preview" "$T/net/conn-1.bin" >/dev/null 2>&1; then
        ok "socket:// printer: the job reached the listener ($(wc -c <"$T/net/conn-1.bin") bytes of TSPL)"
    else
        fail "socket:// printer: $state"
    fi
else
    fail "add socket://: $(cat "$T/work/add-net.txt")"
fi

# A write cut off by a restart (its record left in the spool): the next job
# first completes it with white dots and a line end.
printf '7\n' >"$T/spool/in-flight-net"
state=$(submit net "$T/work/page.pwg" resync-job)
for _ in $(seq 50); do [ -s "$T/net/conn-2.bin" ] && break; sleep 0.1; done
if echo "$state" | grep -q 'job-state (enum) = completed' && [ ! -e "$T/spool/in-flight-net" ] &&
    python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.exit(not d.startswith(b"\xff" * 7 + b"\r\nSIZE"))' \
        "$T/net/conn-2.bin"; then
    ok "after a cut-off write the next job starts with 7 white bytes and a line end"
else
    fail "resynchronising after a cut-off write: $state; $(head -c 16 "$T/net/conn-2.bin" 2>/dev/null | od -An -tx1)"
fi

# ---------------------------------------------------------------- usb
"$app" add -d usbprinter -m escpos-58 -v 'usb://Example/Receipt%20Printer?serial=0001' >"$T/work/add-usb.txt" 2>&1 &&
    ok "usb:// accepted as an address" || fail "add usb://: $(cat "$T/work/add-usb.txt")"

# ------------------------------------------------------------- serial
socat -u "pty,raw,echo=0,link=$T/pty" "OPEN:$T/serial.bin,creat,trunc" 2>"$T/work/socat.err" &
socat_pid=$!
for _ in $(seq 50); do [ -e "$T/pty" ] && break; sleep 0.1; done
pty=$(readlink -f "$T/pty")
# The pty's far end stays open (for writing only, so that it takes none of
# the data): socat sees no hang-up when the app closes the port.
exec 9>"$pty"
if "$app" add -d serialprinter -m tspl-203 -v "serial:$pty?baud=9600" >"$T/work/add-serial.txt" 2>&1; then
    state=$(submit serialprinter "$T/work/page.pwg" serial-job)
    for _ in $(seq 50); do [ "$(stat -c %s "$T/serial.bin")" -gt 12000 ] && break; sleep 0.1; done
    if echo "$state" | grep -q 'job-state (enum) = completed' &&
        "$preview" --lang tspl -o "$T/work/serial-preview" "$T/serial.bin" >/dev/null 2>&1; then
        ok "serial: printer on $pty: $(wc -c <"$T/serial.bin") bytes of TSPL through the pty"
    else
        fail "serial: printer: $state ($(wc -c <"$T/serial.bin") bytes)"
    fi
else
    fail "add serial:$pty: $(cat "$T/work/add-serial.txt")"
fi
exec 9>&-

# ----------------------------------------- unusable addresses refused
mkdir -p "$T/elsewhere"
while IFS='|' read -r what uri; do
    if "$app" add -d refused -m tspl-203 -v "$uri" >"$T/work/add-refused.txt" 2>&1; then
        fail "$what ($uri) was accepted"
        "$app" delete -d refused >/dev/null 2>&1 || true
    elif ! grep -q "Refused device \"$uri\"" "$T/log"; then
        fail "$what ($uri): refused without a reason in the log"
    else
        ok "$what refused: $(grep "Refused device \"$uri\"" "$T/log" | tail -1 | sed 's/^[^"]*"[^"]*": //')"
    fi
done <<EOF2
a serial port outside the allowed ones|serial:/dev/tty0
a serial port that is missing|serial:/dev/ttyUSB97
a file outside the file directory|file://$T/elsewhere
EOF2
if "$app" add -d unknown -m tspl-203 -v 'gopher://127.0.0.1/' >"$T/work/add-unknown.txt" 2>&1; then
    fail "an unknown scheme was accepted"
else
    ok "an unknown scheme refused: $(head -1 "$T/work/add-unknown.txt")"
fi

# ------------------------------- a network printer that goes away mid-job
python3 "$here/listener.py" "$T/drop/port" "$T/drop" --drop-first &
drop_pid=$!
for _ in $(seq 50); do [ -s "$T/drop/port" ] && break; sleep 0.1; done
"$app" add -d dropper -m tspl-203 -v "socket://127.0.0.1:$(cat "$T/drop/port")" >/dev/null 2>&1 || fail "add dropper"
python3 "$here/pwgraster.py" "$T/work/big.pwg" --width 400 --height 2400 --dpi 203 --type sgray_8 --pages 20
chmod 0644 "$T/work/big.pwg"
state=$(submit dropper "$T/work/big.pwg" drop-job)
if echo "$state" | grep -Eq 'job-state \(enum\) = (aborted|canceled)' && echo "$state" | grep -q 'job-state-message'; then
    ok "printer gone mid-job: $(echo "$state" | grep -E 'job-state \(|job-state-message' | sed 's/.*= //' | tr '\n' ' ')"
else
    fail "printer gone mid-job: $state"
fi
kill -0 "$app_pid" 2>/dev/null || { fail "the app died when the printer went away"; start_app; }
state=$(submit dropper "$T/work/page.pwg" drop-next)
for _ in $(seq 50); do [ -s "$T/drop/conn-2.bin" ] && break; sleep 0.1; done
if echo "$state" | grep -q 'job-state (enum) = completed' && [ -s "$T/drop/conn-2.bin" ]; then
    ok "the printer is back: the next job prints ($(wc -c <"$T/drop/conn-2.bin") bytes)"
else
    fail "the job after the printer came back: $state"
fi

# ------------------------------------------- a printer that never answers
closed=$(qf_free_port)
"$app" add -d unreachable -m tspl-203 -v "socket://127.0.0.1:$closed" >/dev/null 2>&1 || fail "add unreachable"
start=$(date +%s)
state=$(submit unreachable "$T/work/page.pwg" unreachable-job)
if echo "$state" | grep -Eq 'job-state \(enum\) = (aborted|canceled)' && echo "$state" | grep -q 'could not be reached'; then
    ok "unreachable printer: the job ended after $(($(date +%s) - start)) s: $(echo "$state" | grep job-state-message | sed 's/.*= //')"
else
    fail "unreachable printer: $state"
fi

# ---------------------------------------------- administrators only
victim=$T/victim.conf
echo "setting = 1" >"$victim"
chmod 0644 "$victim"
cp "$victim" "$T/work/victim.orig"
for where in "$T/out" "$T/elsewhere"; do
    out=$(create attack "file://$victim" nobody)
    out2=$(create attack2 "file://$where" nobody)
    if echo "$out$out2" | grep -q '\[PASS\]'; then
        fail "uid 65534 created a printer over IPP: $out $out2"
    fi
done
out=$(create byroot "file://$T/out")
echo "$out" | grep -q '\[PASS\]' && ok "root may create a printer over loopback IPP" ||
    fail "root cannot create a printer over IPP: $out"
out=$(create attack4 "file://$victim")
echo "$out" | grep -q '\[PASS\]' && fail "root created a printer writing to $victim" ||
    ok "no one creates a file: printer outside the file directory"
# PAPPL trusts every client of its local socket: no one but its owner may
# reach it.
if nobody /usr/bin/python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' \
    "$T/quillfeed-app.sock" 2>"$T/work/nobody-socket.txt"; then
    fail "uid 65534 reaches the local socket ($(stat -c %A "$T/quillfeed-app.sock"))"
else
    ok "uid 65534 cannot reach the local socket: $(tail -1 "$T/work/nobody-socket.txt")"
fi
code=$(nobody curl -s -o /dev/null -w '%{http_code}' "http://localhost:$port/addprinter" || true)
root_code=$(curl -s -o /dev/null -w '%{http_code}' "http://localhost:$port/addprinter" || true)
if [ "$code" = 403 ] && [ "$root_code" = 200 ]; then
    ok "web form to add a printer: uid 65534 gets 403, root 200"
else
    fail "web form to add a printer: uid 65534 gets $code, root $root_code"
fi
netid=$("$app" printers 2>/dev/null | grep -c . || true)
out=$(nobody ipptool -t "$base/net" "$T/work/modify.test" 2>&1 || true)
echo "$out" | grep -q '\[PASS\]' && fail "uid 65534 changed a printer" || ok "uid 65534 cannot change a printer"
out=$(ipptool -t "$base/net" "$T/work/modify.test" 2>&1 || true)
echo "$out" | grep -q '\[PASS\]' && ok "root changes a printer over loopback IPP" || fail "root cannot change a printer: $out"
out=$(nobody ipptool -d id=1 -t "ipp://localhost:$port/ipp/system" "$T/work/delete.test" 2>&1 || true)
echo "$out" | grep -q '\[PASS\]' && fail "uid 65534 deleted a printer" || ok "uid 65534 cannot delete a printer"
[ "$("$app" printers 2>/dev/null | grep -c . || true)" = "$netid" ] || fail "the printers changed"
state=$(submit net "$T/work/page.pwg" nobody-job nobody)
echo "$state" | grep -q 'job-state (enum) = completed' && ok "uid 65534 prints" || fail "uid 65534 cannot print: $state"
# A file: printer's file swapped for a link to another file after the
# printer was added: the job fails and nothing outside is written.
: >"$T/out/label.prn" # PAPPL takes only a file: address it can write to now
"$app" add -d tofile -m tspl-203 -v "file://$T/out/label.prn" >/dev/null 2>&1 || fail "add a file: printer"
state=$(submit tofile "$T/work/page.pwg" tofile-1)
if echo "$state" | grep -q 'job-state (enum) = completed' && [ -s "$T/out/label.prn" ]; then
    ok "file: printer writes $(wc -c <"$T/out/label.prn") bytes to its file"
else
    fail "file: printer: $state"
fi
rm -f "$T/out/label.prn"
ln -s "$victim" "$T/out/label.prn"
state=$(submit tofile "$T/work/page.pwg" tofile-2)
if echo "$state" | grep -q 'job-state (enum) = completed'; then
    fail "file: printer whose file became a link: $state"
else
    ok "file: printer whose file became a link: $(echo "$state" | grep job-state-message | sed 's/.*= //')"
fi
if cmp -s "$victim" "$T/work/victim.orig"; then
    ok "$victim unchanged"
else
    fail "$victim was written to"
fi
"$app" printers 2>/dev/null | grep -q '^attack' && fail "an attack printer exists: $("$app" printers | tr '\n' ' ')"

# ------------------------------------------- SIGTERM with jobs pending
"$app" add -d slow -m tspl-203 -v "socket://127.0.0.1:$closed" >/dev/null 2>&1 || fail "add slow"
clients=
for i in 1 2 3; do
    ipptool -d job=$i -t "$base/slow" "$T/work/unreachable-job.test" >/dev/null 2>&1 &
    clients="$clients $!"
done
sleep 2
start=$(date +%s%N)
kill -TERM "$app_pid"
# QF_SLOW: how many times slower the build is (the sanitizers' runs).
slow=${QF_SLOW:-1}
for _ in $(seq $((150 * slow))); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
    fail "the app is still running $((15 * slow)) s after SIGTERM"
else
    ms=$((($(date +%s%N) - start) / 1000000))
    [ "$ms" -le $((5000 * slow)) ] && ok "SIGTERM with jobs pending: stopped in $ms ms" ||
        fail "SIGTERM: stopped only after $ms ms"
    app_pid=
fi
for pid in $clients; do wait "$pid" 2>/dev/null || true; done

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all device checks passed"
