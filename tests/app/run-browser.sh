#!/usr/bin/env bash
# quillfeed-app in a real browser: headless Chromium (through chromedriver)
# adds a printer on a socket:// listener in the web interface, sets its
# media, darkness and dithering and reads them back, and prints the test
# page (browser.py). This script then checks the listener's bytes: a
# well-formed TSPL job on the 50 x 30 mm label, at the darkness set in the
# browser, whose decoded print holds the test page's barcode.
# Screenshots of every step stay in the --shots directory (CI keeps it).
#
# Usage: run-browser.sh --app FILE --preview FILE --shots DIR [--keep]
set -euo pipefail

SKIP=77
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/private-cupsd.sh
. "$here/../e2e/private-cupsd.sh"
app= preview= shots= keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --app) app=$2; shift 2 ;;
        --preview) preview=$2; shift 2 ;;
        --shots) shots=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
[ -x "$app" ] && [ -x "$preview" ] && [ -n "$shots" ] || { echo "usage: see the head of $0" >&2; exit 2; }
chromium=$(command -v chromium || true)
chromedriver=$(command -v chromedriver || true)
for tool in python3 zbarimg ipptool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit $SKIP; }
done
[ -n "$chromium" ] && [ -n "$chromedriver" ] ||
    { echo "SKIP: chromium and chromium-driver are not installed"; exit $SKIP; }

T=$(mktemp -d /tmp/quillfeed-browser-test.XXXXXX)
chmod 0755 "$T"
mkdir -p "$T/spool" "$T/listener" "$T/profile" "$T/work"
rm -rf "$shots"
mkdir -p "$shots"
app_pid=
failures=0
finish() {
    local rc=$?
    qf_stop_pid "$app_pid"
    if [ $rc -ne 0 ] || [ $failures -ne 0 ]; then
        grep -E '^[EW] ' "$T/log" 2>/dev/null | grep -v 'DNS-SD\|Driver does not' | tail -n 20 || true
        echo "kept for inspection: $T (screenshots: $shots)"
    elif [ $keep -eq 1 ]; then
        echo "kept: $T"
    else
        rm -rf "$T"
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'; }
port=$(free_port)
export SNAP_COMMON=$T
start=$(date +%s)

"$app" server -o server-port="$port" -o listen-hostname=localhost \
    -o spool-directory="$T/spool" -o state-file="$T/state" \
    -o log-file="$T/log" -o log-level=info -o server-options=no-tls >>"$T/app.out" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
    kill -0 "$app_pid" 2>/dev/null || { cat "$T/app.out"; echo "FAIL: the app did not start"; exit 1; }
    sleep 0.1
done

# Network printers need PAPPL's socket scheme, which the app registers next
# to its own schemes.
cat >"$T/work/schemes.test" <<'EOF2'
{ NAME "Get-System-Attributes" OPERATION Get-System-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri system-uri $uri
 ATTR keyword requested-attributes smi55357-device-uri-schemes-supported
 STATUS successful-ok
 DISPLAY smi55357-device-uri-schemes-supported
}
EOF2
schemes=$(ipptool -t "ipp://localhost:$port/ipp/system" "$T/work/schemes.test" 2>&1 | grep 'device-uri-schemes' || true)
if ! echo "$schemes" | grep -q socket; then
    echo "SKIP: this app takes no socket:// printers ($schemes)"
    exit $SKIP
fi

python3 "$here/browser.py" --web "http://localhost:$port" --chromedriver "$chromedriver" --chromium "$chromium" \
    --out "$T/listener" --shots "$shots" --profile "$T/profile" | tee "$T/browser.txt"
failures=$(grep -c '^FAIL' "$T/browser.txt" || true)

job=$T/listener/conn-1.bin
if [ -s "$job" ]; then
    pv=$T/work/preview
    if "$preview" --lang tspl -o "$pv" "$job" >"$pv.log" 2>&1 && [ -s "$pv/page-1.png" ]; then
        cp "$pv/page-1.png" "$shots/8-decoded-test-page.png"
        code=$(zbarimg -q --raw "$pv/page-1.png" 2>/dev/null || true)
        [ "$code" = tspl-203 ] && ok "the decoded test page holds the barcode \"$code\"" ||
            fail "no barcode read back from the decoded test page (${code:-nothing})"
        # PAPPL makes a 50 x 30 mm page 399 x 239 dots at 203 dpi.
        grep -Eq 'SIZE (49\.9[0-9]|50\.00) mm,(29\.[89][0-9]|30\.00) mm' "$pv/listing.txt" &&
            ok "printed on the 50 x 30 mm label ($(grep -m1 -o 'SIZE [^(]*' "$pv/listing.txt"))" ||
            fail "label size: $(grep -m1 SIZE "$pv/listing.txt")"
        grep -aq '^DENSITY 12' "$job" && ok "the darkness set in the browser is in the bytes (DENSITY 12)" ||
            fail "darkness: $(grep -a '^DENSITY' "$job" || echo no DENSITY line)"
    else
        fail "the listener's bytes are not a well-formed TSPL job: $(tail -3 "$pv.log")"
    fi
else
    fail "the listener got no job"
fi
echo "browser test: $(($(date +%s) - start)) s, screenshots in $shots"
kill -0 "$app_pid" 2>/dev/null || fail "the app is gone"
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all browser checks passed"
