#!/usr/bin/env python3
"""A plant web server that answers every GET with one very large HTML page.

For benchmarks only: the page streams in chunks, so that the station's browser pane spends a
long time loading it while the scan goes on. Prints "listening <port>" once bound.
"""

import argparse
import http.server

ROW = b"<p>" + b"1142, 523,,,,,,,,, " * 20 + b"</p>\n"


def make_handler(total_bytes):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            rows = total_bytes // len(ROW)
            head = b"<!DOCTYPE html>\n<html><head><title>big</title></head><body>\n"
            tail = b"</body></html>\n"
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(head) + rows * len(ROW) + len(tail)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            chunk = ROW * 256
            try:
                self.wfile.write(head)
                for _ in range(rows // 256):
                    self.wfile.write(chunk)
                self.wfile.write(ROW * (rows % 256))
                self.wfile.write(tail)
            except (BrokenPipeError, ConnectionResetError):
                pass

        def log_message(self, fmt, *args):
            pass

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="TCP port on 127.0.0.1, 0 = any free")
    parser.add_argument("--megabytes", type=int, default=200, help="size of the page")
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", args.port), make_handler(args.megabytes * 1024 * 1024))
    server.daemon_threads = True
    print(f"listening {server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
