#!/usr/bin/env bash
# The service unit: systemd-analyze verify passes, and its exposure score
# (systemd-analyze security) stays at or below a bound.
#
# Usage: check-unit.sh UNIT_IN APP_BINARY MAX_EXPOSURE
set -euo pipefail
unit_in=$1 app=$2 max=$3
command -v systemd-analyze >/dev/null 2>&1 || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
T=$(mktemp -d /tmp/quillfeed-unit.XXXXXX)
trap 'rm -rf "$T"' EXIT
sed "s|@CMAKE_INSTALL_FULL_SBINDIR@|$(dirname "$app")|" "$unit_in" >"$T/quillfeed-app.service"
systemd-analyze verify --man=no "$T/quillfeed-app.service"
score=$(systemd-analyze security --offline=true "$T/quillfeed-app.service" 2>&1 |
    sed -n 's/.*Overall exposure level for quillfeed-app.service: \([0-9.]*\).*/\1/p')
echo "exposure: $score (at most $max)"
python3 -c "import sys; sys.exit(0 if float('$score') <= float('$max') else 1)"
