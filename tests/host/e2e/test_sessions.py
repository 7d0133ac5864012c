"""Several clients at once against the camera machine: interleaving, events for everyone,
clients that go in the middle of a scan or after it, autoinfo and previews that outlive no
client, and how soon the host hands on the lines of a scan."""

import os
import signal
import subprocess
import sys
import time
import unittest

from hostprocess import (AREA_CAMERA, PROBESYSTEM, TIMEOUT, load_camera, start_host,
                         thread_switches, unique_name, wait_until)
from lintelclient import ImageFifo, PreviewMemory


# A reader process: scans `frames` frames into the FIFO, releases the blocks it is told to,
# says which blocks it got and then waits to be killed, its other blocks unreleased.
READER = r"""
import sys
from lintelclient import ImageFifo, LintelClient
port, fifo, frames, keep = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
with LintelClient(port=port) as c:
    scan = c.call("scan time+=%g" % (frames / 100.0))
    got = [int(float(line.split()[2])) for line in scan.data]
    with ImageFifo(fifo) as f:
        for block in got[keep:]:
            f.release(block)
    print(" ".join(map(str, got)), flush=True)
    sys.stdin.read()
"""


class SessionTest(unittest.TestCase):
    def setUp(self):
        self.host = start_host(self)

    def tearDown(self):
        # Whatever a test did, the host ends cleanly once its clients are gone.
        self.assertEqual(self.host.stop(), 0, self.host.stderr())

    def test_two_clients_interleave_and_one_goes_in_a_scan(self):
        with self.host.client() as a, self.host.client() as b:
            name, _ = load_camera(self, a, fifo_bytes=32 << 20, fps=100)
            scan = a.start("scan time+=1")
            lines = scan.lines()
            first = next(lines)  # the scan runs
            # b is served while a's scan streams; the machine has one measurement.
            for i in range(20):
                self.assertEqual(b.call("set scanstep=%d" % i).errors, [])
                self.assertEqual(b.call("get scanstep").numbers(), [i])
            self.assertEqual(b.call("scan time+=1").errors, ["command already active"])
            counters = [float(line.split()[2]) for line in [first] + list(lines)]
            self.assertEqual(counters, [counters[0] + i for i in range(100)])
            scan = a.start("scan time+=60")
            lines = scan.lines()
            for _ in range(5):
                next(lines)
            with ImageFifo(name) as fifo:
                self.assertGreater(fifo.used(), 0)  # nobody released the blocks
                a.close()
                # The host aborts the scan and frees every image the gone client held.
                wait_until(lambda: fifo.used() == 0, "the host to free the images")
            self.assertEqual(len(b.call("scan time+=0.2").data), 20)

    def test_a_killed_reader_leaves_no_block_locked(self):
        # 12 blocks: the second scan takes the blocks the first reader released.
        with self.host.client() as c:
            fifo, _ = load_camera(self, c, fifo_bytes=12 * 320 * 240 + 35 + 12 * 4)
            with ImageFifo(fifo) as ring:
                self.assertEqual(ring.num_entries, 12)
            for kill_during_scan in (False, True):
                with self.subTest(kill_during_scan=kill_during_scan):
                    reader = subprocess.Popen(
                        [sys.executable, "-c", READER, str(self.host.port), fifo, "10", "5"],
                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=os.environ)
                    self.addCleanup(reader.kill)
                    held = set(map(int, reader.stdout.readline().split()[:5]))
                    self.assertEqual(len(held), 5)
                    # The next scan's images go into free blocks, some of them released by
                    # the reader just before.
                    scan = c.start("scan time+=0.07")
                    if kill_during_scan:
                        next(scan.lines())
                    reader.send_signal(signal.SIGKILL)
                    reader.wait(TIMEOUT)
                    # The image block of each line ("time trigger_count imageindex lock").
                    mine = {int(float(line.split()[2])) for line in scan.wait().data}
                    self.assertEqual(len(mine), 7)
                    with ImageFifo(fifo) as ring:
                        # The reader's blocks come free; those of the later scan, also the
                        # ones the reader had released, stay in use.
                        wait_until(lambda: ring.used() == 7, "the host to free the blocks")
                        self.assertTrue(all(ring.in_use(b) for b in mine))
                        self.assertFalse(any(ring.in_use(b) for b in held - mine))
                        for block in mine:
                            ring.release(block)

    def test_autoinfo_streams_until_stopped_or_its_client_quits(self):
        with self.host.client() as a, self.host.client() as b:
            self.assertEqual(b.call("autoinfo start 10 time nothing").errors, ["invalid axis"])
            a.call("set scanstep=4")
            autoinfo = a.start("autoinfo start 10 scanstep scanstep")
            lines = autoinfo.lines()
            self.assertEqual([next(lines) for _ in range(3)], ["data 4 4"] * 3)
            self.assertEqual(b.call("autoinfo start 10 time").errors, ["command already active"])
            self.assertTrue(b.call("autoinfo stop").ok)
            self.assertTrue(autoinfo.wait().ok)
            # Quit answers, then aborts what the client runs and closes.
            autoinfo = a.start("autoinfo start 10 time")
            quit_reply = a.start("quit")
            self.assertTrue(quit_reply.wait().ok)
            self.assertEqual(autoinfo.reply.errors, ["aborted"])
            self.assertEqual(autoinfo.reply.info, ["the client quit"])
            self.assertIsNone(a.read_line())  # closed by the host
            # Its autoinfo is stopped: another one may start.
            other = b.start("autoinfo start 10 time")
            next(other.lines())

    def test_previews_end_with_a_probesystem_change_and_with_their_client(self):
        segment = unique_name("lhprev")
        with self.host.client() as a, self.host.client() as b:
            _, pid = load_camera(self, a, fifo_bytes=0)
            preview = a.start("preview memory start %s %s 10" % (PROBESYSTEM, segment))
            self.assertEqual(b.call("preview memory start %s x 10" % PROBESYSTEM).errors,
                             ["command already active"])
            a.wait_for_event("preview begin")
            with PreviewMemory(segment) as memory:
                self.assertTrue(memory.wait(TIMEOUT))
            self.assertTrue(b.call("probesystem load %s %d" % (PROBESYSTEM, pid)).ok)
            self.assertEqual(preview.wait().errors, ["aborted"])
            self.assertEqual(b.call("preview memory stop " + PROBESYSTEM).warnings,
                             ["operation with no effect"])
            # A preview of a client that goes is stopped: its segment goes with it.
            b.start("preview memory start %s %s 10" % (PROBESYSTEM, segment))
            b.wait_for_event("preview begin")
            b.close()
            wait_until(lambda: not os.path.exists("/dev/shm/" + segment), "the preview to stop")

    def test_the_65th_client_is_refused_and_an_idle_host_sleeps(self):
        clients = [self.host.client() for _ in range(64)]
        try:
            with self.host.client() as extra:
                self.assertEqual(extra.read_line(), '0000\terror "too many clients"')
                self.assertIsNone(extra.read_line())
            self.assertTrue(clients[63].call("version").ok)
        finally:
            for c in clients:
                c.close()
        # The host learns of the 64 closes in its own time: connect until there is room.
        wait_until(self.served, "the closed clients to give up their places")
        with self.host.client() as c:
            self.assertTrue(c.call("version").ok)
            self.assertIdle()

    def served(self):
        with self.host.client() as c:
            try:
                return c.call("version").ok
            except ConnectionError:
                return False

    def assertIdle(self):
        before = thread_switches(self.host.process.pid, "lh-command")
        time.sleep(0.5)  # idle: the command thread must not wake at all
        self.assertLessEqual(thread_switches(self.host.process.pid, "lh-command"), before + 1)

    def test_lines_are_handed_on_as_they_come(self):
        with self.host.client() as c:
            load_camera(self, c, fifo_bytes=0, fps=1000, scandata="time")
            before = thread_switches(self.host.process.pid, "lh-command")
            self.assertEqual(len(c.call("scan time+=1").data), 1000)
            # While lines flow the host looks for them every millisecond, not once a round
            # (20 ms) or a wake-up of the machine (50 ms): some 700 times, not some 60.
            self.assertGreater(thread_switches(self.host.process.pid, "lh-command"),
                               before + 250)
            self.assertIdle()


class EventTest(unittest.TestCase):
    def test_a_camera_error_reaches_every_client(self):
        host = start_host(self, camera=AREA_CAMERA + "BrokenFrames=1-100000000\n")
        with host.client() as a, host.client() as b:
            load_camera(self, a, fifo_bytes=0)  # the camera runs
            a.wait_for_event("resync needed")
            b.wait_for_event("resync needed")
        self.assertEqual(host.stop(), 0, host.stderr())


if __name__ == "__main__":
    unittest.main()
