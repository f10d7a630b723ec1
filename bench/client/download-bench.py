#!/usr/bin/env python3
"""Package downloads of the sync tool against aria2c and curl.

Usage: bench/client/download-bench.py BUILD [--command CMD] [--files N]
           [--size-mb M] [--rate BYTES] [--jobs J] [--rounds R]

BUILD is a build folder configured with -DKITSYNC_BENCH=ON; the script
builds kitsync-queue-bench there. It makes N files (default 8) of M MB
(default 25) of random bytes, serves them with tests/support/http_server.py
on 127.0.0.1 through its throttled route at BYTES a second on each
connection (default 4,000,000), and times, R rounds each (default 1):

  (a) aria2c -Z -j J -x1: J downloads at once, one connection each
  (b) curl: one file after another
  (c) the download queue with J jobs (kitsync-queue-bench), or CMD when
      given: a shell command in which {folder} is where the packages go and
      {urls} the URLs, blank-separated

Every client's files are checked against the originals (any file below its
folder may hold any package, whatever its name). Prints the best time of
each and the ratios against aria2c; with J connections of BYTES a second
the floor is N * size / (J * BYTES).
"""
import argparse
import hashlib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tests", "support", "http_server.py")


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--command")
    parser.add_argument("--files", type=int, default=8)
    parser.add_argument("--size-mb", type=int, default=25)
    parser.add_argument("--rate", type=int, default=4000000)
    parser.add_argument("--jobs", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=1)
    return parser.parse_args()


def build_driver(build):
    configure = ["cmake", "-S", ROOT, "-B", build, "-DKITSYNC_BENCH=ON"]
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        configure += ["-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DBUILD_TESTING=OFF"]
    subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["nice", "cmake", "--build", build, "-j2", "--target", "kitsync-queue-bench"],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build, "kitsync-queue-bench")


def make_files(folder, count, size):
    """The served files' names and the digests of their contents."""
    os.makedirs(folder)
    digests = {}
    for i in range(count):
        name = "package%d.zip" % i
        with open(os.path.join(folder, name), "wb") as out:
            data = os.urandom(size)
            out.write(data)
        digests[name] = hashlib.sha256(data).hexdigest()
    return digests


def start_server(root):
    server = subprocess.Popen([sys.executable, SERVER, "--root", root], stdout=subprocess.PIPE)
    port = int(server.stdout.readline())
    return server, port


def digests_below(folder):
    found = set()
    for base, _, names in os.walk(folder):
        for name in names:
            digest = hashlib.sha256()
            with open(os.path.join(base, name), "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    digest.update(block)
            found.add(digest.hexdigest())
    return found


def timed(label, command, folder, digests):
    """Seconds the command took in a fresh folder; exits on a wrong copy."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    start = time.monotonic()
    result = subprocess.run(command, shell=isinstance(command, str))
    seconds = time.monotonic() - start
    missing = set(digests.values()) - digests_below(folder)
    if result.returncode != 0 or missing:
        sys.exit("%s: exit status %d, %d of %d packages missing or wrong"
                 % (label, result.returncode, len(missing), len(digests)))
    return seconds


def clients(args, driver, urls, folder):
    """Each client's label and a function from output folder to command."""
    aria = ["aria2c", "-q", "-Z", "-j", str(args.jobs), "-x1", "--allow-overwrite=true", "-d"]
    ours = args.command or (shlex.quote(driver) + " %d %d {folder} {urls}"
                            % (args.jobs, args.size_mb * 1000000))
    sequential = " && ".join("curl -sf -o {folder}/%d.zip %s" % (i, shlex.quote(url))
                             for i, url in enumerate(urls))
    joined = " ".join(shlex.quote(url) for url in urls)
    return [
        ("aria2c -j%d -x1" % args.jobs, lambda out: aria + [out] + urls),
        ("curl, one by one", lambda out: sequential.format(folder=shlex.quote(out))),
        ("ours" if args.command else "DownloadQueue, %d jobs" % args.jobs,
         lambda out: ours.format(folder=shlex.quote(out), urls=joined)),
    ]


def report(best, args):
    floor = args.files * args.size_mb * 1000000 / (args.jobs * args.rate)
    print("%d files of %d MB at %d bytes/s per connection; floor with %d connections: %.2f s"
          % (args.files, args.size_mb, args.rate, args.jobs, floor))
    aria = best[0][1]
    for label, seconds in best:
        print("%-24s best %7.2f s   %.3f x aria2c's time" % (label, seconds, seconds / aria))


def main():
    args = arguments()
    driver = None if args.command else build_driver(args.build)
    work = tempfile.mkdtemp(prefix="kitsync-download-bench-")
    server = None
    try:
        digests = make_files(os.path.join(work, "served"), args.files, args.size_mb * 1000000)
        server, port = start_server(os.path.join(work, "served"))
        urls = ["http://127.0.0.1:%d/_throttle/%s?rate=%d" % (port, name, args.rate)
                for name in sorted(digests)]
        runs = clients(args, driver, urls, work)
        best = [(label, float("inf")) for label, _ in runs]
        for round_number in range(args.rounds):
            for i, (label, command) in enumerate(runs):
                out = os.path.join(work, "out")
                seconds = timed(label, command(out), out, digests)
                print("round %d: %-24s %.2f s" % (round_number + 1, label, seconds), flush=True)
                best[i] = (label, min(best[i][1], seconds))
        report(best, args)
    finally:
        if server:
            server.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
