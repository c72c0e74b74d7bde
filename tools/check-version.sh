#!/bin/sh
# The version of quillfeed is the one in project() of CMakeLists.txt.  The
# other places that repeat it must agree: the newest entry of
# debian/changelog (the package version) and the Version of
# ppd/quillfeed.drv (the FileVersion of every PPD).  Run from anywhere.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)

cmake_version=$(sed -n 's/^project(quillfeed VERSION \([0-9][0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
# The package is native: its version is the upstream version as it is.
deb_version=$(sed -n '1s/^quillfeed (\([^)]*\)).*/\1/p' "$top/debian/changelog")
drv_version=$(sed -n 's/^Version "\([^"]*\)".*/\1/p' "$top/ppd/quillfeed.drv")

if [ -z "$cmake_version" ]; then
    echo "ERROR: no project(quillfeed VERSION ...) in CMakeLists.txt" >&2
    exit 1
fi
status=0
check() {
    if [ "$2" != "$cmake_version" ]; then
        echo "ERROR: $1 says version '$2', CMakeLists.txt says $cmake_version" >&2
        status=1
    fi
}
check debian/changelog "$deb_version"
check ppd/quillfeed.drv "$drv_version"
[ $status -eq 0 ] && echo "version $cmake_version everywhere"
exit $status
