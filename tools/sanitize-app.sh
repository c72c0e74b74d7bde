#!/usr/bin/env bash
# The Printer Application's whole-process tests (labels app and status) under a
# sanitizer: address (AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer) or thread (ThreadSanitizer). Every process the tests
# start writes its reports to one directory; any report fails the run.
#
# Usage: tools/sanitize-app.sh address|thread [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=$1
dir=${2:-build-$kind}
jobs=$(nproc 2>/dev/null || echo 2)
# QF_SLOW: the tests' time limits that a slower build may stretch.
case $kind in
    address) flags=(-DQF_SANITIZE=ON) && export QF_SLOW=2 ;;
    thread) flags=(-DQF_TSAN=ON) && export QF_SLOW=3 ;;
    *) echo "usage: $0 address|thread [BUILD_DIR]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DQF_BUILD_BENCH=OFF "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$jobs" --target quillfeed quillfeed-app quillfeed-preview quillfeed-rastergen quillfeed-sim ppds
reports=$(mktemp -d /tmp/quillfeed-sanitize.XXXXXX)
chmod 0777 "$reports"
# The tests run programs as other users, to whom this tree may be closed:
# the suppressions are read from the reports' directory.
install -m 0644 tools/lsan-app.supp tools/tsan-app.supp "$reports/"
export ASAN_OPTIONS="log_path=$reports/report:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$reports/lsan-app.supp:print_suppressions=0"
export UBSAN_OPTIONS="log_path=$reports/report:print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="log_path=$reports/report:suppressions=$reports/tsan-app.supp:second_deadlock_stack=1"
# The status matrix through the app on a socket and on a serial line, for
# TSPL, one case after the other: the filter's fronts are not the app, and
# the families differ only in the words the printers answer with (the plain
# build's matrix has them all).
export QF_STATUS_FRONTS="app serial" QF_STATUS_FAMILIES=tspl QF_STATUS_SERIAL=1
# CUPS's IPP suites on a label, a two-colour label and a receipt printer.
export QF_IPP_SUITE_DRIVERS="tspl-203 tspl-2colour-203 escpos-58"
status=0
ctest --test-dir "$dir" --output-on-failure -L 'app|status' || status=1
if compgen -G "$reports/report*" >/dev/null; then
    echo "---- $kind sanitizer reports ($reports)"
    head -n 60 "$reports"/report*
    status=1
else
    echo "no $kind sanitizer report"
    rm -rf "$reports"
fi
exit $status
