#!/usr/bin/env bash
# quillfeed-app test: the Printer Application as a user runs it.
#
# Starts quillfeed-app on a free loopback port with its own spool, state,
# log and local socket (all under one temporary directory), adds one printer
# per printer family with a file:// device, then checks:
#   - ipptool's IPP Everywhere test (ipp-everywhere.test) on one printer;
#   - a PWG raster, a PNG and a JPEG job for each family land as a stream
#     that quillfeed-preview decodes, and its picture has ink;
#   - the same page through the app and through the filter, with the same
#     settings, gives the same printer bytes, for each family;
#   - changed printer defaults (darkness, dithering) survive a restart;
#   - a damaged PWG raster aborts its job with a reason, and the next job
#     prints;
#   - a PDF printed with lp through a private cupsd's driverless queue that
#     points at the app lands in the file device (root only: cupsd).
# The app is stopped by its PID on every exit path.
#
# Usage: run-app.sh --app FILE --filter FILE --preview FILE --ppd-dir DIR
#                   --data DIR [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_args "$@"
[ -x "$app" ] && [ -x "$filter" ] && [ -x "$preview" ] && [ -d "$ppd_dir" ] && [ -d "$data_dir" ] || qf_usage
qf_need ipptool python3 gs

qf_app_setup app-test
start_app() { qf_app_start -o file-directory="$T/out"; }

# ipptool job: print FILE as FORMAT to PRINTER with extra job attributes
# (one "ATTR ..." line each), wait for the end, print the job's final
# state, reasons and message to stdout.
submit() {
    local printer=$1 file=$2 format=$3 name=$4
    shift 4
    local test=$T/work/$name.test
    {
        echo '{'
        echo ' NAME "Print-Job"'
        echo ' OPERATION Print-Job'
        echo ' GROUP operation-attributes-tag'
        echo ' ATTR charset attributes-charset utf-8'
        echo ' ATTR language attributes-natural-language en'
        echo ' ATTR uri printer-uri $uri'
        echo ' ATTR name requesting-user-name test'
        echo " ATTR name job-name $name"
        echo " ATTR mimeMediaType document-format $format"
        if [ $# -gt 0 ]; then
            echo ' GROUP job-attributes-tag'
            for a in "$@"; do echo " $a"; done
        fi
        echo " FILE $file"
        echo ' STATUS successful-ok'
        echo ' EXPECT job-id OF-TYPE integer WITH-VALUE >0'
        echo '}'
        echo '{'
        echo ' NAME "Wait for the job"'
        echo ' OPERATION Get-Job-Attributes'
        echo ' GROUP operation-attributes-tag'
        echo ' ATTR charset attributes-charset utf-8'
        echo ' ATTR language attributes-natural-language en'
        echo ' ATTR uri printer-uri $uri'
        echo ' ATTR integer job-id $job-id'
        echo ' STATUS successful-ok'
        echo ' EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 300'
        echo ' DISPLAY job-state'
        echo ' DISPLAY job-state-reasons'
        echo ' DISPLAY job-state-message'
        echo '}'
    } >"$test"
    ipptool -t "$base/$printer" "$test" >"$T/work/$name.ipp" 2>&1 || true
    grep -E 'job-state|Print-Job|status-code' "$T/work/$name.ipp" || true
}

# A job's output file must decode as LANG and show ink.
check_stream() {
    local file=$1 lang=$2 ppd=$3 what=$4 pages=${5:-1}
    if [ ! -s "$file" ]; then
        fail "$what: no printer data"; return
    fi
    local pv=$T/work/$(basename "$file" .prn)-preview
    if ! "$preview" --lang "$lang" -o "$pv" "$file" >"$pv.log" 2>&1; then
        fail "$what: quillfeed-preview rejects the stream"; sed 's/^/  /' "$pv.log" | tail -5; return
    fi
    local result
    if [ "$planes" = red ]; then
        # Black and red: check_capture.py knows the red of its own sample
        # picture only; the decoder's listing shows both planes with ink.
        if ! grep -q 'red and black planes' "$pv/listing.txt" ||
           ! grep -Eq 'red plane at .* [1-9][0-9]* dots\)' "$pv/listing.txt"; then
            fail "$what: no red plane with ink"; return
        fi
        ok "$what (two planes)"; return
    fi
    if ! result=$(python3 "$here/../e2e/check_capture.py" "$file" "$lang" "ppd=$ppd" "pages=$pages" 2>&1); then
        fail "$what: $result"; return
    fi
    if [ ! -s "$pv/page-1.png" ] || ! echo "$result" | grep -Eq 'black=0\.0*[1-9]|black=[1-9]'; then
        fail "$what: the page shows no ink ($result)"; return
    fi
    ok "$what ($(grep -E '^ *page 1:' "$pv/listing.txt" | sed 's/^ *//'))"
}

start_app
ok "app started (pid $app_pid, port $port)"

# family driver lang width height raster-type planes
families="tspl tspl-203 tspl 400 240 sgray_8 one
escpos escpos-58 escpos 384 400 sgray_8 one
cpcl cpcl-203 cpcl 400 240 sgray_8 one
paperang paperang-p1 paperang 384 400 sgray_8 one
peripage peripage-a6 peripage 384 400 sgray_8 one
twocolour tspl-2colour-203 tspl 400 240 srgb_8 red"

while read -r name driver lang w h type planes; do
    mkdir -p "$T/out/$name"
    "$app" add -d "$name" -m "$driver" -v "file://$T/out/$name" || fail "add $name ($driver)"
done <<<"$families"
"$app" printers | sort | tr '\n' ' ' | grep -q 'cpcl escpos paperang peripage tspl twocolour' ||
    fail "the printers are not all listed: $("$app" printers | tr '\n' ' ')"
# A vendor setting given to add is set (PAPPL 1.3's add left it out).
mkdir -p "$T/out/quiet"
"$app" add -d quiet -m tspl-203 -v "file://$T/out/quiet" -o status-query-default=0 &&
    "$app" options -d quiet | grep -q 'status-query=0 (No) (default)' && ok "add -o status-query-default=0 is kept" ||
    fail "add -o status-query-default=0: $("$app" options -d quiet 2>&1 | grep -A2 'status-query:' | tr '\n' ' ')"
"$app" delete -d quiet

gs -q -sDEVICE=jpeg -r60 -o "$T/work/sample.jpg" "$data_dir/sample.pdf"

# ------------------------------------------------ jobs in every family
while read -r name driver lang w h type planes; do
    pwg=$T/work/$name.pwg
    ppd=$ppd_dir/quillfeed-$driver.ppd
    python3 "$here/pwgraster.py" "$pwg" --width "$w" --height "$h" --dpi 203 --type "$type"

    state=$(submit "$name" "$pwg" image/pwg-raster "$name-pwg")
    echo "$state" | grep -q 'job-state (enum) = completed' || fail "$name PWG job: $state"
    check_stream "$T/out/$name/$name-pwg.prn" "$lang" "$ppd" "$name: PWG raster"

    state=$(submit "$name" "$data_dir/sample.png" image/png "$name-png")
    echo "$state" | grep -q 'job-state (enum) = completed' || fail "$name PNG job: $state"
    check_stream "$T/out/$name/$name-png.prn" "$lang" "$ppd" "$name: PNG"

    state=$(submit "$name" "$T/work/sample.jpg" image/jpeg "$name-jpeg")
    echo "$state" | grep -q 'job-state (enum) = completed' || fail "$name JPEG job: $state"
    check_stream "$T/out/$name/$name-jpeg.prn" "$lang" "$ppd" "$name: JPEG"

    # The same page through the filter, with the same setting changed from
    # its default (dithering Floyd-Steinberg = ImageFilter 1).
    state=$(submit "$name" "$pwg" image/pwg-raster "$name-same" "ATTR integer dithering 1")
    echo "$state" | grep -q 'job-state (enum) = completed' || fail "$name dithering job: $state"
    if ! PPD=$ppd "$filter" 1 test "$name-same" 1 "ImageFilter=1" "$pwg" >"$T/work/$name-filter.bin" 2>"$T/work/$name-filter.err"; then
        fail "$name: the filter failed on the same page"
    elif cmp -s "$T/work/$name-filter.bin" "$T/out/$name/$name-same.prn"; then
        ok "$name: app and filter give the same $(wc -c <"$T/work/$name-filter.bin") bytes"
    else
        fail "$name: app and filter differ ($(cmp "$T/work/$name-filter.bin" "$T/out/$name/$name-same.prn" 2>&1 | head -1))"
    fi
done <<<"$families"

# ------------------------------------------- submit's options reach the job
out=$("$app" submit -d tspl -n 2 -t submitted -o print-darkness=20 -o dithering=1 "$data_dir/sample.png" 2>&1) ||
    fail "submit with options: $out"
cat >"$T/work/job-options.test" <<EOF
{
 OPERATION Get-Job-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR integer job-id ${out##*-}
 ATTR name requesting-user-name root
 STATUS successful-ok
 EXPECT job-name WITH-VALUE submitted
 EXPECT copies WITH-VALUE 2
 EXPECT print-darkness WITH-VALUE 20
 EXPECT dithering WITH-VALUE 1
}
{
 NAME "Wait for the job to end: the restart below is not to find it printing"
 OPERATION Get-Job-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri \$uri
 ATTR integer job-id ${out##*-}
 ATTR name requesting-user-name root
 STATUS successful-ok
 EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 120
}
EOF
ipptool -t "$base/tspl" "$T/work/job-options.test" >"$T/work/job-options.txt" 2>&1 &&
    ok "submit's title, copies, IPP and vendor options reach the job" ||
    fail "submit's options: $(grep -E 'EXPECTED|GOT' "$T/work/job-options.txt" | tr '\n' ' ')"

# ------------------------------------------------- IPP Everywhere test
# PAPPL 1.3 leaves out a few attributes the test wants, and these printers
# have no display, light or speaker to identify themselves with and report
# no supplies; those expectations cannot be met here. Any other failed
# expectation fails this test.
not_applicable='identify-actions-default|identify-actions-supported|preferred-attributes-supported|overrides-supported|print-rendering-intent-default|print-rendering-intent-supported|printer-supply|printer-supply-description|pwg-raster-document-sheet-back'
ie_dir=$(dirname "$(find /usr/share/cups/ipptool -name ipp-everywhere.test 2>/dev/null | head -1)")
if [ -f "$ie_dir/ipp-everywhere.test" ]; then
    (cd "$ie_dir" && ipptool -tI "$base/tspl" ipp-everywhere.test) >"$T/work/ipp-everywhere.txt" 2>&1 || true
    unmet=$(grep -E '^ +EXPECTED: ' "$T/work/ipp-everywhere.txt" | sed -E 's/^ +EXPECTED: ([^ ]+).*/\1/' |
            grep -Ev "^($not_applicable)\$" | sort -u | tr '\n' ' ' || true)
    summary=$(grep -E 'Summary:' "$T/work/ipp-everywhere.txt" || true)
    if [ -n "$unmet" ]; then
        fail "ipp-everywhere.test: unmet $unmet($summary)"
    else
        ok "ipp-everywhere.test: only the known inapplicable expectations unmet ($summary)"
    fi
else
    echo "NOTE: ipp-everywhere.test is not installed (cups-ipp-utils); not run"
fi

# ------------------------------- a printer's attributes do not grow
# Two hundred plain Get-Printer-Attributes, then one more that lists them:
# no attribute appears twice.
gpa=$T/work/gpa.test
printf '%s\n' '{' 'OPERATION Get-Printer-Attributes' 'GROUP operation-attributes-tag' \
    'ATTR charset attributes-charset utf-8' 'ATTR language attributes-natural-language en' \
    'ATTR uri printer-uri $uri' 'STATUS successful-ok' '}' >"$gpa"
ipptool -q -n 200 "$base/tspl" "$gpa" >/dev/null 2>&1 || true
ipptool -tv "$base/tspl" "$gpa" >"$T/work/gpa.txt" 2>&1 || true
twice=$(sed -nE '/status-code/,$s/^ +([a-z0-9-]+) \(.*/\1/p' "$T/work/gpa.txt" | sort | uniq -d | tr '\n' ' ')
grep -q "status-code = successful-ok" "$T/work/gpa.txt" && [ -z "$twice" ] && ok "attributes asked for 201 times: none doubled" ||
    fail "attributes doubled after 201 requests: ${twice:-no answer}"

# ----------------------------------------- defaults survive a restart
cat >"$T/work/set-defaults.test" <<'EOF'
{
 NAME "Set-Printer-Attributes"
 OPERATION Set-Printer-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR name requesting-user-name test
 GROUP printer-attributes-tag
 ATTR integer print-darkness-default 40
 ATTR integer dithering-default 1
 STATUS successful-ok
}
EOF
cat >"$T/work/get-defaults.test" <<'EOF'
{
 NAME "Get-Printer-Attributes"
 OPERATION Get-Printer-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR keyword requested-attributes dithering-default
 STATUS successful-ok
 EXPECT dithering-default WITH-VALUE 1
}
EOF
if ipptool -t "$base/tspl" "$T/work/set-defaults.test" >"$T/work/set-defaults.txt" 2>&1; then
    qf_stop_pid "$app_pid"
    app_pid=
    start_app
    if ipptool -t "$base/tspl" "$T/work/get-defaults.test" >"$T/work/get-defaults.txt" 2>&1; then
        ok "dithering-default survives a restart"
    else
        fail "dithering-default lost in the restart: $(grep -E 'EXPECTED|GOT' "$T/work/get-defaults.txt" | tr '\n' ' ')"
    fi
    # PAPPL 1.3 does not report print-darkness-default; the printed bytes
    # show both defaults: darkness 50 configured + 40 on 16 levels is
    # Darkness 14, and Floyd-Steinberg dithering, as the filter prints them.
    state=$(submit tspl "$T/work/tspl.pwg" image/pwg-raster tspl-dark)
    PPD=$ppd_dir/quillfeed-tspl-203.ppd "$filter" 1 test tspl-dark 1 "ImageFilter=1 Darkness=14" \
        "$T/work/tspl.pwg" >"$T/work/tspl-dark-filter.bin" 2>/dev/null || true
    if cmp -s "$T/work/tspl-dark-filter.bin" "$T/out/tspl/tspl-dark.prn" &&
       grep -aq '^DENSITY 14' "$T/out/tspl/tspl-dark.prn"; then
        ok "the saved darkness and dithering reach the printer after the restart"
    else
        fail "saved defaults not printed: $(grep -a '^DENSITY' "$T/out/tspl/tspl-dark.prn" || echo no DENSITY)"
    fi
else
    fail "Set-Printer-Attributes: $(tail -5 "$T/work/set-defaults.txt" | tr '\n' ' ')"
fi

# ------------------------------- TLS credentials beside the state (root)
# As root, a TLS request makes the server's key and certificate in the
# state's directory, readable by root alone, not in the host's CUPS
# directory.
if [ "$(id -u)" = 0 ] && command -v curl >/dev/null; then
    host_ssl=$(ls /etc/cups/ssl 2>/dev/null | sort | tr '\n' ' ')
    qf_stop_pid "$app_pid"
    app_pid=
    qf_app_start -o file-directory="$T/out" -o server-options=dnssd-host
    curl -sk "https://localhost:$port/" -o /dev/null || true
    if ls "$T"/ssl/*.key >/dev/null 2>&1 && [ "$(stat -c %a "$T/ssl")" = 700 ] &&
        [ "$(ls /etc/cups/ssl 2>/dev/null | sort | tr '\n' ' ')" = "$host_ssl" ]; then
        ok "the TLS key is made beside the state, not in /etc/cups/ssl"
    else
        fail "TLS key: state dir has '$(ls "$T/ssl" 2>&1 | tr '\n' ' ')', /etc/cups/ssl has '$(ls /etc/cups/ssl | tr '\n' ' ')'"
    fi
    qf_stop_pid "$app_pid"
    app_pid=
    start_app
fi

# ---------------------------------- a damaged document, then the next job
# A page header that claims fewer bytes per line than its width needs.
# (A stream cut short in a page prints, its missing rows white, with a
# warning in the job's log, as in the filter; but only after PAPPL 1.3's
# 60-second wait for more data: too slow for this test.)
python3 "$here/pwgraster.py" "$T/work/damaged.pwg" --width 400 --height 240 --dpi 203 --bytes-per-line 5
state=$(submit tspl "$T/work/damaged.pwg" image/pwg-raster tspl-damaged)
if echo "$state" | grep -q 'job-state (enum) = aborted' && echo "$state" | grep -q 'document-format-error'; then
    ok "damaged PWG raster: job aborted ($(echo "$state" | grep -E 'job-state-(message|reasons)' | sed 's/.*= //' | tr '\n' ' '))"
else
    fail "damaged PWG raster: $state"
fi
if [ -s "$T/out/tspl/tspl-damaged.prn" ] && grep -aq 'BITMAP' "$T/out/tspl/tspl-damaged.prn"; then
    fail "damaged PWG raster: part of a page was sent"
fi
# A PDF sent as octet-stream (what a raw queue sends): nothing converts it.
state=$(submit tspl "$data_dir/sample.pdf" application/octet-stream tspl-rawpdf)
echo "$state" | grep -q 'job-state (enum) = aborted' && ok "PDF sent raw: job aborted" || fail "PDF sent raw: $state"
state=$(submit tspl "$T/work/tspl.pwg" image/pwg-raster tspl-after)
echo "$state" | grep -q 'job-state (enum) = completed' && ok "the next job prints" || fail "job after the damaged one: $state"
kill -0 "$app_pid" 2>/dev/null || fail "the app is gone"

# ------------------------ a PDF through a private cupsd's driverless queue
cups_pdf() {
    local C=$T/cups
    mkdir -p "$C"
    qf_cupsd_tree "$C"
    # The driverless queue reaches the app through CUPS's own ipp backend.
    cp -a "$(cups-config --serverbin)/backend/ipp" "$C/bin/backend/ipp"
    qf_cupsd_start "$C" || { fail "the private cupsd did not come up"; return; }
    if ! lpadmin -p appq -E -v "$base/tspl" -m everywhere >"$C/lpadmin.out" 2>&1; then
        fail "lpadmin -m everywhere: $(cat "$C/lpadmin.out")"; return
    fi
    # cupsd writes the queue's PPD from the app's attributes in the
    # background; a job sent before that would go out raw.
    for _ in $(seq 150); do
        lpoptions -p appq -l 2>/dev/null | grep -q '^PageSize' && break
        sleep 0.2
    done
    lpoptions -p appq -l 2>/dev/null | grep -q '^PageSize' || { fail "cupsd made no PPD for the queue"; return; }
    lp -d appq -t tspl-pdf -o media=om_50x30mm_50x30mm "$data_dir/sample.pdf" >/dev/null ||
        { fail "lp of the PDF"; return; }
    for _ in $(seq 600); do
        [ -s "$T/out/tspl/tspl-pdf.prn" ] && ! lpstat -o appq 2>/dev/null | grep -q . && break
        sleep 0.2
    done
    sleep 0.5
    check_stream "$T/out/tspl/tspl-pdf.prn" tspl "$ppd_dir/quillfeed-tspl-203.ppd" "PDF through cupsd's driverless queue" 2
    qf_cupsd_stop
}
if [ "$(id -u)" != 0 ]; then
    echo "NOTE: not root, so no private cupsd: the PDF through CUPS is not tested"
elif ! command -v cupsd >/dev/null || ! command -v lpadmin >/dev/null || ! getent passwd lp >/dev/null; then
    echo "NOTE: cupsd, lpadmin or the user lp is missing: the PDF through CUPS is not tested"
else
    cups_pdf
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all app checks passed"
