#!/usr/bin/env python3
"""Measures the server's datagram path against a minimal draining loop and
against a previous build of the server, and prints a report.

Usage: bench/server/batch-bench.py <build folder configured with -DKITSYNC_BENCH=ON>
                                   <previous kitsync-server> [runs, default 5]

Servers: "new" is the build folder's kitsync-server; "new@212992" the same
with kitsync-rcvbuf-cap.so preloaded, so that its 4 MiB receive buffer is
cut as a stock kernel's net.core.rmem_max (212992) would cut it; "previous"
the binary given. Runs alternate between them; figures are medians.

(a) Query answers per second, with several sockets each keeping a window
    of queries in flight (the generator reads and sends in batches, so that
    it is not what sets the pace), against kitsync-drain-peer (C: poll once, then
    recvfrom/sendto until EAGAIN).
(b) Burst: 1,000 clients send their ChunkRequest within a few milliseconds
    for a 100-chunk catalogue at senddelay 50 (nominal 100 x 50 ms = 5 s):
    clients that had to ask again (after 2 s without a chunk), the median
    and slowest completion against nominal, and the kernel's UDP
    datagrams the kernel dropped at the server's socket (/proc/net/udp) and
    its RcvbufErrors counter during the run (machine-wide, other programs'
    sockets too).
(c) CPU time of a quiet server over 10 s.
"""
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

QUERY_MILLISECONDS = 3000
QUERY_SHAPES = [(4, 16), (16, 64)]  # sockets, queries in flight on each
BURST_CLIENTS, CHUNKS, SEND_DELAY = 1000, 100, 50


def free_game_port():
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    probe.bind(("0.0.0.0", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port - 20


def cpu_milliseconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 // os.sysconf("SC_CLK_TCK")


def receive_buffer_errors():
    with open("/proc/net/snmp") as snmp:
        rows = [line.split() for line in snmp if line.startswith("Udp:")]
    return int(rows[1][rows[0].index("RcvbufErrors")])


def socket_drops(port):
    """Datagrams the kernel dropped at the UDP socket bound to port."""
    with open("/proc/net/udp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if int(fields[1].split(":")[1], 16) == port:
                return int(fields[-1])
    return -1


class Process:
    """A server (waits for "Server is running") or a peer, stopped with SIGTERM."""

    def __init__(self, command, folder, env=None, server=True):
        self.log_name = os.path.join(folder, "process.log")
        self.log = open(self.log_name, "wb")
        self.process = subprocess.Popen(command, cwd=folder, stdout=self.log, stderr=subprocess.STDOUT,
                                        env={**os.environ, **(env or {})})
        deadline = time.time() + 10
        while server and time.time() < deadline:
            with open(self.log_name, "rb") as text:
                if b"Server is running" in text.read():
                    return
            time.sleep(0.05)
        if server:
            raise RuntimeError("server did not start: " + open(self.log_name).read()[-500:])
        time.sleep(0.2)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)
        self.log.close()


def load(build, folder, *arguments):
    result = subprocess.run([os.path.join(build, "kitsync-server-load"), *map(str, arguments)], cwd=folder,
                            capture_output=True, text=True, timeout=600)
    if result.returncode not in (0, 1):
        raise RuntimeError(result.stderr)
    words = result.stdout.split()
    return dict(zip(words[0::2], words[1::2]))


def median_text(values, form="%.0f"):
    return f"{form % statistics.median(values)} (runs {', '.join(form % v for v in values)})"


def query_rates(build, folder, servers, port, runs):
    drain = ("drain", [os.path.join(build, "kitsync-drain-peer"), str(port + 20)], {}, False)
    for sockets, window in QUERY_SHAPES:
        rates = {name: [] for name, *_ in servers + [drain]}
        for _ in range(runs):
            for name, command, env, is_server in servers + [drain]:
                process = Process(command, folder, env, is_server)
                rates[name].append(float(load(build, folder, "queries", port + 20, QUERY_MILLISECONDS,
                                              sockets, window)["rate"]))
                process.stop()
        print(f"(a) query answers/s, {sockets} sockets x {window} in flight, {QUERY_MILLISECONDS} ms runs")
        for name, values in rates.items():
            print(f"    {name:12} {median_text(values)}")
        d = statistics.median(rates["drain"])
        for name in rates:
            if name != "drain":
                print(f"    {name} / drain = {statistics.median(rates[name]) / d:.2f}")


def burst(build, folder, servers, port, runs):
    figures = {name: {"again": [], "median": [], "worst": [], "drops": [], "dropped": []} for name, *_ in servers}
    for _ in range(runs):
        for name, command, env, _ in servers:
            process = Process(command, folder, env)
            drops = receive_buffer_errors()
            result = load(build, folder, "fanout", port + 20, BURST_CLIENTS, CHUNKS, 1)
            figures[name]["drops"].append(receive_buffer_errors() - drops)
            figures[name]["dropped"].append(socket_drops(port + 20))
            process.stop()
            for key, field in (("again", "askedagain"), ("median", "median"), ("worst", "worst")):
                figures[name][key].append(int(result[field]))
    nominal = CHUNKS * SEND_DELAY
    print(f"(b) burst: {BURST_CLIENTS:,} clients ask within a few ms for {CHUNKS} chunks at senddelay "
          f"{SEND_DELAY}, nominal {nominal} ms; {runs} runs")
    for name, f in figures.items():
        print(f"    {name:12} asked again {sum(f['again'])} in all {f['again']}; dropped at the server's socket "
              f"{f['dropped']}, RcvbufErrors machine-wide {f['drops']}")
        print(f"    {'':12} median {statistics.median(f['median']) / nominal:.3f} x nominal, slowest "
              f"{statistics.median(f['worst']) / nominal:.3f} (worst run {max(f['worst']) / nominal:.3f})")


def idle_cpu(folder, servers):
    print("(c) CPU of a quiet server over 10 s")
    for name, command, env, _ in servers:
        process = Process(command, folder, env)
        time.sleep(1)
        before = cpu_milliseconds(process.process.pid)
        time.sleep(10)
        print(f"    {name:12} {cpu_milliseconds(process.process.pid) - before} ms")
        process.stop()


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    build, previous = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) == 4 else 5
    cap = {"LD_PRELOAD": os.path.join(build, "kitsync-rcvbuf-cap.so")}
    new = [os.path.join(build, "kitsync-server")]
    servers = [("new", new, {}, True), ("new@212992", new, cap, True), ("previous", [previous], {}, True)]
    with tempfile.TemporaryDirectory(prefix="kitsync-batch-bench-") as folder:
        port = free_game_port()
        with open(os.path.join(folder, "kitsync.ini"), "w") as ini:
            ini.write(f"port {port}\nsenddelay {SEND_DELAY}\n")
        load(build, folder, "catalogue", CHUNKS)
        with open("/proc/sys/net/core/rmem_max") as limit:
            print(f"machine: {os.cpu_count()} CPUs, net.core.rmem_max {limit.read().strip()}; "
                  f"UDP port {port + 20}")
        query_rates(build, folder, servers, port, runs)
        burst(build, folder, servers, port, runs)
        idle_cpu(folder, servers)


if __name__ == "__main__":
    main()
