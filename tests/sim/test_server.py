#!/usr/bin/env python3
"""plant-server: the rare.php endpoint, its page, its log, 404s and a clean shutdown.

usage: test_server.py --server PATH/plant-server.py [unittest options]
"""

import argparse
import os
import queue
import re
import signal
import subprocess
import sys
import tempfile
import threading
import unittest
import urllib.error
import urllib.request

SERVER = None
ENDPOINT = "/telvaro/rtu/masterdata/rare.php"


class Server:
    def __init__(self, *args):
        self.proc = subprocess.Popen([sys.executable, SERVER, "--port", "0", *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        try:
            line = self.lines.get(timeout=15)
        except queue.Empty:
            line = None
        if not line or not line.startswith("listening "):
            self.close()
            raise AssertionError(f"plant-server did not start: {line!r} {self.proc.stderr.read()}")
        self.port = int(line.split()[1])

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())

    def get(self, path_and_query):
        url = f"http://127.0.0.1:{self.port}{path_and_query}"
        try:
            with urllib.request.urlopen(url, timeout=5) as r:
                return r.status, r.headers.get("Content-Type"), r.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Content-Type"), e.read().decode()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=5)
        self.proc.stdout.close()
        self.proc.stderr.close()


class PlantServerTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="plant-server-test-")
        self.addCleanup(tmp.cleanup)
        self.log = os.path.join(tmp.name, "received.log")
        self.server = Server("--log", self.log)
        self.addCleanup(self.server.close)

    def test_line_is_shown_decoded_and_logged(self):
        status, ctype, page = self.server.get(
            ENDPOINT + "?dta=2%3B1139%3B3139%20%3Cok%3E%26more+x&other=1")
        self.assertEqual(status, 200)
        self.assertTrue(ctype.startswith("text/html"))
        # Percent-decoded, '+' kept, HTML-escaped on the page.
        self.assertIn('<p id="received"><code>2;1139;3139 &lt;ok&gt;&amp;more+x</code></p>', page)
        self.assertRegex(page, r'<p id="time">\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d')
        with open(self.log) as f:
            logged = f.read().splitlines()
        self.assertEqual(len(logged), 1)
        self.assertRegex(logged[0], r"^\d{4}-\d\d-\d\dT\S+ 2;1139;3139 <ok>&more\+x$")

    def test_page_lists_the_last_ten_lines(self):
        for i in range(12):
            status, _, page = self.server.get(f"{ENDPOINT}?dta=line{i:02d}")
            self.assertEqual(status, 200)
        history = re.search(r'<ol id="history">(.*?)</ol>', page, re.S).group(1)
        shown = re.findall(r"<code>(line\d\d)</code>", history)
        self.assertEqual(shown, [f"line{i:02d}" for i in range(11, 1, -1)])
        with open(self.log) as f:
            self.assertEqual(len(f.read().splitlines()), 12)

    def test_other_requests_are_refused(self):
        for path, code in (("/", 404), ("/telvaro/rtu/masterdata/other.php?dta=x", 404),
                           (ENDPOINT.upper() + "?dta=x", 404), (ENDPOINT, 400),
                           (ENDPOINT + "?data=x", 400)):
            with self.subTest(path=path):
                self.assertEqual(self.server.get(path)[0], code)
        with open(self.log) as f:
            self.assertEqual(f.read(), "")

    def test_signals_stop_it_cleanly(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(sig=sig.name):
                server = Server()
                self.addCleanup(server.close)
                self.assertEqual(server.get(ENDPOINT + "?dta=x")[0], 200)
                server.proc.send_signal(sig)
                self.assertEqual(server.proc.wait(timeout=10), 0)
                with self.assertRaises(urllib.error.URLError):
                    urllib.request.urlopen(f"http://127.0.0.1:{server.port}/", timeout=2)


def main():
    global SERVER
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    args, rest = parser.parse_known_args()
    SERVER = os.path.abspath(args.server)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
