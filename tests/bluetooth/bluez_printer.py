'''python3-dbusmock template: BlueZ (the bluez5 template) plus Bluetooth LE
printers with a printer service (the cat printers' AE30: AE01 write, AE02
notify, AE03 bulk; or Niimbot's).

org.bluez.Mock.AddLePrinter(adapter, address, name, options) adds one;
SetLePrinter(address, options) changes status or drop_after later. The
options (a{sv}):
  log          file that gets one line per packet taken: "C HEX" or "B HEX"
  acquire      AcquireWrite/AcquireNotify work (true) or are refused (false:
               WriteValue and StartNotify are left)
  mtu          what AcquireWrite reports (default 185)
  bulk         the device has AE03 too
  profile      'cat' (AE30, the default) or 'niimbot' (its own service with
               one characteristic that is written and notifies)
  tag          Niimbot: the roll's labels, 'WxL' in mm (its tag and label
               information are answered), or 'none' (no tag)
  drop_after   after this many packets the link drops (once)
  silent       Connect never answers
  status       the state byte it answers a state request with
  hidden       BlueZ knows it only once an adapter's scan has started
  paper_after  runs out of paper (state 1) once a lattice end (a page's
               last row) has gone by this many times
'''

import os
import socket
import threading
import time

import dbus
from dbusmock import mockobject
from dbusmock.templates import bluez5
from dbusmock.templates.bluez5 import *  # noqa: F401,F403 (the template's methods)

BUS_NAME = bluez5.BUS_NAME
MAIN_OBJ = bluez5.MAIN_OBJ
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

GATT_SERVICE = 'org.bluez.GattService1'
GATT_CHAR = 'org.bluez.GattCharacteristic1'
PROPS = 'org.freedesktop.DBus.Properties'


def load(mock, parameters):
    bluez5.load(mock, parameters)


def uuid(short):
    return f'0000{short}-0000-1000-8000-00805f9b34fb'


# A profile's service and its characteristics: UUID, packet tag (C control,
# B bulk, None not written) and flags.
PROFILES = {
    'cat': (uuid('ae30'), [(uuid('ae01'), 'C', ['write-without-response']), (uuid('ae02'), None, ['notify'])]),
    'niimbot': ('e7810a71-73ae-499d-8c15-faa9aef0c3f2',
                [('bef8d6c9-9c21-4c9e-b632-bd58c1009f9f', 'C', ['write-without-response', 'notify'])]),
}


def crc8(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc


def frame(cmd, payload):
    return bytes([0x51, 0x78, cmd, 0, len(payload), 0]) + bytes(payload) + bytes([crc8(payload), 0xFF])


def niimbot_packet(cmd, data):
    x = cmd ^ len(data)
    for b in data:
        x ^= b
    return bytes([0x55, 0x55, cmd, len(data)]) + bytes(data) + bytes([x, 0xAA, 0xAA])


def niimbot_roll(tag):
    """The tag (1B) and label information (69) replies for a roll of WxL mm
    labels at 203 dpi, 180 of 200 left; no tag: 1B with one byte."""
    if tag == 'none':
        return niimbot_packet(0x1B, [0]), None
    w, l = (int(v) for v in tag.split('x'))
    text = [len(b'QF1234')] + list(b'QF1234')
    reply = niimbot_packet(0x1B, [1, 2, 3, 4, 5, 6, 7, 8] + text + text + [0, 200, 0, 20, 1])
    dots = lambda mm: [(mm * 8) >> 8, (mm * 8) & 0xFF]  # noqa: E731
    info = niimbot_packet(0x69, [0, 24] + dots(l) + [1, 0, 0, 0, 0] + dots(w))
    return reply, info


class Printer:
    def __init__(self, device, chars, options):
        self.device = device
        self.chars = chars
        self.log = str(options.get('log', '/dev/null'))
        self.acquire = bool(options.get('acquire', True))
        self.mtu = int(options.get('mtu', 185))
        self.drop_after = int(options.get('drop_after', 0))
        self.status = int(options.get('status', 0))
        self.paper_after = int(options.get('paper_after', 0))
        self.tag = str(options.get('tag', ''))
        self.packets = 0
        self.tail = b''
        self.lock = threading.Lock()
        self.notify_sock = None
        self.socks = []

    def record(self, line):
        with open(self.log, 'a') as f:
            f.write(line + '\n')

    def notify(self, data):
        if self.notify_sock is not None:
            try:
                self.notify_sock.send(data)
            except OSError:
                pass
        else:
            self.chars['notify'].EmitSignal(PROPS, 'PropertiesChanged', 'sa{sv}as', [
                GATT_CHAR, {'Value': dbus.Array(data, signature='y', variant_level=1)}, []])

    def drop(self):
        for s in self.socks:
            try:
                s.shutdown(socket.SHUT_RDWR)
                s.close()
            except OSError:
                pass
        self.socks = []
        self.notify_sock = None
        self.device.props[bluez5.DEVICE_IFACE]['Connected'] = dbus.Boolean(False, variant_level=1)
        self.device.connected = False
        self.device.EmitSignal(PROPS, 'PropertiesChanged', 'sa{sv}as', [
            bluez5.DEVICE_IFACE, {'Connected': dbus.Boolean(False, variant_level=1)}, []])

    def take(self, tag, data):
        with self.lock:
            self.packets += 1
            n = self.packets
            self.record(tag + ' ' + bytes(data).hex())
            # Frames cut between packets are looked for with the last
            # packet's end in front.
            before = len(self.tail) if tag == 'C' else 0
            seen = self.tail + bytes(data) if tag == 'C' else b''
            self.tail = seen[-16:] if tag == 'C' else self.tail

        def sent(pattern):  # a frame start that reaches into this packet
            return seen.find(pattern, max(0, before - len(pattern) + 1)) >= 0
        if self.paper_after and sent(b'\x51\x78\xa6\x00\x0b\x00\xaa\x55\x17\x00'):
            self.paper_after -= 1
            if not self.paper_after:
                self.status = 1
        if self.tag and sent(b'\x55\x55\x1a\x01'):
            self.notify(niimbot_roll(self.tag)[0])
        if self.tag and niimbot_roll(self.tag)[1] and sent(b'\x55\x55\x59\x01'):
            self.notify(niimbot_roll(self.tag)[1])
        if sent(b'\x51\x78\xa3\x00'):
            self.notify(frame(0xA3, [self.status, 0, 0]))
        if sent(b'\x22\x21\xad\x00'):
            self.notify(b'\x22\x21' + frame(0xAA, [0])[2:])
        if self.drop_after and n == self.drop_after:
            self.drop_after = 0
            self.drop()

    def reader(self, sock, tag):
        while True:
            try:
                data = sock.recv(4096)
            except OSError:
                return
            if not data:
                return
            self.take(tag, data)

    def pair(self, tag):
        ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.socks.append(ours)
        if tag:
            threading.Thread(target=self.reader, args=(ours, tag), daemon=True).start()
        fd = dbus.types.UnixFd(theirs)
        theirs.close()
        return ours, fd


PRINTERS = {}


def refused(*_args):
    raise dbus.exceptions.DBusException('Not supported', name='org.bluez.Error.NotSupported')


HIDDEN = []


def start_discovery(adapter):
    bluez5.StartDiscovery(adapter)
    while HIDDEN:
        AddLePrinter(mockobject.objects['/'], *HIDDEN.pop())


@dbus.service.method(bluez5.BLUEZ_MOCK_IFACE, in_signature='sssa{sv}', out_signature='s')
def AddLePrinter(self, adapter, address, name, options):
    if options.get('hidden', False):
        HIDDEN.append((adapter, address, name, {k: v for k, v in options.items() if k != 'hidden'}))
        mockobject.objects['/org/bluez/' + adapter].AddMethods(bluez5.ADAPTER_IFACE, [
            ('StartDiscovery', '', '', start_discovery)])
        return ''
    path = bluez5.AddDevice(self, adapter, address, name)
    device = mockobject.objects[path]
    device.props[bluez5.DEVICE_IFACE]['ServicesResolved'] = dbus.Boolean(True, variant_level=1)
    service_uuid, characteristics = PROFILES[str(options.get('profile', 'cat'))]
    if options.get('bulk', False):
        characteristics = characteristics + [(uuid('ae03'), 'B', ['write-without-response'])]
    device.props[bluez5.DEVICE_IFACE]['UUIDs'] = dbus.Array([service_uuid], signature='s', variant_level=1)
    if options.get('silent', False):
        def never(_device):
            time.sleep(30)
        device.AddMethods(bluez5.DEVICE_IFACE, [('Connect', '', '', never)])
    service = path + '/service0010'
    self.AddObject(service, GATT_SERVICE, {
        'UUID': dbus.String(service_uuid, variant_level=1),
        'Device': dbus.ObjectPath(path, variant_level=1),
        'Primary': dbus.Boolean(True, variant_level=1),
    }, [])
    chars = {}
    printer = Printer(device, chars, options)
    PRINTERS[str(address)] = printer
    for i, (char_uuid, tag, flags) in enumerate(characteristics):
        cpath = f'{service}/char{0x11 + i:04x}'

        def acquire_write(_char, _opts, tag=tag):
            if not printer.acquire:
                refused()
            _ours, fd = printer.pair(tag)
            return (fd, dbus.UInt16(printer.mtu))

        def acquire_notify(_char, _opts):
            if not printer.acquire:
                refused()
            ours, fd = printer.pair(None)
            printer.notify_sock = ours
            return (fd, dbus.UInt16(printer.mtu))

        def write_value(_char, value, _opts, tag=tag):
            printer.take(tag, bytes(value))

        self.AddObject(cpath, GATT_CHAR, {
            'UUID': dbus.String(char_uuid, variant_level=1),
            'Service': dbus.ObjectPath(service, variant_level=1),
            'Flags': dbus.Array(flags, signature='s', variant_level=1),
        }, [
            ('AcquireWrite', 'a{sv}', 'hq', acquire_write),
            ('AcquireNotify', 'a{sv}', 'hq', acquire_notify),
            ('WriteValue', 'aya{sv}', '', write_value),
            ('StartNotify', '', '', ''),
            ('StopNotify', '', '', ''),
        ])
        if 'notify' in flags:
            chars['notify'] = mockobject.objects[cpath]
    return path


@dbus.service.method(bluez5.BLUEZ_MOCK_IFACE, in_signature='sa{sv}', out_signature='')
def SetLePrinter(self, address, options):
    printer = PRINTERS[str(address)]
    if 'status' in options:
        printer.status = int(options['status'])
    if 'paper_after' in options:
        printer.paper_after = int(options['paper_after'])
    if 'drop_after' in options:
        printer.drop_after = printer.packets + int(options['drop_after'])
