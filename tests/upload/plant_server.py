#!/usr/bin/env python3
"""A stand-in for the plant web server, for the browser pane test.

Binds a free loopback port and prints "PORT <n>". For every GET it prints
"GET <raw path>\t<decoded dta>" and answers with a small page that must not
be cached, so that every navigation reaches it. Exits when its standard input
closes, so it never outlives the test.
"""

import http.server
import os
import sys
import threading
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        query = urllib.parse.urlsplit(self.path).query
        dta = ""
        if query.startswith("dta="):
            dta = urllib.parse.unquote(query[len("dta="):])
        print(f"GET {self.path}\t{dta}", flush=True)
        body = b"<html><head><title>rare</title></head><body>ok</body></html>"
        try:
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            # The browser may drop a request it no longer needs (a favicon
            # of a page that has gone); that is no fault of the page.
            print(f"DROPPED {self.path}", file=sys.stderr, flush=True)

    def log_message(self, format, *args):
        pass


def exit_when_stdin_closes():
    sys.stdin.read()
    os._exit(0)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=exit_when_stdin_closes, daemon=True).start()
    print(f"PORT {server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
