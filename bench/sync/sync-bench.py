#!/usr/bin/env python3
"""Times kitsync-sync against the tools a player would otherwise use.

Usage: bench/sync/sync-bench.py <build folder> [runs, default 3]

(a) Downloads: eight packages of 25 MB on a loopback HTTP server that sends
    at most 4 MB/s per connection, as mirrors throttle single connections.
    A sync from scratch (catalogue, check, downloads with --jobs 4, archive
    checks, installation) against aria2c -j4 fetching the same eight files,
    and against curl fetching them one after another.
(b) Unpacking: one package of 200 MB read in place from a file: URL, synced
    into an empty folder, against unzip -o -q of the same archive; and the
    same sync again into the complete folder (only the check runs).

The server indexes the packages once, unthrottled; the throttle is then
switched on for every timed run. Medians of the runs are printed, with
the ratios the goals name.
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

RATE = 4_000_000   # bytes a second, per connection
PIECE = 65536
PACKAGES, PACKAGE_MB = 8, 25


class Throttled(BaseHTTPRequestHandler):
    """Files of `root` with ranges; paced to RATE while `throttle` is set."""
    protocol_version = "HTTP/1.0"
    root = "."
    throttle = False

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = os.path.join(Throttled.root, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        start = 0
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes=") and wanted.endswith("-"):
            start = int(wanted[6:-1])
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(size - start))
        self.end_headers()
        with open(path, "rb") as source:
            source.seek(start)
            began, sent = time.monotonic(), 0
            while True:
                piece = source.read(PIECE)
                if not piece:
                    return
                self.wfile.write(piece)
                sent += len(piece)
                if Throttled.throttle:
                    ahead = sent / RATE - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)


def serve(root):
    Throttled.root = root
    server = ThreadingHTTPServer(("127.0.0.1", 0), Throttled)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def make_package(path, files, file_size, seed, compressible=True):
    """Compressible data deflates to about a third: 64 KiB blocks of words from
    a random vocabulary, drawn in a random order; otherwise random bytes, stored."""
    rng = random.Random(seed)
    if compressible:
        words = [bytes(rng.getrandbits(8) for _ in range(rng.randrange(3, 9))) for _ in range(4096)]
        blocks = []
        for _ in range(256):
            block = bytearray()
            while len(block) < 65536:
                block += rng.choice(words)
            blocks.append(bytes(block[:65536]))
    method = zipfile.ZIP_DEFLATED if compressible else zipfile.ZIP_STORED
    with zipfile.ZipFile(path, "w", method, compresslevel=6 if compressible else None) as z:
        z.writestr("kitsync.txt", "KITSYNC_START\r\nINSTALL *.pbo addons\\\r\nKITSYNC_END\r\n")
        for i in range(files):
            if compressible:
                data = b"".join(rng.choice(blocks) for _ in range(file_size // 65536 + 1))[:file_size]
            else:
                data = os.urandom(file_size)
            z.writestr("p%d_file_%03d.pbo" % (seed, i), data)


def free_game_port():
    import socket
    while True:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1] - 20
        s.close()
        if 1024 < port < 60000:
            return port


def start_server(build, folder, urls):
    game_port = free_game_port()
    with open(os.path.join(folder, "kitsync.ini"), "w") as ini:
        ini.write("port %d\nsenddelay 20\n" % game_port)
        for url in urls:
            ini.write("package %s\n" % url)
    server = subprocess.Popen([os.path.join(build, "kitsync-server")], cwd=folder, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    server.stdin.write("a\n")
    server.stdin.flush()
    for line in server.stdout:
        if "Server is running" in line:
            threading.Thread(target=lambda: [None for _ in server.stdout], daemon=True).start()
            return server, game_port + 20
    raise SystemExit("the server did not start")


def timed(command, **kwargs):
    began = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
    return time.monotonic() - began


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def downloads(build, scratch, runs):
    site = fresh(os.path.join(scratch, "site"))
    for k in range(PACKAGES):
        make_package(os.path.join(site, "pkg%d.zip" % k), 5, PACKAGE_MB * 1_000_000 // 5, k, compressible=False)
    port = serve(site)
    urls = ["http://127.0.0.1:%d/pkg%d.zip" % (port, k) for k in range(PACKAGES)]
    total = sum(os.path.getsize(os.path.join(site, "pkg%d.zip" % k)) for k in range(PACKAGES))
    server, udp = start_server(build, fresh(os.path.join(scratch, "server")), urls)
    Throttled.throttle = True
    sync, aria, curl = [], [], []
    try:
        for _ in range(runs):
            game, cache = fresh(os.path.join(scratch, "game")), fresh(os.path.join(scratch, "cache"))
            sync.append(timed([os.path.join(build, "kitsync-sync"), "--jobs", "4", "--cache", cache,
                               "127.0.0.1:%d" % udp, game]))
            out = fresh(os.path.join(scratch, "aria"))
            with open(os.path.join(scratch, "urls.txt"), "w") as listing:
                listing.write("\n".join(urls) + "\n")
            aria.append(timed(["aria2c", "-q", "-j4", "-x1", "-s1", "--allow-overwrite=true", "--auto-file-renaming=false",
                               "--file-allocation=none", "-d", out, "-i", os.path.join(scratch, "urls.txt")]))
            out = fresh(os.path.join(scratch, "curl"))
            began = time.monotonic()
            for k, url in enumerate(urls):
                subprocess.run(["curl", "-s", "-f", "-o", os.path.join(out, "pkg%d.zip" % k), url], check=True)
            curl.append(time.monotonic() - began)
    finally:
        server.terminate()
        server.wait()
    s, a, c = statistics.median(sync), statistics.median(aria), statistics.median(curl)
    print("(a) 8 packages, %.1f MB in all, 4 MB/s per connection, medians of %d runs:" % (total / 1e6, runs))
    print("    kitsync-sync --jobs 4  %6.2f s   (runs: %s)" % (s, ", ".join("%.2f" % t for t in sync)))
    print("    aria2c -j4             %6.2f s   kitsync-sync / aria2c = %.3f (goal <= 1.15)" % (a, s / a))
    print("    curl, one by one       %6.2f s   kitsync-sync / curl   = %.3f (goal <= 0.30)" % (c, s / c))


def unpacking(build, scratch, runs):
    site = fresh(os.path.join(scratch, "big"))
    archive = os.path.join(site, "big.zip")
    make_package(archive, 40, 5_000_000, 99)
    server, udp = start_server(build, fresh(os.path.join(scratch, "server2")), ["file://" + archive])
    sync, again, unzip = [], [], []
    try:
        for _ in range(runs):
            game = fresh(os.path.join(scratch, "game"))
            sync.append(timed([os.path.join(build, "kitsync-sync"), "--cache", os.path.join(scratch, "cache"),
                               "127.0.0.1:%d" % udp, game]))
            again.append(timed([os.path.join(build, "kitsync-sync"), "--cache", os.path.join(scratch, "cache"),
                                "127.0.0.1:%d" % udp, game]))
            out = fresh(os.path.join(scratch, "unzipped"))
            unzip.append(timed(["unzip", "-o", "-q", archive, "-d", out]))
    finally:
        server.terminate()
        server.wait()
    s, g, u = statistics.median(sync), statistics.median(again), statistics.median(unzip)
    print("(b) one package of 200 MB (%.1f MB zipped), read in place, medians of %d runs:"
          % (os.path.getsize(archive) / 1e6, runs))
    print("    kitsync-sync, empty folder     %6.2f s   (runs: %s)" % (s, ", ".join("%.2f" % t for t in sync)))
    print("    unzip -o -q                    %6.2f s   kitsync-sync / unzip = %.3f (goal <= 1.0)" % (u, s / u))
    print("    kitsync-sync, complete folder  %6.2f s   kitsync-sync / unzip = %.3f" % (g, g / u))


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    scratch = tempfile.mkdtemp(prefix="kitsync-sync-bench.")
    try:
        unpacking(build, scratch, runs)
        downloads(build, scratch, runs)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
