#!/usr/bin/env bash
# Runs the README's two commands the way a new user would on a fresh Debian 12
# (or 13) machine, as root: a minimal Debian root made with debootstrap, a copy of
# this tree in it, and the two commands of the README's "Two commands" section
# run there through chroot. A package that tools/sample-job.sh forgets to
# install makes this fail.
#
#   bash tools/fresh-machine-check.sh [WORK_DIR]      (as root; needs debootstrap)
#   QF_DEBIAN_SUITE=trixie bash tools/fresh-machine-check.sh     (Debian 13)
#
# The Debian mirror is the one this machine's apt uses (QF_DEBIAN_MIRROR
# overrides it). Downloaded packages are kept in this machine's apt cache
# (QF_APT_CACHE overrides it), which the new root shares, so a second run
# downloads nothing. WORK_DIR (default /var/tmp/qf-fresh-root) is removed at
# the end, also on failure; QF_KEEP_ROOT=1 keeps it for a look inside.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD

if [ "$(id -u)" != 0 ]; then
  echo "ERROR: must run as root (debootstrap, mount and chroot need it)" >&2
  exit 1
fi
command -v debootstrap >/dev/null || {
  echo "ERROR: debootstrap is not installed (Debian package debootstrap)" >&2
  exit 1
}

root=$(realpath -m "${1:-/var/tmp/qf-fresh-root}")
cache=${QF_APT_CACHE:-/var/cache/apt/archives}
suite=${QF_DEBIAN_SUITE:-bookworm}
case $suite in
  bookworm) release="Debian 12" ;;
  trixie) release="Debian 13" ;;
  *) release="Debian $suite" ;;
esac

# --- The mirror this machine's apt uses -------------------------------------
. tools/apt-mirror.sh
mirror=${QF_DEBIAN_MIRROR:-$(apt_uri "$suite")}
mirror=${mirror:-http://deb.debian.org/debian}
security=$(apt_uri "$suite-security")
security=${security:-http://deb.debian.org/debian-security}

# --- Clean-up: unmount everything below the root, then remove it --------------
mounts_below_root() {
  awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}
cleanup() {
  local status=$? m
  for m in $(mounts_below_root); do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
  if [ -n "$(mounts_below_root)" ]; then
    echo "ERROR: still mounted below $root; not removing it" >&2
    exit 1
  fi
  if [ "${QF_KEEP_ROOT:-0}" = 1 ]; then
    echo "kept: $root"
  else
    rm -rf --one-file-system "$root"
  fi
  exit "$status"
}
if [ -n "$(mounts_below_root)" ]; then
  echo "ERROR: something is mounted below $root already (another run?)" >&2
  exit 1
fi
trap cleanup EXIT
trap 'exit 130' INT TERM
rm -rf --one-file-system "$root"
mkdir -p "$root" "$cache/partial"

# Wall time and processor time of each step: on a busy machine the first
# grows, the second hardly.
step() { # name command...
  local name=$1 TIMEFORMAT
  shift
  echo "== $name"
  TIMEFORMAT="== $name: %0R s (processor: %0U s user, %0S s system)"
  time "$@"
}

# --- A minimal Debian root --- -------------------------------------------------
# Its chatter is shown only when it fails.
quiet() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}
# In two stages, so that dpkg skips its fsync calls from the first package
# on: this root is thrown away at the end, and syncing every file costs
# minutes.
install_base() {
  debootstrap --foreign --variant=minbase --cache-dir="$cache" "$suite" "$root" "$mirror"
  mkdir -p "$root"/etc/dpkg/dpkg.cfg.d
  echo force-unsafe-io >"$root"/etc/dpkg/dpkg.cfg.d/unsafe-io
  chroot "$root" /debootstrap/debootstrap --second-stage
}
step "debootstrap $suite from $mirror" quiet install_base

# What a fresh Debian machine has: the main, updates and security archives.
rm -f "$root"/etc/apt/sources.list
cat >"$root"/etc/apt/sources.list.d/debian.sources <<EOF
Types: deb
URIs: $mirror
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
cp /etc/resolv.conf "$root"/etc/resolv.conf
# A machine knows its own names (localhost, its host name) from /etc/hosts,
# which debootstrap leaves out.
cp /etc/hosts "$root"/etc/hosts
# Keep what apt downloads in the new root, in the shared cache.
rm -f "$root"/etc/apt/apt.conf.d/docker-clean

# Bind mounts are made private, so that nothing mounted or unmounted below
# them reaches this machine's own /dev.
bind() { mount --bind "$1" "$2" && mount --make-private "$2"; }
mount -t proc proc "$root"/proc
mount -t sysfs sysfs "$root"/sys
bind /dev "$root"/dev
bind /dev/pts "$root"/dev/pts
mount -t tmpfs tmpfs "$root"/dev/shm
bind "$cache" "$root"/var/cache/apt/archives

# --- The tree, as the user's checkout -------------------------------------------
mkdir -p "$root"/root/quillfeed
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$root"/root/quillfeed -xf -

# --- The README's two commands -----------------------------------------------------
# The first sh block of the "Two commands" section, comments dropped; "sudo "
# dropped too, as root runs the first command directly.
mapfile -t commands < <(awk '/^## Two commands/ { s = 1; next } /^## / { s = 0 }
  s && /^```sh/ { b = 1; next } s && b && /^```/ { exit } s && b { print }' README.md |
  sed 's/[[:space:]]*#.*$//; s/^sudo //' | grep -v '^[[:space:]]*$')
if [ "${#commands[@]}" != 2 ]; then
  echo "ERROR: README.md: expected two commands under \"## Two commands\", found ${#commands[@]}" >&2
  exit 1
fi

n=0
for c in "${commands[@]}"; do
  n=$((n + 1))
  step "command $n: $c" chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/quillfeed && $c" 2>&1 | tee "$root/root/command-$n.log"
done
# Every test must run on a fresh machine: ctest lists a test that exited
# with its skip code ("***Skipped") or could not start ("Not Run") under
# "The following tests did not run".
if grep -Eq 'The following tests did not run|\*\*\*Skipped|Not Run' "$root/root/command-$n.log"; then
  echo "ERROR: tests did not run on the fresh machine:" >&2
  grep -E '\*\*\*Skipped|Not Run|^[[:space:]]+[0-9]+ - .*\((Skipped|Not Run)\)' "$root/root/command-$n.log" >&2 || true
  exit 1
fi
echo "fresh machine check: both README commands passed in a new $release root, no test skipped"
