#!/usr/bin/env python3
"""A raw-socket printer on loopback for the device tests.

usage: listener.py PORTFILE OUTDIR [--drop-first]

Listens on a free loopback port (written to PORTFILE), and writes what each
connection sends to OUTDIR/conn-N.bin (N from 1). With --drop-first the
first connection is reset after its first bytes: a printer that goes away
in the middle of a job.
"""
import os
import socket
import struct
import sys

portfile, outdir = sys.argv[1], sys.argv[2]
drop_first = '--drop-first' in sys.argv[3:]
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(('127.0.0.1', 0))
server.listen(4)
with open(portfile + '.part', 'w') as f:
    f.write(str(server.getsockname()[1]))
os.rename(portfile + '.part', portfile)
n = 0
while True:
    conn, _ = server.accept()
    n += 1
    with open(os.path.join(outdir, 'conn-%d.bin.part' % n), 'wb') as out:
        if drop_first and n == 1:
            out.write(conn.recv(16))
            # Reset, not a polite close: the sender's next write fails.
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            conn.close()
        else:
            while True:
                data = conn.recv(65536)
                if not data:
                    break
                out.write(data)
            conn.close()
    os.rename(os.path.join(outdir, 'conn-%d.bin.part' % n), os.path.join(outdir, 'conn-%d.bin' % n))
