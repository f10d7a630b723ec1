#!/usr/bin/env python3
"""Measures the server under sustained load and prints a report.

Usage: bench/server/soak-bench.py <build folder configured with -DKITSYNC_BENCH=ON>
                                  [soak seconds, default 300] [runs, default 5]

(d) Fan-out under a query flood: 200 clients fetch a 100-chunk catalogue at
    senddelay 50 (nominal 5 s) while a socket sends 500 queries a second,
    against the same fan-out on a quiet server; medians of alternating runs.
(e) Soak: for the given time, rounds of a query load (4 sockets x 16 in
    flight), a 200-client fan-out and a 512-socket chunk-request flood, all
    at once. Every fan-out must complete; the server's resident set is
    sampled after each round, and the growth of its console log is given
    per minute.
"""
import importlib.util
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
found = importlib.util.spec_from_file_location("batch_bench", os.path.join(here, "batch-bench.py"))
bench = importlib.util.module_from_spec(found)
found.loader.exec_module(bench)

FANOUT_CLIENTS, CHUNKS, SEND_DELAY = 200, 100, 50
QUERY = bytes([0x0F, 0x04, 0, 0, 0])  # version 1039, no password


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


class QueryFlood(threading.Thread):
    """Sends `rate` queries a second, on a schedule, until stopped."""

    def __init__(self, port, rate):
        super().__init__(daemon=True)
        self.port, self.rate, self.stopping = port, rate, threading.Event()

    def run(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            start, sent = time.monotonic(), 0
            while not self.stopping.is_set():
                due = int((time.monotonic() - start) * self.rate)
                for _ in range(due - sent):
                    s.sendto(QUERY, ("127.0.0.1", self.port))
                sent = max(sent, due)
                time.sleep(0.002)


def fanout_under_flood(build, folder, server, port, runs):
    nominal = CHUNKS * SEND_DELAY
    figures = {"quiet": [], "500 q/s": []}
    for _ in range(runs):
        for name in figures:
            process = bench.Process(server, folder)
            flood = QueryFlood(port + 20, 500) if name != "quiet" else None
            if flood:
                flood.start()
                time.sleep(0.5)
            result = bench.load(build, folder, "fanout", port + 20, FANOUT_CLIENTS, CHUNKS)
            if flood:
                flood.stopping.set()
                flood.join()
            process.stop()
            figures[name].append(int(result["worst"]) / nominal)
            if result["completed"] != str(FANOUT_CLIENTS):
                print(f"    {name}: only {result['completed']} of {FANOUT_CLIENTS} completed")
    print(f"(d) fan-out of {FANOUT_CLIENTS} clients, {CHUNKS} chunks at senddelay {SEND_DELAY} "
          f"(nominal {nominal} ms): slowest client against nominal, {runs} alternating runs")
    for name, values in figures.items():
        print(f"    {name:8} {bench.median_text(values, '%.3f')}")


def soak(build, folder, server, port, seconds):
    process = bench.Process(server, folder)
    pid, log = process.process.pid, process.log_name
    started, log_start = time.time(), os.path.getsize(log)
    rounds, complete, resident = 0, 0, [resident_kib(pid)]
    while time.time() - started < seconds:
        tool = os.path.join(build, "kitsync-server-load")
        queries = subprocess.Popen([tool, "queries", str(port + 20), "4000", "4", "16"], cwd=folder,
                                   stdout=subprocess.DEVNULL)
        flood = subprocess.Popen([tool, "chunkflood", str(port + 20), "512", "100"], cwd=folder,
                                 stdout=subprocess.DEVNULL)
        result = bench.load(build, folder, "fanout", port + 20, FANOUT_CLIENTS, CHUNKS)
        queries.wait(timeout=60)
        flood.wait(timeout=60)
        rounds += 1
        complete += 1 if result["completed"] == str(FANOUT_CLIENTS) else 0
        resident.append(resident_kib(pid))
    minutes = (time.time() - started) / 60
    growth = (os.path.getsize(log) - log_start) / minutes / 1024
    process.stop()
    print(f"(e) soak of {minutes:.1f} min: {rounds} rounds of queries, a {FANOUT_CLIENTS}-client fan-out and "
          f"a 512-socket chunk-request flood at once")
    print(f"    fan-outs complete: {complete} of {rounds}")
    print(f"    resident set (KiB): start {resident[0]}, after round 1 {resident[1]}, "
          f"max {max(resident)}, end {resident[-1]}")
    print(f"    console log: {growth:.0f} KiB a minute")


def main():
    if len(sys.argv) not in (2, 3, 4):
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    server = [os.path.join(build, "kitsync-server")]
    with tempfile.TemporaryDirectory(prefix="kitsync-soak-bench-") as folder:
        port = bench.free_game_port()
        with open(os.path.join(folder, "kitsync.ini"), "w") as ini:
            ini.write(f"port {port}\nsenddelay {SEND_DELAY}\n")
        bench.load(build, folder, "catalogue", CHUNKS)
        fanout_under_flood(build, folder, server, port, runs)
        soak(build, folder, server, port, seconds)


if __name__ == "__main__":
    main()
