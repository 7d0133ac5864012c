"""The demo: lintelhost with the simulated camera, driven over the line protocol.

Starts lintelhost on a fresh temporary directory, defines and loads the camera probesystem,
creates and selects a 64 MiB image FIFO, scans at the camera's frame rate, reads and releases
every image as its line arrives, checks it against the simulated camera's test pattern, saves
the first and the last image as PNG and prints what it measured. scripts/demo runs it.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from lintelclient import ImageFifo, LintelClient, quote, write_png  # noqa: E402
from lintelclient.recording import decode_pnm, read_recording  # noqa: E402

PROBESYSTEM = "Camera:1"
FIFO_BYTES = 64 * 1024 * 1024
# Byte k of row y of frame c of the simulated camera (one byte per pixel) is
# (y * sensor width + k + c) mod 251: a pattern that moves by one pixel per frame.
PATTERN_MODULUS = 251

# What a probe's "probe.config" brings: it opens the camera's frame rate and gain.
PROBE_CONFIG = ("[General]\n"
                "Channels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain,shutter,"
                "framerate,light_intensity,light_trigger_mode\n"
                "[Default]\nAccess=D\nStep=1\nMin=0\nMax=1\n"
                "[imagewidth]\nAccess=R\n[imageheight]\nAccess=R\n"
                "[imageoffsetx]\nAccess=R\n[imageoffsety]\nAccess=R\n"
                "[gain]\nAccess=RW\nMin=0\nMax=24\nStep=0.1\n"
                "[shutter]\nAccess=RW\nMin=0.01\nMax=1000\nStep=0.01\n"
                "[framerate]\nAccess=RW\nMin=1\nMax=%d\nStep=1\n"
                "[light_intensity]\nMax=100\n[light_trigger_mode]\nMax=7\n")


class DemoFailed(Exception):
    pass


def parse_arguments():
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.path.join(here, "..", "..", "build", "release")
    parser = argparse.ArgumentParser(prog=os.environ.get("VYXDEMO_PROG"), description=__doc__.split("\n\n")[0])
    parser.add_argument("--fps", type=float, default=50, help="frames per second (50)")
    parser.add_argument("--duration", type=float, default=2, help="seconds to scan (2)")
    parser.add_argument("--size", default="1280x1024", help="image size WIDTHxHEIGHT (1280x1024)")
    parser.add_argument("--output", default=".", help="folder for the two PNG files (.)")
    parser.add_argument("--replay", metavar="DIR",
                        help="play the recording in DIR (recordings/README.md) instead of the "
                             "test pattern; --fps and --size are the recording's")
    parser.add_argument("--preview", action="store_true",
                        help="show the preview window during the scan (needs a display)")
    parser.add_argument("--lintelhost", metavar="PATH",
                        default=os.path.join(build, "host/lintelhost/lintelhost"),
                        help="the lintelhost executable (the release build's)")
    parser.add_argument("--module", metavar="PATH",
                        default=os.path.join(build, "mt_proxy/camera/libvyxcamera.so"),
                        help="the camera module lintelhost loads (the release build's)")
    args = parser.parse_args()
    try:
        args.width, args.height = (int(v) for v in args.size.lower().split("x"))
    except ValueError:
        parser.error("--size takes WIDTHxHEIGHT, such as 1280x1024")
    if args.replay:
        try:
            camera, _ = read_recording(args.replay)
            args.fps, args.width, args.height = (float(camera["FrameRate"]), int(camera["Width"]),
                                                 int(camera["Height"]))
        except (OSError, KeyError, ValueError) as error:
            parser.error("--replay %s: no recording (%s)" % (args.replay, error))
    if args.fps <= 0 or args.duration <= 0 or args.width <= 0 or args.height <= 0:
        parser.error("frames per second, duration and size must be positive")
    return args


class Host:
    """lintelhost on a fresh directory, with the simulated camera configured for the demo."""

    def __init__(self, args):
        # Alone in a folder of its own: a new camera folder is seeded from the installations
        # beside the host's.
        self.root = tempfile.mkdtemp(prefix="vyxdemo.")
        self.directory = os.path.join(self.root, "host")
        os.mkdir(self.directory)
        ini = os.path.join(self.directory, "simcamera.ini")
        with open(ini, "w") as f:
            if args.replay:
                f.write("[SimCamera]\nReplay=%s\n" % os.path.abspath(args.replay))
            else:
                f.write("[SimCamera]\nWidth=%d\nHeight=%d\nPixelFormat=2\nFrameRate=%g\n"
                        "FrameRateMax=%g\nClipHeightMin=1\nClipHeightInc=1\nClipYInc=1\n"
                        % (args.width, args.height, args.fps, max(200.0, args.fps)))
        env = dict(os.environ, VYX_SIMCAMERA_INI=ini)
        self.stderr = open(os.path.join(self.directory, "lintelhost.stderr"), "w+")
        try:
            self.process = subprocess.Popen(
                [args.lintelhost, "--dir", self.directory, "--port", "0", "--module",
                 args.module], stdout=subprocess.PIPE, stderr=self.stderr, env=env)
        except OSError as error:
            self.close()
            raise DemoFailed("cannot start %s: %s (build it with scripts/demo)"
                             % (args.lintelhost, error)) from None
        first = self.process.stdout.readline().decode()
        if not first.startswith("lintelhost: listening on "):
            status = self.process.wait()
            self.stderr.seek(0)
            said = "".join("  " + line for line in self.stderr.readlines()[-12:])
            self.close()
            raise DemoFailed(
                "lintelhost did not start (exit status %d): the camera machine did not open.\n"
                "%s" % (status, said))
        self.port = int(first.rsplit(":", 1)[1])

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(60)
        self.close()
        return status

    def close(self):
        if getattr(self, "process", None) and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.stderr.close()
        shutil.rmtree(self.root, ignore_errors=True)


def expect(reply, what):
    if not reply.ok:
        raise DemoFailed("%s: %s" % (what, "; ".join(reply.errors) or "no answer"))
    return reply


def prepare(client, args, fifo_name):
    expect(client.call("probesystem define " + PROBESYSTEM), "probesystem define")
    listed = client.call("probesystem list " + PROBESYSTEM)
    ids = [int(listed.words(i)[1]) for i in range(len(listed.data))]
    if not ids:
        raise DemoFailed("the probesystem %s was not defined" % PROBESYSTEM)
    expect(client.call("probesystem load %s %d" % (PROBESYSTEM, max(ids))), "probesystem load")
    expect(client.call("send probe.config " + quote(PROBE_CONFIG % max(200, args.fps))),
           "send probe.config")
    if not args.replay:
        expect(client.call("set framerate=%g" % args.fps), "set framerate")
    expect(client.call("imagefifo create %s %d" % (fifo_name, FIFO_BYTES)), "imagefifo create")
    expect(client.call("imagefifo select " + fifo_name), "imagefifo select")
    expect(client.call("scandata time trigger_count imageindex lock"), "scandata")
    info = client.call("imagefifo info")
    for i in range(len(info.data)):
        words = info.words(i)
        if words[0] == fifo_name:
            return [int(w) for w in words[1:6]]  # slots, slot size, width, height, bpp
    raise DemoFailed("imagefifo info does not list " + fifo_name)


def run(args):
    host = Host(args)
    status = None
    try:
        with LintelClient(port=host.port, timeout=60) as client:
            fifo_name = "vyxdemo_%d" % os.getpid()
            slots, slot_size, width, height, bpp = prepare(client, args, fifo_name)
            offset = client.call("get imageoffsetx imageoffsety").numbers()
            print("camera probesystem %s loaded; image FIFO %s: %d slots of %d bytes "
                  "(%d x %d pixels, %d byte each)" % (PROBESYSTEM, fifo_name, slots, slot_size,
                                                      width, height, bpp))
            window = None
            if args.preview:
                if os.environ.get("DISPLAY"):
                    window = client.start("preview window start 0 0 %d %d" % (width, height))
                else:
                    print("--preview: no display (DISPLAY is not set); going on without")
            result = scan(client, args, fifo_name, width, height, bpp, offset)
            if window is not None:
                client.call("preview window stop")
            expect(client.call("imagefifo delete " + fifo_name), "imagefifo delete")
        status = host.stop()
    finally:
        if status is None:
            host.close()
    report(args, result, width, height, bpp)
    if status != 0:
        raise DemoFailed("lintelhost ended with status %d" % status)


def scan(client, args, fifo_name, width, height, bpp, offset):
    recorded = Recorded(args.replay) if args.replay else None
    pattern = b"" if recorded else bytes(
        i % PATTERN_MODULUS for i in range(args.width * args.height + 2 * PATTERN_MODULUS))
    # A camera without clipping offsets has its image at the sensor's corner.
    offset_x, offset_y = (int(v) if v == v else 0 for v in offset[:2])
    frame_bytes = width * height * bpp
    result = {"frames": 0, "lost": 0, "wrong": 0, "bytes": 0, "first": None, "last": None,
              "times": []}
    with ImageFifo(fifo_name) as fifo:
        started = time.monotonic()
        transaction = client.start("scan time+=%g" % args.duration)
        for line in transaction.lines(timeout=60):
            if not line.startswith("data "):
                continue
            t, counter, block, lock = (float(v) for v in line.split()[1:5])
            result["frames"] += 1
            result["times"].append(t)
            if lock != 0 or block < 1:
                result["lost"] += 1
                continue
            image = fifo.read(int(block), frame_bytes)
            fifo.release(int(block))
            if image is None:
                result["wrong"] += 1
                continue
            result["bytes"] += len(image)
            if args.replay:
                result["wrong"] += image != recorded.image(int(counter))
            elif bpp == 1 and not matches(image, pattern, int(counter), width, height, offset_x,
                                          offset_y, args.width):
                result["wrong"] += 1
            if result["first"] is None:
                result["first"] = image
            result["last"] = image
        result["elapsed"] = time.monotonic() - started
        if transaction.reply.errors:
            raise DemoFailed("scan: " + "; ".join(transaction.reply.errors))
    return result


class Recorded:
    """The images of a recording by frame counter, as a replay that goes round delivers them."""

    def __init__(self, folder):
        _, lines = read_recording(folder)
        self.folder = folder
        self.files = {int(line["trigger_count"]): line["frame"] for line in lines}
        self.first = min(self.files)
        self.span = max(self.files) - self.first + 1

    def image(self, counter):
        name = self.files.get((counter - self.first) % self.span + self.first)
        if not name:
            return None
        with open(os.path.join(self.folder, name), "rb") as f:
            return decode_pnm(f.read())[3]


def matches(image, pattern, counter, width, height, offset_x, offset_y, sensor_width):
    phase = counter % PATTERN_MODULUS
    for y in range(height):
        start = ((offset_y + y) * sensor_width + offset_x + phase) % PATTERN_MODULUS
        if image[y * width:(y + 1) * width] != pattern[start:start + width]:
            return False
    return True


def report(args, result, width, height, bpp):
    frames, times = result["frames"], result["times"]
    if frames == 0:
        raise DemoFailed("the scan delivered no line")
    rate = (frames - 1) / (times[-1] - times[0]) if frames > 1 and times[-1] > times[0] else 0
    mbps = result["bytes"] / 1e6 / max(result["elapsed"], 1e-9)
    rows = [("frames", "%d" % frames), ("lost frames", "%d" % result["lost"]),
            ("frames per second", "%.1f (camera time), asked for %g" % (rate, args.fps)),
            ("MB/s", "%.1f" % mbps)]
    for label, value in rows:
        print("%-18s %s" % (label, value))
    os.makedirs(args.output, exist_ok=True)
    for which in ("first", "last"):
        if result[which] is not None:
            path = os.path.join(args.output, "vyxdemo_%s.png" % which)
            write_png(path, width, height, result[which], bpp)
            print("%-18s %s" % (which + " image", path))
    source = "the recording" if args.replay else "the camera's test pattern"
    if result["wrong"]:
        raise DemoFailed("%d images differ from %s" % (result["wrong"], source))
    print("every image matches " + source)


def main():
    args = parse_arguments()
    try:
        run(args)
    except DemoFailed as failure:
        print("demo: %s" % failure, file=sys.stderr)
        return 1
    except (ConnectionError, TimeoutError) as failure:
        print("demo: lintelhost stopped answering: %s" % failure, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
