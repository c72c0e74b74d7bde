#!/usr/bin/env python3
"""Runs the filter on a job as CUPS's socket backend would: its printer data
goes to the virtual printer's TCP port and the printer's answers come back on
file descriptor 3 (the back channel).

Usage: sim_filter.py FILTER PPD PORT RASTER [OPTIONS]
Passes the filter's exit status on; its messages go to standard error.
"""
import os
import socket
import subprocess
import sys


def main():
    filt, ppd, port, raster = sys.argv[1:5]
    options = sys.argv[5] if len(sys.argv) > 5 else ""
    sock = socket.create_connection(("127.0.0.1", int(port)))
    fd = sock.fileno()
    env = dict(os.environ, PPD=ppd, DEVICE_URI="socket://127.0.0.1:%s" % port)

    def child():
        os.dup2(fd, 3)

    proc = subprocess.run([filt, "1", "user", "title", "1", options, raster], stdout=fd,
                          pass_fds=(fd,), preexec_fn=child, env=env)
    try:
        sock.shutdown(socket.SHUT_WR)
        sock.settimeout(5)
        while sock.recv(4096):
            pass
    except OSError:
        pass
    sock.close()
    return proc.returncode


if __name__ == "__main__":
    sys.exit(main())
