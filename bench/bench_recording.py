#!/usr/bin/env python3
"""Does a recording through lintelhost keep up with 1280 x 1024 8-bit frames at 50 frames per
second? lintelhost runs the simulated camera; each round scans SECONDS twice, in turn:

  baseline   a reader that copies each image out of the image FIFO and frees its block
  recording  lintelclient.recording, saving every image as a PGM file on disk

and reports the lines (SECONDS x 50 expected), the lost ones ("lock" 1, or a scan error), the
most image FIFO blocks in use at once (sampled every 2 ms; the FIFO has 102), the time from
the scan's request to its last line, and for the recording the most image bytes that waited
for the disk. Medians over the rounds and the recording's ratios to the baseline close it.

    bench/bench_recording.py [--seconds 10] [--rounds 3] [--folder DIR] [--lintelhost PATH]
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "clients", "python"),
                os.path.join(HERE, "..", "tests", "host", "e2e")]

import hostprocess  # noqa: E402
from lintelclient import ImageFifo, quote  # noqa: E402
from lintelclient import recording  # noqa: E402

BUILD = os.path.join(HERE, "..", "build", "release")
CAMERA = "[SimCamera]\nWidth=1280\nHeight=1024\nPixelFormat=2\nFrameRate=50\n"
FIFO_BYTES = 128 << 20
PROBE_CONFIG = ("[General]\nChannels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain,"
                "shutter,framerate,light_intensity,light_trigger_mode\n"
                "[Default]\nAccess=D\nStep=1\nMin=0\nMax=1\n")


class BlockWatch(threading.Thread):
    """The most blocks in use of the image FIFO whose name starts with `prefix`."""

    def __init__(self, prefix):
        super().__init__(daemon=True)
        self.prefix, self.most, self.stop = prefix, 0, threading.Event()

    def run(self):
        fifo = None
        while not self.stop.wait(0.002):
            if fifo is None:
                names = [n for n in os.listdir("/dev/shm") if n.startswith(self.prefix)]
                fifo = ImageFifo(names[0]) if names else None
                continue
            self.most = max(self.most, fifo.used())
        if fifo is not None:
            fifo.close()


def baseline(client, seconds):
    name = "benchbase_%d" % os.getpid()
    assert client.call("imagefifo create %s %d" % (name, FIFO_BYTES)).ok
    assert client.call("imagefifo select " + name).ok
    assert client.call("scandata " + " ".join(recording.COLUMNS)).ok
    watch = BlockWatch(name)
    watch.start()
    lines = lost = 0
    held = None
    with ImageFifo(name) as fifo:
        started = time.monotonic()
        scan = client.start("scan time+=%r" % seconds)
        for payload in scan.lines(timeout=60):
            if not payload.startswith("data "):
                continue
            words = payload.split()[1:]
            lines += 1
            block = int(float(words[4]))
            if words[3] != "0" or block < 1:
                lost += 1
                continue
            if held is not None:
                fifo.release(held)
            fifo.read(block, 1280 * 1024)
            held = block
        elapsed = time.monotonic() - started
        if held is not None:
            fifo.release(held)
    watch.stop.set()
    watch.join()
    client.call("imagefifo delete " + name)
    return {"lines": lines, "lost": lost + len(scan.reply.errors), "blocks": watch.most,
            "seconds": elapsed, "waited": 0}


def record(client, seconds, folder):
    watch = BlockWatch("record_%d_" % os.getpid())
    watch.start()
    started = time.monotonic()
    try:
        f = recording.record(client, seconds, folder, fifo_bytes=FIFO_BYTES)
        lost = f["lost"]
    except recording.RecordingFailed as failure:
        print("  recording failed: %s" % failure)
        f, lost = {"lines": 0, "most_waiting": 0}, 1
    elapsed = time.monotonic() - started
    watch.stop.set()
    watch.join()
    shutil.rmtree(folder, ignore_errors=True)
    return {"lines": f["lines"], "lost": lost, "blocks": watch.most, "seconds": elapsed,
            "waited": f["most_waiting"] / 1e6}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--folder", default=tempfile.gettempdir(),
                        help="where the recordings go (the system's temporary folder)")
    parser.add_argument("--lintelhost", default=os.path.join(BUILD, "host/lintelhost/lintelhost"))
    parser.add_argument("--module",
                        default=os.path.join(BUILD, "mt_proxy/camera/libvyxcamera.so"))
    args = parser.parse_args()
    hostprocess.LINTELHOST = args.lintelhost
    work = tempfile.mkdtemp(prefix="bench_recording.")
    with open(os.path.join(work, "camera.ini"), "w") as f:
        f.write(CAMERA)
    host = hostprocess.HostProcess(args.module,
                                   env={"VYX_SIMCAMERA_INI": os.path.join(work, "camera.ini")})
    results = {"baseline": [], "recording": []}
    try:
        with host.client() as client:
            assert client.call("probesystem define Camera:1").ok
            listed = client.call("probesystem list Camera:1")
            pid = max(int(listed.words(i)[1]) for i in range(len(listed.data)))
            assert client.call("probesystem load Camera:1 %d" % pid).ok
            assert client.call("send probe.config " + quote(PROBE_CONFIG)).ok
            print("%-10s %6s %5s %7s %8s %10s" % ("round", "lines", "lost", "blocks", "seconds",
                                                 "waited MB"))
            for n in range(args.rounds):
                folder = os.path.join(args.folder, "bench_recording_%d_%d" % (os.getpid(), n))
                for kind, run in (("baseline", lambda: baseline(client, args.seconds)),
                                  ("recording", lambda: record(client, args.seconds, folder))):
                    r = run()
                    results[kind].append(r)
                    print("%-10s %6d %5d %7d %8.2f %10.1f" % (
                        kind, r["lines"], r["lost"], r["blocks"], r["seconds"], r["waited"]))
        host.stop()
    finally:
        host.cleanup()
        shutil.rmtree(work, ignore_errors=True)

    def median(kind, key):
        return statistics.median(r[key] for r in results[kind])

    expected = int(round(args.seconds * 50))
    print("\nmedians over %d rounds of %g s (%d lines expected, 1.31 MB each):"
          % (args.rounds, args.seconds, expected))
    for kind in results:
        print("  %-10s lines %d, lost %d, most blocks in use %d of 102, %.2f s, %.1f MB waited"
              % (kind, median(kind, "lines"), median(kind, "lost"), median(kind, "blocks"),
                 median(kind, "seconds"), median(kind, "waited")))
    print("recording / baseline: %.3f x the time, %.2f x the blocks in use; %.1f MB/s to disk"
          % (median("recording", "seconds") / median("baseline", "seconds"),
             median("recording", "blocks") / max(median("baseline", "blocks"), 1),
             median("recording", "lines") * 1.31072 / median("recording", "seconds")))
    return 0 if all(r["lost"] == 0 and r["lines"] == expected
                    for rs in results.values() for r in rs) else 1


if __name__ == "__main__":
    sys.exit(main())
