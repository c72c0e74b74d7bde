#!/usr/bin/env bash
# Sets up quillfeed on a Debian machine and prints the bundled sample label
# without a printer: raster -> quillfeed -> TSPL bytes -> preview PNG.
#
#   sudo bash tools/sample-job.sh        (as root it installs the packages first;
#                                         root may run it without sudo)
#
# The packages are everything configuring, building and testing needs, so
# that tools/run-tests.sh works afterwards; tools/fresh-machine-check.sh
# proves that on a new Debian 12 root.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends g++ cmake make pkg-config \
    libcups2-dev libcupsimage2-dev zlib1g-dev libpng-dev libgtest-dev libbenchmark-dev \
    cups-ppdc cups-client python3 libsystemd-dev dbus python3-dbusmock avahi-daemon iproute2 \
    libjpeg-dev chromium chromium-driver \
    libpappl-dev libpam0g-dev libusb-1.0-0-dev cups cups-daemon cups-filters cups-ipp-utils ghostscript poppler-utils \
    qrencode zbar-tools socat curl systemd >/dev/null
fi

build=build
out=out
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
mkdir -p "$out"

# The sample: a 40 x 30 mm label at 203 dpi, as 8-bit grey raster, so the
# filter's own dithering makes it one bit deep.
"$build"/tools/rastergen/quillfeed-rastergen --pnm samples/label-40x30mm.pgm --dpi 203 "$out"/sample.ras

ppd="$build"/ppd/ppd/quillfeed-tspl-203.ppd

# Exactly how CUPS runs the filter: job-id user title copies options [file],
# the printer's PPD in $PPD, printer bytes on stdout, messages on stderr.
PPD="$ppd" "$build"/filter/quillfeed 1 "$(id -un)" sample 1 "zeMediaTracking=Gap Darkness=10" \
  "$out"/sample.ras >"$out"/sample.tspl 2>"$out"/sample.log

"$build"/tools/preview/quillfeed-preview -o "$out"/preview "$out"/sample.tspl >/dev/null

# Under sudo, hand the build and the results back to the user who asked.
if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  chown -R "$SUDO_USER": "$build" "$out"
fi

echo "printer bytes (TSPL): $out/sample.tspl ($(stat -c %s "$out"/sample.tspl) bytes)"
echo "filter messages:      $out/sample.log"
echo "command listing:      $out/preview/listing.txt"
echo "preview of the label: $out/preview/page-1.png"
