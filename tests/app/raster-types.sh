#!/usr/bin/env bash
# quillfeed-app test: every PWG raster type the app advertises, on every
# printer family, gives the filter's printer bytes for the same page.
#
# Starts quillfeed-app on a free loopback port with its own spool, state and
# log, adds one printer per family (and the two-colour label printer) with a
# file:// device, reads each printer's pwg-raster-document-type-supported and
# default media, and for each advertised type prints one page of the default
# media's size at the printer's resolution through the app and through the
# filter (same PPD, dithering 1 in both). Then a job cancelled in the middle
# of a page must send nothing of that page.
#
# Usage: raster-types.sh --app FILE --filter FILE --preview FILE --ppd-dir DIR
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_args "$@"
[ -x "$app" ] && [ -x "$filter" ] && [ -x "$preview" ] && [ -d "$ppd_dir" ] || qf_usage
qf_need ipptool python3

qf_app_setup app-types
qf_app_start -o file-directory="$T/out"

# Print-Job of FILE as PWG raster with extra job attributes ("ATTR ..."),
# waiting for the end; prints the final job state.
submit() {
    local printer=$1 file=$2 name=$3
    shift 3
    {
        printf '{\n OPERATION Print-Job\n GROUP operation-attributes-tag\n'
        printf ' ATTR charset attributes-charset utf-8\n ATTR language attributes-natural-language en\n'
        printf ' ATTR uri printer-uri $uri\n ATTR name requesting-user-name test\n'
        printf ' ATTR name job-name %s\n ATTR mimeMediaType document-format image/pwg-raster\n' "$name"
        printf ' GROUP job-attributes-tag\n'
        for a in "$@"; do printf ' %s\n' "$a"; done
        printf ' FILE %s\n STATUS successful-ok\n}\n' "$file"
        printf '{\n OPERATION Get-Job-Attributes\n GROUP operation-attributes-tag\n'
        printf ' ATTR charset attributes-charset utf-8\n ATTR language attributes-natural-language en\n'
        printf ' ATTR uri printer-uri $uri\n ATTR integer job-id $job-id\n STATUS successful-ok\n'
        printf ' EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 300\n DISPLAY job-state\n}\n'
    } >"$T/work/$name.test"
    ipptool -t "$base/$printer" "$T/work/$name.test" 2>&1 | grep -o 'job-state (enum) = [a-z-]*' || true
}

# "TYPES|WIDTH HEIGHT": the advertised raster types and the default media in
# dots at RES dpi, as PAPPL sizes a job's page (hundredths of mm * dpi / 2540).
printer_facts() {
    ipptool -tv "$base/$1" get-printer-attributes.test 2>/dev/null | python3 -c '
import re, sys
text = sys.stdin.read()
types = re.search(r"pwg-raster-document-type-supported \(1setOf keyword\) = (\S+)", text).group(1)
x = int(re.search(r"media-col-default .*?x-dimension=(\d+)", text).group(1))
y = int(re.search(r"media-col-default .*?y-dimension=(\d+)", text).group(1))
print(types.replace(",", " ") + "|" + str(x * '"$2"' // 2540) + " " + str(y * '"$2"' // 2540))'
}

# name driver
printers="tspl tspl-203
escpos escpos-58
cpcl cpcl-203
paperang paperang-p1
peripage peripage-a6
twocolour tspl-2colour-203"

while read -r name driver; do
    mkdir -p "$T/out/$name"
    "$app" add -d "$name" -m "$driver" -v "file://$T/out/$name" >/dev/null || fail "add $name ($driver)"
done <<<"$printers"

tried=""
while read -r name driver; do
    ppd=$ppd_dir/quillfeed-$driver.ppd
    facts=$(printer_facts "$name" 203) || { fail "$name: no raster types or default media"; continue; }
    read -r w h <<<"${facts#*|}"
    for type in ${facts%|*}; do
        pwg=$T/work/$name-$type.pwg
        python3 "$here/pwgraster.py" "$pwg" --width "$w" --height "$h" --dpi 203 --type "$type"
        state=$(submit "$name" "$pwg" "$name-$type" "ATTR integer dithering 1")
        out=$T/out/$name/$name-$type.prn
        PPD=$ppd "$filter" 1 test "$name-$type" 1 "ImageFilter=1" "$pwg" >"$T/work/$name-$type.bin" \
            2>"$T/work/$name-$type.err" || true
        if [ "$state" != "job-state (enum) = completed" ]; then
            fail "$name $type: $state"
        elif ! "$preview" -o "$T/work/$name-$type-preview" "$out" >/dev/null 2>&1; then
            fail "$name $type: the printer bytes do not decode"
        elif ! grep -aq . "$out" || ! cmp -s "$T/work/$name-$type.bin" "$out"; then
            fail "$name $type: app and filter differ ($(cmp "$T/work/$name-$type.bin" "$out" 2>&1 | head -1))"
        else
            ok "$name $type ${w}x$h: app and filter give the same $(wc -c <"$out") bytes"
        fi
        tried="$tried $name:$type"
    done
done <<<"$printers"
for type in black_1 sgray_8 srgb_8; do
    case $tried in *":$type "* | *":$type") ;; *) fail "no printer advertises $type" ;; esac
done

# ------------------------------------- a job cancelled during its page
# The page's header and half its rows, then Cancel-Job, then the rest: PAPPL
# ends the page with white rows, and nothing of it reaches the printer.
python3 "$here/pwgraster.py" "$T/work/cancel.pwg" --width 384 --height 2000 --dpi 203 --type sgray_8
if python3 "$here/cancel-mid-page.py" "$port" escpos "$T/work/cancel.pwg" >"$T/work/cancel.txt" 2>&1; then
    if grep -aq $'\x1dv0' "$T/out/escpos/cancelled-mid-page.prn" 2>/dev/null; then
        fail "cancelled page: part of it was sent"
    else
        ok "cancelled page: nothing of it was sent ($(cat "$T/work/cancel.txt"))"
    fi
else
    fail "cancel during a page: $(cat "$T/work/cancel.txt")"
fi
kill -0 "$app_pid" 2>/dev/null || fail "the app is gone"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all raster type checks passed"
