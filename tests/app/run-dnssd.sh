#!/usr/bin/env bash
# quillfeed-app as phones and desktops find it over DNS-SD.
#
# In a network namespace of its own (two ends of a virtual link, nothing
# else), with a private D-Bus and avahi daemon, a private app announces its
# printers; ippfind must find
#   - the printer the app had when it started, as an IPP Everywhere printer
#     (_universal) with the TXT keys AirPrint and Mopria clients read;
#   - a printer added while the app runs, within seconds;
# and must no longer find a printer deleted while it runs.
# Needs root (the namespace), ip, dbus-daemon, avahi-daemon and ippfind.
#
# Usage: run-dnssd.sh --app FILE [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/app-kit.sh"
qf_need ip unshare dbus-daemon avahi-daemon ippfind
[ "$(id -u)" = 0 ] || { echo "SKIP: not root (the test makes a network namespace)"; exit $SKIP; }
# The rest runs in the namespace, so that nothing is announced outside.
# Where the machine's own avahi daemon runs (its pid file would stop the
# test's), in a mount namespace too, with a run directory of its own. (A
# chroot, whose root is no mount point, allows no private mount namespace.)
if [ "${QF_IN_NAMESPACE:-}" != 1 ]; then
    pid=$(cat /run/avahi-daemon/pid 2>/dev/null || true)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        QF_IN_NAMESPACE=1 QF_OWN_AVAHI_RUN=1 exec unshare -n -m --propagation private bash "$0" "$@"
    fi
    QF_IN_NAMESPACE=1 exec unshare -n bash "$0" "$@"
fi
if [ "${QF_OWN_AVAHI_RUN:-}" = 1 ]; then
    mkdir -p /run/avahi-daemon
    mount -t tmpfs -o mode=0755 tmpfs /run/avahi-daemon
fi

qf_args "$@"
[ -x "$app" ] || qf_usage

qf_app_setup dnssd
qf_app_cleanup() {
    [ -f "$T/avahi.pid" ] && kill "$(cat "$T/avahi.pid")" 2>/dev/null
    [ -f "$T/bus.pid" ] && kill "$(cat "$T/bus.pid")" 2>/dev/null
    true
}

ip link set lo up
ip link add qf0 type veth peer name qf1
ip addr add 10.77.0.1/24 dev qf0
ip addr add 10.77.0.2/24 dev qf1
ip link set qf0 multicast on up
ip link set qf1 multicast on up
cat >"$T/bus.conf" <<EOF
<busconfig>
  <type>system</type>
  <listen>unix:path=$T/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/>
    <allow send_type="method_call"/> <allow send_type="signal"/>
    <allow send_type="method_return"/> <allow send_type="error"/>
    <allow receive_type="method_call"/> <allow receive_type="signal"/>
    <allow receive_type="method_return"/> <allow receive_type="error"/>
  </policy>
</busconfig>
EOF
printf '%s\n' '[server]' 'use-ipv4=yes' 'use-ipv6=no' 'allow-interfaces=qf0' 'ratelimit-interval-usec=0' \
    '[publish]' 'publish-hinfo=no' 'publish-workstation=no' >"$T/avahi.conf"
dbus-daemon --config-file="$T/bus.conf" --fork --print-pid >"$T/bus.pid"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$T/bus
avahi-daemon -f "$T/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$T/avahi.out" 2>&1 &
echo $! >"$T/avahi.pid"
for _ in $(seq 50); do grep -q 'Server startup complete' "$T/avahi.out" && break; sleep 0.1; done

# Services of type TYPE now: "name|pdl|URF|rp|ty|kind|UUID|Color|PaperMax" each.
found() {
    ippfind -T 3 "$1" -x echo '{service_name}|{txt_pdl}|{txt_URF}|{txt_rp}|{txt_ty}|{txt_kind}|{txt_UUID}|{txt_Color}|{txt_PaperMax}' \; 2>/dev/null |
        sort -u || true
}
# Waits up to 10 s for NAME to be (WANT=1) or not be (WANT=0) announced.
announced() {
    local name=$1 want=$2
    for _ in 1 2 3; do
        if found _ipp._tcp | grep -q "^$name|"; then [ "$want" = 1 ] && return 0; else [ "$want" = 0 ] && return 0; fi
    done
    return 1
}

mkdir -p "$T/out/before" "$T/out/later"
qf_app_start -o file-directory="$T/out"
"$app" add -d before -m tspl-203 -v "file://$T/out/before" >/dev/null
qf_stop_pid "$app_pid"
# Started again with "before" in its state: announced at the start.
qf_app_start -o file-directory="$T/out" -o server-options=no-tls,dnssd-host

line=$(found _ipp._tcp,_universal | grep '^before|' || true)
IFS='|' read -r _ pdl urf rp ty kind uuid colour papermax <<<"${line:-x}" || true
if [ -n "$line" ] && [[ $pdl == *image/urf* ]] && [ -n "$urf" ] && [ "$rp" = ipp/print/before ] && [ -n "$ty" ] &&
    [[ $kind == *label* ]] && [ -n "$uuid" ] && [ "$colour" = F ] && [ -n "$papermax" ]; then
    ok "the printer of the state is announced as _universal with its TXT keys ($line)"
else
    fail "the printer of the state as announced: '${line:-not found}'"
fi

"$app" add -d later -m escpos-58 -v "file://$T/out/later" >/dev/null
announced later 1 && ok "a printer added while the app runs is announced" ||
    fail "a printer added while the app runs is not announced"
"$app" delete -d later >/dev/null
announced later 0 && ok "a printer deleted while the app runs is withdrawn" ||
    fail "a printer deleted while the app runs is still announced"

[ "$failures" -eq 0 ] || exit 1
echo "all DNS-SD checks passed"
