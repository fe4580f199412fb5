#!/usr/bin/python3
"""pymodbus (Debian's python3-pymodbus) as the peer of bench-cycle: reads the same eight blocks,
link 0 then link 1, with the station's 500 ms pause between cycles, and prints one line per cycle:

    cycle <work_ms> <failed_reads>

Run it with the system's python3 (/usr/bin/python3), where the Debian package is installed.
"""
import argparse
import logging
import sys
import time

from pymodbus.client import ModbusSerialClient


def client(port):
    # 38400 8N1 and the station's 0.5 s time-out; one try per read, as the station makes.
    c = ModbusSerialClient(port=port, baudrate=38400, bytesize=8, parity="N", stopbits=1,
                           timeout=0.5, retries=0, retry_on_empty=False)
    c.params.timeout = 0.5  # 3.0.0 keeps int(timeout), which makes 0.5 s no time-out at all
    if not c.connect():
        sys.exit(f"pymodbus-cycle: cannot open {port}")
    return c


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port0", required=True)
    parser.add_argument("--port1", required=True)
    parser.add_argument("--ids0", default="2,60,5,6")
    parser.add_argument("--ids1", default="9,10,11,12")
    parser.add_argument("--start", type=int, default=1139)
    parser.add_argument("--count", type=int, default=12)
    parser.add_argument("--cycles", type=int, default=30)
    parser.add_argument("--pause-ms", type=int, default=500)
    args = parser.parse_args()
    logging.disable(logging.CRITICAL)  # a failed read is counted, not logged

    links = [(client(args.port0), [int(i) for i in args.ids0.split(",")]),
             (client(args.port1), [int(i) for i in args.ids1.split(",")])]
    for _ in range(args.cycles):
        time.sleep(args.pause_ms / 1000)
        failed = 0
        start = time.perf_counter()
        for c, ids in links:
            for slave in ids:
                try:
                    r = c.read_holding_registers(args.start, args.count, slave=slave)
                    failed += r.isError() or len(r.registers) != args.count
                except Exception:  # pylint: disable=broad-except
                    failed += 1
        print(f"cycle {(time.perf_counter() - start) * 1000:.3f} {failed}", flush=True)
    for c, _ in links:
        c.close()


if __name__ == "__main__":
    main()
