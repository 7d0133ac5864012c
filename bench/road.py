"""The whole road of the images, measured in one run (bench/road runs it):

1. the module's own ceiling: bench_freerun, the camera machine in free run into rotating slots
   of a 64 MiB FIFO with a reader that costs nothing (medians of its repetitions);
2. through lintelhost and the Python client (lintelclient.Camera, a 64 MiB FIFO, every frame's
   image taken as a zero-copy view and its last byte read, every block released): the highest
   frame rate at which every scan of the trials ends without error and without a lost frame,
   for 1280 x 1024 and 2048 x 2048 8-bit images and a one-row camera of 2048 pixels;
3. the one-row camera through lintelhost to the C library (vyxfifo_scan, which adds up every
   byte of every image), likewise;
4. where the time goes: the Python client alone on a recorded stream of scan lines from a
   local socket (its ceiling), the CPU time per line of lintelhost and of the Python client in
   the one-row scans, and how late the lines of the area scans arrive (frame time to receipt)
   against what the FIFO holds.

Each rate is a ratio to the module's rate of step 1. Search: rates rise by --step until a rate
fails, then the gap to the last passing rate is halved twice.
"""

import argparse
import json
import os
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "clients", "python"))

from lintelclient import Camera, ImageFifo, LintelClient, LintelError  # noqa: E402
from lintelclient.camera import Scan  # noqa: E402
from lintelclient.localhost import BUILD, LocalHost  # noqa: E402

PROBE_CONFIG = ("[General]\nChannels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain,"
                "shutter,framerate\n[Default]\nAccess=D\n[imagewidth]\nAccess=R\n"
                "[imageheight]\nAccess=RW\nMin=1\n[imageoffsetx]\nAccess=R\n"
                "[imageoffsety]\nAccess=RW\n[gain]\nAccess=RW\nMin=0\nMax=24\n"
                "[shutter]\nAccess=RW\nMin=0.00001\nMax=1000\n"
                "[framerate]\nAccess=RW\nMin=1\nMax=4000000\n")
CASES = [  # name, width, height, first rate, the bench_freerun case
    ("1280x1024", 1280, 1024, 500, "BM_FreeRun/1280/1024/4000"),
    ("2048x2048", 2048, 2048, 150, "BM_FreeRun/2048/2048/1000"),
    ("1x2048 line", 2048, 1, 20000, "BM_FreeRun/2048/1/400000"),
]


def camera_ini(width, height):
    return ("[SimCamera]\nWidth=%d\nHeight=%d\nClipHeightMin=1\nClipHeightInc=1\nClipYInc=1\n"
            "FrameRate=50\nFrameRateMax=4000000\nExposure=0.0001\nExposureMin=0.00001\n"
            % (width, height))


def freerun(repetitions):
    """Median lines per second of each bench_freerun case, and its label."""
    program = os.path.join(BUILD, "bench", "bench_freerun")
    done = subprocess.run([program, "--benchmark_format=json",
                           "--benchmark_repetitions=%d" % repetitions],
                          capture_output=True, text=True, check=True)
    rates, labels = {}, {}
    for run in json.loads(done.stdout)["benchmarks"]:
        if run.get("run_type") == "iteration" and "items_per_second" in run:
            name = run["run_name"].split("/iterations")[0]
            rates.setdefault(name, []).append(run["items_per_second"])
            labels[name] = run.get("label", "")
    return {name: statistics.median(values) for name, values in rates.items()}, labels


def cpu_seconds(pid):
    """User and system time of a process so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def python_trial(camera, host, seconds):
    """One scan through the Python client: (passed, what it measured)."""
    scan = camera.frames(seconds=seconds)
    delays, error = [], None
    host_cpu, own_cpu = cpu_seconds(host.process.pid), time.process_time()
    now = time.monotonic
    try:
        for frame in scan:
            delays.append(now() - frame.time)
            if not frame.lost:
                frame.data[-1]
    except LintelError as failure:
        error = str(failure)
    lines = max(scan.frames, 1)
    delays.sort()
    measured = {"lines": scan.frames, "lost": scan.lost, "error": error,
                "host_us": 1e6 * (cpu_seconds(host.process.pid) - host_cpu) / lines,
                "client_us": 1e6 * (time.process_time() - own_cpu) / lines,
                "delay_p50": delays[len(delays) // 2] if delays else 0,
                "delay_p99": delays[int(len(delays) * 0.99)] if delays else 0,
                "delay_max": delays[-1] if delays else 0}
    return error is None and scan.lost == 0, measured


def c_trial(camera, host, seconds):
    """One scan through vyxfifo_scan: (passed, what it measured)."""
    camera.client.call("imagefifo select " + camera.fifo_name, check=True)
    program = os.path.join(BUILD, "clients", "c", "vyxfifo_scan")
    done = subprocess.run([program, "--port", str(host.port), "--seconds", repr(seconds)],
                          capture_output=True, text=True, timeout=seconds * 4 + 60)
    words = done.stdout.split()
    measured = {"lines": int(words[1]) if words else 0,
                "lost": int(words[3]) if words else 0,
                "error": done.stderr.strip() or None}
    return done.returncode == 0, measured


def search(trial, first, step, trials, say):
    """The highest passing rate, its measurements and those of the first failing rate."""
    best, best_measured, failed, failed_measured = None, None, None, None
    rate = first

    def attempt(rate):
        results = []
        for _ in range(trials):
            passed, measured = trial(rate)
            results.append(measured)
            if not passed:
                say("  %9.0f/s  failed: %d lines, %d lost%s" % (
                    rate, measured["lines"], measured["lost"],
                    ", " + measured["error"] if measured["error"] else ""))
                return False, results
        say("  %9.0f/s  passed %d of %d" % (rate, trials, trials))
        return True, results

    while failed is None:
        passed, results = attempt(rate)
        if passed:
            best, best_measured = rate, results
            rate *= step
        else:
            failed, failed_measured = rate, results
    # A first rate that fails: lower ones, until one passes (four at most).
    while best is None and rate > first / step ** 4:
        rate /= step
        passed, results = attempt(rate)
        if passed:
            best, best_measured = rate, results
        else:
            failed, failed_measured = rate, results
    if best is None:
        return None, None, failed, failed_measured
    for _ in range(2):
        middle = round((best + failed) / 2)
        passed, results = attempt(middle)
        if passed:
            best, best_measured = middle, results
        else:
            failed, failed_measured = middle, results
    return best, best_measured, failed, failed_measured


def client_ceiling(lines=400000):
    """The Python client alone: lines per second and CPU microseconds per line, parsing a
    recorded stream of one-row scan lines from a local socket and releasing every block of a
    FIFO of its own."""
    name = "lintelclient_bench_%d" % os.getpid()
    blocks, size = 32768, 2048
    locks = 64 + blocks * size
    with open("/dev/shm/" + name, "wb") as f:
        f.truncate(locks + 8 * blocks)
        f.write(struct.pack("<BB6xQQQQ", 8, 1, size, blocks, 0, locks))
    server = socket.create_server(("127.0.0.1", 0))
    payload = "".join("0001\tdata %.6f %d %d 0\r\n" % (1000 + i * 1e-6, i + 1, i % blocks + 1)
                      for i in range(lines)).encode() + b"0001\tready\r\n"

    def serve():
        conn, _ = server.accept()
        with conn:
            conn.recv(100)
            conn.sendall(payload)
            conn.recv(100)

    sender = threading.Thread(target=serve)
    sender.start()
    try:
        with ImageFifo(name) as fifo, LintelClient(port=server.getsockname()[1]) as client:
            for number in range(blocks):
                fifo._words[number] = 1
            camera = type("Geometry", (), {"width": size, "height": 1, "bytes_per_pixel": 1,
                                           "_fifo": fifo})()
            started, cpu = time.monotonic(), time.process_time()
            scan = Scan(camera, client.start("scan", stream=True), ("time", "trigger_count",
                                                                    "imageindex", "lock"), 60)
            for frame in scan:
                frame.data[-1]
            elapsed, cpu = time.monotonic() - started, time.process_time() - cpu
            del scan
    finally:
        sender.join()
        server.close()
        os.unlink("/dev/shm/" + name)
    return lines / elapsed, 1e6 * cpu / lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=5, help="length of each scan (5)")
    parser.add_argument("--trials", type=int, default=3, help="scans per rate (3)")
    parser.add_argument("--step", type=float, default=1.5, help="rate factor of the search")
    parser.add_argument("--repetitions", type=int, default=3, help="of bench_freerun (3)")
    parser.add_argument("--only", choices=[c[0] for c in CASES], help="one case only")
    parser.add_argument("--first", type=float, metavar="RATE",
                        help="the rate the search starts at (each case has its own)")
    args = parser.parse_args()

    def say(text):
        print(text, flush=True)

    say("module free run (bench_freerun, medians of %d):" % args.repetitions)
    ceiling, labels = freerun(args.repetitions)
    for name, rate in ceiling.items():
        say("  %-28s %10.0f/s %s" % (name, rate, labels.get(name, "")))
    rate, cpu = client_ceiling()
    say("python client alone on recorded one-row lines: %.0f lines/s, %.2f us CPU per line"
        % (rate, cpu))

    rows = []
    for name, width, height, first, free_name in CASES:
        if args.only and args.only != name:
            continue
        readers = [("python", python_trial)] + ([("C", c_trial)] if height == 1 else [])
        for reader, trial in readers:
            say("%s to %s:" % (name, reader))
            with LocalHost(camera_ini(width, height)) as host, \
                    Camera(port=host.port, timeout=120) as camera:
                camera.configure(PROBE_CONFIG)

                def at(fps):
                    camera.set(framerate=fps)
                    return trial(camera, host, args.seconds)

                best, best_measured, failed, failed_measured = search(
                    at, args.first or first, args.step, args.trials, say)
                slots = camera.slots
            rows.append((name, reader, best, ceiling.get(free_name), slots, best_measured,
                         failed, failed_measured))

    say("\n%-12s %-7s %10s %10s %7s" % ("case", "reader", "best/s", "free run/s", "ratio"))
    for name, reader, best, free, slots, measured, failed, failed_measured in rows:
        say("%-12s %-7s %10s %10.0f %7s" % (name, reader, "%.0f" % best if best else "none",
                                            free or 0, "%.3f" % (best / free)
                                            if best and free else "-"))
    say("\nwhere the time goes:")
    for name, reader, best, free, slots, measured, failed, failed_measured in rows:
        if reader != "python":
            continue
        for label, rate, runs in (("passing", best, measured), ("failing", failed,
                                                                 failed_measured)):
            if not runs or not rate:
                continue
            run = runs[-1]
            say("  %-12s %s at %.0f/s: line delay p50 %.1f ms, p99 %.1f ms, max %.1f ms "
                "(the FIFO holds %d slots = %.1f ms); CPU per line: lintelhost %.2f us, "
                "client %.2f us" % (name, label, rate, 1e3 * run["delay_p50"],
                                    1e3 * run["delay_p99"], 1e3 * run["delay_max"], slots,
                                    1e3 * slots / rate, run["host_us"], run["client_us"]))


if __name__ == "__main__":
    main()
