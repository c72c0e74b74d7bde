#!/usr/bin/env python3
"""The app's web interface in a real browser: headless Chromium driven
through chromedriver's WebDriver HTTP interface.

    browser.py --web URL --chromedriver FILE --chromium FILE --out DIR
               --shots DIR --profile DIR [--listen PORT]

With a quillfeed-app already serving URL, and a printer listener on port
PORT (9100) of a loopback address of its own (this script runs it), the
browser:
  1. adds a tspl-203 printer on the "Network Printer" device at the
     listener's address;
  2. sets its media to 50 x 30 mm on the media page and its darkness (80 %)
     and dithering (Floyd-Steinberg) on the printing defaults page, and
     reads all three back from freshly loaded pages;
  3. presses "Print Test Page".
The listener keeps each connection's bytes in DIR/conn-N.bin; the caller
decodes them.  A screenshot of every step goes to the shots directory.
Prints one "ok: ..." line per step; exit status 0 when all passed.
"""
import argparse
import base64
import json
import os
import random
import socket
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request

ELEMENT = 'element-6066-11e4-a52e-4f735466cecf'


class Listener(threading.Thread):
    """A printer's raw port: every connection's bytes into one file."""

    def __init__(self, port, out):
        super().__init__(daemon=True)
        # The web form takes an address without a port (PAPPL uses 9100),
        # so the listener takes port 9100 on a loopback address of its own.
        for attempt in range(50):
            self.address = '127.%d.%d.%d' % (random.randint(1, 254), random.randint(0, 254), random.randint(1, 254))
            self.sock = socket.socket()
            try:
                self.sock.bind((self.address, port))
                break
            except OSError:
                self.sock.close()
                if attempt == 49:
                    raise
        self.sock.listen(4)
        self.out = out
        self.count = 0

    def run(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.count += 1
            path = os.path.join(self.out, 'conn-%d.bin' % self.count)
            with conn, open(path + '.part', 'wb') as f:
                while True:
                    data = conn.recv(65536)
                    if not data:
                        break
                    f.write(data)
            os.rename(path + '.part', path)


class Browser:
    def __init__(self, driver_url, chromium, profile):
        self.url = driver_url
        caps = {'capabilities': {'alwaysMatch': {
            'browserName': 'chrome',
            'goog:chromeOptions': {
                'binary': chromium,
                'args': ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                         '--disable-background-networking', '--disable-component-update', '--disable-sync',
                         '--window-size=1100,1400', '--user-data-dir=' + profile],
            }}}}
        self.session = self.call('POST', '/session', caps)['sessionId']

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(self.url + path, data=data, method=method,
                                     headers={'Content-Type': 'application/json'})
        with urllib.request.urlopen(req, timeout=60) as r:
            return json.loads(r.read().decode())['value']

    def s(self, method, path, body=None):
        data = json.dumps(body if body is not None else {}).encode() if method == 'POST' else None
        req = urllib.request.Request('%s/session/%s%s' % (self.url, self.session, path), data=data, method=method,
                                     headers={'Content-Type': 'application/json'})
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return json.loads(r.read().decode())['value']
        except urllib.error.HTTPError as e:
            raise RuntimeError('%s %s: %s' % (method, path, e.read().decode()[:300]))

    def go(self, url):
        self.s('POST', '/url', {'url': url})

    def find(self, css):
        return self.s('POST', '/element', {'using': 'css selector', 'value': css})[ELEMENT]

    def click(self, css):
        e = self.find(css)
        self.js('arguments[0].scrollIntoView({block: "center"});', {ELEMENT: e})
        self.s('POST', '/element/%s/click' % e)

    def type(self, css, text):
        e = self.find(css)
        self.s('POST', '/element/%s/clear' % e)
        self.s('POST', '/element/%s/value' % e, {'text': text})

    def js(self, script, *args):
        return self.s('POST', '/execute/sync', {'script': script, 'args': list(args)})

    def value(self, name):
        return self.js('var e = document.getElementsByName(arguments[0])[0]; return e ? e.value : null;', name)

    def text(self):
        return self.js('return document.body.innerText;')

    def shot(self, path):
        with open(path, 'wb') as f:
            f.write(base64.b64decode(self.s('GET', '/screenshot')))

    def close(self):
        try:
            self.s('DELETE', '')
        except Exception:
            pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--web', required=True)
    ap.add_argument('--chromedriver', required=True)
    ap.add_argument('--chromium', required=True)
    ap.add_argument('--listen', type=int, default=9100)
    ap.add_argument('--out', required=True)
    ap.add_argument('--shots', required=True)
    ap.add_argument('--profile', required=True)
    a = ap.parse_args()
    os.makedirs(a.shots, exist_ok=True)

    listener = Listener(a.listen, a.out)
    listener.start()
    s = socket.socket()
    s.bind(('127.0.0.1', 0))
    dport = s.getsockname()[1]
    s.close()
    driver = subprocess.Popen([a.chromedriver, '--port=%d' % dport], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    failures = 0
    browser = None

    def check(cond, what):
        nonlocal failures
        print(('ok: ' if cond else 'FAIL: ') + what)
        sys.stdout.flush()
        if not cond:
            failures += 1

    try:
        for _ in range(100):
            try:
                urllib.request.urlopen('http://127.0.0.1:%d/status' % dport, timeout=1)
                break
            except Exception:
                time.sleep(0.1)
        browser = Browser('http://127.0.0.1:%d' % dport, a.chromium, a.profile)
        b = browser
        name = 'browser-label'

        # 1. Add the printer on the listener's address.
        b.go(a.web + '/addprinter')
        b.type('input[name=printer_name]', name)
        b.click('select[name=device_uri] option[value=socket]')
        b.type('input[name=hostname]', listener.address)
        b.click('select[name=driver_name] option[value="tspl-203"]')
        b.shot(os.path.join(a.shots, '1-add-printer.png'))
        b.click('input[type=submit]')
        time.sleep(0.5)
        b.shot(os.path.join(a.shots, '2-printer.png'))
        b.go(a.web + '/' + name)
        check('Print Test Page' in (b.js('return document.body.innerHTML;') or ''),
              'printer added in the browser (its page offers "Print Test Page")')

        # 2. Media, darkness and dithering, saved and read back.
        b.go(a.web + '/' + name + '/media')
        b.click('select[name=ready0-size] option[value="om_50x30mm_50x30mm"]')
        b.click('input[type=submit]')
        b.go(a.web + '/' + name + '/media')
        b.shot(os.path.join(a.shots, '3-media.png'))
        media = b.value('ready0-size')
        check(media == 'om_50x30mm_50x30mm', 'media reads back as %s' % media)

        b.go(a.web + '/' + name + '/printing')
        b.click('select[name=print-darkness] option[value="80"]')
        b.click('select[name=dithering] option[value="1"]')
        b.shot(os.path.join(a.shots, '4-defaults-set.png'))
        b.click('input[type=submit][value="Save Changes"]')
        b.go(a.web + '/' + name + '/printing')
        b.shot(os.path.join(a.shots, '5-defaults-read-back.png'))
        darkness, dithering = b.value('print-darkness'), b.value('dithering')
        words = b.js('var e = document.getElementsByName("dithering")[0];'
                     'return e.options[e.selectedIndex].text;')
        check(darkness == '80' and dithering == '1',
              'darkness %s %% and dithering %s ("%s") read back' % (darkness, dithering, words))
        page = b.text()
        check('50 x 30 mm' in page, 'the defaults page names the media in millimetres')

        # 3. The test page.
        b.go(a.web + '/' + name)
        b.click('input[type=submit][value="Print Test Page"]')
        time.sleep(0.3)
        b.shot(os.path.join(a.shots, '6-test-page.png'))
        for _ in range(150):
            if listener.count and os.path.exists(os.path.join(a.out, 'conn-%d.bin' % listener.count)):
                break
            time.sleep(0.1)
        check(listener.count > 0 and os.path.exists(os.path.join(a.out, 'conn-1.bin')),
              'the listener got the test page job (%d connection(s))' % listener.count)
        b.go(a.web + '/' + name)
        time.sleep(0.2)
        b.shot(os.path.join(a.shots, '7-after-test-page.png'))
    except Exception as e:
        check(False, 'browser step failed: %s' % e)
    finally:
        if browser:
            browser.close()
        driver.terminate()
        try:
            driver.wait(10)
        except subprocess.TimeoutExpired:
            driver.kill()
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
