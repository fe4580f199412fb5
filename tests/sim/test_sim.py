#!/usr/bin/env python3
"""plant-sim as seen by an independent libmodbus master (modbus-read) and by a raw RTU peer.

usage: test_sim.py --sim PATH/plant-sim --read PATH/modbus-read [unittest options]
"""

import argparse
import os
import select
import signal
import stat
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simharness as h  # noqa: E402

BLOCK = (1139, 12)  # the engine block the station polls
TIMEOUT = "Connection timed out"


class SimTestCase(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="plant-sim-test-")
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def start(self, *args, control=False, subdir=None):
        workdir = self.dir
        if subdir:
            workdir = os.path.join(self.dir, subdir)
            os.mkdir(workdir)
        sim = h.Sim(workdir, *args, control=control)
        self.addCleanup(sim.close)
        return sim

    def raw(self, path):
        port = h.RawPort(path)
        self.addCleanup(port.close)
        return port

    def assert_static(self, result, slave, start, count):
        status, _, values = result
        self.assertEqual(status, "ok", values)
        self.assertEqual(values, [h.static_value(slave, a) for a in range(start, start + count)])


class AddressingTest(SimTestCase):
    def test_served_slaves_answer_with_static_values(self):
        sim = self.start("--static")
        self.assertEqual(sim.com, [os.path.join(self.dir, "COM5"), os.path.join(self.dir, "COM10")])
        for link, slaves in ((0, (2, 60, 5, 6)), (1, (9, 10))):
            for slave in slaves:
                with self.subTest(link=link, slave=slave):
                    rc, res = h.modbus_read(sim.com[link], slave, *BLOCK)
                    self.assertEqual(rc, 0, res)
                    self.assert_static(res[0], slave, *BLOCK)
        # The exact example the station's tests rely on.
        _, res = h.modbus_read(sim.com[0], 2, *BLOCK)
        self.assertEqual(res[0][2], list(range(3139, 3151)))
        with self.subTest("any register, wrapping to 16 bits"):
            _, res = h.modbus_read(sim.com[0], 60, 65530, 6)
            self.assertEqual(res[0][2], [(60000 + a) & 0xFFFF for a in range(65530, 65536)])
            _, res = h.modbus_read(sim.com[0], 6, 0, 125)
            self.assert_static(res[0], 6, 0, 125)
        rc, counts = sim.stop()
        self.assertEqual(rc, 0)
        self.assertEqual(counts["requests"], 9)
        self.assertEqual(counts["replies"], 9)

    def test_unknown_and_foreign_slaves_time_out(self):
        sim = self.start("--static")
        for device, slave in ((sim.com[0], 3), (sim.com[0], 9), (sim.com[1], 2), (sim.com[0], 0)):
            with self.subTest(device=device, slave=slave):
                # Slave 0 is the broadcast address: nobody answers a broadcast read.
                rc, res = h.modbus_read(device, slave, *BLOCK, timeout_ms=300)
                self.assertEqual(rc, 1)
                self.assertEqual(res[0][0], "error")
                self.assertEqual(res[0][2], TIMEOUT)
                self.assertGreaterEqual(res[0][1], 290)
        _, counts = sim.stop()
        self.assertEqual(counts["ignored"], 4)
        self.assertEqual(counts["requests"], 0)
        self.assertEqual(counts["replies"], 0)

    def test_read_beyond_the_map_is_an_exception_from_libmodbus(self):
        sim = self.start("--static")
        _, res = h.modbus_read(sim.com[0], 2, 65530, 10)
        self.assertEqual(res[0][:1] + res[0][2:], ("error", "Illegal data address"))
        _, counts = sim.stop()
        self.assertEqual((counts["requests"], counts["replies"], counts["exception"]), (1, 1, 0))


class FaultTest(SimTestCase):
    """Each fault on every request, as a libmodbus master reports it."""

    def test_silent(self):
        sim = self.start("--static", "--silent", "every:1")
        rc, res = h.modbus_read(sim.com[1], 9, *BLOCK, repeat=2, timeout_ms=300)
        self.assertEqual(rc, 1)
        self.assertEqual([r[2] for r in res], [TIMEOUT, TIMEOUT])
        _, counts = sim.stop()
        self.assertEqual((counts["requests"], counts["silent"], counts["replies"]), (2, 2, 0))

    def test_exception(self):
        for code, message in ((None, "Illegal data address"),
                              ("4", "Slave device or server failure"),
                              ("6", "Slave device or server is busy")):
            with self.subTest(code=code):
                args = ["--static", "--exception", "every:1"]
                if code:
                    args += ["--exception-code", code]
                sim = self.start(*args, subdir=f"code{code}")
                rc, res = h.modbus_read(sim.com[0], 5, *BLOCK)
                self.assertEqual(rc, 1)
                self.assertEqual(res[0][2], message)
                _, counts = sim.stop()
                self.assertEqual((counts["exception"], counts["replies"]), (1, 1))

    def test_corrupt(self):
        sim = self.start("--static", "--corrupt", "every:1")
        rc, res = h.modbus_read(sim.com[0], 2, *BLOCK, repeat=3)
        self.assertEqual(rc, 1)
        self.assertEqual([r[2] for r in res], ["Invalid CRC"] * 3)
        _, counts = sim.stop()
        self.assertEqual((counts["corrupt"], counts["replies"]), (3, 3))

    def test_garbage(self):
        for mode in ("before", "instead"):
            with self.subTest(mode=mode):
                sim = self.start("--static", "--garbage", "every:1", "--garbage-mode", mode,
                                 subdir=mode)
                rc, res = h.modbus_read(sim.com[0], 2, *BLOCK, repeat=5, timeout_ms=300)
                self.assertEqual(rc, 1)
                self.assertEqual([r[0] for r in res], ["error"] * 5, res)
                _, counts = sim.stop()
                self.assertEqual(counts["garbage"], 5)
                self.assertEqual(counts["replies"], 5 if mode == "before" else 0)

    def test_late_reply_times_out_and_next_read_is_clean(self):
        sim = self.start("--static", "--late", "every:2", control=True)
        # 2nd and 4th requests are answered after 600 ms, past the 500 ms time-out.
        rc, res = h.modbus_read(sim.com[0], 60, *BLOCK, repeat=4, interval_ms=200)
        self.assertEqual(rc, 1)
        self.assertEqual([r[0] for r in res], ["ok", "error", "ok", "error"], res)
        self.assert_static(res[0], 60, *BLOCK)
        self.assert_static(res[2], 60, *BLOCK)
        self.assertEqual(res[1][2], TIMEOUT)
        # The last late reply goes out after modbus-read has given up on it.
        counts = sim.wait_counts(lambda c: c["replies"] == 4)
        self.assertEqual((counts["requests"], counts["late"]), (4, 2))

    def test_late_reply_is_a_valid_reply_for_a_patient_master(self):
        sim = self.start("--static", "--late", "every:1", "--late-ms", "300")
        rc, res = h.modbus_read(sim.com[1], 10, *BLOCK, timeout_ms=2000)
        self.assertEqual(rc, 0, res)
        self.assert_static(res[0], 10, *BLOCK)
        self.assertGreaterEqual(res[0][1], 300)

    def test_faults_only_hit_served_slaves(self):
        sim = self.start("--static", "--silent", "every:1")
        h.modbus_read(sim.com[0], 3, *BLOCK, timeout_ms=200)
        _, counts = sim.stop()
        self.assertEqual((counts["ignored"], counts["requests"], counts["silent"]), (1, 0, 0))

    def test_schedules_combine_in_documented_order(self):
        # silent every 3rd, exception every 2nd: silent wins on the 6th.
        sim = self.start("--static", "--silent", "every:3", "--exception", "every:2")
        _, res = h.modbus_read(sim.com[0], 2, *BLOCK, repeat=6, timeout_ms=200)
        self.assertEqual([r[0] if r[0] == "ok" else r[2] for r in res],
                         ["ok", "Illegal data address", TIMEOUT, "Illegal data address", "ok",
                          TIMEOUT])
        _, counts = sim.stop()
        self.assertEqual((counts["silent"], counts["exception"], counts["replies"]), (2, 2, 4))

    def test_rates_follow_the_seed_and_match_the_counts(self):
        def pattern(seed, subdir):
            sim = self.start("--static", "--exception", "0.3", "--seed", seed, subdir=subdir)
            _, res = h.modbus_read(sim.com[0], 2, 1139, 1, repeat=80)
            _, counts = sim.stop()
            self.assertEqual(len(res), 80)
            errors = [r[0] == "error" for r in res]
            self.assertEqual(sum(errors), counts["exception"])
            self.assertTrue(all(r[2] == "Illegal data address" for r in res if r[0] == "error"))
            return errors

        first = pattern("42", "a")
        self.assertTrue(8 <= sum(first) <= 45, sum(first))
        self.assertEqual(pattern("42", "b"), first)
        self.assertNotEqual(pattern("43", "c"), first)


class WireTest(SimTestCase):
    """The bytes on the line, checked without libmodbus."""

    def test_corrupt_changes_one_data_byte_and_keeps_the_original_crc(self):
        sim = self.start("--static", "--corrupt", "every:1", "--seed", "5")
        port = self.raw(sim.com[0])
        expected = h.static_reply(2, *BLOCK)
        for _ in range(20):
            port.send(h.read_request(2, *BLOCK))
            got = port.read_until(lambda b: len(b) >= len(expected))
            self.assertEqual(len(got), len(expected))
            diff = [i for i in range(len(got)) if got[i] != expected[i]]
            self.assertEqual(len(diff), 1, got.hex())
            self.assertTrue(3 <= diff[0] < len(expected) - 2, diff)
            self.assertEqual(got[-2:], expected[-2:])
            self.assertNotEqual(h.with_crc(got[:-2]), got)

    def test_exception_frame(self):
        sim = self.start("--static", "--exception", "every:1", "--exception-code", "3")
        port = self.raw(sim.com[1])
        port.send(h.read_request(9, *BLOCK))
        self.assertEqual(port.read_until(lambda b: len(b) >= 5), h.with_crc(bytes([9, 0x83, 3])))

    def test_input_registers_answer_function_4(self):
        sim = self.start("--static")
        port = self.raw(sim.com[0])
        port.send(h.with_crc(bytes([2, 4, 0, 30, 0, 2])))
        values = [(2 * 1000 + a + 30000) & 0xFFFF for a in (30, 31)]
        payload = bytes([2, 4, 4]) + b"".join(v.to_bytes(2, "big") for v in values)
        self.assertEqual(port.read_until(lambda b: len(b) >= 9), h.with_crc(payload))

    def test_garbage_before_precedes_a_valid_reply(self):
        sim = self.start("--static", "--garbage", "every:1", "--seed", "9")
        port = self.raw(sim.com[0])
        expected = h.static_reply(6, *BLOCK)
        lengths = set()
        for _ in range(20):
            port.send(h.read_request(6, *BLOCK))
            got = port.read_until(lambda b: b.endswith(expected))
            self.assertTrue(got.endswith(expected), got.hex())
            burst = len(got) - len(expected)
            self.assertTrue(1 <= burst <= 40, burst)
            lengths.add(burst)
        self.assertGreater(len(lengths), 3)

    def test_garbage_instead_replaces_the_reply(self):
        sim = self.start("--static", "--garbage", "every:1", "--garbage-mode", "instead")
        port = self.raw(sim.com[0])
        expected = h.static_reply(6, *BLOCK)
        for _ in range(5):
            port.send(h.read_request(6, *BLOCK))
            got = port.read_until(lambda b: len(b) > 0)
            # The burst is written in one go; anything after it would be the reply.
            got += port.read_until(lambda b: False, timeout=0.1)
            self.assertTrue(1 <= len(got) <= 40, got.hex())
            self.assertNotIn(expected, got)

    def test_late_reply_does_not_hold_up_the_other_link(self):
        sim = self.start("--static", "--late", "every:1", "--late-ms", "400")
        ports = [self.raw(sim.com[0]), self.raw(sim.com[1])]
        expected = [h.static_reply(2, *BLOCK), h.static_reply(9, *BLOCK)]
        t0 = time.monotonic()
        ports[0].send(h.read_request(2, *BLOCK))
        ports[1].send(h.read_request(9, *BLOCK))
        arrived = [None, None]
        data = [b"", b""]
        deadline = t0 + 3
        while None in arrived and time.monotonic() < deadline:
            ready, _, _ = select.select([p.fd for p in ports], [], [], 0.1)
            for i, p in enumerate(ports):
                if p.fd in ready:
                    data[i] += os.read(p.fd, 512)
                    if data[i] == expected[i]:
                        arrived[i] = time.monotonic() - t0
        self.assertEqual(data, expected)
        # Served one after the other, the second reply would come after 800 ms.
        for t in arrived:
            self.assertGreaterEqual(t, 0.39)
            self.assertLess(t, 0.7)

    def test_wire_speed_pacing(self):
        # 8 request + 29 reply characters at 260.4 us, plus the turnaround.
        for args, floor_ms in ((("--wire-speed",), 37 * 0.2604 + 5),
                               (("--wire-speed", "--turnaround-ms", "30"), 37 * 0.2604 + 30)):
            with self.subTest(args=args):
                sim = self.start("--static", *args, subdir=args[-1].strip("-"))
                _, res = h.modbus_read(sim.com[0], 2, *BLOCK, repeat=5)
                self.assertEqual([r[0] for r in res], ["ok"] * 5)
                self.assertGreaterEqual(min(r[1] for r in res), floor_ms)
        with self.subTest("at once without --wire-speed"):
            sim = self.start("--static", subdir="fast")
            _, res = h.modbus_read(sim.com[0], 2, *BLOCK, repeat=5)
            self.assertLess(min(r[1] for r in res), 37 * 0.2604 + 5)

    def test_bad_requests_are_dropped_and_the_link_recovers(self):
        sim = self.start("--static", control=True)
        port = self.raw(sim.com[0])
        good = h.read_request(2, *BLOCK)
        expected = h.static_reply(2, *BLOCK)
        bad_crc = good[:-1] + bytes([good[-1] ^ 0xFF])
        port.send(bad_crc)
        sim.wait_counts(lambda c: c["bad"] == 1)
        port.send(good[:3])  # an incomplete frame, discarded after the inter-frame gap
        sim.wait_counts(lambda c: c["bad"] == 2)
        port.send(good)
        self.assertEqual(port.read_until(lambda b: len(b) >= len(expected)), expected)
        counts = sim.counts()
        self.assertEqual((counts["requests"], counts["replies"]), (1, 1))


class BusTest(SimTestCase):
    """--bus: each link is one wire; slaves find frames by 1.75 ms of silence (38400 baud)."""

    def pieces(self, port, length, timeout=1.0):
        """Reads until length bytes came; returns [(arrival s, bytes)] as the reads gave them."""
        got, deadline = [], time.monotonic() + timeout
        while sum(len(p) for _, p in got) < length and time.monotonic() < deadline:
            ready, _, _ = select.select([port.fd], [], [], 0.05)
            if ready:
                got.append((time.monotonic(), os.read(port.fd, 512)))
        return got

    def test_request_after_a_reply_needs_the_silence(self):
        # (baud, pause after the reply arrived, answered). At 1200 baud the gap is 29 ms, wide
        # enough that a request sent at once falls into it even on a loaded machine.
        for baud, pause_ms, answered in ((1200, 0, False), (1200, 40, True), (38400, 2, True),
                                         (38400, 20, True)):
            with self.subTest(baud=baud, pause_ms=pause_ms):
                sim = self.start("--static", "--bus", "--baud", str(baud), control=True,
                                 subdir=f"{baud}-{pause_ms}")
                port = self.raw(sim.com[0])
                first = h.static_reply(2, *BLOCK)
                port.send(h.read_request(2, *BLOCK))
                self.assertEqual(port.read_until(lambda b: len(b) >= len(first)), first)
                time.sleep(pause_ms / 1000)
                port.send(h.read_request(60, *BLOCK))
                got = port.read_until(lambda b: len(b) >= 29, timeout=0.6)
                self.assertEqual(got, h.static_reply(60, *BLOCK) if answered else b"")
                wire = sim.stats()[0]
                self.assertEqual((wire["frames"], wire["collisions"]), (2, 0))
                self.assertEqual(wire["merged"], 0 if answered else 1)
                gap_us = 1750 if baud > 19200 else 3.5e7 / baud
                if answered:
                    self.assertGreaterEqual(wire["silence_min_us"], pause_ms * 1000)
                else:
                    self.assertLess(wire["silence_min_us"], gap_us)
                _, counts = sim.stop()
                self.assertEqual(counts["requests"], 2 if answered else 1)

    def test_request_on_a_late_reply_collides(self):
        # Slave 5 answers 100 ms after the request; its 125 registers hold the wire ~66 ms.
        for attempt in range(3):
            sim = self.start("--static", "--bus", "--late", "every:1", "--fault-slaves", "5",
                             "--late-ms", "100", control=True, subdir=f"a{attempt}")
            port = self.raw(sim.com[0])
            late = h.static_reply(5, 0, 125)
            t0 = time.monotonic()
            port.send(h.read_request(5, 0, 125))
            time.sleep(0.13)
            sent_ms = (time.monotonic() - t0) * 1000
            port.send(h.read_request(2, *BLOCK))
            got = port.read_until(lambda b: len(b) >= len(late), timeout=1.0)
            got += port.read_until(lambda b: False, timeout=0.1)
            if not 110 <= sent_ms <= 160:
                continue  # the scheduler held the test back past the late reply
            # Both are lost: the late reply arrives garbled, the request is never answered.
            self.assertEqual(len(got), len(late))
            self.assertNotEqual(got, late)
            self.assertNotEqual(h.with_crc(got[:-2]), got)
            self.assertEqual(sim.stats()[0]["collisions"], 1)
            _, counts = sim.stop()
            self.assertEqual((counts["requests"], counts["late"], counts["replies"]), (1, 1, 1))
            self.assertEqual((counts["collisions"], counts["merged"]), (1, 0))
            return
        self.fail("never sent the request in time")

    def test_adapter_echo_and_chunks(self):
        request, reply = h.read_request(2, *BLOCK), h.static_reply(2, *BLOCK)
        chunked = ["--chunk-bytes", "8", "--latency-ms", "16"]
        # (options, bytes heard, full 8-byte chunks the reply came in before its 5-byte tail)
        for args, heard, full in ((["--echo"], request + reply, 0),
                                  (chunked, reply, 3),
                                  (["--echo", *chunked], request + reply, 3)):
            with self.subTest(args=args):
                sim = self.start("--static", "--bus", *args, subdir="-".join(args).strip("-"))
                port = self.raw(sim.com[0])
                sent = time.monotonic()
                port.send(request)
                got = self.pieces(port, len(heard))
                self.assertEqual(b"".join(p for _, p in got), heard)
                if full:
                    # Full chunks go at once; the tail waits 16 ms for the latency timer after
                    # its first byte, the reply's 25th, left the wire behind the request and
                    # the 5 ms turnaround.
                    self.assertEqual(len(got[-1][1]), 5)
                    self.assertTrue(all(len(p) % 8 == 0 for _, p in got[:-1]), got)
                    self.assertGreaterEqual(got[-1][0] - sent, ((8 + 25) * 0.2604 + 5 + 16) / 1000)

    def test_faulty_devices_on_the_wire(self):
        reply = h.static_reply(2, *BLOCK)
        parity_view = bytes(b if bin(b).count("1") % 2 else 0 for b in reply)
        other_id = h.with_crc(bytes([3]) + reply[1:-2])
        # (options, what the station reads after its request, least time it takes in ms)
        for args, heard, least_ms in (
                (["--wrong-parity", "every:1"], parity_view, 5 + 37 * 0.2604 + 29 * 0.0260),
                (["--wrong-id", "every:1"], other_id, 5),
                # The free-running timer hands the reply over on its ticks: one or two pieces.
                (["--chunk-bytes", "62", "--latency-ms", "16", "--latency-free-running",
                  "--late", "every:1", "--late-ms", "30-40"], reply, 30)):
            with self.subTest(args=args):
                sim = self.start("--static", "--bus", *args, subdir="-".join(args)[:40])
                port = self.raw(sim.com[0])
                sent = time.monotonic()
                port.send(h.read_request(2, *BLOCK))
                got = self.pieces(port, len(heard))
                self.assertEqual(b"".join(p for _, p in got), heard)
                self.assertGreaterEqual((got[-1][0] - sent) * 1000, least_ms)
                if "--latency-free-running" in args:
                    self.assertLessEqual(len(got), 2)
        # A babbling device: a byte every 2..3 ms, unasked.
        sim = self.start("--bus", "--babble-ms", "2-3", subdir="babble")
        got = self.pieces(self.raw(sim.com[0]), 100, timeout=2.0)
        # The first read may hold what came before the port was opened.
        each_ms = (got[-1][0] - got[0][0]) * 1000 / sum(len(p) for _, p in got[1:])
        self.assertTrue(1.5 <= each_ms <= 3.5, each_ms)


class RecordTest(SimTestCase):
    def read_record(self, path, n, timeout=3.0):
        deadline = time.monotonic() + timeout
        while True:
            lines = []
            if os.path.exists(path):
                with open(path) as f:
                    lines = f.read().splitlines()
            if len(lines) >= n or time.monotonic() > deadline:
                return [line.split(" ") for line in lines]
            time.sleep(0.02)

    def test_record_holds_the_values_served(self):
        path = os.path.join(self.dir, "record.txt")
        sim = self.start("--static", "--record", path)
        before = int(time.time() * 1000)
        h.modbus_read(sim.com[0], 5, *BLOCK)
        h.modbus_read(sim.com[1], 10, 1, 3)
        after = int(time.time() * 1000)
        rows = self.read_record(path, 15)
        self.assertEqual(len(rows), 15)
        expected = [(0, 5, a) for a in range(1139, 1151)] + [(1, 10, a) for a in (1, 2, 3)]
        for row, (link, slave, reg) in zip(rows, expected):
            self.assertEqual(len(row), 6, row)
            self.assertTrue(before - 1000 <= int(row[0]) <= after + 1000, row)
            self.assertEqual([int(x) for x in row[1:5]],
                             [link, slave, reg, h.static_value(slave, reg)])
            self.assertEqual(row[5], "ok")

    def test_record_marks_corrupt_and_late_values(self):
        path = os.path.join(self.dir, "record.txt")
        sim = self.start("--static", "--record", path, "--corrupt", "every:2", "--late", "every:3",
                         "--late-ms", "100", control=True)
        # Request 1 ok, 2 corrupt, 3 late.
        h.modbus_read(sim.com[0], 2, *BLOCK, repeat=3, interval_ms=150, timeout_ms=500)
        rows = self.read_record(path, 36)
        self.assertEqual(len(rows), 36)
        kinds = [r[5] for r in rows]
        self.assertEqual(kinds, ["ok"] * 12 + ["corrupt"] * 12 + ["late"] * 12)
        values = [int(r[4]) for r in rows]
        truth = [h.static_value(2, a) for a in range(1139, 1151)]
        self.assertEqual(values[:12], truth)
        self.assertEqual(values[24:], truth)
        wrong = [i for i in range(12) if values[12 + i] != truth[i]]
        self.assertEqual(len(wrong), 1, values[12:24])

    def test_silent_and_exception_serve_no_values(self):
        path = os.path.join(self.dir, "record.txt")
        sim = self.start("--static", "--record", path, "--silent", "every:2", "--exception",
                         "every:3", control=True)
        # 1 ok, 2 silent, 3 exception, 4 silent
        h.modbus_read(sim.com[0], 2, *BLOCK, repeat=4, timeout_ms=200)
        sim.wait_counts(lambda c: c["requests"] == 4)
        rows = self.read_record(path, 12)
        self.assertEqual([r[5] for r in rows], ["ok"] * 12)

    def test_live_values_are_plausible_and_match_the_record(self):
        path = os.path.join(self.dir, "record.txt")
        sim = self.start("--record", path)
        changed = False
        first = None
        deadline = time.monotonic() + 5
        while not changed and time.monotonic() < deadline:
            _, res = h.modbus_read(sim.com[0], 2, 1139, 14, repeat=2, interval_ms=250)
            for status, _, values in res:
                self.assertEqual(status, "ok")
                rpm, kw, volts, amps, freq, oil, coolant, exhaust = values[:8]
                self.assertTrue(500 <= rpm <= 750, values)
                self.assertLessEqual(abs(freq - rpm * 20 / 3), 5, values)
                self.assertTrue(390 <= volts <= 410, values)
                self.assertTrue(100 < kw < 1200 and 100 < amps < 2000, values)
                self.assertTrue(370 <= oil <= 440 and 780 <= coolant <= 860, values)
                self.assertTrue(350 <= exhaust <= 480, values)
                self.assertEqual(values[13], 3)
                first = first or values
                changed = changed or values != first
        self.assertTrue(changed, "values never changed")
        _, other = h.modbus_read(sim.com[0], 5, 1139, 14)
        self.assertNotEqual(other[0][2][:10], first[:10])
        # Outside the live block the registers keep the static pattern.
        _, res = h.modbus_read(sim.com[1], 9, 1130, 8)
        self.assert_static(res[0], 9, 1130, 8)
        # The last read's values are exactly the last lines recorded.
        rows = self.read_record(path, 1)
        self.assertEqual([int(r[4]) for r in rows[-8:]], res[0][2])
        _, res = h.modbus_read(sim.com[0], 6, 1139, 14)
        rows = self.read_record(path, len(rows) + 14)
        self.assertEqual([int(r[4]) for r in rows[-14:]], res[0][2])
        self.assertEqual({(r[1], r[2]) for r in rows[-14:]}, {("0", "6")})


class ControlTest(SimTestCase):
    def test_drop_and_restore(self):
        sim = self.start("--static", control=True)
        com5 = sim.com[0]
        old_target = os.readlink(com5)
        station = self.raw(com5)  # stays open across the drop, like the station's port
        self.assertEqual(sim.command("drop 0"), "ok")
        self.assertFalse(os.path.lexists(com5))
        self.assertFalse(os.path.exists(old_target))
        # The open port sees the peer hang up: end of file on read, EIO on write.
        ready, _, _ = select.select([station.fd], [], [], 2)
        self.assertEqual(ready, [station.fd])
        self.assertEqual(os.read(station.fd, 16), b"")
        with self.assertRaises(OSError):
            os.write(station.fd, h.read_request(2, *BLOCK))
        # The other link carries on.
        rc, res = h.modbus_read(sim.com[1], 9, *BLOCK)
        self.assertEqual(rc, 0, res)
        rc, _ = h.modbus_read(com5, 2, *BLOCK)
        self.assertEqual(rc, 2)
        self.assertEqual(sim.command("drop 0"), "error link 0 is already down")
        self.assertEqual(sim.command("restore 0"), "ok")
        self.assertTrue(stat.S_ISCHR(os.stat(com5).st_mode))
        rc, res = h.modbus_read(com5, 2, *BLOCK)
        self.assertEqual(rc, 0, res)
        self.assert_static(res[0], 2, *BLOCK)
        self.assertEqual(sim.command("restore 0"), "error link 0 is up")
        self.assertTrue(sim.command("drop 7").startswith("error"))
        self.assertTrue(sim.command("frobnicate").startswith("error"))
        self.assertEqual(sim.command("drop 1"), "ok")
        self.assertFalse(os.path.lexists(sim.com[1]))
        rc, _ = sim.stop()
        self.assertEqual(rc, 0)
        self.assertEqual(os.listdir(self.dir), ["sim.stderr"])


class LifecycleTest(SimTestCase):
    def sim_processes(self):
        """Processes whose command line mentions this test's directory."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if self.dir.encode() in f.read():
                        found.append(int(pid))
            except OSError:
                pass
        return found

    def test_signals_remove_links_and_print_counts(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(sig=sig.name):
                sim = self.start("--static", subdir=sig.name)
                h.modbus_read(sim.com[0], 2, *BLOCK)
                self.assertTrue(all(os.path.islink(c) for c in sim.com))
                rc, counts = sim.stop(sig)
                self.assertEqual(rc, 0)
                self.assertEqual((counts["requests"], counts["replies"]), (1, 1))
                self.assertFalse(any(os.path.lexists(c) for c in sim.com))
        self.assertEqual(self.sim_processes(), [])

    def test_quit_and_stdin_eof(self):
        sim = self.start("--static", control=True, subdir="quit")
        self.assertEqual(sim.command("quit"), "ok")
        self.assertEqual(sim.proc.wait(timeout=5), 0)
        sim.expect("counts ")
        self.assertFalse(any(os.path.lexists(c) for c in sim.com))

        sim = self.start("--static", control=True, subdir="eof")
        sim.proc.stdin.close()
        self.assertEqual(sim.proc.wait(timeout=5), 0)
        sim.expect("counts ")
        self.assertFalse(any(os.path.lexists(c) for c in sim.com))
        self.assertEqual(self.sim_processes(), [])

    def test_stdin_is_ignored_without_control(self):
        sim = h.Sim(self.dir, "--static")
        self.addCleanup(sim.close)
        # stdin is /dev/null (immediate EOF) here; the simulator must keep running.
        _, res = h.modbus_read(sim.com[0], 2, *BLOCK)
        self.assertEqual(res[0][0], "ok")
        self.assertIsNone(sim.proc.poll())

    def test_stale_link_is_replaced_but_other_files_are_not(self):
        os.symlink("/nonexistent/pts", os.path.join(self.dir, "COM5"))
        sim = self.start("--static")
        self.assertTrue(os.readlink(sim.com[0]).startswith("/dev/pts/"))
        sim.stop()

        blocker = os.path.join(self.dir, "COM5")
        with open(blocker, "w") as f:
            f.write("not a port")
        sim = h.Sim(self.dir, "--static", expect_ready=False)
        self.addCleanup(sim.close)
        self.assertEqual(sim.proc.wait(timeout=5), 1)
        self.assertIn("not a symlink", sim.stderr())
        with open(blocker) as f:
            self.assertEqual(f.read(), "not a port")
        self.assertFalse(os.path.lexists(os.path.join(self.dir, "COM10")))

    def test_command_line(self):
        import subprocess
        r = subprocess.run([h.SIM, "--help"], capture_output=True, text=True, timeout=5)
        self.assertEqual(r.returncode, 0)
        self.assertIn("--stdin-control", r.stdout)
        for bad in (["--late", "0.1"], ["--dir", self.dir, "--late", "1.5"],
                    ["--dir", self.dir, "--late", "every:0"],
                    ["--dir", self.dir, "--slaves0", "2,0"],
                    ["--dir", self.dir, "--port0", "10"],
                    ["--dir", self.dir, "--exception-code", "12"],
                    ["--dir", self.dir, "--echo"]):
            with self.subTest(args=bad):
                r = subprocess.run([h.SIM, *bad], capture_output=True, text=True, timeout=5)
                self.assertEqual(r.returncode, 2, r.stderr)
        sim = self.start("--static", "--port0", "1", "--port1", "2", "--slaves0", "7",
                         "--slaves1", "2")
        self.assertEqual(sim.com, [os.path.join(self.dir, "COM1"), os.path.join(self.dir, "COM2")])
        _, res = h.modbus_read(sim.com[1], 2, *BLOCK)
        self.assert_static(res[0], 2, *BLOCK)
        _, res = h.modbus_read(sim.com[0], 7, *BLOCK)
        self.assert_static(res[0], 7, *BLOCK)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--read", required=True)
    args, rest = parser.parse_known_args()
    h.SIM = os.path.abspath(args.sim)
    h.READ = os.path.abspath(args.read)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
