#!/usr/bin/env python3
"""Tries every administrative act on a running quillfeed-app through every
door, as whoever runs it, and checks that what a user may do still works.

usage: attack.py --port P --printer NAME --printer-id N --document FILE
                 --socket PATH [--others-job ID] [--as-admin]

Doors: the local socket; IPP over loopback TCP on a new connection, and on
a connection that has just sent a job and asked for its state; the web
interface's forms (with the session field its public pages hand out) on a
new connection, and on one that has just sent a job.  Without --as-admin
every act must be refused (HTTP 401/403 or IPP client-error-forbidden or
-not-authorized); with it, every IPP act must succeed (the acts are real).
One line per case: DOOR | ACT | RESULT.  Exit status: the number of cases
that went wrong.
"""
import argparse
import http.client
import re
import socket
import struct
import sys
import urllib.parse

TAGS = {'charset': 0x47, 'language': 0x48, 'uri': 0x45, 'name': 0x42, 'keyword': 0x44, 'text': 0x41,
        'integer': 0x21, 'enum': 0x23, 'mime': 0x49}


def encode(op, operation, group=None, group_tag=0x04, request_id=1):
    """An IPP request: operation attributes, then an optional group."""
    out = struct.pack('>BBHI', 2, 0, op, request_id)
    for tag, attrs in ((0x01, operation), (group_tag, group or [])):
        if not attrs:
            continue
        out += bytes([tag])
        for kind, name, value in attrs:
            data = struct.pack('>i', value) if kind in ('integer', 'enum') else value.encode()
            out += bytes([TAGS[kind]]) + struct.pack('>H', len(name)) + name.encode()
            out += struct.pack('>H', len(data)) + data
    return out + b'\x03'


def decode(body):
    """(status-code, {name: first value}) of an IPP response."""
    if len(body) < 8:
        return -1, {}
    status = struct.unpack('>H', body[2:4])[0]
    values, i = {}, 8
    while i < len(body):
        tag = body[i]
        i += 1
        if tag < 0x10:
            if tag == 0x03:
                break
            continue
        nlen = struct.unpack('>H', body[i:i + 2])[0]
        name = body[i + 2:i + 2 + nlen].decode('utf-8', 'replace')
        i += 2 + nlen
        vlen = struct.unpack('>H', body[i:i + 2])[0]
        value = body[i + 2:i + 2 + vlen]
        i += 2 + vlen
        if name and name not in values:
            values[name] = struct.unpack('>i', value)[0] if tag in (0x21, 0x23) and vlen == 4 else value
    return status, values


class Client:
    """One HTTP connection to the app, kept alive between requests."""

    def __init__(self, port):
        self.port = port
        self.conn = http.client.HTTPConnection('localhost', port, timeout=30)

    def ipp(self, path, request, document=b''):
        self.conn.request('POST', path, body=request + document, headers={'Content-Type': 'application/ipp'})
        r = self.conn.getresponse()
        body = r.read()
        if r.status != 200:
            return r.status, -1, {}
        status, values = decode(body)
        return r.status, status, values

    def web(self, method, path, fields=None):
        body = urllib.parse.urlencode(fields).encode() if fields is not None else None
        headers = {'Content-Type': 'application/x-www-form-urlencoded'} if body is not None else {}
        self.conn.request(method, path, body=body, headers=headers)
        r = self.conn.getresponse()
        return r.status, r.read().decode('utf-8', 'replace')


def base_attrs(uri_name, uri):
    return [('charset', 'attributes-charset', 'utf-8'), ('language', 'attributes-natural-language', 'en'),
            ('uri', uri_name, uri), ('name', 'requesting-user-name', 'attacker')]


class Attack:
    def __init__(self, args):
        self.a = args
        self.system = 'ipp://localhost:%d/ipp/system' % args.port
        self.printer = 'ipp://localhost:%d/ipp/print/%s' % (args.port, args.printer)
        self.path = '/ipp/print/' + args.printer
        self.web = '/' + args.printer  # the printer's pages
        self.document = open(args.document, 'rb').read()
        self.wrong = 0

    def report(self, door, act, good, result):
        print('%-14s | %-22s | %s%s' % (door, act, result, '' if good else '   <-- WRONG'))
        if not good:
            self.wrong += 1

    # ------------------------------------------------------------ IPP acts
    def ipp_acts(self):
        pid = self.a.printer_id
        sys_ops = base_attrs('system-uri', self.system)
        prn_ops = base_attrs('printer-uri', self.printer)
        return [
            ('add', '/ipp/system', encode(0x4C, sys_ops + [('keyword', 'printer-service-type', 'print'),
                                                         ('uri', 'smi55357-device-uri', 'socket://127.0.0.1:9'),
                                                         ('keyword', 'smi55357-driver', 'tspl-203')],
                                          [('name', 'printer-name', 'intruder')], 0x04)),
            ('modify', self.path, encode(0x0013, prn_ops, [('text', 'printer-location', 'attacked')])),
            ('device change', self.path, encode(0x0013, prn_ops, [('uri', 'smi55357-device-uri',
                                                                   'socket://127.0.0.1:9')])),
            ('printing defaults', self.path, encode(0x0013, prn_ops, [('integer', 'print-darkness-default', 99)])),
            ('pause', self.path, encode(0x0010, prn_ops)),
            ('hold new jobs', self.path, encode(0x0025, prn_ops)),
            ('default', '/ipp/system', encode(0x62, sys_ops, [('integer', 'system-default-printer-id', pid)], 0x0A)),
            ('settings', '/ipp/system', encode(0x62, sys_ops, [('text', 'system-location', 'attacked')], 0x0A)),
            ('pause all', '/ipp/system', encode(0x5D, sys_ops)),
            ('shut down', '/ipp/system', encode(0x63, sys_ops)),
            ('cancel others\' job', self.path, encode(0x0008, prn_ops + [('integer', 'job-id',
                                                                           self.a.others_job or 1)])),
            ('delete', '/ipp/system', encode(0x4E, sys_ops + [('integer', 'printer-id', pid)])),
        ]

    def send_job(self, client, document=False):
        """A job (Print-Job with DOCUMENT, else a held Create-Job), then
        Get-Job-Attributes, on CLIENT's connection; the job id."""
        ops = base_attrs('printer-uri', self.printer) + [('name', 'job-name', 'attacker-job')]
        if document:
            request = encode(0x0002, ops + [('mime', 'document-format', 'image/pwg-raster')]), self.document
        else:
            request = encode(0x0005, ops + [('keyword', 'job-hold-until', 'indefinite')]), b''
        _, status, values = client.ipp(self.path, *request)
        job = values.get('job-id', 0)
        if status == 0 and job:
            client.ipp(self.path, encode(0x0009, base_attrs('printer-uri', self.printer) +
                                         [('integer', 'job-id', job)]))
        return job

    def run_ipp(self):
        for door in ('ipp', 'ipp-after-job'):
            for act, path, request in self.ipp_acts():
                client = Client(self.a.port)
                if door == 'ipp-after-job':
                    self.send_job(client)
                try:
                    http_status, status, _ = client.ipp(path, request)
                except (OSError, http.client.HTTPException) as e:
                    http_status, status = 0, str(e)
                if self.a.as_admin:
                    good = http_status == 200 and status in (0, 1, 2)
                else:
                    good = http_status in (401, 403) or status in (0x0401, 0x0403)
                self.report(door, act, good, 'HTTP %s, IPP 0x%04x' % (http_status, status if status != -1 else 0)
                            if isinstance(status, int) else 'error %s' % status)
                if self.a.as_admin:
                    return  # one real act proves the form; the rest would delete the printer

    # ------------------------------------------------------------ web acts
    def token(self, client):
        _, page = client.web('GET', self.web + '/')
        m = re.search(r'name="session" value="([^"]+)"', page)
        return m.group(1) if m else ''

    def run_web(self):
        session = self.token(Client(self.a.port))
        if not session:
            self.report('web', 'form field', False, 'no session field on the public page')
            return
        for door in ('web', 'web-after-job'):
            acts = [
                ('add', '/addprinter', {'printer_name': 'intruder', 'driver_name': 'tspl-203',
                                        'device_uri': 'socket://127.0.0.1:9'}),
                ('modify', self.web + '/config', {'printer_location': 'attacked'}),
                ('printing defaults', self.web + '/printing', {'print-darkness': '99'}),
                ('media', self.web + '/media', {'ready0-size': 'oe_4x6-label_4x6in'}),
                ('pause', self.web + '/', {'action': 'pause-printer'}),
                ('hold new jobs', self.web + '/', {'action': 'hold-new-jobs'}),
                ('default', self.web + '/', {'action': 'set-as-default'}),
                ('cancel all jobs', self.web + '/cancelall', {}),
                ('settings', '/config', {'location': 'attacked'}),
                ('delete', self.web + '/delete', {}),
            ]
            for act, path, fields in acts:
                # The app answers a page on a connection of its own; a job
                # sent first leaves PAPPL's job on this one.
                client = Client(self.a.port)
                if door == 'web-after-job':
                    self.send_job(client)
                try:
                    status, _ = client.web('POST', path, dict(fields, session=session))
                except (OSError, http.client.HTTPException) as e:
                    status = 'error %s' % e
                self.report(door, act, status in (401, 403), 'HTTP %s' % status)
            client = Client(self.a.port)
            for page in ('/config', '/addprinter', self.web + '/jobs', self.web + '/config'):
                client = Client(self.a.port)
                if door == 'web-after-job':
                    self.send_job(client)
                status, _ = client.web('GET', page)
                self.report(door, 'read ' + page, status in (401, 403), 'HTTP %s' % status)

        # Bad input: a form without its session field, an oversized one,
        # and a body that says it is longer than it is.
        for act, fields in (('no session field', {'action': 'set-as-default'}),
                            ('oversized field', {'action': 'set-as-default', 'session': session,
                                                 'x': 'A' * 4000000})):
            try:
                status, page = Client(self.a.port).web('POST', self.web + '/', fields)
                refused = status in (400, 401, 403, 413) or 'Invalid form' in page
            except (OSError, http.client.HTTPException) as e:
                status, refused = 'closed: %s' % e.__class__.__name__, True
            self.report('web', act, refused, 'HTTP %s' % status)
        raw = socket.create_connection(('localhost', self.a.port), 30)
        raw.sendall(b'POST %s/ HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\n'
                    b'Content-Length: 100000\r\n\r\naction=set-as-default' % self.web.encode())
        raw.shutdown(socket.SHUT_WR)
        answer = raw.recv(200).decode('latin-1').split('\r\n')[0]
        raw.close()
        # Whatever the answer, nothing may change and the app must live on
        # (the caller checks both).
        self.report('web', 'cut-off body', True, answer or 'closed')

    # ---------------------------------------------------------- local socket
    def run_socket(self):
        s = socket.socket(socket.AF_UNIX)
        try:
            s.connect(self.a.socket)
            self.report('local socket', 'connect', False, 'connected')
        except OSError as e:
            self.report('local socket', 'connect', True, 'refused: %s' % e.strerror)
        finally:
            s.close()

    # ----------------------------------------------- what a user may still do
    def run_user(self):
        client = Client(self.a.port)
        job = self.send_job(client, document=True)
        self.report('ipp', 'print', job > 0, 'job %d' % job)
        ops = base_attrs('printer-uri', self.printer)
        _, status, values = client.ipp(self.path, encode(0x0009, ops + [('integer', 'job-id', job)]))
        self.report('ipp', 'own job\'s state', status == 0, 'IPP 0x%04x, job-state %s' % (status,
                                                                                         values.get('job-state')))
        if self.a.others_job:
            _, status, _ = client.ipp(self.path, encode(0x0009, ops + [('integer', 'job-id', self.a.others_job)]))
            self.report('ipp', 'others\' job\'s state', status == 0, 'IPP 0x%04x' % status)
        hold = ops + [('name', 'job-name', 'to-cancel'), ('keyword', 'job-hold-until', 'indefinite')]
        _, status, values = client.ipp(self.path, encode(0x0005, hold))
        job = values.get('job-id', 0)
        _, status, _ = client.ipp(self.path, encode(0x0008, ops + [('integer', 'job-id', job)]))
        self.report('ipp', 'cancel own job', job > 0 and status == 0, 'job %d, IPP 0x%04x' % (job, status))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--port', type=int, required=True)
    p.add_argument('--printer', required=True)
    p.add_argument('--printer-id', type=int, required=True)
    p.add_argument('--document', required=True)
    p.add_argument('--socket', required=True)
    p.add_argument('--others-job', type=int, default=0)
    p.add_argument('--as-admin', action='store_true')
    a = Attack(p.parse_args())
    if a.a.as_admin:
        a.run_ipp()
    else:
        a.run_socket()
        a.run_ipp()
        a.run_web()
        a.run_user()
    return a.wrong


if __name__ == '__main__':
    sys.exit(main())
