#!/usr/bin/env python3
"""lintelhost under load and misuse, with the camera module on the simulated camera.

1. Stalls: the round-trip latency of a well-behaved client ("get time", one at a time) while a
   second client does each long operation: preview memory start, preview memory start with no
   probesystem loaded, probesystem load, imagefifo create of 1 GiB, a scan of 20000 frames.
2. Flood: the same client's latency, and the host's peak resident memory, while four
   misbehaving clients flood the host: two pipeline requests and never read, one sends 64 KiB
   request lines and never reads, one runs a fast scan and never reads.
3. Lines: how long measurand lines take from the camera to the client at 1000 frames per second
   (the line's "time" against the client's clock; both are CLOCK_MONOTONIC).

Every figure comes with the idle latency of the same run as its baseline. Goals: p99 under
100 ms behind each long operation, under 50 ms in the flood, peak RSS under 256 MiB.

usage: bench/host_load.py [--lintelhost PATH] [--module PATH] [--flood-seconds N]
                          [--only lines|stalls|flood]
"""

import argparse
import multiprocessing
import os
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "clients", "python"))
from lintelclient import LintelClient, quote  # noqa: E402

CAMERA = ("[SimCamera]\nWidth=320\nHeight=240\nFrameRate=100\nFrameRateMax=20000\n"
          "Exposure=0.01\nExposureMin=0.001\n")
PROBE_CONFIG = ("[General]\nChannels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain,"
                "shutter,framerate\n[Default]\nAccess=D\nStep=1\nMin=0\nMax=1\n"
                "[imagewidth]\nAccess=R\n[imageheight]\nAccess=R\n[imageoffsetx]\nAccess=R\n"
                "[imageoffsety]\nAccess=R\n[gain]\nAccess=RW\nMax=24\n"
                "[shutter]\nAccess=RW\nMin=0.001\nMax=1000\nStep=0.001\n"
                "[framerate]\nAccess=RW\nMin=1\nMax=20000\nStep=1\n")


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p))] if ordered else float("nan")


class Host:
    def __init__(self, lintelhost, module):
        self.directory = tempfile.mkdtemp(prefix="bench-host-")
        ini = os.path.join(self.directory, "sim.ini")
        with open(ini, "w") as f:
            f.write(CAMERA)
        env = dict(os.environ, VYX_SIMCAMERA_INI=ini,
                   VYX_ERRLOG_FILE=os.path.join(self.directory, "errlog.txt"))
        # A host without bounds would take the machine's memory: it dies at 4 GiB instead.
        self.process = subprocess.Popen(
            [lintelhost, "--dir", os.path.join(self.directory, "host"), "--port", "0",
             "--module", module], stdout=subprocess.PIPE, env=env,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30)))
        self.port = int(self.process.stdout.readline().decode().rsplit(":", 1)[1])

    def client(self):
        return LintelClient(port=self.port, timeout=120)

    def status(self, key):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) / 1024.0
        return float("nan")

    def reset_peak(self):
        """Starts the peak resident memory (VmHWM) anew: the earlier parts' image FIFOs (1 GiB)
        were the host's own doing, not the flood's."""
        with open("/proc/%d/clear_refs" % self.process.pid, "w") as f:
            f.write("5")

    def stop(self):
        self.process.terminate()
        self.process.wait(60)
        shutil.rmtree(self.directory, ignore_errors=True)


class Prober(threading.Thread):
    """A well-behaved client: one "get time" at a time, each round trip timed."""

    def __init__(self, host):
        super().__init__(daemon=True)
        self.client = host.client()
        self.latencies = []
        self.running = True
        self.window = None

    def run(self):
        while self.running:
            start = time.monotonic()
            self.client.call("get time")
            if self.window is not None:
                self.window.append(time.monotonic() - start)

    def measure(self, action):
        """Runs `action` and answers the latencies that overlapped it (at least one)."""
        self.window = []
        action()
        while not self.window:
            time.sleep(0.001)
        taken, self.window = self.window, None
        return taken

    def stop(self):
        self.running = False
        self.join()
        self.client.close()


def idle_latencies(host, count=2000):
    with host.client() as c:
        result = []
        for _ in range(count):
            start = time.monotonic()
            c.call("get time")
            result.append(time.monotonic() - start)
        return result


def report(label, latencies, baseline_p99=None):
    p99 = percentile(latencies, 0.99) * 1000
    ratio = "" if baseline_p99 is None else "  (%.1fx idle p99)" % (p99 / baseline_p99)
    print("%-44s n=%6d  median %7.3f ms  p99 %8.3f ms  max %8.3f ms%s" % (
        label, len(latencies), statistics.median(latencies) * 1000, p99,
        max(latencies) * 1000, ratio))
    return p99


def setup(c):
    c.call("probesystem define Camera:1")
    ids = [int(c.call("probesystem list Camera:1").words(i)[1])
           for i in range(len(c.call("probesystem list Camera:1").data))]
    c.call("probesystem load Camera:1 %d" % max(ids))
    c.call("send probe.config " + quote(PROBE_CONFIG))
    return max(ids)


def stalls(host, baseline):
    prober = Prober(host)
    prober.start()
    with host.client() as a:
        pid = setup(a)
        fifo = "benchhost_%d" % os.getpid()

        def preview():
            name = fifo + "_prev"
            a.start("preview memory start Camera:1 %s 0" % name)
            a.wait_for_event("preview begin")
            a.call("preview memory stop Camera:1")

        def preview_unloaded():
            a.call("probesystem unload")
            a.call("preview memory start Camera:1 %s_none 0" % fifo)

        def load():
            a.call("probesystem load Camera:1 %d" % pid)

        def create():
            a.call("imagefifo create %s %d" % (fifo, 1 << 30))

        def scan():
            a.call("set framerate=10000")
            a.call("scandata time trigger_count")
            reply = a.call("scan time+=2")
            assert len(reply.data) >= 19000, (len(reply.data), reply.lines[-3:])

        for label, action in [("preview memory start", preview),
                              ("preview memory start, nothing loaded", preview_unloaded),
                              ("probesystem load", load),
                              ("imagefifo create 1 GiB", create),
                              ("scan of 20000 frames", scan)]:
            started = time.monotonic()
            taken = prober.measure(action)
            report("%s (%.0f ms)" % (label, (time.monotonic() - started) * 1000), taken,
                   baseline)
        a.call("imagefifo delete " + fifo)
    prober.stop()


def flooder(port, payload, first=b""):
    """A client of its own process (the measuring one must not share its interpreter) that
    sends `first`, then `payload` over and over, and never reads."""
    sock = socket.create_connection(("127.0.0.1", port))
    sock.sendall(first)
    while payload:
        try:
            sock.sendall(payload)
        except OSError:
            return
    threading.Event().wait()


def flood(host, seconds, baseline):
    with host.client() as s:
        setup(s)
        s.call("set framerate=10000")
        s.call("scandata time trigger_count clock")
    stop = threading.Event()
    gets = b"".join(b"%d get time trigger_count clock\n" % (i % 9000 + 1) for i in range(1000))
    axes = b"".join(b"%d axes\n" % (i % 9000 + 1) for i in range(100))
    long_lines = b"1 get " + b"x" * 65000 + b"\n"
    flooders = [multiprocessing.Process(target=flooder, args=(host.port,) + a, daemon=True)
                for a in [(gets,), (axes,), (long_lines,), (b"", b"1 scan time+=1000\n")]]
    host.reset_peak()
    for f in flooders:
        f.start()
    prober = Prober(host)
    prober.start()
    peak = [0.0]

    def sample():
        while not stop.is_set():
            peak[0] = max(peak[0], host.status("VmRSS"))
            time.sleep(0.05)

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    taken = prober.measure(lambda: time.sleep(seconds))
    stop.set()
    prober.stop()
    p99 = report("flood, 4 misbehaving clients", taken, baseline)
    hwm = host.status("VmHWM")
    print("%-44s peak RSS %.1f MiB (sampled %.1f MiB), goal < 256 MiB; p99 goal < 50 ms: %s"
          % ("", hwm, peak[0], "met" if p99 < 50 and hwm < 256 else "NOT met"))
    for f in flooders:
        f.terminate()
        f.join()


def line_delay(host):
    with host.client() as c:
        c.call("set framerate=1000")
        c.call("scandata time trigger_count")
        scan = c.start("scan time+=2")
        delays = []
        for line in scan.lines():
            if line.startswith("data "):
                delays.append(time.monotonic() - float(line.split()[1]))
        print("%-44s n=%6d  median %7.3f ms  p99 %8.3f ms  max %8.3f ms" % (
            "line delay, camera to client, 1000 fps", len(delays),
            statistics.median(delays) * 1000, percentile(delays, 0.99) * 1000,
            max(delays) * 1000))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    build = os.path.join(ROOT, "build", "release")
    parser.add_argument("--lintelhost", default=os.path.join(build, "host/lintelhost/lintelhost"))
    parser.add_argument("--module", default=os.path.join(
        build, "mt_proxy/camera/libvyxcamera.so"))
    parser.add_argument("--flood-seconds", type=float, default=10)
    parser.add_argument("--only", choices=["lines", "stalls", "flood"],
                        help="one part (the idle baseline is always measured)")
    args = parser.parse_args()
    host = Host(args.lintelhost, args.module)
    try:
        with host.client() as c:
            setup(c)
        baseline = report("idle (baseline)", idle_latencies(host))
        print("%-44s RSS %.1f MiB" % ("", host.status("VmRSS")))
        if args.only in (None, "lines"):
            line_delay(host)
        if args.only in (None, "stalls"):
            stalls(host, baseline)
        if args.only in (None, "flood"):
            flood(host, args.flood_seconds, baseline)
    finally:
        host.stop()


if __name__ == "__main__":
    main()
