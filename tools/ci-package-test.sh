#!/usr/bin/env bash
# The Debian packages, as a user gets them: builds them from a copy of this
# tree (dpkg-buildpackage -b, without the tests), checks them with lintian
# (no errors allowed), installs them with apt-get, prints through a private
# cupsd with nothing but the installed files, then removes them again and
# checks that nothing of ours is left in CUPS's directories.
#
# quillfeed-app: the program, its systemd unit enabled (by
# dh_installsystemd's maintainer scripts), one driver per model.
#
# The print test: "lpinfo -m" lists every model of the installed
# quillfeed.drv through drv:///, one queue per listed model (lpadmin -m)
# prints tests/data/sample.pdf, and the installed quillfeed-preview decodes
# the captured printer bytes of every job.
#
# Needs root (apt-get, cupsd) and the packages that .ci/run installs.
# Usage: tools/ci-package-test.sh [--keep]   (--keep: keep the work directory)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../tests/e2e/private-cupsd.sh
. "$top/tests/e2e/private-cupsd.sh"
keep=0
[ "${1:-}" = --keep ] && keep=1

if [ "$(id -u)" != 0 ]; then
    echo "ERROR: the package test installs packages and runs cupsd: run it as root" >&2
    exit 2
fi
export DEBIAN_FRONTEND=noninteractive
jobs=$(nproc 2>/dev/null || echo 2)
serverbin=$(cups-config --serverbin)
datadir=$(cups-config --datadir)
packages=$(sed -n 's/^Package: *//p' "$top/debian/control")

W=$(mktemp -d /tmp/quillfeed-deb.XXXXXX)
chmod 0755 "$W"            # the private cupsd in $W/cups runs its helpers as lp
installed=0
failed=0
finish() {
    local rc=$?
    qf_cupsd_stop
    if [ $installed -eq 1 ]; then
        # shellcheck disable=SC2086
        apt-get remove --purge -y $packages >/dev/null 2>&1 || true
    fi
    qf_finish_dir "$W" $((rc + failed)) $keep "$W/cups/log/error_log"
}
trap finish EXIT
trap 'exit 130' INT TERM

step_start=$SECONDS
step() {
    echo "== $1 ($((SECONDS - step_start)) s so far)"
}

# ------------------------------------------------------------------ build
# A copy, so that dpkg-buildpackage leaves this tree alone and puts the
# packages into $W.
step "copying the tree and building the packages"
mkdir "$W/src"
if git -C "$top" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$top" ls-files -z --cached --others --exclude-standard |
        (cd "$top" && tar -cf - --null -T -) | tar -C "$W/src" -xf -
else
    tar -C "$top" -cf - --exclude='./build*' --exclude=./out . | tar -C "$W/src" -xf -
fi
if ! (cd "$W/src" && DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
        dpkg-buildpackage -b -us -uc) >"$W/build.log" 2>&1; then
    tail -n 40 "$W/build.log"
    echo "FAIL: dpkg-buildpackage"
    exit 1
fi
debs=()
for p in $packages; do
    deb=$(ls "$W/${p}_"*.deb)
    debs+=("$deb")
    echo "   $(basename "$deb")"
done

step "lintian"
lintian --fail-on error --display-info "${debs[@]}" \
    >"$W/lintian.txt" 2>&1 || {
    cat "$W/lintian.txt"; echo "FAIL: lintian reports errors"; exit 1; }
grep -E '^[EWI]: ' "$W/lintian.txt" || echo "   no errors, warnings or notes"

# ---------------------------------------------------------------- install
step "apt-get install"
installed=1
apt-get install -y "${debs[@]}" >"$W/install.log" 2>&1 || {
    cat "$W/install.log"; echo "FAIL: apt-get install"; exit 1; }

filter=$serverbin/filter/quillfeed
drv=$datadir/drv/quillfeed.drv
owner=$(stat -c '%a %U %G' "$filter")
# cupsd runs only root-owned filters that group and others cannot change.
[ "$owner" = "755 root root" ] || { echo "FAIL: $filter has mode and owner $owner"; exit 1; }
[ -f "$drv" ] || { echo "FAIL: no $drv"; exit 1; }
command -v quillfeed-preview >/dev/null || { echo "FAIL: no quillfeed-preview"; exit 1; }
# The Bluetooth backend: 0755 runs it as CUPS's own user; with no arguments
# it lists the paired printers (none here) and succeeds.
backend=$serverbin/backend/quillbt
owner=$(stat -c '%a %U %G' "$backend")
[ "$owner" = "755 root root" ] || { echo "FAIL: $backend has mode and owner $owner"; exit 1; }
"$backend" >/dev/null 2>&1 || { echo "FAIL: $backend does not list devices"; exit 1; }

app=/usr/sbin/quillfeed-app
unit=quillfeed-app.service
if [[ " $(echo $packages) " == *" quillfeed-app "* ]]; then
    step "quillfeed-app and its unit"
    [ -x "$app" ] || { echo "FAIL: no $app"; exit 1; }
    [ -f "/lib/systemd/system/$unit" ] || { echo "FAIL: no /lib/systemd/system/$unit"; exit 1; }
    [ -L "/etc/systemd/system/multi-user.target.wants/$unit" ] || {
        echo "FAIL: $unit is not enabled"; exit 1; }
    drivers=$("$app" drivers 2>&1 | grep -c . || true)
    models_in_drv=$(grep -c '^ *FileName ' "$drv")
    [ "$drivers" = "$models_in_drv" ] || {
        "$app" drivers; echo "FAIL: quillfeed-app has $drivers drivers, the .drv $models_in_drv models"; exit 1; }
    id quillfeed 2>/dev/null | grep -q '(lp)' && id quillfeed | grep -q '(dialout)' || {
        echo "FAIL: the package made no user quillfeed in the groups lp and dialout: $(id quillfeed 2>&1)"; exit 1; }
    systemd-analyze verify --man=no "/lib/systemd/system/$unit" || { echo "FAIL: systemd-analyze verify $unit"; exit 1; }
    echo "   $unit enabled, $drivers drivers, runs as $(id quillfeed)"
fi

# ----------------------------------------------------------- print test
# The private tree copies the machine's CUPS filters (ours now among them)
# and links its data (drv and ppdc included); no model directory of ours.
T=$W/cups
mkdir "$T"
qf_cupsd_tree "$T"
qf_cupsd_start "$T" || exit 1

step "lpinfo -m lists the models of quillfeed.drv"
lpinfo -m >"$W/lpinfo.txt" 2>&1 || true
mapfile -t models < <(sed -n 's|^\(drv:///quillfeed\.drv/[^ ]*\) .*|\1|p' "$W/lpinfo.txt")
expected=$(grep -c '^ *FileName ' "$drv")
if [ "${#models[@]}" -ne "$expected" ]; then
    cat "$W/lpinfo.txt"
    echo "FAIL: lpinfo -m lists ${#models[@]} models of quillfeed.drv, it has $expected"
    exit 1
fi

step "one queue per model, printing sample.pdf"
declare -A JOB
n=0
for m in "${models[@]}"; do
    n=$((n + 1))
    q=qf$n
    lpadmin -p "$q" -E -v "qfcapture:$T/capture" -m "$m" 2>"$W/lpadmin-$q.err" || {
        cat "$W/lpadmin-$q.err"; echo "FAIL: lpadmin -m $m"; exit 1; }
    out=$(lp -d "$q" -t "$m" "$top/tests/data/sample.pdf" 2>&1) || {
        echo "$out"; echo "FAIL: lp to $m"; exit 1; }
    JOB[$m]=$(echo "$out" | sed -n 's/^request id is [^ ]*-\([0-9][0-9]*\) .*/\1/p')
done
deadline=$((SECONDS + 180))
while [ -n "$(lpstat -o 2>/dev/null)" ]; do
    [ $SECONDS -lt $deadline ] || { lpstat -o; echo "FAIL: jobs pending after 180 s"; exit 1; }
    sleep 0.5
done

for m in "${models[@]}"; do
    id=${JOB[$m]}
    cap=$T/capture/job-$id.bin
    if ! grep -q "\[Job $id\] Job completed\." "$T/log/error_log" || [ ! -s "$cap" ]; then
        echo "FAIL $m: job $id did not complete with printer data"
        failed=1
    elif ! grep -q "\[Job $id\] Started filter $T/bin/filter/quillfeed " "$T/log/error_log"; then
        echo "FAIL $m: job $id did not go through the installed quillfeed"
        failed=1
    elif ! quillfeed-preview -o "$W/preview-$id" "$cap" >"$W/preview-$id.txt" 2>&1; then
        echo "FAIL $m: quillfeed-preview rejects the capture:"
        head -n 5 "$W/preview-$id.txt"
        failed=1
    else
        echo "ok   $m: job $id, $(wc -c <"$cap") bytes," \
             "$(ls "$W/preview-$id"/page-*.png | wc -l) pages decoded"
    fi
done
qf_cupsd_stop
[ $failed -eq 0 ] || { echo "FAIL: package print test"; exit 1; }

# ----------------------------------------------------------------- remove
step "apt-get remove --purge"
# shellcheck disable=SC2086
apt-get remove --purge -y $packages >"$W/remove.log" 2>&1 || {
    cat "$W/remove.log"; echo "FAIL: apt-get remove"; exit 1; }
installed=0
left=$(find "$serverbin" "$datadir" /etc/cups /usr/share/doc /usr/bin /usr/sbin \
            /lib/systemd/system /etc/systemd /var/lib /var/spool /usr/share/man \
            -name '*quillfeed*' 2>/dev/null || true)
if [ -n "$left" ]; then
    echo "$left"
    echo "FAIL: left behind after removal"
    exit 1
fi

step "done"
echo "PASS: package test (${#models[@]} models printed through drv:///)"
