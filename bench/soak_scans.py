#!/usr/bin/env python3
"""Soak of the measurement roads under misuse: lintelhost with the camera module on the
simulated camera, and several client processes that scan into one shared image FIFO while
they, and each other, abort scans, delete, re-create, reset and select the FIFO, and while
client processes are killed at random moments (in a scan, after a scan while they still hold
images, idle) and replaced.

Every client checks each image against the simulated camera's test pattern as its line
arrives. At the end the soak reports, and its exit status is 0 only when all three hold:
  crashes        lintelhost ended by a signal, exited with a failure, or dropped a client;
  misnamed lines lines whose block did not hold their frame (free, or another frame) when
                 the client read it, unless another client had deleted the FIFO (and maybe
                 made a new one) between the frame and the client's mapping of the segment,
                 which a client that maps the FIFO late cannot tell; a reset, re-create or
                 delete that the machine allowed while a scan was storing frames into the
                 FIFO counts as misnamed too;
  locked blocks  blocks still in use in the live FIFO once every living client has gone,
                 each with the road that left it (the reader killed holding it, ...); those
                 of deleted FIFOs, whose names are gone, are shown apart and not counted.

    bench/soak_scans.py [--scans 1000] [--clients 3] [--seed N] [--fps 200]

It needs the release build (lintelhost and the module); --lintelhost and --module choose others.
"""

import argparse
import json
import os
import random
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "clients", "python"))  # the client and the demo

import demo  # noqa: E402
from lintelclient import ImageFifo, LintelClient  # noqa: E402
from lintelclient.localhost import HostFailed, LocalHost  # noqa: E402

WIDTH, HEIGHT = 64, 32
MODULUS = 251  # byte i of frame c is (i + c) mod 251 on an unclipped 8-bit camera
PATTERN = bytes(i % MODULUS for i in range(WIDTH * HEIGHT + MODULUS))
FIFO_BLOCKS = 256
FIFO_BYTES = 35 + FIFO_BLOCKS * (WIDTH * HEIGHT + 4)
SCANDATA = "scandata time trigger_count imageindex lock"
# Replies a client may get for what it does; anything else is reported as unexpected.
EXPECTED = {
    "scan": {"command already active", "aborted", "ringbuffer overflow"},
    "reset": {"command already active", "wrong state", "no imagefifo active"},
    "delete": {"command already active", "invalid argument"},
    "create": {"command already active", "wrong state"},
    "select": set(),
}


def emit(*words):
    print(" ".join(str(w) for w in words), flush=True)


def segment_inode(name):
    try:
        return os.stat(os.path.join("/dev/shm", name)).st_ino
    except FileNotFoundError:
        return None


def map_segment(name):
    """(inode, ImageFifo) of the segment now behind the name, or (None, None)."""
    for _ in range(5):
        before = segment_inode(name)
        try:
            fifo = ImageFifo(name)
        except (OSError, ValueError):
            return None, None
        if before is not None and segment_inode(name) == before:
            return before, fifo
        fifo.close()
    return None, None


# ---- one client process ----

class Client:
    """Scans and misuses the FIFO until SIGTERM; reports every step on standard output:
    S/E a scan's start and end, H/R a block taken and released, F a misnamed line, O an
    operation on the FIFO, M a segment mapped, U an unexpected reply, L holding images."""

    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.stop = False
        self.fifos = {}  # inode -> ImageFifo
        self.client = LintelClient(port=args.port, timeout=60)
        signal.signal(signal.SIGTERM, self.on_term)

    def on_term(self, *_):
        self.stop = True

    def run(self):
        self.checked("scandata", self.client.call(SCANDATA))
        emit("READY")
        actions = ["scan"] * 14 + ["reset", "delete", "create", "create", "select", "select"]
        while not self.stop:
            action = self.rng.choice(actions)
            if action == "scan":
                self.scan()
                continue
            words = {"reset": "imagefifo reset", "delete": "imagefifo delete " + self.args.fifo,
                     "create": "imagefifo create %s %d" % (self.args.fifo, FIFO_BYTES),
                     "select": "imagefifo select " + self.args.fifo}[action]
            sent = time.monotonic()
            reply = self.client.call(words)
            emit("O", action, "%.6f" % sent, "%.6f" % time.monotonic(), int(reply.ok),
                 json.dumps(",".join(reply.errors)).replace(" ", "_"))
            self.checked(action, reply)
            time.sleep(self.rng.uniform(0, 0.05))
        self.client.call("quit")
        emit("DONE")

    def checked(self, action, reply):
        for error in reply.errors:
            if error not in EXPECTED.get(action, set()):
                emit("U", action, json.dumps(error))

    def scan(self):
        frames = self.rng.randint(5, 40)
        abort_after = self.rng.randint(1, frames) if self.rng.random() < 0.2 else None
        lazy = self.rng.random() < 0.35  # keeps its images until the scan is over
        scan_id = "%d.%d" % (os.getpid(), self.rng.getrandbits(32))
        sent = time.monotonic()
        emit("S", scan_id)
        transaction = self.client.start("scan time+=%g" % (frames / self.args.fps))
        fifo, inode, held, times, lines, images = None, None, [], [], 0, 0
        for payload in transaction.lines(timeout=60):
            if not payload.startswith("data "):
                continue
            lines += 1
            t, counter, block, lock = (float(v) for v in payload.split()[1:5])
            times.append(t)
            if abort_after is not None and lines == abort_after:
                self.client.start("abort %d" % transaction.tid)
            if lock != 0 or block < 1:
                continue
            images += 1
            if fifo is None:  # the measurement holds the FIFO now: its name is its segment
                inode, fifo = self.segment()
            image = fifo.read(int(block), WIDTH * HEIGHT) if fifo else None
            read_at = time.monotonic()
            phase = int(counter) % MODULUS
            if image == PATTERN[phase:phase + WIDTH * HEIGHT]:
                emit("H", inode, int(block))
                held.append(int(block))
            else:  # not ours to release
                what = "unmapped" if fifo is None else "gone" if image is None else "wrong"
                emit("F", scan_id, what, "%.6f" % read_at, "%.6f" % t, int(block), int(counter))
            if not lazy:
                self.release(fifo, inode, held)
        ran = "command already active" not in transaction.reply.errors
        emit("E", scan_id, int(ran), "%.6f" % sent, "%.6f" % min(times, default=0),
             "%.6f" % max(times, default=0), "%.6f" % time.monotonic(), lines, images)
        self.checked("scan", transaction.reply)
        if held:
            emit("L")
            time.sleep(self.rng.uniform(0.05, 0.3))
            self.release(fifo, inode, held)
        if not ran:
            time.sleep(self.rng.uniform(0.005, 0.03))

    def segment(self):
        inode, fifo = map_segment(self.args.fifo)
        if inode is None:
            return None, None
        if inode in self.fifos:
            fifo.close()
        else:
            self.fifos[inode] = fifo
            emit("M", inode)
        return inode, self.fifos[inode]

    @staticmethod
    def release(fifo, inode, held):
        for block in held:
            fifo.release(block)
            emit("R", inode, block)
        held.clear()


# ---- the soak ----

def start_host(args):
    """The demo's lintelhost: a fresh directory, the simulated camera at the soak's size."""
    settings = argparse.Namespace(width=WIDTH, height=HEIGHT, fps=args.fps, replay=None)
    try:
        return LocalHost(demo.camera_ini(settings), args.lintelhost, args.module)
    except HostFailed as failure:
        raise SystemExit("soak: %s" % failure)


class Slot:
    """One client process and what its reports said so far."""

    def __init__(self, soak, seed):
        self.soak = soak
        command = [sys.executable, os.path.abspath(__file__), "--client", "--port",
                   str(soak.host.port), "--fifo", soak.fifo, "--seed", str(seed),
                   "--fps", str(soak.args.fps)]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        self.state = "idle"  # "scan", "holding"
        self.held = set()  # (inode, block)
        self.inodes = set()
        self.ready = threading.Event()  # it has connected, and takes SIGTERM as its end
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        for line in self.process.stdout:
            self.soak.report(self, line.split())

    def kill(self):
        """Kills the process; where it was, what it held and which segments it mapped."""
        with self.soak.lock:
            state = self.state
        self.process.kill()
        self.process.wait()
        self.reader.join()  # its last reports are in
        return state, set(self.held), set(self.inodes)


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.lock = threading.Lock()
        self.fifo = "vyxsoak_%d" % os.getpid()
        self.host = start_host(args)
        self.scans = self.refused = self.lines = self.aborted_kills = 0
        self.failures = []  # (kind, read_at, frame_time)
        self.ops = []  # (kind, sent, ack) of resets, creates and deletes the machine allowed
        self.spans = []  # (first, last) frame times of scans that stored images
        self.unexpected = []
        self.refusals = {}  # (operation, error) -> count
        self.kills = []  # (state, held, inodes)
        self.segments = {}  # inode -> ImageFifo, mapped as the clients report them
        self.dropped = []  # exit status of each client that ended by itself, or badly
        self.log = open(args.log, "w") if args.log else None

    def report(self, slot, words):
        kind = words[0]
        if self.log:
            self.log.write("%d %s\n" % (slot.process.pid, " ".join(words)))
        with self.lock:
            if kind == "READY":
                slot.ready.set()
            elif kind == "S":
                slot.state = "scan"
            elif kind == "E":
                ran, first, last, lines = int(words[2]), float(words[4]), float(words[5]), int(words[7])
                self.scans += ran
                self.refused += 1 - ran
                self.lines += lines
                if int(words[8]) > 0:  # it stored images: the FIFO was its from first to last
                    self.spans.append((first, last))
                slot.state = "holding" if slot.held else "idle"
            elif kind == "L":
                slot.state = "holding"
            elif kind == "H":
                slot.held.add((int(words[1]), int(words[2])))
            elif kind == "R":
                slot.held.discard((int(words[1]), int(words[2])))
                if not slot.held and slot.state == "holding":
                    slot.state = "idle"
            elif kind == "F":
                self.failures.append((words[2], float(words[3]), float(words[4]), words[1:]))
            elif kind == "O":
                if words[4] == "1" and words[1] in ("reset", "create", "delete"):
                    self.ops.append((words[1], float(words[2]), float(words[3])))
                elif words[4] == "0":
                    key = (words[1], json.loads(words[5]).replace("_", " "))
                    self.refusals[key] = self.refusals.get(key, 0) + 1
            elif kind == "M":
                inode = int(words[1])
                slot.inodes.add(inode)
                if inode not in self.segments:
                    mapped, fifo = map_segment(self.fifo)
                    if mapped == inode:
                        self.segments[inode] = fifo
                    elif fifo is not None:
                        fifo.close()
            elif kind == "U":
                self.unexpected.append(" ".join(words[1:]))

    def prepare(self):
        with LintelClient(port=self.host.port, timeout=60) as control:
            for request in ("probesystem define Camera:1", "probesystem load Camera:1 1", SCANDATA,
                            "imagefifo create %s %d" % (self.fifo, FIFO_BYTES),
                            "imagefifo select " + self.fifo):
                reply = control.call(request)
                if not reply.ok:
                    raise SystemExit("soak: %s: %s" % (request, reply.errors))

    def run(self):
        started = time.monotonic()
        self.prepare()
        slots = [Slot(self, self.rng.getrandbits(32)) for _ in range(self.args.clients)]
        crashed = None
        while self.scans < self.args.scans:
            time.sleep(self.rng.uniform(0.2, 2 * self.args.kill_every))
            if self.host.process.poll() is not None:
                crashed = "lintelhost ended with status %d" % self.host.process.returncode
                break
            index = self.choose_victim(slots)
            self.kills.append(slots[index].kill())
            slots[index] = Slot(self, self.rng.getrandbits(32))
            for i, slot in enumerate(slots):  # a client that ended by itself lost its host
                if slot.process.poll() is not None:
                    slot.reader.join()
                    self.dropped.append(slot.process.returncode)
                    slots[i] = Slot(self, self.rng.getrandbits(32))
        for slot in slots:
            slot.ready.wait(60)
            slot.process.send_signal(signal.SIGTERM)
        for slot in slots:
            try:
                slot.process.wait(60)
            except subprocess.TimeoutExpired:
                slot.process.kill()
            slot.reader.join()
            if slot.process.returncode != 0:
                self.dropped.append(slot.process.returncode)
        if crashed is None and self.host.process.poll() is not None:
            crashed = "lintelhost ended with status %d" % self.host.process.returncode
        locked = self.locked_blocks()
        if crashed is not None:
            crashed += ", its last words:\n" + "".join(self.host.stderr().splitlines(True)[-5:])
        status = self.host.stop()
        if crashed is None and status != 0:
            crashed = "lintelhost exited with status %d at SIGTERM" % status
        return self.summary(time.monotonic() - started, crashed, locked)

    def choose_victim(self, slots):
        """A client in a state chosen at random, waiting up to 2 s for one to get there."""
        wanted = self.rng.choice(["idle", "scan", "scan", "holding", "holding"])
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            with self.lock:
                fitting = [i for i, s in enumerate(slots) if s.state == wanted]
            if fitting:
                return self.rng.choice(fitting)
            time.sleep(0.005)
        return self.rng.randrange(len(slots))

    def locked_blocks(self):
        """Every block in use, with the road that left it, after the host has let every
        client go (a control connection's reply shows it is past their disconnects)."""
        time.sleep(0.5)
        if self.host.process.poll() is None:
            with LintelClient(port=self.host.port, timeout=60) as control:
                control.call("imagefifo info")
        live, fifo = map_segment(self.fifo)
        if live is not None and live not in self.segments:
            self.segments[live] = fifo
        locked = []
        for inode, ring in self.segments.items():
            for block in range(1, ring.num_entries + 1):
                if ring.in_use(block):
                    locked.append((inode == live, self.road(inode, block)))
        return locked

    def road(self, inode, block):
        for state, held, _ in self.kills:
            if (inode, block) in held:
                return {"holding": "reader killed after its scan, holding it",
                        "scan": "reader killed in its scan, holding it",
                        "idle": "reader killed while idle, holding it"}[state]
        # Lines in its socket it never read: the host had ended the scan before the kill.
        if any(state == "scan" and inode in inodes for state, _, inodes in self.kills):
            return "reader killed as its scan ended, before it read the line"
        return "unattributed"

    def misnamed(self):
        """The failed lines no allowed delete explains, and the changes the machine
        allowed while a scan was storing frames."""
        def explained(failure):
            # No segment: deleted; a free or foreign block: deleted and made anew, so the
            # client mapped the new segment; in each case after the frame was stored. A reset
            # explains nothing: it must wait until every block is free.
            kinds = ("delete",) if failure[0] == "unmapped" else ("create",)
            return any(kind in kinds and sent <= failure[1] and ack >= failure[2]
                       for kind, sent, ack in self.ops)

        unexplained = [f for f in self.failures if not explained(f)]
        inside = [op for op in self.ops
                  if any(first <= op[1] and op[2] <= last for first, last in self.spans)]
        return unexplained, inside

    def summary(self, elapsed, crashed, locked):
        unexplained, inside = self.misnamed()
        kills = {}
        for state, _, _ in self.kills:
            kills[state] = kills.get(state, 0) + 1
        roads = {}
        for live, road in locked:
            key = ("live FIFO" if live else "deleted FIFOs", road)
            roads[key] = roads.get(key, 0) + 1
        print("scans run            %d (and %d refused while another ran), %d lines, %.0f s"
              % (self.scans, self.refused, self.lines, elapsed))
        print("operations allowed   %s" % ", ".join(
            "%s %d" % (k, sum(1 for op in self.ops if op[0] == k))
            for k in ("reset", "create", "delete")))
        print("operations refused   %s" % ", ".join(
            "%s %d (%s)" % (op, n, error) for (op, error), n in sorted(self.refusals.items())))
        print("readers killed       %s" % ", ".join("%s %d" % kv for kv in sorted(kills.items())))
        reasons = ([crashed] if crashed else []) + [
            "a client ended with status %d" % status for status in self.dropped]
        print("crashes              %d%s" % (len(reasons),
                                           " (%s)" % "; ".join(reasons) if reasons else ""))
        print("misnamed lines       %d (%d read after the FIFO was deleted, not counted); "
              "changes allowed inside a scan: %d"
              % (len(unexplained) + len(inside), len(self.failures) - len(unexplained),
                 len(inside)))
        for failure in unexplained[:10]:
            print("    line %s" % " ".join(failure[3]))
        for op in inside[:10]:
            print("    %s allowed inside a scan, sent %.6f, answered %.6f" % op)
        # A deleted FIFO's name is gone: no scan can write into it again, and its pages go
        # with its last reader. Its blocks count apart from the live FIFO's, which would fail
        # the next scan.
        stuck = [road for live, road in locked if live]
        print("blocks left locked   %d in the live FIFO (%d more in deleted FIFOs, not counted)"
              % (len(stuck), len(locked) - len(stuck)))
        for (where, road), count in sorted(roads.items()):
            print("    %4d in the %s: %s" % (count, where, road))
        if self.unexpected:
            print("unexpected replies   %d, e.g. %s" % (len(self.unexpected),
                                                     "; ".join(self.unexpected[:5])))
        return crashed is None and not self.dropped and not unexplained and not inside and \
            not stuck


def parse_arguments():
    build = os.path.join(HERE, "..", "build", "release")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scans", type=int, default=1000, help="scans to run (1000)")
    parser.add_argument("--clients", type=int, default=3, help="client processes (3)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (1)")
    parser.add_argument("--fps", type=float, default=200, help="camera frames per second (200)")
    parser.add_argument("--kill-every", type=float, default=1.5,
                        help="mean seconds between killed readers (1.5)")
    parser.add_argument("--log", help="every client report to this file, with its pid")
    parser.add_argument("--lintelhost", default=os.path.join(build, "host/lintelhost/lintelhost"))
    parser.add_argument("--module",
                        default=os.path.join(build, "mt_proxy/camera/libvyxcamera.so"))
    # A client process of the soak (started by it).
    parser.add_argument("--client", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--port", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--fifo", help=argparse.SUPPRESS)
    return parser.parse_args()


def main():
    args = parse_arguments()
    if args.client:
        try:
            Client(args).run()
        except (ConnectionError, TimeoutError) as failure:
            emit("U", "connection", json.dumps(str(failure)))
            return 1
        return 0
    soak = Soak(args)
    try:
        return 0 if soak.run() else 1
    finally:
        soak.host.close()


if __name__ == "__main__":
    sys.exit(main())
