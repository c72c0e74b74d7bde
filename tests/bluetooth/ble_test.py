#!/usr/bin/env python3
"""The Bluetooth LE link against a mock BlueZ (bluez_printer.py, on
python3-dbusmock's bluez5 template) on a private bus: a page arrives whole
and in order through AcquireWrite and through WriteValue (also through
Niimbot's service), packets within the MTU, a state request answered, a
printer BlueZ had not seen found by a scan, and every fault (MTU 0, a printer that never shows up, one that never
answers) is a clear error within the connect limit; prints the rate reached
with each pacing. With --app and --backend, the same through the Printer
Application and the CUPS backend (see app_cases). The link's pauses and
drops are tested on the link itself (BleLinkTest).

  ble_test.py --probe BUILD/tests/bluetooth/BleProbe

Exit status 77 (skipped) when dbus-daemon or python3-dbusmock is missing."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import dbus
    import dbusmock  # noqa: F401
except ImportError:
    print("SKIP: python3-dbusmock is not installed")
    sys.exit(77)
from discovery_test import MockBluez, PrivateBus  # noqa: E402

RUNNER = [os.environ["QF_TEST_RUNNER"]] if os.environ.get("QF_TEST_RUNNER") else []
failures = []
LATTICE_END = bytes.fromhex("5178a6000b00aa55170000000000000017")


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


class Mock(MockBluez):
    """The mock BlueZ with one adapter, hci0, on."""

    def __init__(self, address):
        super().__init__(address)
        self.adapter("hci0")

    def printer(self, address, name, **options):
        self.mock.AddLePrinter("hci0", address, name, dbus.Dictionary(options, signature="sv"))


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
    """The packets the printer took, by characteristic."""
    packets = []
    if os.path.exists(log):
        for line in open(log):
            parts = line.split()
            if parts and parts[0] in ("C", "B"):
                packets.append((parts[0], bytes.fromhex(parts[1] if len(parts) > 1 else "")))
    return packets


def figures(p):
    last = (p.stdout.strip().splitlines() or [""])[-1].split()
    return dict(zip(last[::2], last[1::2]))


def page(n):
    return bytes((i * 7 + i // 256) & 0xFF for i in range(n))


IPP_JOB = """{
 OPERATION Print-Job
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR name requesting-user-name test
 ATTR mimeMediaType document-format image/png
 GROUP job-attributes-tag
 ATTR integer copies %d
 FILE $filename
 STATUS successful-ok
}
{
 OPERATION Get-Job-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR integer job-id $job-id
 STATUS successful-ok
 EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT %d
 DISPLAY job-state
 DISPLAY job-state-message
}
"""

IPP_ATTRS = """{
 OPERATION Get-Printer-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR language attributes-natural-language en
 ATTR uri printer-uri $uri
 STATUS successful-ok
%s
}
"""


def split_frames(stream):
    """The control frames and bulk payloads of a printer stream, as the
    transport must send them (a Niimbot stream goes whole to control)."""
    if stream[:1] in (b"\x55", b"\x03"):
        return stream, b""
    control, bulk, at = b"", b"", 0
    while at < len(stream):
        n = stream[at + 4] | stream[at + 5] << 8
        f = stream[at:at + n + 8]
        if f[2] == 0xFE:
            bulk += f[6:6 + n]
        else:
            control += f
        at += n + 8
    return control, bulk


class App:
    def __init__(self, args, bus):
        self.app = args.app
        self.work = os.path.join(args.work, "app")
        os.makedirs(os.path.join(self.work, "out"), exist_ok=True)
        import socket
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address, SNAP_COMMON=self.work)
        # A sanitizer build: what PAPPL and libcups keep until exit is theirs.
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "lsan-app.supp")
        self.env.setdefault("LSAN_OPTIONS", f"suppressions={os.path.abspath(supp)}:print_suppressions=0")
        self.proc = subprocess.Popen(RUNNER + [
            self.app, "server", "-o", f"server-port={self.port}", "-o", "listen-hostname=localhost",
            "-o", f"spool-directory={self.work}", "-o", f"state-file={self.work}/state",
            "-o", f"log-file={self.work}/log", "-o", "server-options=no-tls",
            "-o", f"file-directory={self.work}/out"], env=self.env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                if os.getuid() != 0 or os.path.exists(os.path.join(self.work, "quillfeed-app.sock")):
                    break
            except OSError:
                pass
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("the app did not start")
            time.sleep(0.1)

    def run(self, *cmd):
        return subprocess.run(RUNNER + [self.app] + list(cmd), env=self.env, capture_output=True, text=True,
                              timeout=60)

    def print(self, printer, picture, limit=300, copies=1):
        test = os.path.join(self.work, "job.test")
        with open(test, "w") as f:
            f.write(IPP_JOB % (copies, limit))
        p = subprocess.run(["ipptool", "-t", "-f", picture, f"ipp://localhost:{self.port}/ipp/print/{printer}", test],
                           capture_output=True, text=True, timeout=limit + 60)
        return p.stdout

    def attributes(self, printer, *names):
        test = os.path.join(self.work, "attrs.test")
        with open(test, "w") as f:
            f.write(IPP_ATTRS % "\n".join(" DISPLAY " + n for n in names))
        p = subprocess.run(["ipptool", "-t", f"ipp://localhost:{self.port}/ipp/print/{printer}", test],
                           capture_output=True, text=True, timeout=60)
        return p.stdout

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def backend_case(args, bus, mock, driver, address, name, options, stream):
    """The CUPS backend sends a job's stream as the app does."""
    address = address.replace(":01:", ":02:")
    log = os.path.join(args.work, "backend-" + driver + ".log")
    mock.printer(address, name, log=log, mtu=185, **options)
    job = os.path.join(args.work, "backend-job.bin")
    with open(job, "wb") as f:
        f.write(stream)
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address, DEVICE_URI="quillble://" + address.replace(":", ""))
    p = subprocess.run(RUNNER + [args.backend, "1", "me", "t", "1", "", job], env=env, capture_output=True, text=True,
                       timeout=180)
    packets = taken(log)
    want_control, want_bulk = split_frames(stream)
    control = b"".join(d for c, d in packets if c == "C")
    bulk = b"".join(d for c, d in packets if c == "B")
    check(p.returncode == 0 and control == want_control and bulk == want_bulk,
          f"backend {driver}: the job's frames reach the printer, each once (status {p.returncode})")


def app_cases(args, bus, mock):
    """Through the app: the same picture on a quillble: printer and on a
    file: one of the same driver gives the same bytes (control and bulk
    apart on the MXW01; a Niimbot D110 through its own service); a printer out of paper keeps the job waiting until
    paper is back, then prints it once; a link dropped mid-job ends the job
    with the reason and the next one prints."""
    app = App(args, bus)
    try:
        for driver, address, name, options in [
            ("cat-gb02", "AA:00:00:00:01:01", "GB02", {}),
            ("cat-mxw01", "AA:00:00:00:01:02", "MXW01", {"bulk": True}),
            ("niimbot-d110", "AA:00:00:00:01:04", "D110-A103", {"profile": "niimbot", "tag": "12x40"}),
        ]:
            log = os.path.join(args.work, driver + ".log")
            mock.printer(address, name, log=log, mtu=185, **options)
            uri = "quillble://" + address.replace(":", "")
            out = os.path.join(app.work, "out", driver)
            os.makedirs(out, exist_ok=True)
            p1 = app.run("add", "-d", "ble-" + driver, "-m", driver, "-v", uri)
            p2 = app.run("add", "-d", "file-" + driver, "-m", driver, "-v", "file://" + out)
            check(p1.returncode == 0 and p2.returncode == 0, f"app {driver}: printers added ({p1.stderr}{p2.stderr})")
            a = app.print("ble-" + driver, args.picture)
            b = app.print("file-" + driver, args.picture)
            check("completed" in a and "completed" in b, f"app {driver}: both jobs completed ({a.strip()!r})")
            files = [os.path.join(out, f) for f in os.listdir(out)]
            stream = open(files[0], "rb").read() if files else b""
            packets = taken(log)
            control = b"".join(d for c, d in packets if c == "C")
            bulk = b"".join(d for c, d in packets if c == "B")
            want_control, want_bulk = split_frames(stream)
            check(stream and control.endswith(want_control) and bulk == want_bulk,
                  f"app {driver}: the printer took the job's frames, each once ({len(control)}/{len(want_control)}"
                  f" control, {len(bulk)}/{len(want_bulk)} bulk bytes)")
            if driver == "cat-gb02":
                want_gb02 = stream
            if driver == "niimbot-d110":
                # The roll's tag and label information become media-ready
                # (a 12 mm label 40 mm long, as the D110's sizes are read)
                # and the supply of labels.
                a = app.attributes("ble-" + driver, "media-ready", "printer-supply-description")
                check("custom_40x12mm" in a and "Labels (180 of 200 left)" in a,
                      f"app {driver}: the roll's labels are the printer's media-ready and supply ({a.strip()!r})")
            if args.backend and stream:
                backend_case(args, bus, mock, driver, address, name, options, stream)

        # A job whose labels are larger than the roll's is refused with the
        # reason, nothing of it sent.
        log = os.path.join(args.work, "niimbot-small.log")
        mock.printer("AA:00:00:00:01:05", "D110-A105", log=log, mtu=185, profile="niimbot", tag="12x22")
        app.run("add", "-d", "ble-small", "-m", "niimbot-d110", "-v", "quillble://AA0000000105")
        a = app.print("ble-small", args.picture)
        rows = [d for c, d in taken(log) if c == "C" and d[:3] == b"\x55\x55\x85"]
        check("aborted" in a and "larger than those in the printer" in a and not rows,
              f"app niimbot: a job larger than the loaded labels is refused ({a.strip()!r})")

        # A link that drops in the middle of a job ends it with the reason;
        # the next job prints whole.
        log = os.path.join(args.work, "cat-gb02.log")
        mock.mock.SetLePrinter("AA:00:00:00:01:01", dbus.Dictionary({"drop_after": 20}, signature="sv"))
        a = app.print("ble-cat-gb02", args.picture)
        check("aborted" in a and "not sent again" in a, f"app drop: the job ends with the reason ({a.strip()!r})")
        open(log, "w").close()
        a = app.print("ble-cat-gb02", args.picture)
        packets = taken(log)
        check("completed" in a and b"".join(d for _, d in packets).endswith(want_gb02),
              f"app drop: the next job prints whole ({a.strip()!r})")

        # Out of paper after the first of two pages: the second waits, then
        # both are printed once.
        log = os.path.join(args.work, "cat-gb02.log")
        open(log, "w").close()
        mock.mock.SetLePrinter("AA:00:00:00:01:01", dbus.Dictionary({"paper_after": 1}, signature="sv"))
        result = {}
        t = threading.Thread(target=lambda: result.update(out=app.print("ble-cat-gb02", args.picture, copies=2)))
        t.start()
        time.sleep(8)
        control = b"".join(d for c, d in taken(log) if c == "C")
        st = app.run("status", "-d", "ble-cat-gb02")
        check("media-empty" in st.stdout and control.count(LATTICE_END) == 1,
              f"paper out mid-job: the second page waits ({st.stdout.strip()!r})")
        mock.mock.SetLePrinter("AA:00:00:00:01:01", dbus.Dictionary({"status": 0}, signature="sv"))
        t.join(120)
        control = b"".join(d for c, d in taken(log) if c == "C")
        rows = control.count(b"\x51\x78\xa2\x00\x30\x00")
        check("completed" in result.get("out", "") and control.count(LATTICE_END) == 2 and
              rows == 2 * want_gb02.count(b"\x51\x78\xa2\x00\x30\x00"),
              f"paper out mid-job: both pages printed once ({rows} rows)")

        # Someone looking at an idle LE printer does not wait for it to
        # connect: nothing is sent to it.
        before = len(taken(log))
        t0 = time.monotonic()
        app.run("status", "-d", "ble-cat-gb02")
        took = time.monotonic() - t0
        time.sleep(1)
        check(len(taken(log)) == before and took < 5,
              f"idle: looking at the printer does not connect to it ({took:.1f} s)")

        # Out of paper before the job: it waits, then prints once.
        address = "AA:00:00:00:01:03"
        log = os.path.join(args.work, "paper.log")
        mock.printer(address, "GB01", log=log, status=1)
        app.run("add", "-d", "paper", "-m", "cat-gb01", "-v", "quillble://" + address.replace(":", ""))
        result = {}
        t = threading.Thread(target=lambda: result.update(out=app.print("paper", args.picture)))
        t.start()
        time.sleep(6)
        st = app.run("status", "-d", "paper")
        rows_before = b"".join(d for c, d in taken(log) if c == "C").count(b"\x51\x78\xa2\x00")
        check("media-empty" in st.stdout + st.stderr, f"paper out: the printer shows media-empty ({st.stdout.strip()!r})")
        check(rows_before == 0, f"paper out: no row sent while the paper is out ({rows_before})")
        mock.mock.SetLePrinter(address, dbus.Dictionary({"status": 0}, signature="sv"))
        t.join(120)
        check("completed" in result.get("out", ""), f"paper out: the job prints once paper is back ({result!r})")
    finally:
        app.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--app")
    ap.add_argument("--picture")
    ap.add_argument("--backend")
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
            if args.app and args.picture and shutil.which("ipptool"):
                app_cases(args, bus, mock)
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
    for address, label, name, options, most in [
        ("AA:00:00:00:00:01", "AcquireWrite, MTU 185", "GB01", {"acquire": True, "mtu": 185}, 182),
        ("AA:00:00:00:00:02", "WriteValue", "GB01", {"acquire": False}, 20),
        ("AA:00:00:00:00:03", "AcquireWrite, MTU 23", "GB01", {"acquire": True, "mtu": 23}, 20),
        ("AA:00:00:00:00:04", "Niimbot's service", "D110-AA04", {"profile": "niimbot", "mtu": 185}, 182),
    ]:
        log = os.path.join(args.work, address.replace(":", "") + ".log")
        mock.printer(address, name, log=log, **options)
        uri = "quillble://" + address.replace(":", "")
        p, took = probe(args, bus, uri, data)
        packets = taken(log)
        check(p.returncode == 0, f"{label}: the page is sent ({p.stderr.strip()!r})")
        check(b"".join(d for _, d in packets) == data, f"{label}: the printer took every byte once, in order")
        check(packets and max(len(d) for _, d in packets) <= most, f"{label}: no packet above {most} bytes")
        f = figures(p)
        if f:
            rate = len(data) / float(f["send-s"]) if float(f["send-s"]) > 0 else 0
            print(f"     {label}: packets of {f['packet']} bytes, {f['pause-ms']} ms after each: "
                  f"{rate / 1000:.1f} kB/s, {rate / 48:.0f} rows of 48 bytes a second")

    # A state request is answered with a notification the link hands on.
    mock.printer("AA:00:00:00:00:05", "GB03", status=1)
    p, _ = probe(args, bus, "quillble://AA0000000005", bytes.fromhex("5178a3000100000000ff"), "--read-ms", 1000)
    check("note 5178a3000300010000" in p.stdout, f"state: the printer's answer is read ({p.stdout.strip()!r})")

    mock.printer("AA:00:00:00:00:07", "GB01", mtu=0)
    p, took = probe(args, bus, "quillble://AA0000000007", data)
    check(p.returncode == 1 and "MTU" in p.stderr, f"MTU 0: a clear error ({p.stderr.strip()!r})")

    # BlueZ has not seen it: connecting scans for it first.
    log = os.path.join(args.work, "hidden.log")
    mock.printer("AA:00:00:00:00:0A", "GB01", log=log, hidden=True)
    p, _ = probe(args, bus, "quillble://AA000000000A", data[:1000])
    check(p.returncode == 0 and b"".join(d for _, d in taken(log)) == data[:1000],
          f"not yet seen: found by a scan and printed ({p.stderr.strip()!r})")

    p, took = probe(args, bus, "quillble://AA0000000008", data, "--connect-ms", 2000)
    check(p.returncode == 1 and "did not show up" in p.stderr,
          f"unknown printer: a clear error after a scan ({p.stderr.strip()!r})")
    check(took < 6, f"unknown printer: within the connect limit ({took:.1f} s)")


if __name__ == "__main__":
    sys.exit(main())
