"""The demo: lintelhost with the simulated camera, driven through the Python client.

Starts lintelhost on a fresh temporary directory, opens its camera (which loads the camera
probesystem and makes an image FIFO of 64 MiB), opens the frame rate through a probe.config
text and sets it, scans, checks every image against the simulated camera's test pattern as it
comes, saves the first and the last image as PNG and prints what it measured. A failure
prints the host's reason for it; the FIFO and the host go in every case, also on Ctrl-C and
SIGTERM. On SIGKILL the host still gets SIGTERM from the system (it dies with the demo) and
removes the FIFO itself. scripts/demo builds what is missing and runs it.
"""

import argparse
import os
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from lintelclient import Camera, LintelError, write_png  # noqa: E402
from lintelclient.localhost import LINTELHOST, MODULE, HostFailed, LocalHost  # noqa: E402
from lintelclient.recording import decode_pnm, read_recording  # noqa: E402

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


class Stopped(Exception):
    """SIGTERM, turned into an exception so that everything is cleaned up on the way out."""


def parse_arguments(argv=None):
    parser = argparse.ArgumentParser(prog=os.environ.get("VYXDEMO_PROG"),
                                     description=__doc__.split("\n\n")[0])
    parser.add_argument("--fps", type=float, default=50, help="frames per second (50)")
    parser.add_argument("--duration", type=float, default=2, help="seconds to scan (2)")
    parser.add_argument("--size", default="1280x1024", help="image size WIDTHxHEIGHT (1280x1024)")
    parser.add_argument("--output", default=".", help="folder for the two PNG files (.)")
    parser.add_argument("--replay", metavar="DIR",
                        help="play the recording in DIR (recordings/README.md) instead of the "
                             "test pattern; --fps and --size are the recording's")
    parser.add_argument("--preview", action="store_true",
                        help="show the preview window during the scan (needs a display)")
    parser.add_argument("--lintelhost", metavar="PATH", default=LINTELHOST,
                        help="the lintelhost executable (the release build's)")
    parser.add_argument("--module", metavar="PATH", default=MODULE,
                        help="the camera module lintelhost loads (the release build's)")
    args = parser.parse_args(argv)
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
        args.replay = os.path.abspath(args.replay)
    if args.fps <= 0 or args.duration <= 0 or args.width <= 0 or args.height <= 0:
        parser.error("frames per second, duration and size must be positive")
    args.output = os.path.abspath(args.output)
    return args


def camera_ini(args):
    if args.replay:
        return "[SimCamera]\nReplay=%s\n" % args.replay
    return ("[SimCamera]\nWidth=%d\nHeight=%d\nPixelFormat=2\nFrameRate=%g\nFrameRateMax=%g\n"
            "ClipHeightMin=1\nClipHeightInc=1\nClipYInc=1\n"
            % (args.width, args.height, args.fps, max(200.0, args.fps)))


def host_said(host, since):
    """The error-log lines the host wrote after offset `since` of its standard error."""
    lines = []
    for line in host.stderr()[since:].splitlines():
        _, marker, message = line.partition(" ERR ")
        lines.append(message if marker else line)
    return lines


def explain(failure, host, since):
    """The failure with the host's reason: its info line, else what it logged meanwhile."""
    if failure.reason:
        return "%s: %s\n  the host says: %s" % (failure.command, "; ".join(failure.errors),
                                                failure.reason)
    said = host_said(host, since)
    return str(failure) + "".join("\n  lintelhost: " + line for line in said[:12])


def run(args):
    try:
        host = LocalHost(camera_ini(args), args.lintelhost, args.module)
    except HostFailed as failure:
        raise DemoFailed("%s\n(scripts/demo builds lintelhost and the module)" % failure)
    since = 0
    try:
        with Camera(port=host.port, timeout=60) as camera:
            camera.configure(PROBE_CONFIG % max(200, args.fps))
            if not args.replay:  # a replay keeps the recording's rate
                camera.set(framerate=args.fps)
            print("camera probesystem loaded; image FIFO %s: %d slots of %d x %d pixels, "
                  "%d byte each" % (camera.fifo_name, camera.slots, camera.width,
                                    camera.height, camera.bytes_per_pixel))
            window = None
            if args.preview:
                if os.environ.get("DISPLAY"):
                    window = camera.client.start("preview window start 0 0 %d %d"
                                                 % (camera.width, camera.height))
                else:
                    print("--preview: no display (DISPLAY is not set); going on without")
            since = len(host.stderr())
            result = scan(camera, args)
            if window is not None:
                camera.client.call("preview window stop")
        status = host.stop()
    except LintelError as failure:
        raise DemoFailed(explain(failure, host, since)) from None
    finally:
        host.close()
    report(args, result, camera)
    if status != 0:
        raise DemoFailed("lintelhost ended with status %d" % status)


def scan(camera, args):
    recorded = Recorded(args.replay) if args.replay else None
    pattern = b"" if recorded else bytes(
        i % PATTERN_MODULUS for i in range(args.width * args.height + 2 * PATTERN_MODULUS))
    offset_x, offset_y = (0 if v != v else int(v)
                          for v in camera.get("imageoffsetx", "imageoffsety"))
    result = {"wrong": 0, "bytes": 0, "first": None, "last": bytearray(camera.image_bytes),
              "times": []}
    frames = camera.frames(seconds=args.duration)
    for frame in frames:
        result["times"].append(frame.time)
        if frame.lost:
            continue
        image = frame.data
        result["bytes"] += len(image)
        if recorded is not None:
            result["wrong"] += bytes(image) != recorded.image(frame.counter)
        elif camera.bytes_per_pixel == 1 and not matches(image, pattern, frame.counter, camera,
                                                       offset_x, offset_y, args.width):
            result["wrong"] += 1
        if result["first"] is None:
            result["first"] = bytes(image)
        result["last"][:] = image
    result["frames"], result["lost"] = frames.frames, frames.lost
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


def matches(image, pattern, counter, camera, offset_x, offset_y, sensor_width):
    width, phase = camera.width, counter % PATTERN_MODULUS
    for y in range(camera.height):
        start = ((offset_y + y) * sensor_width + offset_x + phase) % PATTERN_MODULUS
        if image[y * width:(y + 1) * width] != pattern[start:start + width]:
            return False
    return True


def report(args, result, camera):
    frames, times = result["frames"], result["times"]
    if frames == 0:
        raise DemoFailed("the scan delivered no line")
    rate = (frames - 1) / (times[-1] - times[0]) if frames > 1 and times[-1] > times[0] else 0
    rows = [("frames", "%d" % frames), ("lost frames", "%d" % result["lost"]),
            ("frames per second", "%.1f (camera time), asked for %g" % (rate, args.fps)),
            ("MB/s", "%.1f" % (result["bytes"] / 1e6 / max(times[-1] - times[0], 1e-9)))]
    os.makedirs(args.output, exist_ok=True)
    for which in ("first", "last"):
        if result["first"] is not None:
            path = os.path.join(args.output, "vyxdemo_%s.png" % which)
            write_png(path, camera.width, camera.height, result[which], camera.bytes_per_pixel)
            rows.append((which + " image", path))
    width = max(len(label) for label, _ in rows)
    for label, value in rows:
        print("%-*s  %s" % (width, label, value))
    source = "the recording" if args.replay else "the camera's test pattern"
    if result["wrong"]:
        raise DemoFailed("%d images differ from %s" % (result["wrong"], source))
    print("every image matches " + source)


def stop_on_sigterm(signum, frame):
    raise Stopped()


def main(argv=None):
    args = parse_arguments(argv)
    signal.signal(signal.SIGTERM, stop_on_sigterm)
    try:
        run(args)
    except DemoFailed as failure:
        print("demo: %s" % failure, file=sys.stderr)
        return 1
    except (ConnectionError, TimeoutError) as failure:
        print("demo: lintelhost stopped answering: %s" % failure, file=sys.stderr)
        return 1
    except (KeyboardInterrupt, Stopped):
        print("demo: stopped; the image FIFO and lintelhost are gone", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
