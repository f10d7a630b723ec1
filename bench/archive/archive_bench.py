#!/usr/bin/env python3
"""Times kitsync-inspect against `unzip -tq` on one large package archive.

Both read every entry of the archive to its end and check its CRC-32, so
Info-ZIP's own tester is the natural peer. The archive (about 200 MB of
uncompressed data, half incompressible, half text, in large and small files)
is made with Info-ZIP zip in a temporary folder that is deleted afterwards.

usage: archive_bench.py [path/to/kitsync-inspect]   (default: build/kitsync-inspect)
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

MB = 1024 * 1024
RUNS = 3


def make_tree(root):
    rng = random.Random(2024)
    words = [b"tank", b"track", b"armour", b"turret", b"wheel", b"engine", b"crew", b"radio", b"map", b"island"]
    addons = os.path.join(root, "addons")
    docs = os.path.join(root, "docs")
    small = os.path.join(root, "missions")
    for folder in (addons, docs, small):
        os.makedirs(folder)
    for i in range(10):  # 100 MB that deflate cannot shrink
        with open(os.path.join(addons, "noise%02d.pbo" % i), "wb") as f:
            f.write(os.urandom(10 * MB))
    line_count = 0
    for i in range(10):  # about 95 MB of text that deflates to a fraction
        with open(os.path.join(docs, "text%02d.txt" % i), "wb") as f:
            lines = []
            size = 0
            while size < 9.5 * MB:
                line = b" ".join(rng.choice(words) for _ in range(8)) + b" %d\n" % line_count
                line_count += 1
                lines.append(line)
                size += len(line)
            f.write(b"".join(lines))
    for i in range(1000):  # many small entries: per-entry costs show here
        with open(os.path.join(small, "m%04d.sqm" % i), "wb") as f:
            f.write(os.urandom(2048) + b"class Mission {};\n" * 200)


def best_of(command):
    best = None
    for _ in range(RUNS):
        start = time.perf_counter()
        result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        if result.returncode != 0:
            sys.exit("%s failed: %s" % (command[0], result.stderr.decode(errors="replace")))
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    tool = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/kitsync-inspect")
    if not os.access(tool, os.X_OK):
        sys.exit("no kitsync-inspect at %s" % tool)
    work = tempfile.mkdtemp(prefix="kitsync-bench-")
    try:
        source = os.path.join(work, "src")
        make_tree(source)
        archive = os.path.join(work, "bench.zip")
        subprocess.run(["zip", "-q", "-r", archive, "addons", "docs", "missions"], cwd=source, check=True)
        shutil.rmtree(source)
        listing = subprocess.run(["unzip", "-Zt", archive], capture_output=True, text=True, check=True).stdout
        print("archive: %.1f MB on disk; %s" % (os.path.getsize(archive) / MB, listing.strip()))
        inspect = best_of([tool, archive])
        tester = best_of(["unzip", "-tq", archive])
        print("kitsync-inspect: best of %d %.3f s" % (RUNS, inspect))
        print("unzip -tq      : best of %d %.3f s" % (RUNS, tester))
        print("ratio kitsync-inspect / unzip -tq: %.2f" % (inspect / tester))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
