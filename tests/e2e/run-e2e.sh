#!/usr/bin/env bash
# Print-server test: what a user does, end to end.
#
# Installs the build into a staging directory (cmake --install with DESTDIR),
# starts a private cupsd on a free loopback port with its own configuration,
# spool, cache, state and log directories, sets up one queue per PPD with
# lpadmin -m, prints a PDF and a PNG with lp and a few -o options, waits for
# the jobs (bounded), and checks the printer bytes that each job produced.
#
# The printer bytes are captured by a small backend, "qfcapture", placed
# into the private copy of the CUPS server directory: a queue with the device
# URI qfcapture:/some/dir writes the data of job N to /some/dir/job-N.bin.
# The machine's own CUPS (its configuration, spool and daemon) is not used
# (private-cupsd.sh beside this script sets it up).
#
# Needs root (cupsd runs filters as user lp and insists on root-owned
# programs); exits with 77, which CTest reports as skipped, when it is not
# root or a CUPS program is missing.
#
# Usage: run-e2e.sh --build-dir DIR --filter FILE --data DIR
#                   [--preview FILE] [--keep]
#   --build-dir  build tree to install from (cmake --install)
#   --filter     the built filter, used only when the install step does not
#                install one
#   --data       directory with sample.pdf and sample.png
#   --preview    decoder of captured printer bytes, run on every capture
#   --rastergen  writer of CUPS raster files: adds a job that prints a
#                compressed (version 2) raster file as it is
#   --keep       keep the temporary directory (always kept on failure)

set -euo pipefail

SKIP=77
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=private-cupsd.sh
. "$here/private-cupsd.sh"
build_dir= filter= data_dir= preview= rastergen= keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --build-dir) build_dir=$2; shift 2 ;;
        --filter) filter=$2; shift 2 ;;
        --data) data_dir=$2; shift 2 ;;
        --preview) preview=$2; shift 2 ;;
        --rastergen) rastergen=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
[ -n "$build_dir" ] && [ -n "$data_dir" ] || { echo "usage: see the head of $0" >&2; exit 2; }

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the print-server test needs root (cupsd runs filters as lp)"
    exit $SKIP
fi
for tool in cupsd lpadmin lpinfo lpstat lp cancel cups-config python3 gs; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit $SKIP
    fi
done
getent passwd lp >/dev/null || { echo "SKIP: no user lp"; exit $SKIP; }

serverbin=$(cups-config --serverbin)
datadir=$(cups-config --datadir)
for f in "$serverbin/daemon/cups-exec" "$serverbin/filter/gstoraster" \
         "$serverbin/filter/pdftopdf" "$serverbin/filter/imagetopdf"; do
    [ -x "$f" ] || { echo "SKIP: $f is missing (cups-daemon, cups-filters)"; exit $SKIP; }
done

T=$(mktemp -d /tmp/quillfeed-e2e.XXXXXX)
chmod 0755 "$T"            # filters run as lp and must reach the spool
failed=0

finish() {
    local rc=$?
    qf_cupsd_stop
    qf_finish_dir "$T" $((rc + failed)) $keep "$T/log/error_log" 60
}
trap finish EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------- install
echo "== cmake --install into a staging directory"
stage=$T/stage
DESTDIR=$stage cmake --install "$build_dir" >"$T/install.log" 2>&1 || {
    cat "$T/install.log"; echo "FAIL: cmake --install"; exit 1; }

staged_filter=$stage$serverbin/filter/quillfeed
if [ -f "$staged_filter" ]; then
    # cupsd runs only root-owned filters that group and others cannot change.
    owner=$(stat -c '%a %U' "$staged_filter")
    if [ "$owner" != "755 root" ]; then
        echo "FAIL: installed filter has mode and owner $owner, not 755 root"; exit 1
    fi
else
    echo "NOTE: cmake --install put no filter into $serverbin/filter;" \
         "using the built one ($filter)"
    [ -n "$filter" ] && [ -x "$filter" ] || { echo "FAIL: no filter to test"; exit 1; }
    staged_filter=$filter
fi

staged_ppds=$stage$datadir/model/quillfeed
ls "$staged_ppds"/*.ppd >/dev/null 2>&1 || {
    echo "FAIL: cmake --install put no PPD into $datadir/model/quillfeed"; exit 1; }

# ------------------------------------------------------ private CUPS tree
# Our filter joins CUPS's own in ServerBin; our PPDs are the only model
# directory.
qf_cupsd_tree "$T"
install -m 0755 -o root -g root "$staged_filter" "$T/bin/filter/quillfeed"
ln -s "$staged_ppds" "$T/data/model/quillfeed"
qf_cupsd_start "$T" || exit 1

# ------------------------------------------------------------- the queues
echo "== lpinfo -m lists our PPDs"
lpinfo -m >"$T/lpinfo.txt" 2>&1 || true
expected_ppds=$(cd "$staged_ppds" && ls *.ppd | wc -l)
listed=$(grep -c '^quillfeed/' "$T/lpinfo.txt" || true)
if [ "$listed" != "$expected_ppds" ]; then
    cat "$T/lpinfo.txt"
    echo "FAIL: lpinfo -m lists $listed of our $expected_ppds PPDs"
    exit 1
fi

declare -A QUEUE_PPD=(
    [tspl203]=quillfeed-tspl-203.ppd
    [tspl300]=quillfeed-tspl-300.ppd
    [tspl2c]=quillfeed-tspl-2colour-203.ppd
    [escpos58]=quillfeed-escpos-58.ppd
    [escpos80]=quillfeed-escpos-80.ppd
    [cpcl]=quillfeed-cpcl-203.ppd
    [paperang1]=quillfeed-paperang-p1.ppd
    [paperang2]=quillfeed-paperang-p2.ppd
    [peripage]=quillfeed-peripage-a6.ppd
    [peripageplus]=quillfeed-peripage-a6plus.ppd
    [tsplbright]=quillfeed-tspl-203.ppd
)
echo "== lpadmin: one queue per PPD"
for q in "${!QUEUE_PPD[@]}"; do
    lpadmin -p "$q" -E -v "qfcapture:$T/capture" -m "quillfeed/${QUEUE_PPD[$q]}" \
        2>"$T/lpadmin-$q.err" || { cat "$T/lpadmin-$q.err"; echo "FAIL: lpadmin $q"; exit 1; }
    # "Printer drivers are deprecated" is expected; anything else is not.
    if grep -v -i 'deprecated' "$T/lpadmin-$q.err" | grep -q .; then
        cat "$T/lpadmin-$q.err"; echo "FAIL: lpadmin $q complained"; exit 1
    fi
done
# The label options are what a user sees in lpoptions -l.
lpoptions -p tspl203 -l >"$T/lpoptions.txt" 2>&1 || true
for want in '^qfBrightness/.*\*Default' '^GapHeight/.*\*3 ' '^GapOffset/.*\*0 ' \
            '^PostAction/.*\*0 ' '^SendSetc/.*\*1 ' '^ImageFilter/.* \*11$' \
            '^PageSize/.* 6x4in' '^PageSize/.* 150x100mm'; do
    if ! grep -q -- "$want" "$T/lpoptions.txt"; then
        cat "$T/lpoptions.txt"
        echo "FAIL: lpoptions -l of a TSPL queue does not show $want"; exit 1
    fi
done
# The receipt options reach the user: lpoptions -l lists them for the
# receipt queues, with the receipt defaults.
for q in escpos58 escpos80; do
    lpoptions -p "$q" -l >"$T/lpoptions-$q.txt" 2>&1 || true
    for want in 'ReceiptMode/.*\*1' 'CutMode/.*\*1' 'CutterFeed/.*\*1[25]' 'CashDrawer/.*\*0' 'BandRows/.*\*256'; do
        if ! grep -q "^$want" "$T/lpoptions-$q.txt"; then
            cat "$T/lpoptions-$q.txt"; echo "FAIL: lpoptions -p $q -l lacks $want"; exit 1
        fi
    done
done

# A queue default: lpadmin writes it into the queue's PPD.
lpadmin -p tsplbright -o Brightness=60 2>/dev/null

# ----------------------------------------------------------------- the jobs
# Each line: name | queue | file | lp options | checks (see check_capture.py;
# ppd= is added).  picture=1: the page shows the sample picture unscaled.
JOBS=$(cat <<'EOF'
tspl-pdf       | tspl203  | sample.pdf | -o media=40x30mm -o Darkness=12 -o zePrintRate=4 -o zeMediaTracking=Gap | tspl pages=2 size=40x30mm density=12 speed=4 media=gap ribbon=off picture=1
tspl-pdf-copies| tspl203  | sample.pdf | -n 2 -o PageSize=40x30mm -o zeMediaTracking=BLine -o MediaMethod=Ribbon -o ImageCompress=1 | tspl pages=4 size=40x30mm density=none speed=none media=bline ribbon=on compressed=1 picture=1 setc=1 post=0
tspl-bline-mark| tspl203  | sample.pdf | -o PageSize=40x30mm -o zeMediaTracking=BLine -o GapHeight=4 -o GapOffset=1 -o SendSetc=0 -o PostAction=2 | tspl pages=2 size=40x30mm media=bline gapheight=4 gapoffset=1 setc=0 post=2
tspl-png       | tspl203  | sample.png | -o media=40x30mm -o Darkness=3 | tspl pages=1 size=40x30mm density=3 media=gap picture=1
tspl-png-1bit  | tspl203  | sample.png | -o PageSize=40x30mm -o ColorModel=BlackWhite | tspl pages=1 size=40x30mm picture=1
tspl-png-4x6   | tspl203  | sample.png | -o PageSize=4x6in -o zeMediaTracking=Continuous | tspl pages=1 size=4x6in media=continuous
tspl-landscape | tspl203  | sample.png | -o PageSize=6x4in -o Rotate=2 | tspl pages=1 size=6x4in rotated=1
tspl-rotated   | tspl203  | sample.png | -o PageSize=4x6in -o Rotate=2 | refused 1218 832
tspl300-pdf    | tspl300  | sample.pdf | -o PageSize=50x30mm -o FeedOffset=-3 | tspl pages=2 size=50x30mm offset=-34 media=gap
tspl2c-png     | tspl2c   | sample.png | -o PageSize=40x30mm | tspl pages=1 size=40x30mm red=1
tspl2c-pdf     | tspl2c   | sample.pdf | -o PageSize=40x30mm | tspl pages=2 size=40x30mm red=1
escpos58-pdf   | escpos58 | sample.pdf | -o PageSize=Roll58x100mm -o CropEdgeBottom=0 -o MediaAlign=Left -o FeedOffset=20 -o ReceiptMode=0 -o CutMode=0 -o BandRows=65535 | escpos pages=2 size=Roll58x100mm align=0 feed=160
escpos58-png   | escpos58 | sample.png | -o PageSize=Roll58x100mm -o ReceiptMode=0 -o CutMode=0 -o FeedOffset=10 | escpos pages=1 size=Roll58x100mm cropped=1 align=1 feed=80
escpos80-pdf   | escpos80 | sample.pdf | -o PageSize=Roll80x50mm -o CropEdgeBottom=0 -o MediaAlign=Right -o ReceiptMode=0 -o CutMode=0 -o FeedOffset=10 | escpos pages=2 size=Roll80x50mm align=2 feed=80
receipt58-text | escpos58 | @receipt.txt | | escpos receipt=1 width=384 band=256 cutfeed=96 cut=full drawer=none lines=150 maxwhite=34
receipt58-pdf  | escpos58 | @three-pages.pdf | -o CutMode=2 -o CashDrawer=1 | escpos receipt=1 width=384 band=256 cutfeed=96 cut=partial drawer=before lines=3
receipt80-tall | escpos80 | @tall.png | -o PageSize=Roll80x1000mm -o position=top -o BandRows=512 -o CashDrawer=2 | escpos receipt=1 width=576 band=512 cutfeed=120 cut=full drawer=after lead=8 maxwhite=40
cpcl-pdf       | cpcl     | sample.pdf | -o PageSize=40x30mm -o AdjustHoriaontal=2 | cpcl pages=2 size=40x30mm form=1 offset=16 picture=1
cpcl-png       | cpcl     | sample.png | -o PageSize=40x30mm -o zeMediaTracking=Continuous | cpcl pages=1 size=40x30mm form=0 offset=0 picture=1
paperang1-pdf  | paperang1| sample.pdf | -o PageSize=Roll58x50mm | paperang pages=2 size=Roll58x50mm end=feed papertype=none
paperang2-png  | paperang2| sample.png | -o PageSize=Roll58x50mm -o zeMediaTracking=Perforated | paperang pages=1 size=Roll58x50mm end=locate papertype=3
peripage-pdf   | peripage | sample.pdf | -o PageSize=Roll58x50mm -o Darkness=10 -o ImageCompress=1 -o zeMediaTracking=Gap | peripage pages=2 size=Roll58x50mm density=10 paper=2 compressed=1 marked=1 cutline=0
peripage-png   | peripage | sample.png | -o PageSize=Roll58x50mm -o FeedOffset=10 | peripage pages=1 size=Roll58x50mm density=none paper=1 compressed=0 feed=80 cutline=1 align=1
peripage+-pdf  | peripageplus | sample.pdf | -o PageSize=Roll58x100mm -o zeMediaTracking=Recording | peripage pages=2 size=Roll58x100mm cropped=1 paper=1 cutline=0
bright-png-preset | tspl203 | sample.png | -o PageSize=40x30mm -o APPrinterPreset=Brightness+60 | tspl pages=1 size=40x30mm
bright-png-queue  | tsplbright | sample.png | -o PageSize=40x30mm | tspl pages=1 size=40x30mm
bright-pdf-up     | tspl203  | sample.pdf | -o PageSize=40x30mm -o Brightness=60 | tspl pages=2 size=40x30mm
bright-pdf-down   | tspl203  | sample.pdf | -o PageSize=40x30mm -o Brightness=-60 | tspl pages=2 size=40x30mm
bright-png-kw     | tspl203  | sample.png | -o PageSize=40x30mm -o qfBrightness=40 | tspl pages=1 size=40x30mm
EOF
)

# A QR code label as a PNG, with the label printers' default dithering:
# zbarimg must read it back from the printed picture.
if command -v qrencode >/dev/null && command -v zbarimg >/dev/null && [ -n "$preview" ]; then
    qrencode -s 3 -m 4 -d 203 -o "$T/qr.png" "QF-E2E-LABEL"
    JOBS+=$'\n'"tspl-qr-label  | tspl203  | $T/qr.png | -o PageSize=40x30mm | tspl pages=1 size=40x30mm"
    JOBS+=$'\n'"cpcl-qr-label  | cpcl     | $T/qr.png | -o PageSize=40x30mm | cpcl pages=1 size=40x30mm"
else
    echo "NOTE: qrencode, zbarimg or the preview missing: no barcode label job"
fi

# Receipt inputs: a text file of 150 short lines (no blank line, none long
# enough to wrap), a PDF of three pages with one line of text each, and an
# image far taller than wide.
for i in $(seq 150); do printf '%03d tea  1.50\n' "$i"; done >"$T/receipt.txt"
cat >"$T/three-pages.ps" <<'EOF'
%!PS
<< /PageSize [136.2 283.46] >> setpagedevice
/Helvetica findfont 14 scalefont setfont
1 1 3 { 20 240 moveto (Page ) show 3 string cvs show showpage } for
EOF
gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$T/three-pages.pdf" "$T/three-pages.ps"
python3 - "$T/tall.png" <<'EOF'
import struct, sys, zlib
w, h = 576, 4000        # a black bar every 500 rows, grey stripes between
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
rows = b"".join(b"\0" + bytes(0 if y % 500 < 8 or ((y // 40) % 2 and x % 64 < 32) else 255
                                for x in range(w)) for y in range(h))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
                              + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
EOF

# A raster file goes to the filter as it is, compressed raster included.
if [ -n "$rastergen" ]; then
    "$rastergen" --compressed --pages 2 --width 320 --height 240 --dpi 203 \
        "$T/sample.ras" >/dev/null
    JOBS+=$'\n'"tspl-raster    | tspl203  | $T/sample.ras | -o zeMediaTracking=BLine | tspl pages=2 size=40x30mm media=bline"
fi

# Which filters CUPS runs, by document: pictures take the PDF route (see
# the filter lines in quillfeed.drv), raster goes straight to quillfeed.
declare -A ROUTE=(
    [pdf]="pdftopdf gstoraster quillfeed"
    [png]="imagetopdf gstoraster quillfeed"
    [txt]="texttopdf pdftopdf gstoraster quillfeed"
    [ras]="quillfeed"
)

declare -A JOB_ID JOB_CHECK JOB_QUEUE JOB_OPTS JOB_FILE
names=()
echo "== printing"
while IFS='|' read -r name queue file opts checks; do
    name=$(echo "$name" | xargs); queue=$(echo "$queue" | xargs)
    file=$(echo "$file" | xargs); checks=$(echo "$checks" | xargs)
    [ -n "$name" ] || continue
    case $file in /*) ;; @*) file=$T/${file#@} ;; *) file=$data_dir/$file ;; esac
    # shellcheck disable=SC2086
    out=$(lp -d "$queue" -t "$name" $opts "$file" 2>&1) || {
        echo "$out"; echo "FAIL: lp for $name"; exit 1; }
    id=$(echo "$out" | sed -n 's/^request id is [^ ]*-\([0-9][0-9]*\) .*/\1/p')
    [ -n "$id" ] || { echo "$out"; echo "FAIL: no job id for $name"; exit 1; }
    JOB_ID[$name]=$id; JOB_QUEUE[$name]=$queue; JOB_OPTS[$name]=$opts; JOB_FILE[$name]=$file
    JOB_CHECK[$name]="$checks ppd=$staged_ppds/${QUEUE_PPD[$queue]}"
    names+=("$name")
    echo "   job $id: $name ($queue, $(basename "$file"),$opts)"
done <<<"$JOBS"

echo "== waiting for the jobs (at most 240 s)"
deadline=$((SECONDS + 240))
while [ -n "$(lpstat -o 2>/dev/null)" ]; do
    if [ $SECONDS -ge $deadline ]; then
        lpstat -o
        echo "FAIL: jobs still pending after 240 s"
        exit 1
    fi
    sleep 0.5
done

# -------------------------------------------------------------- the checks
echo "== checking the captured printer bytes"
declare -A BLACK
for name in "${names[@]}"; do
    id=${JOB_ID[$name]}
    cap=$T/capture/job-$id.bin
    status=ok
    # A page wider than the head (check: "refused WIDTH HEAD"): nothing of it
    # reaches the printer, and the user is told the widths and what to do.
    if [[ ${JOB_CHECK[$name]} == refused* ]]; then
        read -r _ width head _ <<<"${JOB_CHECK[$name]}"
        message=$(grep -o -m 1 "\[Job $id\] This page is $width dots wide, wider than the $head dots.*landscape page size when rotating by 90 degrees" \
                      "$T/log/error_log" || true)
        if [ -s "$cap" ] && grep -q "BITMAP" "$cap"; then
            echo "FAIL $name: a page wider than the head reached the printer"; failed=1
        elif [ -z "$message" ]; then
            echo "FAIL $name: no message about a $width-dot page on a $head-dot head in the log"; failed=1
        else
            echo "ok   $name: ${message#*] }"
        fi
        continue
    fi
    if ! grep -q "\[Job $id\] Job completed\." "$T/log/error_log"; then
        echo "FAIL $name: job $id did not complete"
        status=fail
    elif [ ! -s "$cap" ]; then
        echo "FAIL $name: job $id produced no printer data"
        status=fail
    else
        route=$(sed -n "s|.*\\[Job $id\\] Started filter .*/\\([^/ ]*\\) (PID.*|\\1|p" \
                    "$T/log/error_log" | xargs)
        want=${ROUTE[${JOB_FILE[$name]##*.}]}
        if [ "$route" != "$want" ]; then
            echo "FAIL $name: CUPS ran \"$route\", expected \"$want\""
            status=fail
        fi
        # shellcheck disable=SC2086
        if result=$(python3 "$here/check_capture.py" "$cap" ${JOB_CHECK[$name]} 2>&1); then
            echo "ok   $name: $result"
            BLACK[$name]=$(echo "$result" | sed -n 's/.*black=\([0-9.]*\).*/\1/p')
        else
            echo "FAIL $name: $result"
            status=fail
        fi
        if [ -n "$preview" ] && [ "$status" = ok ]; then
            if ! "$preview" "$cap" >"$T/preview-$id.txt" 2>&1; then
                echo "FAIL $name: $(basename "$preview") rejects the capture:"
                head -n 5 "$T/preview-$id.txt"
                status=fail
            fi
        fi
    fi
    [ "$status" = ok ] || failed=1
done

# Brightness.  CUPS's image filters take a job option "brightness" (in any
# case) for their own percentage, so image jobs get their brightness from the
# queue default or from a preset, which only the filter sees; then a PNG
# comes out lighter, and exactly as light both ways.  PDF jobs take
# -o Brightness directly.  And no job that did not ask for a brightness gets
# one from CUPS (the presets must not turn into defaults).
compare() {  # compare A OP B: black fractions of jobs A and B
    local a=${BLACK[$1]:-} b=${BLACK[$3]:-}
    if [ -z "$a" ] || [ -z "$b" ]; then
        echo "FAIL brightness: no measure for $1 or $3"; failed=1; return
    fi
    if python3 -c "import sys; a, b = $a, $b; sys.exit(0 if a $2 b else 1)"; then
        echo "ok   brightness: $1 ($a) $2 $3 ($b)"
    else
        echo "FAIL brightness: expected $1 ($a) $2 $3 ($b)"; failed=1
    fi
}
compare bright-png-preset '<' tspl-png
compare bright-png-queue '==' bright-png-preset
compare bright-pdf-up '<' tspl-pdf
compare bright-pdf-down '>' tspl-pdf
compare bright-png-kw '<' tspl-png

# The barcode labels scan.
for name in tspl-qr-label cpcl-qr-label; do
    [ -n "${JOB_ID[$name]:-}" ] || continue
    dir=$T/scan-$name
    if "$preview" -o "$dir" "$T/capture/job-${JOB_ID[$name]}.bin" >/dev/null 2>&1 &&
        zbarimg -q --raw "$dir/page-1.png" 2>/dev/null | grep -qx "QF-E2E-LABEL"; then
        echo "ok   $name: zbarimg reads the printed QR code"
    else
        echo "FAIL $name: zbarimg does not read the printed QR code ($dir/page-1.png)"; failed=1
    fi
done
for name in "${names[@]}"; do
    case ${JOB_OPTS[$name]} in *Brightness*) continue ;; esac
    if grep "\\[Job ${JOB_ID[$name]}\\] argv\\[5\\]=" "$T/log/error_log" | grep -qi 'brightness'; then
        echo "FAIL $name: CUPS added a brightness option to the job:"
        grep "\\[Job ${JOB_ID[$name]}\\] argv\\[5\\]=" "$T/log/error_log"
        failed=1
    fi
done

qf_cupsd_stop
if [ $failed -ne 0 ]; then
    echo "FAIL: print-server test"
    exit 1
fi
echo "PASS: print-server test (${#names[@]} jobs)"
