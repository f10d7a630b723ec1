#!/usr/bin/env python3
"""Times installing a 200 MB package into an empty folder against `unzip -o -q`.

The package is 40 files of 5 MB each, text of random words with some random
bytes mixed in, so that deflate has work to do but cannot shrink it to
nothing; Info-ZIP zip packs it (no instruction file: the simple method lists
every .pbo under addons\\). Each program runs 3 times, taking turns, into a
fresh empty folder; the best time of each counts. Everything lives in a
temporary folder that is deleted afterwards.

usage: install-bench.py [--command TEMPLATE] [path/to/kitsync-install-bench]

TEMPLATE is the command to time, with {archive} and {folder} standing for
the package archive and the empty game folder, e.g.
    --command "build/kitsync-sync --archive {archive} --folder {folder}"
Without it the driver is run as `driver {archive} {folder}` (default
build-bench/kitsync-install-bench).
"""
import os
import random
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

MB = 1024 * 1024
RUNS = 3
FILES = 40


def make_tree(root):
    rng = random.Random(2026)
    words = [b"tank", b"track", b"armour", b"turret", b"wheel", b"engine", b"crew", b"radio", b"map", b"island",
             b"class", b"model", b"texture", b"config", b"{", b"}", b"=", b";", b"0.25", b"1024"]
    pool = b" ".join(rng.choice(words) for _ in range(400000))  # about 2.4 MB of text to slice
    addons = os.path.join(root, "addons")
    os.makedirs(addons)
    for i in range(FILES):
        parts, size = [], 0
        while size < 5 * MB:
            start = rng.randrange(len(pool) - 65536)
            piece = pool[start:start + rng.randrange(4096, 65536)] + os.urandom(rng.randrange(256, 2048))
            parts.append(piece)
            size += len(piece)
        with open(os.path.join(addons, "part%02d.pbo" % i), "wb") as f:
            f.write(b"".join(parts)[:5 * MB])


def timed(command, folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("%s failed: %s" % (command[0], result.stderr.decode(errors="replace")))
    return elapsed


def main():
    args = sys.argv[1:]
    template = None
    if len(args) >= 2 and args[0] == "--command":
        template = args[1]
        args = args[2:]
    if template is None:
        driver = os.path.abspath(args[0] if args else "build-bench/kitsync-install-bench")
        if not os.access(driver, os.X_OK):
            sys.exit("no driver at %s" % driver)
        template = shlex.quote(driver) + " {archive} {folder}"
    work = tempfile.mkdtemp(prefix="kitsync-install-bench-")
    try:
        source = os.path.join(work, "src")
        make_tree(source)
        archive = os.path.join(work, "bench.zip")
        subprocess.run(["zip", "-q", "-r", archive, "addons"], cwd=source, check=True)
        shutil.rmtree(source)
        print("archive: %.1f MB on disk, %d files of 5 MB" % (os.path.getsize(archive) / MB, FILES))
        folder = os.path.join(work, "game")
        ours = shlex.split(template.format(archive=shlex.quote(archive), folder=shlex.quote(folder)))
        theirs = ["unzip", "-o", "-q", archive, "-d", folder]
        times = {"installer": [], "unzip": []}
        for _ in range(RUNS):
            times["installer"].append(timed(ours, folder))
            times["unzip"].append(timed(theirs, folder))
        for name, runs in times.items():
            print("%-9s: %s s, best %.3f s" % (name, " ".join("%.3f" % t for t in runs), min(runs)))
        print("ratio installer / unzip -o -q: %.2f" % (min(times["installer"]) / min(times["unzip"])))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
