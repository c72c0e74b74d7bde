#!/usr/bin/env python3
"""Bluetooth discovery without a radio: python3-dbusmock's BlueZ template on
a private bus stands in for bluetoothd. Checks what the CUPS backend (lpinfo
-v) and `quillfeed-app devices` list: paired printers with the serial port
profile only, with their URIs and model guesses, and one line, at once, when
there is no bus, no BlueZ, no adapter or the adapter is off.

  discovery_test.py --backend BUILD/bluetooth/quillbt [--app BUILD/app/quillfeed-app]

Exit status 77 (skipped) when dbus-daemon or python3-dbusmock is missing."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import dbus
    import dbusmock  # noqa: F401
except ImportError:
    print("SKIP: python3-dbusmock is not installed")
    sys.exit(77)

SPP = "00001101-0000-1000-8000-00805f9b34fb"
CAT = "0000ae30-0000-1000-8000-00805f9b34fb"
AUDIO = ["0000110b-0000-1000-8000-00805f9b34fb", "0000110e-0000-1000-8000-00805f9b34fb"]
# Listing must come back at once; this is far above what it takes.
QUICK_S = 5.0

# A build for another machine runs under its emulator.
RUNNER = [os.environ["QF_TEST_RUNNER"]] if os.environ.get("QF_TEST_RUNNER") else []

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


class PrivateBus:
    def __init__(self, work):
        self.socket = os.path.join(work, "bus")
        config = os.path.join(work, "bus.conf")
        with open(config, "w") as f:
            f.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path={self.socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
""")
        self.proc = subprocess.Popen(["dbus-daemon", "--config-file", config, "--nofork", "--print-address"],
                                     stdout=subprocess.PIPE, text=True)
        self.address = self.proc.stdout.readline().strip()
        if not self.address:
            raise RuntimeError("dbus-daemon did not start")

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


class MockBluez:
    """bluetoothd as python3-dbusmock's template plays it."""

    def __init__(self, address):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
        # bluez5 with the LE printers of ble_test.py.
        template = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bluez_printer.py")
        self.proc = subprocess.Popen([sys.executable, "-m", "dbusmock", "--template", template], env=env,
                                     stdout=subprocess.DEVNULL)
        self.bus = dbus.bus.BusConnection(address)
        deadline = time.time() + 20
        while not self.bus.name_has_owner("org.bluez"):
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("the BlueZ mock did not start")
            time.sleep(0.05)
        self.mock = dbus.Interface(self.bus.get_object("org.bluez", "/"), "org.bluez.Mock")

    def adapter(self, name, powered=True):
        self.mock.AddAdapter(name, "host-" + name)
        if not powered:
            self.update("/org/bluez/" + name, "org.bluez.Adapter1", {"Powered": dbus.Boolean(False)})

    def device(self, adapter, address, name, paired, uuids):
        path = self.mock.AddDevice(adapter, address, name)
        if paired:
            try:
                self.mock.PairDevice(adapter, address, 0x1680)
            except TypeError:  # newer python-dbusmock (Debian 13) takes no device class
                self.mock.PairDevice(adapter, address)
        self.update(path, "org.bluez.Device1",
                    {"UUIDs": dbus.Array(uuids, signature="s"), "Paired": dbus.Boolean(paired)})

    def update(self, path, iface, props):
        obj = self.bus.get_object("org.bluez", path)
        obj.UpdateProperties(iface, props, dbus_interface="org.freedesktop.DBus.Mock")

    def stop(self):
        self.bus.close()
        self.proc.terminate()
        self.proc.wait()


class SilentBluez:
    """Something that owns org.bluez and never answers in time."""

    def __init__(self, address):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
        self.proc = subprocess.Popen([sys.executable, "-m", "dbusmock", "--system", "org.bluez", "/",
                                      "org.freedesktop.DBus.ObjectManager"], env=env, stdout=subprocess.DEVNULL)
        bus = dbus.bus.BusConnection(address)
        deadline = time.time() + 20
        while not bus.name_has_owner("org.bluez"):
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("the silent BlueZ did not start")
            time.sleep(0.05)
        mock = dbus.Interface(bus.get_object("org.bluez", "/"), "org.freedesktop.DBus.Mock")
        mock.AddMethod("", "GetManagedObjects", "", "a{oa{sa{sv}}}", '__import__("time").sleep(30); ret = {}')
        bus.close()

    def stop(self):
        self.proc.kill()
        self.proc.wait()


def run(cmd, bus_address):
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus_address)
    t0 = time.monotonic()
    p = subprocess.run(RUNNER + cmd, env=env, capture_output=True, text=True, timeout=60)
    return p, time.monotonic() - t0


def quiet_case(args, bus_address, label, expect):
    p, took = run([args.backend], bus_address)
    check(p.returncode == 0, f"{label}: backend exits 0 (got {p.returncode})")
    check(p.stdout == "", f"{label}: backend lists nothing (got {p.stdout!r})")
    lines = p.stderr.strip().splitlines()
    check(len(lines) == 1 and expect in lines[0], f"{label}: backend says so in one line (got {p.stderr!r})")
    check(took < QUICK_S, f"{label}: backend returns within {QUICK_S:.0f} s ({took:.2f} s)")
    if args.app:
        p, took = run([args.app, "devices"], bus_address)
        bt_lines = [line for line in (p.stdout + p.stderr).splitlines() if "Bluetooth" in line]
        check(len(bt_lines) == 1 and expect in bt_lines[0],
              f"{label}: app devices says so in one line (got {bt_lines!r})")
        check(took < QUICK_S + 5, f"{label}: app devices returns within {QUICK_S + 5:.0f} s ({took:.2f} s)")


def job_cases(args, work):
    """A job to a bad address stops the queue with the reason; one that cannot
    connect (here: no Bluetooth, or nobody at that address) is tried again
    later, within the connect limit."""
    data = os.path.join(work, "job.bin")
    with open(data, "wb") as f:
        f.write(b"SIZE 40 mm,30 mm\r\nPRINT 1\r\n")
    for uri, status, expect in [
        ("quillbt://00112233", 4, "is not a Bluetooth address"),
        ("quillbt://0011223344AA?chunk=1", 4, "is not a setting"),
        ("quillbt://0011223344AA?family=tspl", 6, "ERROR: "),
    ]:
        env = dict(os.environ, DEVICE_URI=uri)
        t0 = time.monotonic()
        p = subprocess.run(RUNNER + [args.backend, "1", "me", "t", "1", "", data], env=env, capture_output=True, text=True,
                           timeout=60)
        took = time.monotonic() - t0
        errors = [line for line in p.stderr.splitlines() if line.startswith("ERROR: ")]
        check(p.returncode == status and len(errors) == 1 and expect in errors[0],
              f"job to {uri}: status {p.returncode} (want {status}), {errors}")
        check(took < 20, f"job to {uri}: ends within the connect limit ({took:.2f} s)")


def le_cases(args, bluez, bus_address):
    """LE printers need no pairing: the ones announcing the printer service
    or named as a cat printer are listed with quillble: URIs, by quillble
    and by the app, and only there."""
    # Known to nobody yet: the listing lets BlueZ scan, and it shows up.
    bluez.mock.AddLePrinter("hci0", "11:22:33:44:55:10", "GT01", dbus.Dictionary({"hidden": True}, signature="sv"))
    le_backend = os.path.join(os.path.dirname(args.backend), "quillble")
    p, took = run([le_backend], bus_address)
    check("quillble://112233445510" in p.stdout, f"LE printers: a scan finds one BlueZ had not seen ({p.stdout!r})")
    check(took < QUICK_S, f"LE printers: the scan is bounded ({took:.2f} s)")
    bluez.device("hci0", "11:22:33:44:55:11", "GB02", False, [CAT])
    bluez.device("hci0", "11:22:33:44:55:12", "MXW01", False, [])
    bluez.device("hci0", "11:22:33:44:55:13", "Sticker box", False, [CAT])
    bluez.device("hci0", "11:22:33:44:55:14", "Fitness band", False, ["0000180d-0000-1000-8000-00805f9b34fb"])
    p, took = run([le_backend], bus_address)
    want = [
        'direct quillble://112233445511 "Cat printer GB02" "GB02 (Bluetooth)" "MFG:Cat Printer;MDL:GB02;CMD:CAT;" ""',
        'direct quillble://112233445510 "Cat printer GT01" "GT01 (Bluetooth)" "MFG:Cat Printer;MDL:GT01;CMD:CAT;" ""',
        'direct quillble://112233445512 "Cat printer MXW01" "MXW01 (Bluetooth)" "MFG:Cat Printer;MDL:MXW01;CMD:CAT;" ""',
        'direct quillble://112233445513 "Unknown" "Sticker box (Bluetooth)" "" ""',
    ]
    got = p.stdout.splitlines()
    check(got == want, "LE printers: quillble lists the printers, with their models")
    if got != want:
        print("  got:\n    " + "\n    ".join(got))
    check(took < QUICK_S, f"LE printers: listed at once ({took:.2f} s)")
    p, _ = run([args.backend], bus_address)
    check("quillble" not in p.stdout and "GB02" not in p.stdout, "LE printers: quillbt leaves them out")
    if args.app:
        p, _ = run([args.app, "devices"], bus_address)
        text = p.stdout
        check("GB02 (Bluetooth 11:22:33:44:55:11): Cat printer GB02" in text and "quillble://112233445511" in text,
              "LE printers: app devices lists the GB02")
        check("Fitness band" not in text, "LE printers: app devices leaves out what is no printer")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--backend", required=True)
    ap.add_argument("--app")
    args = ap.parse_args()
    if not shutil.which("dbus-daemon"):
        print("SKIP: dbus-daemon is not installed")
        return 77

    work = tempfile.mkdtemp(prefix="qf-bt-")
    try:
        job_cases(args, work)
        quiet_case(args, "unix:path=" + os.path.join(work, "no-bus"), "no bus", "not reachable")

        bus = PrivateBus(work)
        try:
            quiet_case(args, bus.address, "no BlueZ", "BlueZ is not running")

            silent = SilentBluez(bus.address)
            try:
                quiet_case(args, bus.address, "BlueZ not answering", "BlueZ did not answer")
            finally:
                silent.stop()

            bluez = MockBluez(bus.address)
            try:
                quiet_case(args, bus.address, "no adapter", "no adapter")
                bluez.adapter("hci0", powered=False)
                bluez.device("hci0", "11:22:33:44:55:01", "PeriPage_3A2B", True, [SPP])
                quiet_case(args, bus.address, "adapter off", "adapter is off")
            finally:
                bluez.stop()

            bluez = MockBluez(bus.address)
            try:
                bluez.adapter("hci0")
                bluez.adapter("hci1", powered=False)
                bluez.device("hci0", "11:22:33:44:55:01", "PeriPage_3A2B", True, [SPP])
                bluez.device("hci0", "11:22:33:44:55:02", "Paperang_P2", True, AUDIO + [SPP.upper()])
                bluez.device("hci0", "11:22:33:44:55:03", "MTP-II", True, [SPP] + AUDIO)
                bluez.device("hci0", "11:22:33:44:55:04", "Headphones", True, AUDIO)  # no serial port
                bluez.device("hci0", "11:22:33:44:55:05", "PT-210_AB12", False, [SPP])  # not paired
                bluez.device("hci0", "11:22:33:44:55:06", "Workshop box", True, [SPP])  # name says nothing
                bluez.device("hci1", "11:22:33:44:55:07", "PeriPage_9F00", True, [SPP])  # adapter off
                # A name from the air with control characters and no end.
                bluez.device("hci0", "11:22:33:44:55:08", "Evil\nName\x1b[2J" + "x" * 300, True, [SPP])

                p, took = run([args.backend], bus.address)
                want = [
                    'direct quillbt://112233445508 "Unknown" "Evil_Name_[2J' + "x" * 67 + ' (Bluetooth)" "" ""',
                    'direct quillbt://112233445503?family=escpos "Generic ESC/POS Receipt 58mm" "MTP-II (Bluetooth)" '
                    '"MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;" ""',
                    'direct quillbt://112233445502?family=paperang "Paperang P2" "Paperang_P2 (Bluetooth)" '
                    '"MFG:Paperang;MDL:P2;" ""',
                    'direct quillbt://112233445501?family=peripage "PeriPage A6" "PeriPage_3A2B (Bluetooth)" '
                    '"MFG:PeriPage;MDL:A6;" ""',
                    'direct quillbt://112233445506 "Unknown" "Workshop box (Bluetooth)" "" ""',
                ]
                got = p.stdout.splitlines()
                check(p.returncode == 0, f"printers: backend exits 0 (got {p.returncode}, {p.stderr!r})")
                check(got == want, "printers: backend lists the paired serial-port devices, sorted by name")
                if got != want:
                    print("  got:\n    " + "\n    ".join(got) + "\n  want:\n    " + "\n    ".join(want))
                check(took < QUICK_S, f"printers: backend lists at once ({took:.2f} s)")

                if args.app:
                    p, took = run([args.app, "devices"], bus.address)
                    lines = p.stdout.splitlines()
                    text = "\n".join(lines)
                    for name, model, uri in [
                        ("PeriPage_3A2B", "PeriPage A6", "quillbt://112233445501?family=peripage"),
                        ("Paperang_P2", "Paperang P2", "quillbt://112233445502?family=paperang"),
                        ("MTP-II", "Generic ESC/POS Receipt 58mm", "quillbt://112233445503?family=escpos"),
                        ("Workshop box", "model not recognised", "quillbt://112233445506"),
                    ]:
                        check(f"{name} (Bluetooth " in text and model in text and uri in text,
                              f"printers: app devices lists {name} as {model}")
                    for absent in ("Headphones", "PT-210", "PeriPage_9F00"):
                        check(absent not in text, f"printers: app devices leaves out {absent}")
                    if failures:
                        print("  app devices said:\n" + p.stdout + p.stderr)
                le_cases(args, bluez, bus.address)
            finally:
                bluez.stop()
        finally:
            bus.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
