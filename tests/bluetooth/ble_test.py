#!/usr/bin/env python3
"""The Bluetooth LE link against a mock BlueZ (bluez_printer.py, on
python3-dbusmock's bluez5 template) on a private bus: a page arrives whole
and in order through AcquireWrite and through WriteValue, packets within the
MTU, no packet while the printer asks to wait, a state request answered, a
link dropped mid-page ends the job and the next job prints, and every fault
(MTU 0, a printer BlueZ never saw, one that never answers) is a clear error
within the connect limit. Prints the rate reached with each pacing.

  ble_test.py --probe BUILD/tests/bluetooth/BleProbe

Exit status 77 (skipped) when dbus-daemon or python3-dbusmock is missing."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import dbus
    import dbusmock  # noqa: F401
except ImportError:
    print("SKIP: python3-dbusmock is not installed")
    sys.exit(77)
from discovery_test import PrivateBus  # noqa: E402

TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bluez_printer.py")
RUNNER = [os.environ["QF_TEST_RUNNER"]] if os.environ.get("QF_TEST_RUNNER") else []
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


class Mock:
    def __init__(self, address):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
        self.proc = subprocess.Popen([sys.executable, "-m", "dbusmock", "--template", TEMPLATE], env=env,
                                     stdout=subprocess.DEVNULL)
        self.bus = dbus.bus.BusConnection(address)
        deadline = time.time() + 20
        while not self.bus.name_has_owner("org.bluez"):
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("the BlueZ mock did not start")
            time.sleep(0.05)
        self.mock = dbus.Interface(self.bus.get_object("org.bluez", "/"), "org.bluez.Mock")
        self.mock.AddAdapter("hci0", "host")

    def printer(self, address, name, **options):
        self.mock.AddLePrinter("hci0", address, name, dbus.Dictionary(options, signature="sv"))

    def stop(self):
        self.bus.close()
        self.proc.kill()
        self.proc.wait()


def probe(args, bus, uri, data, *extra, timeout=60):
    path = os.path.join(args.work, "page.bin")
    with open(path, "wb") as f:
        f.write(data)
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address)
    t0 = time.monotonic()
    p = subprocess.run(RUNNER + [args.probe, uri, path] + [str(x) for x in extra], env=env, capture_output=True,
                       text=True, timeout=timeout)
    return p, time.monotonic() - t0


def taken(log):
    """The packets the printer took, by characteristic, and its P/R marks."""
    packets, marks = [], []
    if os.path.exists(log):
        for line in open(log):
            parts = line.split()
            if parts and parts[0] in ("C", "B"):
                packets.append((parts[0], bytes.fromhex(parts[1] if len(parts) > 1 else "")))
            elif parts:
                marks.append((parts[0], len(packets)))
    return packets, marks


def figures(p):
    last = (p.stdout.strip().splitlines() or [""])[-1].split()
    return dict(zip(last[::2], last[1::2]))


def page(n):
    return bytes((i * 7 + i // 256) & 0xFF for i in range(n))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    args = ap.parse_args()
    if not shutil.which("dbus-daemon"):
        print("SKIP: dbus-daemon is not installed")
        return 77
    args.work = tempfile.mkdtemp(prefix="qf-ble-")
    bus = PrivateBus(args.work)
    try:
        mock = Mock(bus.address)
        try:
            run_cases(args, bus, mock)
        finally:
            mock.stop()
        # Last, alone: a printer that never answers holds the mock's loop.
        mock = Mock(bus.address)
        try:
            mock.printer("AA:00:00:00:00:09", "GB02", silent=True)
            p, took = probe(args, bus, "quillble://AA0000000009", page(100), "--connect-ms", 3000)
            check(p.returncode == 1 and "did not answer" in p.stderr,
                  f"never answers: a clear error ({p.stderr.strip()!r})")
            check(took < 8, f"never answers: given up within the connect limit ({took:.1f} s)")
        finally:
            mock.stop()
    finally:
        bus.stop()
        shutil.rmtree(args.work, ignore_errors=True)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


def run_cases(args, bus, mock):
    data = page(20000)
    for address, label, options, most in [
        ("AA:00:00:00:00:01", "AcquireWrite, MTU 185", {"acquire": True, "mtu": 185}, 182),
        ("AA:00:00:00:00:02", "WriteValue", {"acquire": False}, 20),
        ("AA:00:00:00:00:03", "AcquireWrite, MTU 23", {"acquire": True, "mtu": 23}, 20),
    ]:
        log = os.path.join(args.work, address.replace(":", "") + ".log")
        mock.printer(address, "GB01", log=log, **options)
        uri = "quillble://" + address.replace(":", "")
        p, took = probe(args, bus, uri, data)
        packets, _ = taken(log)
        check(p.returncode == 0, f"{label}: the page is sent ({p.stderr.strip()!r})")
        check(b"".join(d for _, d in packets) == data, f"{label}: the printer took every byte once, in order")
        check(packets and max(len(d) for _, d in packets) <= most, f"{label}: no packet above {most} bytes")
        f = figures(p)
        if f:
            rate = len(data) / float(f["send-s"]) if float(f["send-s"]) > 0 else 0
            print(f"     {label}: packets of {f['packet']} bytes, {f['pause-ms']} ms after each: "
                  f"{rate / 1000:.1f} kB/s, {rate / 48:.0f} rows of 48 bytes a second")

    # The printer asks to wait every 40 packets for 300 ms.
    log = os.path.join(args.work, "pause.log")
    mock.printer("AA:00:00:00:00:04", "MX10", log=log, mtu=100, pause_after=40, pause_ms=300)
    p, _ = probe(args, bus, "quillble://AA0000000004", data)
    packets, marks = taken(log)
    check(p.returncode == 0 and b"".join(d for _, d in packets) == data,
          f"pauses: every byte once, in order ({p.stderr.strip()!r})")
    late = [r - s for (m, s), (n, r) in zip(marks[::2], marks[1::2]) if m == "P" and n == "R"]
    check(late and max(late) <= 1, f"pauses: at most one packet in flight while asked to wait ({late})")
    check(figures(p).get("pauses", "0") != "0", "pauses: the link counted them")

    # A state request is answered with a notification the link hands on.
    mock.printer("AA:00:00:00:00:05", "GB03", status=1)
    p, _ = probe(args, bus, "quillble://AA0000000005", bytes.fromhex("5178a3000100000000ff"), "--read-ms", 1000)
    check("note 5178a3000300010000" in p.stdout, f"state: the printer's answer is read ({p.stdout.strip()!r})")

    # The link drops after 30 packets: the job ends saying how much went;
    # nothing is sent again; the next job prints whole.
    log = os.path.join(args.work, "drop.log")
    mock.printer("AA:00:00:00:00:06", "GB01", log=log, mtu=100, drop_after=30)
    p, _ = probe(args, bus, "quillble://AA0000000006", data, "--pages", 2)
    packets, _ = taken(log)
    check(p.returncode == 1 and "not sent again" in p.stderr, f"drop: the job ends with the reason ({p.stderr.strip()!r})")
    check(len(packets) <= 31, f"drop: nothing sent after the drop ({len(packets)} packets)")
    open(log, "w").close()
    p, _ = probe(args, bus, "quillble://AA0000000006", data)
    packets, _ = taken(log)
    check(p.returncode == 0 and b"".join(d for _, d in packets) == data, "drop: the next job prints whole")

    mock.printer("AA:00:00:00:00:07", "GB01", mtu=0)
    p, took = probe(args, bus, "quillble://AA0000000007", data)
    check(p.returncode == 1 and "MTU" in p.stderr, f"MTU 0: a clear error ({p.stderr.strip()!r})")

    p, took = probe(args, bus, "quillble://AA0000000008", data, "--connect-ms", 2000)
    check(p.returncode == 1 and "did not show up" in p.stderr,
          f"unknown printer: a clear error after a scan ({p.stderr.strip()!r})")
    check(took < 6, f"unknown printer: within the connect limit ({took:.1f} s)")


if __name__ == "__main__":
    sys.exit(main())
