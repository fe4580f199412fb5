"""Helpers shared by the plant simulator tests: running plant-sim and modbus-read, and a raw
RTU peer on a pty for checks at byte level."""

import os
import queue
import select
import signal
import subprocess
import termios
import threading
import time
import tty

SIM = None   # path of plant-sim, set by the test runner
READ = None  # path of modbus-read


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(payload):
    crc = crc16(payload)
    return bytes(payload) + bytes([crc & 0xFF, crc >> 8])


def read_request(slave, start, count):
    return with_crc(bytes([slave, 3, start >> 8, start & 0xFF, count >> 8, count & 0xFF]))


def static_value(slave, address):
    return (slave * 1000 + address) & 0xFFFF


def static_reply(slave, start, count):
    data = b"".join(static_value(slave, a).to_bytes(2, "big") for a in range(start, start + count))
    return with_crc(bytes([slave, 3, 2 * count]) + data)


def parse_counts(line):
    words = line.split()
    assert words[0] == "counts", line
    return {k: int(v) for k, v in (w.split("=") for w in words[1:])}


class Sim:
    """One plant-sim process in its own directory; always stopped by close()."""

    def __init__(self, workdir, *args, control=False, expect_ready=True):
        self.dir = workdir
        self.stderr_path = os.path.join(workdir, "sim.stderr")
        cmd = [SIM, "--dir", workdir, *args]
        if control:
            cmd.append("--stdin-control")
        self._stderr = open(self.stderr_path, "w")
        self.proc = subprocess.Popen(
            cmd,
            stdin=subprocess.PIPE if control else subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=self._stderr,
            text=True,
            bufsize=1,
        )
        self.lines = queue.Queue()
        self.seen = []
        self._reader = threading.Thread(target=self._read_stdout, daemon=True)
        self._reader.start()
        if expect_ready:
            words = self.expect("ready ", 10).split()
            self.com = words[1:3]

    def _read_stdout(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def expect(self, prefix, timeout=5.0):
        """Next stdout line starting with prefix; fails after timeout or at end of output."""
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no '{prefix}' line within {timeout}s; got {self.seen}")
            try:
                line = self.lines.get(timeout=remaining)
            except queue.Empty:
                continue
            if line is None:
                self.lines.put(None)
                raise AssertionError(f"plant-sim ended without '{prefix}'; got {self.seen}; "
                                     f"stderr: {self.stderr()}")
            self.seen.append(line)
            if line.startswith(prefix):
                return line

    def command(self, text, timeout=5.0):
        """Sends a control command; returns the 'ok'/'error ...' answer."""
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        deadline = time.monotonic() + timeout
        while True:
            line = self.expect("", max(0.01, deadline - time.monotonic()))
            if line == "ok" or line.startswith("error"):
                return line

    def counts(self):
        self.proc.stdin.write("counts\n")
        self.proc.stdin.flush()
        counts = parse_counts(self.expect("counts "))
        assert self.expect("") == "ok"
        return counts

    def stats(self):
        """The shared wire's figures (--bus), one dict per link."""
        self.proc.stdin.write("stats\n")
        self.proc.stdin.flush()
        links = [parse_counts(self.expect("stats ").replace("stats", "counts", 1))
                 for _ in range(2)]
        assert self.expect("") == "ok"
        return links

    def wait_counts(self, predicate, timeout=5.0):
        """Polls the counts until predicate(counts) holds; returns them."""
        deadline = time.monotonic() + timeout
        while True:
            counts = self.counts()
            if predicate(counts):
                return counts
            if time.monotonic() > deadline:
                raise AssertionError(f"counts never matched: {counts}")
            time.sleep(0.02)

    def stop(self, sig=signal.SIGTERM, timeout=5.0):
        """Signals plant-sim, waits for it and returns (exit code, counts)."""
        self.proc.send_signal(sig)
        rc = self.proc.wait(timeout=timeout)
        return rc, parse_counts(self.expect("counts ", timeout))

    def stderr(self):
        self._stderr.flush()
        with open(self.stderr_path) as f:
            return f.read()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=5)
        if self.proc.stdin:
            try:
                self.proc.stdin.close()
            except BrokenPipeError:
                pass
        self._reader.join(timeout=5)
        self.proc.stdout.close()
        self._stderr.close()


def modbus_read(device, slave, start, count, repeat=1, interval_ms=0, timeout_ms=None,
                extra=(), timeout=60):
    """Runs modbus-read; returns (exit code, [(status, elapsed_ms, values or message)])."""
    cmd = [READ, device, str(slave), str(start), str(count), "--repeat", str(repeat),
           "--interval-ms", str(interval_ms), *extra]
    if timeout_ms is not None:
        cmd += ["--timeout-ms", str(timeout_ms)]
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    results = []
    for line in r.stdout.splitlines():
        status, ms, *rest = line.split(" ")
        if status == "ok":
            results.append(("ok", float(ms), [int(v) for v in rest]))
        else:
            results.append(("error", float(ms), " ".join(rest)))
    return r.returncode, results


class RawPort:
    """The station's end of a link, opened like a serial port, for byte-level checks."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        termios.tcflush(self.fd, termios.TCIOFLUSH)

    def send(self, data):
        os.write(self.fd, data)

    def read_until(self, done, timeout=2.0):
        """Reads until done(bytes so far) is true or timeout passes; returns the bytes."""
        buf = b""
        deadline = time.monotonic() + timeout
        while not done(buf):
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                break
            ready, _, _ = select.select([self.fd], [], [], remaining)
            if ready:
                chunk = os.read(self.fd, 512)
                if not chunk:
                    break
                buf += chunk
        return buf

    def close(self):
        os.close(self.fd)
