#!/usr/bin/env python3
"""Measures the add-on server on this machine and prints a report.

Usage: bench/server/run-bench.py <build folder configured with -DKITSYNC_BENCH=ON>

(a) Query throughput: answers per second under a window of queries in
    flight, the server against kitsync-answer-peer (a bare poll, recvfrom,
    sendto loop answering the same 12 bytes), alternating runs.
(b) Fan-out: 4,000 clients on 160 loopback addresses fetch a 100-chunk
    catalogue at the default sendDelay of 200 ms; completion times against
    the nominal 100 x 200 ms, the server's CPU time and peak resident set.
(c) Peak resident set under a chunk-request flood from thousands of ports.
"""
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = 3
QUERY_MILLISECONDS = 3000
FANOUT_CLIENTS = 4000  # the server keeps 4,096 client records at most


def free_game_port():
    for _ in range(100):
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        probe.bind(("0.0.0.0", 0))
        port = probe.getsockname()[1]
        probe.close()
        if 1 <= port - 20 and port <= 65535:
            return port - 20
    raise RuntimeError("no free port")


def proc_status(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])  # kB
    return 0


def cpu_milliseconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime, stime
    return ticks * 1000 // os.sysconf("SC_CLK_TCK")


class Server:
    def __init__(self, build, folder, game_port):
        self.log = open(os.path.join(folder, "server.log"), "ab")
        self.process = subprocess.Popen([os.path.join(build, "kitsync-server")], cwd=folder,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.folder = folder
        deadline = time.time() + 10
        while time.time() < deadline:
            with open(os.path.join(folder, "server.log"), "rb") as text:
                if b"Server is running" in text.read():
                    return
            time.sleep(0.05)
        raise RuntimeError("server did not start")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=10)
        self.log.close()
        return status


class Peer:
    def __init__(self, build, port):
        self.process = subprocess.Popen([os.path.join(build, "kitsync-answer-peer"), str(port)])
        time.sleep(0.2)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)


def load(build, folder, *arguments):
    result = subprocess.run([os.path.join(build, "kitsync-server-load"), *map(str, arguments)], cwd=folder,
                            capture_output=True, text=True, timeout=600)
    if result.returncode not in (0, 1):
        raise RuntimeError(result.stderr)
    return dict(zip(result.stdout.split()[0::2], result.stdout.split()[1::2])), result.stdout.strip()


def query_throughput(build, folder, game_port):
    server_rates, peer_rates = [], []
    for _ in range(ROUNDS):
        server = Server(build, folder, game_port)
        figures, _ = load(build, folder, "queries", game_port + 20, QUERY_MILLISECONDS)
        server.stop()
        server_rates.append(float(figures["rate"]))
        peer = Peer(build, game_port + 20)
        figures, _ = load(build, folder, "queries", game_port + 20, QUERY_MILLISECONDS)
        peer.stop()
        peer_rates.append(float(figures["rate"]))
    s, p = statistics.median(server_rates), statistics.median(peer_rates)
    print(f"(a) query answers per second, median of {ROUNDS} runs of {QUERY_MILLISECONDS} ms")
    print(f"    server {s:.0f} (runs {', '.join('%.0f' % r for r in server_rates)})")
    print(f"    peer   {p:.0f} (runs {', '.join('%.0f' % r for r in peer_rates)})")
    print(f"    server / peer = {s / p:.2f}")


def udp_receive_buffer_errors():
    with open("/proc/net/snmp") as snmp:
        rows = [line.split() for line in snmp if line.startswith("Udp:")]
    return int(rows[1][rows[0].index("RcvbufErrors")])


def fan_out(build, folder, game_port):
    server = Server(build, folder, game_port)
    pid = server.process.pid
    cpu_before = cpu_milliseconds(pid)
    drops_before = udp_receive_buffer_errors()
    figures, text = load(build, folder, "fanout", game_port + 20, FANOUT_CLIENTS, 100)
    drops = udp_receive_buffer_errors() - drops_before
    cpu = cpu_milliseconds(pid) - cpu_before
    peak = proc_status(pid, "VmHWM")
    server.stop()
    nominal = 100 * 200
    print(f"(b) fan-out: {FANOUT_CLIENTS:,} clients fetch 100 chunks at sendDelay 200 ms")
    print(f"    {text}; {drops} datagrams dropped by full receive buffers (machine-wide)")
    print(f"    median {int(figures['median']) / nominal:.3f} x nominal {nominal} ms, "
          f"worst {int(figures['worst']) / nominal:.3f} x nominal")
    print(f"    server CPU {cpu} ms during the fetch ({cpu / int(figures['worst'] or 1) * 100:.1f}% of one core), "
          f"peak resident {peak} kB")


def chunk_flood(build, folder, game_port):
    server = Server(build, folder, game_port)
    pid = server.process.pid
    time.sleep(0.5)
    idle = proc_status(pid, "VmHWM")
    sockets, rounds = 6000, 20
    _, text = load(build, folder, "chunkflood", game_port + 20, sockets, rounds)
    peak = proc_status(pid, "VmHWM")
    server.stop()
    with open(os.path.join(folder, "server.log"), "rb") as log:
        warnings = log.read().count(b"Warning: Dropped")
    copies_kb = sockets * rounds * 100 * 268 // 1024  # a private copy per request, as in the old design
    print("(c) chunk-request flood")
    print(f"    {text}")
    print(f"    peak resident {idle} kB idle, {peak} kB after the flood ({peak / idle:.2f} x); "
          f"{warnings} drop warnings logged")
    print(f"    queuing a private copy per request would hold about {copies_kb} kB")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="kitsync-bench-") as folder:
        game_port = free_game_port()
        with open(os.path.join(folder, "kitsync.ini"), "w") as ini:
            ini.write(f"port {game_port}\n")
        load(build, folder, "catalogue", 100)
        print(f"machine: {os.cpu_count()} CPUs; game port {game_port}, UDP port {game_port + 20}")
        query_throughput(build, folder, game_port)
        fan_out(build, folder, game_port)
        chunk_flood(build, folder, game_port)


if __name__ == "__main__":
    main()
