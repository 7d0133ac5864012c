"""Several clients at once against the fake machine: interleaving, events for everyone,
disconnects in the middle of a scan, autoinfo and preview memories that outlive no client."""

import time
import unittest

from hostprocess import FAKE_MODULE, HostProcess, thread_switches, unique_name
from lintelclient import ImageFifo, PreviewMemory

DEADLINE = 30


def wait_until(condition, what):
    deadline = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


class SessionTest(unittest.TestCase):
    def setUp(self):
        self.host = HostProcess(FAKE_MODULE)
        self.addCleanup(self.host.cleanup)

    def stop_host(self):
        self.assertEqual(self.host.stop(), 0, self.host.stderr())

    def camera_fifo(self, client, blocks_bytes=300000):
        name = unique_name("lhsess")
        for request in ["probesystem define cam", "probesystem load cam 1",
                        "imagefifo create %s %d" % (name, blocks_bytes), "imagefifo select " + name,
                        "scandata time trigger_count imageindex"]:
            self.assertTrue(client.call(request).ok, request)
        return name

    def test_two_clients_interleave_and_both_get_machine_events(self):
        with self.host.client() as a, self.host.client() as b:
            self.camera_fifo(a)
            a.call("set framerate=200")
            scan = a.start("scan time+=0.5")
            lines = scan.lines()
            first = next(lines)  # the scan runs
            self.assertTrue(first.startswith("data"))
            # b is served while a's scan streams.
            for i in range(20):
                self.assertEqual(b.call("set x=%d" % i).errors, [])
                self.assertEqual(b.call("get x").numbers(), [i])
            self.assertFalse(b.call("scan time+=1").ok)  # one measurement at a time
            rest = list(lines)
            counters = [float(first.split()[2])] + [float(l.split()[2]) for l in rest]
            self.assertEqual(counters, list(range(1, 101)))
            # A camera error seen on another thread reaches every client as an event.
            self.assertTrue(b.call("send fake.resync now").ok)
            a.wait_for_event("resync needed")
            b.wait_for_event("resync needed")
        self.stop_host()

    def test_disconnect_in_a_scan_aborts_it_and_frees_its_images(self):
        with self.host.client() as a:
            name = self.camera_fifo(a)
            a.call("set framerate=100")
            scan = a.start("scan time+=100")
            lines = scan.lines()
            for _ in range(3):
                next(lines)
            with ImageFifo(name) as fifo:
                self.assertGreater(fifo.used(), 0)  # nobody released the blocks
                a.close()
                wait_until(lambda: fifo.used() == 0, "the host to free the images")
                self.assertTrue(any("scan aborted" in l for l in self.host.journal()))
        # The host goes on: a new client scans.
        with self.host.client() as c:
            c.call("scandata trigger_count")
            self.assertEqual(len(c.call("scan time+=0.05").data), 5)
        self.stop_host()

    def test_quit_answers_then_closes_and_aborts_what_runs(self):
        with self.host.client() as a:
            autoinfo = a.start("autoinfo start 10 x")
            quit_reply = a.start("quit")
            self.assertTrue(quit_reply.wait().ok)
            self.assertEqual(autoinfo.reply.errors, ["aborted"])
            self.assertIsNone(a.read_line())  # closed by the host
        wait_until(lambda: "autoinfo stopped" in self.host.journal(), "autoinfo to stop")
        self.stop_host()

    def test_autoinfo_streams_until_another_client_stops_it(self):
        with self.host.client() as a, self.host.client() as b:
            self.assertEqual(b.call("autoinfo start 10 x nothing").errors, ["invalid axis"])
            a.call("set x=4")
            autoinfo = a.start("autoinfo start 10 x framerate")
            lines = autoinfo.lines()
            self.assertEqual([next(lines) for _ in range(3)], ["data 4 1000"] * 3)
            self.assertEqual(b.call("autoinfo start 10 x").errors, ["command already active"])
            self.assertTrue(b.call("autoinfo stop").ok)
            autoinfo.wait()
            self.assertTrue(autoinfo.reply.ok)
        self.stop_host()

    def test_preview_memory_images_and_machine_ended_previews(self):
        segment = unique_name("lhprev")
        with self.host.client() as a, self.host.client() as b:
            self.camera_fifo(a)
            preview = a.start("preview memory start cam %s 10" % segment)
            self.assertEqual(b.call("preview memory start cam x 10").errors,
                             ["command already active"])
            window = b.start("preview window start 0 0 100 100")
            a.wait_for_event("preview begin")
            with PreviewMemory(segment) as memory:
                seen = []
                for _ in range(3):
                    self.assertTrue(memory.wait(DEADLINE))
                    image = memory.read(64 * 32)
                    frame = image[0]  # byte k of frame n is (n + k) % 251
                    self.assertEqual(image, bytes((frame + k) % 251 for k in range(64 * 32)))
                    seen.append(frame)
                    memory.reset()
                self.assertEqual(seen, sorted(set(seen)))
            # A probesystem change stops every preview: both end with "aborted".
            self.assertTrue(b.call("probesystem load cam 1").ok)
            self.assertEqual(preview.wait().errors, ["aborted"])
            self.assertEqual(window.wait().errors, ["aborted"])
            self.assertEqual(b.call("preview memory stop cam").warnings,
                             ["operation with no effect"])
            # A preview of a client that goes is stopped.
            b.start("preview memory start cam %s 10" % segment)
            b.close()
            wait_until(lambda: self.host.journal().count("preview memory cam stopped") == 2,
                       "the host to stop the preview")
        self.stop_host()

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
        deadline = time.monotonic() + DEADLINE
        while True:
            c = self.host.client()
            try:
                if c.call("version").ok:
                    break
            except ConnectionError:
                pass
            c.close()
            self.assertLess(time.monotonic(), deadline, "the closed clients keep their places")
            time.sleep(0.01)
        with c:
            before = thread_switches(self.host.process.pid, "lh-command")
            time.sleep(0.5)  # idle: the command thread must not wake at all
            self.assertLessEqual(thread_switches(self.host.process.pid, "lh-command"), before + 1)
        self.stop_host()


if __name__ == "__main__":
    unittest.main()
