#!/usr/bin/python3
"""What the confined worker adds to a thumbnail, as whole processes: the same program makes
each thumbnail in its worker (as kelvo-thumbnailer does) or in itself, alternately, and the
medians of wall-clock and CPU time (the process and its children) are printed per model.

    bench/worker-overhead.py [BUILD_DIR] [RUNS] [MODEL...]
        (default build/release, 41 runs, a 12-triangle cube and corpus files)
"""
import ctypes
import os
import resource
import statistics
import struct
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "release")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 41
program = os.path.join(build, "bench", "worker-overhead")
corpus = os.environ.get("KELVO_CORPUS_DIR", os.path.join(here, "..", "..", "shared", "corpus"))

# The worker may still be exiting when its parent has ended: as the subreaper, this script
# inherits it, and waits for it before reading the CPU time of the children.
PR_SET_CHILD_SUBREAPER = 36
ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def reap_orphans():
    try:
        while True:
            os.waitpid(-1, 0)
    except ChildProcessError:
        pass


with tempfile.TemporaryDirectory() as work:
    cube = os.path.join(work, "cube.stl")
    corners = [(x, y, z) for x in (0, 1) for y in (0, 1) for z in (0, 1)]
    faces = [(0, 1, 3, 2), (4, 6, 7, 5), (0, 4, 5, 1), (2, 3, 7, 6), (0, 2, 6, 4), (1, 5, 7, 3)]
    with open(cube, "wb") as f:
        f.write(bytes(80) + struct.pack("<I", 12))
        for a, b, c, d in faces:
            for tri in ((a, b, c), (a, c, d)):
                f.write(struct.pack("<3f", 0, 0, 0))
                for corner in tri:
                    f.write(struct.pack("<3f", *corners[corner]))
                f.write(bytes(2))
    models = sys.argv[3:] or [cube, os.path.join(corpus, "stl", "torus.STL"),
                              os.path.join(corpus, "3mf", "SphereInACage.3mf")]
    output = os.path.join(work, "out.png")
    print("median of %d runs each, alternating (ms)" % runs)
    print("  %-22s %22s %22s %18s" % ("model", "worker wall / cpu", "in-process wall / cpu",
                                      "added wall / cpu"))
    for model in models:
        times = {"worker": ([], []), "in-process": ([], [])}
        for _ in range(runs):
            for mode, (walls, cpus) in times.items():
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                subprocess.run([program, mode, model, output], check=True)
                walls.append((time.perf_counter() - start) * 1e3)
                reap_orphans()
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpus.append((after.ru_utime + after.ru_stime - before.ru_utime -
                             before.ru_stime) * 1e3)
        w = [statistics.median(v) for v in times["worker"]]
        p = [statistics.median(v) for v in times["in-process"]]
        print("  %-22s %10.1f / %-9.1f %10.1f / %-9.1f %8.1f / %-7.1f" % (
            os.path.basename(model)[:22], w[0], w[1], p[0], p[1], w[0] - p[0], w[1] - p[1]))
