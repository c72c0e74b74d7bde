#!/usr/bin/env python3
"""Cancels a streamed PWG raster job in the middle of its first page.

usage: cancel-mid-page.py PORT PRINTER FILE

Sends Print-Job for FILE (job-name "cancelled-mid-page") with the document in
HTTP chunks: the first 60 % of its bytes, then, once the job is processing,
Cancel-Job on a second connection, then the rest.  Prints the job's id and
final state; exits 0 when the job ends canceled.
"""
import http.client
import struct
import sys
import time


def attr(tag, name, value):
    name, value = name.encode(), value if isinstance(value, bytes) else value.encode()
    return struct.pack('>BH', tag, len(name)) + name + struct.pack('>H', len(value)) + value


def request(op, uri, extra=b''):
    return (struct.pack('>BBHI', 2, 0, op, 1) + b'\x01' +
            attr(0x47, 'attributes-charset', 'utf-8') +
            attr(0x48, 'attributes-natural-language', 'en') +
            attr(0x45, 'printer-uri', uri) +
            attr(0x42, 'requesting-user-name', 'test') + extra + b'\x03')


def groups(body):
    """The integer and enum attributes of each attribute group, as dicts."""
    found, i, name = [], 8, ''
    while i < len(body):
        tag = body[i]
        i += 1
        if tag < 0x10:
            if tag == 0x03:
                break
            found.append({})
            continue
        n = struct.unpack('>H', body[i:i + 2])[0]
        if n:
            name = body[i + 2:i + 2 + n].decode()
        i += 2 + n
        v = struct.unpack('>H', body[i:i + 2])[0]
        value = body[i + 2:i + 2 + v]
        i += 2 + v
        if tag in (0x21, 0x23) and found:
            found[-1][name] = struct.unpack('>i', value)[0]
    return found


def call(port, path, data):
    conn = http.client.HTTPConnection('localhost', port, timeout=30)
    conn.request('POST', path, data, {'Content-Type': 'application/ipp'})
    body = conn.getresponse().read()
    conn.close()
    return body


def processing_job(port, path, uri):
    """The id of the printer's job that is processing, or None."""
    req = request(0x000A, uri, attr(0x44, 'requested-attributes', 'job-id') +
                  attr(0x44, '', 'job-state'))
    for group in groups(call(port, path, req)):
        if group.get('job-state') == 5:
            return group.get('job-id')
    return None


def main():
    port, printer, name = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    path = '/ipp/print/' + printer
    uri = 'ipp://localhost:%d%s' % (port, path)
    data = open(name, 'rb').read()
    cut = len(data) * 6 // 10
    conn = http.client.HTTPConnection('localhost', port, timeout=60)
    conn.putrequest('POST', path)
    conn.putheader('Content-Type', 'application/ipp')
    conn.putheader('Transfer-Encoding', 'chunked')
    conn.endheaders()

    def chunk(b):
        conn.send(b'%x\r\n' % len(b) + b + b'\r\n')

    chunk(request(0x0002, uri, attr(0x42, 'job-name', 'cancelled-mid-page') +
                  attr(0x49, 'document-format', 'image/pwg-raster')))
    chunk(data[:cut])
    job = None
    for _ in range(100):
        job = processing_job(port, path, uri)
        if job:
            break
        time.sleep(0.1)
    if not job:
        print('the job never started processing')
        return 1
    call(port, path, request(0x0008, uri, attr(0x21, 'job-id', struct.pack('>i', job))))
    chunk(data[cut:])
    conn.send(b'0\r\n\r\n')
    conn.getresponse().read()
    conn.close()
    req = request(0x0009, uri, attr(0x21, 'job-id', struct.pack('>i', job)) +
                  attr(0x44, 'requested-attributes', 'job-state'))
    for _ in range(100):
        state = next((g['job-state'] for g in groups(call(port, path, req)) if 'job-state' in g), None)
        if state and state > 6:
            break
        time.sleep(0.1)
    print('job %d ended in state %s' % (job, state))
    return 0 if state == 7 else 1


if __name__ == '__main__':
    sys.exit(main())
