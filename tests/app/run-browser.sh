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

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_args "$@"
[ -x "$app" ] && [ -x "$preview" ] && [ -n "$shots" ] || qf_usage
chromium=$(command -v chromium || true)
chromedriver=$(command -v chromedriver || true)
qf_need python3 zbarimg ipptool
[ -n "$chromium" ] && [ -n "$chromedriver" ] ||
    { echo "SKIP: chromium and chromium-driver are not installed"; exit $SKIP; }

qf_app_setup browser-test
mkdir -p "$T/listener" "$T/profile"
rm -rf "$shots"
mkdir -p "$shots"
qf_app_kept_also="screenshots: $shots"
start=$(date +%s)
qf_app_start

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

# The job is the largest connection (the printer page asks the idle printer
# for its status on one of its own).
job=$(ls -S "$T"/listener/conn-*.bin 2>/dev/null | head -1)
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
