#!/usr/bin/env python3
"""The filter announces each page's end to the quillbt backend over CUPS's
side channel (descriptor 4), after the page's bytes, and to no other backend;
the printer bytes stay the same.

  page_ends_test.py --filter BUILD/filter/quillfeed --rastergen BUILD/.../quillfeed-rastergen --ppd PPD"""

import argparse
import os
import select
import socket
import subprocess
import sys
import tempfile

CMD_DRAIN_OUTPUT = 2
STATUS_OK = 1
PAGES = 3

# A build for another machine runs under its emulator.
RUNNER = [os.environ["QF_TEST_RUNNER"]] if os.environ.get("QF_TEST_RUNNER") else []

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def run_filter(args, raster, device_uri):
    """Runs the filter with a side channel on descriptor 4, answering every
    drain request; returns the printer bytes, the number of bytes the filter
    had written at each request, and the requests' raw bytes."""
    ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
    env = dict(os.environ, PPD=args.ppd)
    env.pop("DEVICE_URI", None)
    if device_uri:
        env["DEVICE_URI"] = device_uri
    fd = theirs.fileno()
    move = "" if fd == 4 else f" 4>&{fd} {fd}>&-"
    proc = subprocess.Popen(["sh", "-c", 'exec "$0" "$@"' + move] + RUNNER + [args.filter, "1", "me", "t", "1", "",
                             raster], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, pass_fds=(fd,))
    theirs.close()
    out = proc.stdout.fileno()
    os.set_blocking(out, False)
    data = bytearray()
    offsets, raw = [], []
    open_out = True
    while open_out:
        ready, _, _ = select.select([out, ours], [], [], 30)
        if not ready:
            failures.append("the filter hung")
            proc.kill()
            break
        if ours in ready:
            request = ours.recv(4)
            if request:
                # Everything written before the request is in the pipe.
                try:
                    while chunk := os.read(out, 65536):
                        data += chunk
                except BlockingIOError:
                    pass
                offsets.append(len(data))
                raw.append(request)
                ours.sendall(bytes([request[0], STATUS_OK, 0, 0]))
        if out in ready:
            try:
                chunk = os.read(out, 65536)
            except BlockingIOError:
                continue
            if not chunk:
                open_out = False
            data += chunk
    proc.wait()
    ours.close()
    return bytes(data), offsets, raw


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--filter", required=True)
    ap.add_argument("--rastergen", required=True)
    ap.add_argument("--ppd", required=True)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="qf-page-ends-") as work:
        raster = os.path.join(work, "pages.ras")
        subprocess.run(RUNNER + [args.rastergen, "--pages", str(PAGES), "--pattern", "checker", raster], check=True)

        plain, offsets, _ = run_filter(args, raster, None)
        check(offsets == [], "no DEVICE_URI: no request")
        other, offsets, _ = run_filter(args, raster, "socket://127.0.0.1:9100")
        check(offsets == [], "socket:// backend: no request")
        check(other == plain, "socket:// backend: the same bytes")

        bt, offsets, raw = run_filter(args, raster, "quillbt://0011223344AA?family=tspl")
        check(bt == plain and len(plain) > 0, "quillbt backend: the same bytes")
        check(len(offsets) == PAGES, f"quillbt backend: one request per page ({len(offsets)})")
        check(all(r == bytes([CMD_DRAIN_OUTPUT, 0, 0, 0]) for r in raw), f"requests are drain-output ({raw})")
        # The pages are alike and TSPL writes nothing outside them: page i
        # ends at i / PAGES of the bytes.
        want = [len(plain) * (i + 1) // PAGES for i in range(PAGES)]
        check(offsets == want, f"each right after its page's bytes ({offsets}, want {want})")
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
