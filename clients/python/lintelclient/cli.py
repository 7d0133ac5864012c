"""The camera of a lintelhost from the command line.

Every command is an entry of COMMANDS: its name, a line of help, a function that adds its
options and the function that runs it with the parsed options. An entry whose module lives
elsewhere is imported only when its command runs and takes its own arguments (its main(argv)).
"""

import argparse
import collections
import importlib
import os
import sys
import time

from lintelclient.camera import Camera, ignored_text, set_axes
from lintelclient.protocol import LintelClient, LintelError, quote
from lintelclient.saving import FrameSaver, tiff_library

Command = collections.namedtuple("Command", "name help arguments run")

# What each bit of the FLAGS column of "axes" means.
FLAG_NAMES = [(2, "readable"), (4, "writable"), (1, "access B"), (16, "not available")]


def _client(args):
    return LintelClient(args.host, args.port, args.timeout)


def _axes(client):
    listed = client.call("axes", check=True)
    return {words[0]: words[1:] for words in (listed.words(i) for i in range(len(listed.data)))}


def flag_text(flags):
    """The FLAGS column in words ("readable, writable")."""
    return ", ".join(name for bit, name in FLAG_NAMES if flags & bit) or "none"


def run_info(args):
    """info: what the host and its machine offer."""
    with _client(args) as client:
        version = client.call("version", check=True).words()
        print("lintelhost   %s, machine %s" % (version[0], version[1]))
        kind = client.call("probesystem type")
        if kind.ok and kind.data:
            numbers = kind.numbers()
            what = {0: "none", 2: "line camera", 3: "area camera"}.get(int(numbers[0]), "other")
            print("loaded       %s, %d x %d pixels" % (what, numbers[1], numbers[2]))
        listed = client.call("probesystem list", check=True)
        for i in range(len(listed.data)):
            words = listed.words(i)
            print("probesystem  %s id %s" % (words[0], words[1]))
        fifos = client.call("imagefifo info")
        for i in range(len(fifos.data) if fifos.ok else 0):
            w = fifos.words(i)
            print("image FIFO   %s: %s slots of %s bytes, %s x %s x %s%s" % (
                w[0], w[1], w[2], w[3], w[4], w[5], ", active" if w[6] != "0" else ""))
        print("\n%-20s %5s  %-28s %12s %12s %10s" % ("axis", "flags", "meaning", "min", "max",
                                                     "accuracy"))
        for name, rest in _axes(client).items():
            flags = int(float(rest[0]))
            print("%-20s %5d  %-28s %12s %12s %10s" % (name, flags, flag_text(flags), rest[1],
                                                       rest[2], rest[3]))
    print("\nset leaves the axes of flag 16 to the camera; a probe.config opens them "
          "(PROTOCOL.md).")


def run_get(args):
    """get AXIS...: current values, one per line."""
    with _client(args) as client:
        values = client.call("get " + " ".join(args.axes), check=True).data[0].split()
    for name, value in zip(args.axes, values):
        print("%s %s" % (name, value))


def run_set(args):
    """set AXIS=VALUE...: the values afterwards; fails when the machine ignored one."""
    values = {}
    for item in args.values:
        name, equals, value = item.partition("=")
        try:
            values[name] = float(value)
        except ValueError:
            equals = ""
        if not equals or not name:
            raise SystemExit("lintelclient set: %r is no AXIS=VALUE" % item)
    with _client(args) as client:
        now, ignored = set_axes(client, values)
    for name, value in now.items():
        print("%s %g" % (name, value))
    if ignored:
        raise LintelError("set", [ignored_text(ignored)])


def run_send(args):
    """send COMPONENT TEXT: the text, @FILE or - for standard input."""
    text = args.text
    if text == "-":
        text = sys.stdin.read()
    elif text.startswith("@"):
        with open(text[1:]) as f:
            text = f.read()
    with _client(args) as client:
        client.call("send %s %s" % (args.component, quote(text)), check=True)


def run_receive(args):
    """receive COMPONENT: the component's text."""
    with _client(args) as client:
        text = client.call("receive " + args.component, check=True).words()[0]
    sys.stdout.write(text if text.endswith("\n") or not text else text + "\n")


def _camera(args):
    return Camera(args.host, args.port, probesystem=args.probesystem, timeout=args.timeout)


def _bar(done, width=30):
    filled = int(width * min(max(done, 0.0), 1.0))
    return "[" + "#" * filled + "-" * (width - filled) + "]"


def run_scan(args):
    """scan: one scan, frames counted and saved; status 1 when frames were lost."""
    if args.format == "tiff" and tiff_library() is None:
        raise SystemExit("lintelclient scan: no TIFF library is installed (python3-tifffile or "
                         "python3-pil); use --format png")
    with _camera(args) as camera:
        saver = None
        if args.save:
            saver = FrameSaver(args.save, camera.width, camera.height, camera.bytes_per_pixel,
                               tiff=args.format == "tiff")
        scan = camera.frames(count=args.frames, seconds=args.seconds)
        first = last = None
        try:
            for frame in scan:
                first, last = frame.time if first is None else first, frame.time
                if saver is not None and not frame.lost:
                    saver.add(frame.counter, frame.data)
        finally:
            paths = saver.close() if saver is not None else []
    rate = (scan.frames - 1) / (last - first) if scan.frames > 1 and last > first else 0
    print("frames %d, lost %d, %.1f frames per second (camera time)" % (scan.frames, scan.lost,
                                                                        rate))
    if paths:
        print("saved %d file%s in %s" % (len(paths), "" if len(paths) == 1 else "s", args.save))
    return 1 if scan.lost else 0


def run_watch(args):
    """watch: frames per second and lost frames on one line, live."""
    with _camera(args) as camera:
        scan = camera.frames(seconds=args.seconds)
        started = last = time.monotonic()
        counted = 0
        try:
            for _ in scan:
                now = time.monotonic()
                if now - last < 0.2:
                    continue
                rate = (scan.frames - counted) / (now - last)
                counted, last = scan.frames, now
                line = "%8.1f frames/s  %8d frames  %6d lost" % (rate, scan.frames, scan.lost)
                if args.seconds:
                    line += "  " + _bar((now - started) / args.seconds)
                sys.stdout.write("\r" + line)
                sys.stdout.flush()
        except KeyboardInterrupt:
            scan.stop()
        print("\n%d frames, %d lost" % (scan.frames, scan.lost))
    return 1 if scan.lost else 0


def _elsewhere(command, module, what):
    """The run function of a command whose code lives in lintelclient.<module>."""
    def run(argv):
        name = "lintelclient." + module
        try:
            loaded = importlib.import_module(name)
        except ModuleNotFoundError as error:
            if error.name != name:
                raise
            raise SystemExit("lintelclient: the %s command is not installed here (%s is "
                             "missing); %s" % (command, name.replace(".", "/") + ".py", what))
        return loaded.main(argv)
    return run


def _scan_arguments(parser, timed_only=False):
    group = parser.add_mutually_exclusive_group(required=not timed_only)
    group.add_argument("--seconds", type=float, help="scan this long")
    if not timed_only:
        group.add_argument("--frames", type=int, help="scan this many frames")
    parser.add_argument("--probesystem", help="load this probesystem (default: keep a loaded "
                        "camera, else Camera:1)")


def _scan_options(parser):
    _scan_arguments(parser)
    parser.add_argument("--save", metavar="DIR", help="save every frame into DIR")
    parser.add_argument("--format", choices=("png", "tiff"), default="png",
                        help="one PNG per frame (16-bit for 2-byte pixels), or one TIFF stack "
                        "(needs tifffile or Pillow; here: %s)" % (tiff_library() or "none"))


def _axes_option(parser):
    parser.add_argument("axes", nargs="+", metavar="AXIS")


COMMANDS = [
    Command("info", "version, probesystems, FIFOs and every axis with what can be set",
            lambda p: None, run_info),
    Command("scan", "one scan; frames counted and saved (--save DIR)", _scan_options, run_scan),
    Command("watch", "live frames per second and lost frames, until Ctrl-C or --seconds",
            lambda p: _scan_arguments(p, timed_only=True), run_watch),
    Command("get", "current values of axes", _axes_option, run_get),
    Command("set", "set axes (AXIS=VALUE ...); prints what they are afterwards and which the "
            "machine ignored",
            lambda p: p.add_argument("values", nargs="+", metavar="AXIS=VALUE"), run_set),
    Command("send", "send a component's text (TEXT, @FILE or - for standard input)",
            lambda p: (p.add_argument("component"), p.add_argument("text")), run_send),
    Command("receive", "print a component's text (probe.config, probe.hardware, ...)",
            lambda p: p.add_argument("component"), run_receive),
    Command("record", "record every frame of a scan with its measurand line",
            None, _elsewhere("record", "recording", "it would record a scan's frames and lines")),
]


def build_parser():
    """The argument parser of every command of COMMANDS."""
    parser = argparse.ArgumentParser(prog="python -m lintelclient", description=__doc__
                                     .split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for command in COMMANDS:
        if command.arguments is None:  # takes its own arguments
            sub = commands.add_parser(command.name, help=command.help, add_help=False)
            sub.add_argument("rest", nargs=argparse.REMAINDER)
            continue
        sub = commands.add_parser(command.name, help=command.help, description=command.help)
        sub.add_argument("--host", default="127.0.0.1", help="where lintelhost runs (127.0.0.1)")
        sub.add_argument("--port", type=int, default=int(os.environ.get("LINTELHOST_PORT",
                                                                        4711)),
                         help="its port (4711, or $LINTELHOST_PORT)")
        sub.add_argument("--timeout", type=float, default=30.0,
                         help="seconds to wait for an answer (30)")
        command.arguments(sub)
    return parser


def main(argv=None):
    """Runs one command; its exit status (0 done, 1 failed or frames lost, 2 usage)."""
    argv = sys.argv[1:] if argv is None else argv
    external = {c.name: c.run for c in COMMANDS if c.arguments is None}
    if argv and argv[0] in external:
        return external[argv[0]](argv[1:])
    args = build_parser().parse_args(argv)
    run = next(c.run for c in COMMANDS if c.name == args.command)
    try:
        return run(args) or 0
    except LintelError as error:
        print("lintelclient: %s" % error, file=sys.stderr)
    except (ConnectionError, TimeoutError, OSError) as error:
        print("lintelclient: lintelhost at %s:%d: %s" % (args.host, args.port, error),
              file=sys.stderr)
    except (RuntimeError, ValueError) as error:
        print("lintelclient: %s" % error, file=sys.stderr)
    return 1
