#!/usr/bin/env bash
# CUPS's own IPP test suites against the app, one printer per driver.
#
# ipp-2.2.test (which runs ipp-1.1, ipp-2.0 and ipp-2.1 first) and
# ipp-everywhere.test, from cups-ipp-utils, with the documents they ask for
# made here (PDF and PostScript pages with ghostscript, JPEG pictures).
# Every expectation a printer does not meet must be listed in
# ipp-suites.expected with its reason (what PAPPL does not offer, what a
# thermal printer does not have); anything else fails the test. An entry no
# printer needs any more is named, so that the list only shrinks.
# Prints, per printer and suite file, the tests passed and failed.
# QF_IPP_SUITE_DRIVERS="DRIVER ..." runs them on those drivers only.
#
# Usage: run-ipp-suites.sh --app FILE [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_args "$@"
[ -x "$app" ] || qf_usage
suites=/usr/share/cups/ipptool
qf_need ipptool gs python3
[ -f "$suites/ipp-2.2.test" ] || { echo "SKIP: the IPP suites are not installed (cups-ipp-utils)"; exit $SKIP; }

qf_app_setup ipp-suites
docs=$T/work
cp "$suites"/ipp-1.1.test "$suites"/ipp-2.[012].test "$suites"/ipp-everywhere.test "$docs"/
for size in a4 letter; do
    printf '%%!PS\n/Helvetica findfont 24 scalefont setfont 72 500 moveto (IPP test page) show showpage\n' \
        >"$docs/document-$size.ps"
    gs -q -sPAPERSIZE=$size -dFIXEDMEDIA -sDEVICE=pdfwrite -o "$docs/document-$size.pdf" "$docs/document-$size.ps"
done
gs -q -sDEVICE=jpeg -r30 -o "$docs/color.jpg" "$docs/document-a4.ps"
gs -q -sDEVICE=jpeggray -r30 -o "$docs/gray.jpg" "$docs/document-a4.ps"

qf_app_start -o file-directory="$T/out"
# QF_IPP_SUITE_DRIVERS names fewer (the sanitizer runs, where a suite
# takes ten times as long).
if [ -n "${QF_IPP_SUITE_DRIVERS:-}" ]; then
    read -r -a drivers <<<"$QF_IPP_SUITE_DRIVERS"
else
    mapfile -t drivers < <("$app" drivers | cut -d' ' -f1)
fi
for d in "${drivers[@]}"; do
    mkdir -p "$T/out/$d"
    "$app" add -d "$d" -m "$d" -v "file://$T/out/$d" >/dev/null || fail "add $d"
done
sleep 1 # printer-up-time counts whole seconds

# "TEST NAME | EXPECTATION" for each unmet expectation in an ipptool -t output.
unmet() {
    awk '/\[FAIL\]/ { t = $0; sub(/^ +/, "", t); sub(/ +\[FAIL\]$/, "", t); next }
         /\[(PASS|SKIP)\]/ { t = "" }
         t != "" && /^ +EXPECTED: / { e = $0; sub(/^ +EXPECTED: /, "", e); print t " | " e }
         t != "" && /^ +(ipptool|Duplicate|Bad|Unexpected)/ { e = $0; sub(/^ +/, "", e); print t " | " e }' "$1"
}
# "FILE: P passed, F failed" for each suite file in an ipptool -t output.
counts() {
    awk '/^"[^"]+":$/ { f = $0; gsub(/[":]/, "", f); if (!(f in p)) { order[++n] = f; p[f] = 0; x[f] = 0 } next }
         /\[PASS\]/ { p[f]++ } /\[FAIL\]/ { x[f]++ }
         END { for (i = 1; i <= n; ++i) printf "%s %d/%d  ", order[i], p[order[i]], p[order[i]] + x[order[i]] }' "$1"
}

expected=$here/ipp-suites.expected
: >"$T/work/unmet.txt"
for d in "${drivers[@]}"; do
    line="$d:"
    for s in ipp-2.2 ipp-everywhere; do
        (cd "$docs" && ipptool -tI -T 30 -f "$docs/color.jpg" "ipp://localhost:$port/ipp/print/$d" "$s.test") \
            >"$T/work/$d-$s.txt" 2>&1 || true
        line="$line $(counts "$T/work/$d-$s.txt")"
        unmet "$T/work/$d-$s.txt" | sed "s/^/$d | /" >>"$T/work/unmet.txt"
    done
    echo "$line"
done

grep -v '^#' "$expected" | grep -v '^[[:space:]]*$' | awk -F ' [|] ' '{ print $1 " | " $2 }' | sort -u >"$T/work/known.txt"
cut -d'|' -f2- "$T/work/unmet.txt" | sed 's/^ //' | sort -u >"$T/work/seen.txt"
new=$(comm -23 "$T/work/seen.txt" "$T/work/known.txt")
gone=$(comm -13 "$T/work/seen.txt" "$T/work/known.txt")
if [ -n "$new" ]; then
    fail "unmet expectations not in ipp-suites.expected:"
    echo "$new" | while read -r l; do echo "    $l  ($(grep -F "| $l" "$T/work/unmet.txt" | cut -d' ' -f1 | tr '\n' ' '))"; done
else
    ok "every unmet expectation is a listed one ($(wc -l <"$T/work/seen.txt") kinds)"
fi
if [ -n "$gone" ]; then
    echo "NOTE: met by every printer now, to be taken off the list:"
    echo "$gone" | sed 's/^/    /'
fi
if kill -0 "$app_pid" 2>/dev/null; then ok "the app still answers"; else fail "the app is gone"; fi

[ "$failures" -eq 0 ] || exit 1
echo "all IPP suite checks passed"
