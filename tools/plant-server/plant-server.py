#!/usr/bin/env python3
"""Stand-in for the plant's master-data web server.

Answers GET /telvaro/rtu/masterdata/rare.php?dta=<line> with a small HTML page showing the
line received (percent-decoded; '+' is kept as is), when it arrived and the last ten lines.
Any other path gets 404. Prints "listening <port>" once bound; with --echo it also prints
"GET <path>\t<decoded dta>" for every request, so that a test can follow what arrived.
"""

import argparse
import collections
import datetime
import html
import http.server
import signal
import sys
import threading
import urllib.parse

ENDPOINT = "/telvaro/rtu/masterdata/rare.php"
HISTORY = 10


class State:
    def __init__(self, log_path):
        self.lock = threading.Lock()
        self.lines = collections.deque(maxlen=HISTORY)
        self.log = open(log_path, "a", encoding="utf-8") if log_path else None

    def add(self, line):
        stamp = datetime.datetime.now().astimezone().isoformat(timespec="milliseconds")
        with self.lock:
            self.lines.append((stamp, line))
            if self.log:
                self.log.write(f"{stamp} {line}\n")
                self.log.flush()
            return stamp, list(self.lines)

    def close(self):
        if self.log:
            self.log.close()


def dta_value(query):
    """The dta parameter exactly as sent, percent-decoded, or None."""
    for part in query.split("&"):
        name, sep, value = part.partition("=")
        if name == "dta" and sep:
            return urllib.parse.unquote(value, errors="replace")
    return None


def make_handler(state, echo):
    class Handler(http.server.BaseHTTPRequestHandler):
        server_version = "plant-server/1.0"
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            path, _, query = self.path.partition("?")
            if echo:
                # One write per line: print() from two handler threads can interleave a line
                # with its own line break.
                with state.lock:
                    sys.stdout.write(f"GET {self.path}\t{dta_value(query) or ''}\n")
                    sys.stdout.flush()
            if path != ENDPOINT:
                self.reply(404, "<html><body><h1>404 Not Found</h1></body></html>")
                return
            line = dta_value(query)
            if line is None:
                self.reply(400, "<html><body><h1>400 missing dta</h1></body></html>")
                return
            stamp, lines = state.add(line)
            rows = "\n".join(
                f"<li><span class=\"time\">{html.escape(t)}</span> "
                f"<code>{html.escape(l)}</code></li>"
                for t, l in reversed(lines)
            )
            body = (
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                "<title>rare.php</title></head><body>\n"
                f"<h1>Received</h1>\n<p id=\"received\"><code>{html.escape(line)}</code></p>\n"
                f"<p id=\"time\">{html.escape(stamp)}</p>\n"
                f"<h2>Last {HISTORY} lines</h2>\n<ol id=\"history\">\n{rows}\n</ol>\n"
                "</body></html>\n"
            )
            self.reply(200, body)

        def reply(self, status, body):
            data = body.encode("utf-8")
            self.send_response(status)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            # Every upload is a new line: never let a browser answer it from its cache.
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            try:
                self.wfile.write(data)
            except (BrokenPipeError, ConnectionResetError):
                pass  # the browser dropped a request it no longer wanted

        def log_message(self, fmt, *args):
            pass

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="TCP port on 127.0.0.1, 0 = any free")
    parser.add_argument("--log", help="append each received line with a timestamp")
    parser.add_argument("--echo", action="store_true", help="print every request on stdout")
    parser.add_argument("--exit-on-eof", action="store_true",
                        help="leave when standard input closes, so a test's server never outlives it")
    args = parser.parse_args()

    state = State(args.log)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(state, args.echo))
    server.daemon_threads = True
    stop = threading.Event()

    def on_signal(_signum, _frame):
        stop.set()

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    if args.exit_on_eof:
        threading.Thread(target=lambda: (sys.stdin.read(), stop.set()), daemon=True).start()

    worker = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1})
    worker.start()
    print(f"listening {server.server_address[1]}", flush=True)
    try:
        while not stop.wait(1.0):
            pass
    finally:
        server.shutdown()
        worker.join()
        server.server_close()
        state.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
