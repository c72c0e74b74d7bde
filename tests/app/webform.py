#!/usr/bin/env python3
"""Reads and saves a form of the app's web interface the way a browser
does: all its fields with their current values, the session field included.

Usage: webform.py URL [--action ACTION] [--expect NAME=VALUE ...]
                  [--set NAME=VALUE ...]

--expect: the field's current value (the selected option, the checked
radio button, the input's value) must be VALUE.  --set: changes fields and
submits the form with every other field as the page shows it.  Exit status
0 when every expectation holds and the page answers the submission with
"Changes saved."; 1 otherwise.

--action: the form is the one whose hidden "action" field is ACTION (a
button such as "Print Test Page", action print-test-page); it is submitted
as it is, and the page must answer with its banner.
"""
import html.parser
import sys
import urllib.parse
import urllib.request


class Form(html.parser.HTMLParser):
    """The first form with a submit button that has a select or radio."""

    def __init__(self):
        super().__init__()
        self.forms = []
        self.current = None
        self.select = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == 'form':
            self.current = {'action': a.get('action', ''), 'fields': {}, 'choices': {}}
            self.forms.append(self.current)
        elif self.current is None:
            return
        elif tag == 'select':
            self.select = a.get('name')
            self.current['choices'][self.select] = []
        elif tag == 'option' and self.select:
            self.current['choices'][self.select].append(a.get('value'))
            if 'selected' in a or self.select not in self.current['fields']:
                self.current['fields'][self.select] = a.get('value')
        elif tag == 'input' and a.get('name'):
            kind = a.get('type', 'text')
            if kind in ('radio', 'checkbox'):
                if 'checked' in a:
                    self.current['fields'][a['name']] = a.get('value', 'on')
            elif kind != 'submit':
                self.current['fields'][a['name']] = a.get('value', '')

    def handle_endtag(self, tag):
        if tag == 'select':
            self.select = None
        elif tag == 'form':
            self.current = None


def read(url):
    with urllib.request.urlopen(url, timeout=30) as r:
        return r.read().decode('utf-8', 'replace')


def main():
    args = sys.argv[1:]
    if not args:
        sys.stderr.write(__doc__)
        return 2
    url, expects, sets, action = args[0], [], [], None
    i = 1
    while i < len(args):
        if args[i] == '--action' and i + 1 < len(args):
            action = args[i + 1]
            i += 2
        elif args[i] in ('--expect', '--set') and i + 1 < len(args):
            (expects if args[i] == '--expect' else sets).append(args[i + 1].split('=', 1))
            i += 2
        else:
            sys.stderr.write(__doc__)
            return 2
    parser = Form()
    parser.feed(read(url))
    if action:
        forms = [f for f in parser.forms if f['fields'].get('action') == action]
    else:
        forms = [f for f in parser.forms if f['choices']]
    if not forms:
        print('no such form on %s' % url)
        return 1
    form = forms[0]
    status = 0
    for name, value in expects:
        got = form['fields'].get(name)
        if got != value:
            print('%s is %r, not %r' % (name, got, value))
            status = 1
    if sets or action:
        fields = dict(form['fields'])
        for name, value in sets:
            fields[name] = value
        target = urllib.parse.urljoin(url, form['action'] or url)
        body = urllib.parse.urlencode(fields).encode()
        req = urllib.request.Request(target, data=body, method='POST')
        with urllib.request.urlopen(req, timeout=30) as r:
            page = r.read().decode('utf-8', 'replace')
        banner = 'Test page printed.' if action == 'print-test-page' else 'Changes saved.'
        if banner not in page:
            print('the page does not say "%s"' % banner)
            status = 1
    return status


if __name__ == '__main__':
    sys.exit(main())
