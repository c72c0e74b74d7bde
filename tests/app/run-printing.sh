#!/usr/bin/env bash
# quillfeed-app test: what a user meets once a printer exists.
#
# Runs the app on a free loopback port with its own spool, state, log and
# local socket (all under one temporary directory), with a label printer
# (tspl-203, 4 x 6 in) and a receipt printer (escpos-58) on file devices,
# and checks, from the decoded printer bytes:
#   - a PNG and a JPEG print whole: fitted to the label, turned to its
#     orientation, red as dark grey;
#   - a cut-off PNG, a cut-off JPEG, a 0 x 0 and a 60000 x 60000 picture
#     abort within seconds with a reason, and the next job prints;
#   - a Letter PWG raster page is fitted to the label; with print-scaling
#     none it aborts with the reason;
#   - the test page ("testpage" then "submit", and the web interface's
#     "Print Test Page") decodes to a barcode that zbarimg reads back;
#   - the web interface's printing defaults: the configured darkness shows,
#     saving another field leaves it, a darkness saved there reaches the
#     printer bytes;
#   - "options" lists the vendor options with their words and defaults;
#   - a printer added while the server runs can be deleted;
#   - as root, through a private cupsd's driverless queues with no options:
#     a Letter PDF and a text file print one label and one receipt each.
#
# Usage: run-printing.sh --app FILE --preview FILE --ppd-dir DIR --data DIR
#                        [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_args "$@"
[ -x "$app" ] && [ -x "$preview" ] && [ -d "$ppd_dir" ] && [ -d "$data_dir" ] || qf_usage
qf_need ipptool python3 gs zbarimg

qf_app_setup printing-test
mkdir -p "$T/out/label" "$T/out/receipt" "$T/out/extra"
qf_app_start -o file-directory="$T/out"
"$app" add -d label -m tspl-203 -v "file://$T/out/label" || fail "add label"
"$app" add -d receipt -m escpos-58 -v "file://$T/out/receipt" || fail "add receipt"

# job PRINTER FILE FORMAT NAME [ATTR ...]: prints the final job-state,
# reasons and message (ipptool waits for the end).
job() {
    local printer=$1 file=$2 format=$3 name=$4
    shift 4
    {
        echo '{ NAME "Print-Job" OPERATION Print-Job'
        echo ' GROUP operation-attributes-tag'
        echo ' ATTR charset attributes-charset utf-8'
        echo ' ATTR language attributes-natural-language en'
        echo ' ATTR uri printer-uri $uri'
        echo ' ATTR name requesting-user-name test'
        echo " ATTR name job-name $name"
        echo " ATTR mimeMediaType document-format $format"
        [ $# -gt 0 ] && echo ' GROUP job-attributes-tag'
        for a in "$@"; do echo " $a"; done
        echo " FILE $file"
        echo ' STATUS successful-ok'
        echo '}'
        echo '{ NAME "Wait" OPERATION Get-Job-Attributes DELAY "0,0.1"'
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
    } >"$T/work/$name.test"
    ipptool -t "$base/$printer" "$T/work/$name.test" >"$T/work/$name.ipp" 2>&1 || true
    grep -E 'job-state' "$T/work/$name.ipp" | sed 's/^ *//' || true
}

# decode FILE LANG NAME: the decoded print's first page, for inkbox.py.
decode() {
    local pv=$T/work/$3-preview
    "$preview" --lang "$2" -o "$pv" "$1" >"$pv.log" 2>&1 && [ -s "$pv/page-1.png" ] && echo "$pv/page-1.png"
}

# ----------------------------------------------------------- pictures
gs -q -sDEVICE=jpeg -r60 -o "$T/work/sample.jpg" "$data_dir/sample.pdf"
# The sample (320 x 240, landscape) on the portrait 4 x 6 in label: turned
# a quarter clockwise and fitted across the whole 812 dots; its black
# square (top left) is then at the top right, its red square (top right)
# at the bottom right, printed as dark grey.
for kind in png jpeg; do
    file=$data_dir/sample.png format=image/png
    [ $kind = jpeg ] && file=$T/work/sample.jpg format=image/jpeg
    state=$(job label "$file" "$format" "picture-$kind")
    echo "$state" | grep -q 'job-state (enum) = completed' || fail "$kind job: $state"
    if page=$(decode "$T/out/label/picture-$kind.prn" tspl "picture-$kind"); then
        ink=$(python3 "$here/inkbox.py" "$page" 620,150,760,330 620,860,760,1040)
        read -r _ box _ square red <<<"$ink"
        x0=$(echo "$box" | sed -E 's/box=([0-9]+),.*/\1/')
        x1=$(echo "$box" | sed -E 's/box=[0-9]+,[0-9]+,([0-9]+),.*/\1/')
        if [ "$x0" -le 2 ] && [ "$x1" -ge 809 ] && [ "$x1" -le 811 ] &&
           python3 -c "import sys; sys.exit(not (${square#region=} > 0.8 and 0.3 < ${red#region=} < 0.8))"; then
            ok "$kind prints whole, turned and fitted, red as grey ($ink)"
        else
            fail "$kind is not whole, turned and fitted: $ink"
        fi
    else
        fail "$kind: the print does not decode"
    fi
done

# --------------------------------------------------------- bad pictures
python3 - "$T/work" "$data_dir/sample.png" <<'EOF'
import struct, sys, zlib
work, sample = sys.argv[1], sys.argv[2]
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
def png(w, h, rows=b''):
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 0, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
open(work + '/empty.png', 'wb').write(png(0, 0))
open(work + '/huge.png', 'wb').write(png(60000, 60000, b'\0' * 60001))
data = open(sample, 'rb').read()
open(work + '/cut.png', 'wb').write(data[:len(data) // 2])
EOF
head -c $(($(stat -c %s "$T/work/sample.jpg") / 2)) "$T/work/sample.jpg" >"$T/work/cut.jpg"
for bad in cut.png:image/png:damaged cut.jpg:image/jpeg:damaged \
           empty.png:image/png:"0 x 0 pixels" huge.png:image/png:"60000 x 60000 pixels"; do
    file=${bad%%:*} rest=${bad#*:}
    format=${rest%%:*} says=${rest#*:}
    start=$(date +%s%N)
    state=$(job label "$T/work/$file" "$format" "bad-$file")
    ms=$((($(date +%s%N) - start) / 1000000))
    if echo "$state" | grep -q 'job-state (enum) = aborted' && echo "$state" | grep -q "$says"; then
        ok "$file: aborted in $ms ms ($(echo "$state" | grep message | tail -1 | sed 's/.*= //'))"
    else
        fail "$file: $state"
    fi
    [ "$ms" -lt 3000 ] || fail "$file took $ms ms to end"
done
state=$(job label "$data_dir/sample.png" image/png after-bad)
echo "$state" | grep -q 'job-state (enum) = completed' && ok "the next picture prints" || fail "after the bad pictures: $state"

# ---------------------------------------------------- Letter on a label
python3 "$here/pwgraster.py" "$T/work/letter.pwg" --width 1726 --height 2233 --dpi 203 --type sgray_8
state=$(job label "$T/work/letter.pwg" image/pwg-raster letter)
if echo "$state" | grep -q 'job-state (enum) = completed' &&
   page=$(decode "$T/out/label/letter.prn" tspl letter) &&
   ink=$(python3 "$here/inkbox.py" "$page") && echo "$ink" | grep -Eq 'box=[0-3],[0-9]+,(80[89]|81[01]),'; then
    ok "a Letter page is fitted to the 4 x 6 in label ($ink)"
else
    fail "Letter page: $state ${ink:-}"
fi
state=$(job label "$T/work/letter.pwg" image/pwg-raster letter-none "ATTR keyword print-scaling none")
if echo "$state" | grep -q 'job-state (enum) = aborted' && echo "$state" | grep -q 'wider than'; then
    ok "Letter with print-scaling none: aborted with the reason"
else
    fail "Letter with print-scaling none: $state"
fi

# ------------------------------------------------------------ test page
for p in label:tspl-203:tspl receipt:escpos-58:escpos; do
    printer=${p%%:*} rest=${p#*:}
    driver=${rest%%:*} lang=${rest#*:}
    "$app" testpage -m "$driver" >"$T/work/testpage-$driver.png" || fail "testpage -m $driver"
    "$app" submit -d "$printer" -t "testpage-$driver" "$T/work/testpage-$driver.png" >/dev/null || fail "submit test page"
    for _ in $(seq 100); do [ -s "$T/out/$printer/testpage-$driver.prn" ] && break; sleep 0.1; done
    sleep 0.3
    if page=$(decode "$T/out/$printer/testpage-$driver.prn" "$lang" "testpage-$driver") &&
       code=$(zbarimg -q --raw "$page" 2>/dev/null) && [ "$code" = "$driver" ]; then
        ok "$driver test page: zbarimg reads \"$code\" from the decoded print ($(python3 "$here/inkbox.py" "$page"))"
    else
        fail "$driver test page: no barcode read back (${code:-nothing})"
    fi
done

# The web interface's "Print Test Page" button.
if python3 "$here/webform.py" "$web/receipt" --action print-test-page >"$T/work/webtest.txt" 2>&1; then
    for _ in $(seq 100); do [ -s "$T/out/receipt/Test Page.prn" ] && break; sleep 0.1; done
    sleep 0.3
    if page=$(decode "$T/out/receipt/Test Page.prn" escpos web-testpage) &&
       code=$(zbarimg -q --raw "$page" 2>/dev/null) && [ "$code" = escpos-58 ]; then
        ok "\"Print Test Page\" in the web interface: zbarimg reads \"$code\""
    else
        fail "\"Print Test Page\" in the web interface: no barcode read back (${code:-nothing})"
    fi
else
    fail "\"Print Test Page\": $(cat "$T/work/webtest.txt")"
fi

# ------------------------------------------------- web interface: darkness
if python3 "$here/webform.py" "$web/label/printing" --expect print-darkness=53 >"$T/work/form1.txt" 2>&1; then
    ok "the defaults page shows the configured darkness (53 %)"
else
    fail "defaults page darkness: $(cat "$T/work/form1.txt")"
fi
python3 "$here/webform.py" "$web/label/printing" --set dithering=1 >"$T/work/form2.txt" 2>&1 || fail "saving dithering: $(cat "$T/work/form2.txt")"
if python3 "$here/webform.py" "$web/label/printing" --expect print-darkness=53 --expect dithering=1 >"$T/work/form3.txt" 2>&1; then
    ok "saving another field leaves the darkness alone"
else
    fail "darkness after saving dithering: $(cat "$T/work/form3.txt")"
fi
python3 "$here/webform.py" "$web/label/printing" --set print-darkness=80 >"$T/work/form4.txt" 2>&1 || fail "saving darkness: $(cat "$T/work/form4.txt")"
python3 "$here/pwgraster.py" "$T/work/label.pwg" --width 812 --height 1218 --dpi 203 --type sgray_8
job label "$T/work/label.pwg" image/pwg-raster dark80 >/dev/null
# 80 % of the 16 levels 0..15 is DENSITY 12.
if grep -aq '^DENSITY 12' "$T/out/label/dark80.prn" 2>/dev/null; then
    ok "the darkness saved in the web interface reaches the printer (DENSITY 12)"
else
    fail "darkness from the web interface: $(grep -a '^DENSITY' "$T/out/label/dark80.prn" 2>/dev/null || echo no DENSITY)"
fi

# ------------------------------------------------------- options, delete
"$app" options -d receipt >"$T/work/options.txt" 2>&1 || true
if grep -q -- '-o cut-mode=2 (Partial cut at the end of the job)' "$T/work/options.txt" &&
   grep -q -- '-o dithering=3 (Burkes) (default)' "$T/work/options.txt"; then
    ok "options lists the vendor options with their words and defaults"
else
    fail "options: $(grep -c -- '-o' "$T/work/options.txt") lines, no vendor options with words"
fi
"$app" add -d extra -m cpcl-203 -v "file://$T/out/extra" || fail "add extra"
if "$app" delete -d extra >"$T/work/delete.txt" 2>&1 && ! "$app" printers | grep -qx extra; then
    ok "a printer added while the server runs is deleted"
else
    fail "delete: $(cat "$T/work/delete.txt")"
fi
"$app" printers | grep -qx label || fail "deleting extra took label with it"

# ------------------------------- CUPS driverless queues with no options
cups_no_options() {
    local C=$T/cups
    mkdir -p "$C"
    qf_cupsd_tree "$C"
    cp -a "$(cups-config --serverbin)/backend/ipp" "$C/bin/backend/ipp"
    qf_cupsd_start "$C" || { fail "the private cupsd did not come up"; return; }
    gs -q -sDEVICE=pdfwrite -sPAPERSIZE=letter -o "$T/work/letter.pdf" \
        -c '/Helvetica findfont 60 scalefont setfont 72 600 moveto (Quillfeed) show' \
        -c '20 setlinewidth 36 36 540 720 rectstroke showpage'
    printf 'Quillfeed receipt\nline two\nline three\n' >"$T/work/notes.txt"
    local q lang driver
    for q in label receipt; do
        lpadmin -p "$q" -E -v "$base/$q" -m everywhere >"$C/lpadmin.out" 2>&1 || { fail "lpadmin $q: $(cat "$C/lpadmin.out")"; return; }
        for _ in $(seq 150); do lpoptions -p "$q" -l 2>/dev/null | grep -q '^PageSize' && break; sleep 0.2; done
        lang=tspl driver=tspl-203
        [ $q = receipt ] && lang=escpos driver=escpos-58
        for doc in letter.pdf notes.txt; do
            lp -d "$q" -t "cups-$doc" "$T/work/$doc" >/dev/null || { fail "lp $doc to $q"; continue; }
            for _ in $(seq 300); do
                [ -s "$T/out/$q/cups-$doc.prn" ] && ! lpstat -o "$q" 2>/dev/null | grep -q . && break
                sleep 0.2
            done
            sleep 0.3
            if result=$(python3 "$here/../e2e/check_capture.py" "$T/out/$q/cups-$doc.prn" "$lang" \
                         "ppd=$ppd_dir/quillfeed-$driver.ppd" pages=1 2>&1) &&
               page=$(decode "$T/out/$q/cups-$doc.prn" "$lang" "cups-$q-$doc") &&
               ! python3 "$here/inkbox.py" "$page" | grep -q 'box=none'; then
                ok "lp $doc to the driverless $q queue, no options: one $q with ink ($(python3 "$here/inkbox.py" "$page"))"
            else
                fail "lp $doc to $q: ${result:-no print} ($(lpstat -W completed -o "$q" 2>&1 | tail -1))"
            fi
        done
    done
    # CUPS renders on the queue's default media, the label or the roll, not
    # on Letter (1725 x 2233 dots at 203 dpi).
    if grep -q 'raster data is 1725x2233' "$T/log"; then
        fail "CUPS rendered a job on Letter: $(grep -c 'raster data is 1725x2233' "$T/log") page(s)"
    else
        ok "CUPS rendered every job on the printer's media"
    fi
    qf_cupsd_stop
}
if [ "$(id -u)" != 0 ]; then
    echo "NOTE: not root, so no private cupsd: printing through CUPS is not tested"
elif ! command -v cupsd >/dev/null || ! command -v lpadmin >/dev/null || ! getent passwd lp >/dev/null; then
    echo "NOTE: cupsd, lpadmin or the user lp is missing: printing through CUPS is not tested"
else
    cups_no_options
fi

kill -0 "$app_pid" 2>/dev/null || fail "the app is gone"
if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all printing checks passed"
