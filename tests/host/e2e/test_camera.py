"""lintelhost with the camera module and its simulated camera, end to end over TCP: every
keyword, two clients, a disconnect and SIGTERM in a scan, a line camera at 10,000 frames per
second, fuzzed request lines. Until the camera machine opens, every test here skips and says
why (lintelhost then exits with status 1 and prints the reason)."""

import math
import os
import signal
import tempfile
import threading
import unittest

from fuzzlines import fuzz_lines
from hostprocess import (CAMERA_MODULE, LEAK_CHECK_ENV, HostDidNotStart, HostProcess,
                         leak_check_unavailable, shm_names, unique_name)
from lintelclient import ImageFifo, PreviewMemory, quote

PROBESYSTEM = "Camera:1"
# A probe configuration that opens the camera's frame rate and gain.
PROBE_CONFIG = ("[General]\nChannels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain,"
                "shutter,framerate,light_intensity,light_trigger_mode\n"
                "[Default]\nAccess=D\nStep=1\nMin=0\nMax=1\n"
                "[imagewidth]\nAccess=R\n[imageheight]\nAccess=R\n"
                "[imageoffsetx]\nAccess=R\n[imageoffsety]\nAccess=R\n"
                "[gain]\nAccess=RW\nMin=0\nMax=24\nStep=0.1\n"
                "[shutter]\nAccess=RW\nMin=0.001\nMax=1000\nStep=0.001\n"
                "[framerate]\nAccess=RW\nMin=1\nMax=20000\nStep=1\n"
                "[light_intensity]\nMax=100\n[light_trigger_mode]\nMax=7\n")
AREA_CAMERA = "[SimCamera]\nWidth=320\nHeight=240\nFrameRate=100\nFrameRateMax=1000\n"
LINE_CAMERA = ("[SimCamera]\nWidth=2048\nHeight=1\nClipHeightMin=1\nClipHeightInc=1\n"
               "FrameRate=10000\nFrameRateMax=20000\nExposure=0.05\nExposureMin=0.001\n")


def start_camera_host(test, camera_ini, env=None):
    """lintelhost with the camera module, or a skip with lintelhost's own reason."""
    folder = tempfile.TemporaryDirectory()
    test.addCleanup(folder.cleanup)
    ini = os.path.join(folder.name, "simcamera.ini")
    with open(ini, "w") as f:
        f.write(camera_ini)
    try:
        host = HostProcess(CAMERA_MODULE, env=dict(env or {}, VYX_SIMCAMERA_INI=ini))
    except HostDidNotStart as failure:
        if failure.status == 1:
            test.skipTest("the camera machine does not open yet (lintelhost exit status 1: %s)"
                          % " / ".join(failure.stderr.strip().splitlines()[:3]))
        raise
    test.addCleanup(host.cleanup)
    return host


def load_camera(test, client, fifo_bytes=64 << 20, fps=None):
    """Probesystem loaded, frame rate opened (and set), a fresh image FIFO selected."""
    test.assertTrue(client.call("probesystem define " + PROBESYSTEM).ok)
    listed = client.call("probesystem list " + PROBESYSTEM)
    pid = max(int(listed.words(i)[1]) for i in range(len(listed.data)))
    test.assertTrue(client.call("probesystem load %s %d" % (PROBESYSTEM, pid)).ok)
    test.assertTrue(client.call("send probe.config " + quote(PROBE_CONFIG)).ok)
    if fps is not None:
        test.assertTrue(client.call("set framerate=%g" % fps).ok)
    name = unique_name("lhcam")
    test.assertTrue(client.call("imagefifo create %s %d" % (name, fifo_bytes)).ok)
    test.assertTrue(client.call("imagefifo select " + name).ok)
    test.assertTrue(client.call("scandata time trigger_count imageindex lock").ok)
    return name, pid


class CameraKeywordTest(unittest.TestCase):
    def setUp(self):
        self.host = start_camera_host(self, AREA_CAMERA)

    def test_every_keyword(self):
        with self.host.client() as c:
            self.assertEqual(c.call("version").words(), ["lintelhost 1.0", "1.00-0"])
            listed = c.call("axes")
            axes = [listed.words(i)[0] for i in range(len(listed.data))]
            self.assertEqual(axes[:6], ["temp_camera", "imageindex", "clock", "lock", "time",
                                        "trigger_count"])
            components = c.call("components")
            self.assertEqual([components.words(i)[0] for i in range(len(components.data))],
                             ["probe.config", "probe.hardware", "probe.tip",
                              "probesystems.config"])
            name, pid = load_camera(self, c, fps=100)
            kind = c.call("probesystem type").numbers()
            self.assertEqual(kind[:3], [3, 320, 240])
            self.assertEqual(c.call("imagefifo info").data[-1].split()[3:],
                             ["320", "240", "1", "1"])
            self.assertTrue(c.call("imagefifo reset").ok)
            self.assertTrue(c.call("init").ok)
            self.assertTrue(c.call("set gain=2").ok)
            self.assertEqual(c.call("get gain").numbers(), [2])
            self.assertIn("[Camera]", c.call("receive probe.hardware").words()[0])
            self.assertTrue(c.call("probe define 1 1 x=0 y=0 z=0 d=2").ok)
            self.assertTrue(c.call("probe load 1 1").ok)
            self.assertTrue(c.call("probe change 1 1").ok)
            self.assertTrue(c.call("probe unload").ok)
            self.assertTrue(c.call("probe delete 1 1").ok)
            scan = c.call("scan time+=0.5")
            self.assertEqual(scan.errors, [])
            self.assertEqual(len(scan.data), 50)
            self.assertIn("measurement begin", c.events())
            with ImageFifo(name) as fifo:
                for line in scan.data:
                    self.assertTrue(fifo.release(int(float(line.split()[2]))))
            point = c.call("scanpoint time+=1")
            self.assertEqual(len(point.data), 1)
            with ImageFifo(name) as fifo:
                fifo.release(int(float(point.data[0].split()[2])))
            autoinfo = c.start("autoinfo start 20 trigger_count")
            lines = autoinfo.lines()
            first = float(next(lines).split()[1])
            self.assertGreater(float(next(lines).split()[1]), first)
            self.assertTrue(c.call("autoinfo stop").ok)
            self.assertTrue(autoinfo.wait().ok)
            segment = unique_name("lhcamprev")
            preview = c.start("preview memory start %s %s 50" % (PROBESYSTEM, segment))
            c.wait_for_event("preview begin")
            with PreviewMemory(segment) as memory:
                self.assertTrue(memory.wait(30))
                memory.reset()
            self.assertTrue(c.call("preview memory stop " + PROBESYSTEM).ok)
            self.assertTrue(preview.wait().ok)
            self.assertTrue(c.call("imagefifo delete " + name).ok)
            self.assertTrue(c.call("probesystem unload").ok)
            self.assertTrue(c.call("probesystem delete %s %d" % (PROBESYSTEM, pid)).ok)
        self.assertEqual(self.host.stop(), 0, self.host.stderr())

    def test_host_errors_with_the_camera(self):
        with self.host.client() as c:
            for line, expected in [(b"x get\n", '0000\terror "transaction: t-id missing"'),
                                   (b"1\n", '0001\terror "transaction: command missing or invalid"'),
                                   (b"2 nothing\n", '0002\terror "transaction: command unknown"'),
                                   (b"3 set gain\n", '0003\terror "syntax invalid"'),
                                   (b"4 receive\n", '0004\terror "missing argument"'),
                                   (b"5 abort 9\n", '0005\terror "t-id unused"')]:
                c.send_raw(line)
                self.assertEqual(c.read_line(), expected)
                if not expected.startswith("0000"):
                    self.assertTrue(c.read_line().endswith("\tready"))
        self.assertEqual(self.host.stop(), 0)


class CameraSessionTest(unittest.TestCase):
    def setUp(self):
        self.before = shm_names()
        self.host = start_camera_host(self, AREA_CAMERA)

    def test_two_clients_and_a_disconnect_in_a_scan(self):
        with self.host.client() as a, self.host.client() as b:
            name, _ = load_camera(self, a, fps=100)
            scan = a.start("scan time+=60")
            lines = scan.lines()
            for _ in range(5):
                self.assertTrue(next(lines).startswith(("data", "event")))
            for _ in range(10):
                self.assertTrue(math.isfinite(b.call("get time").numbers()[0]))
            with ImageFifo(name) as fifo:
                a.close()
                # The host aborts the scan and frees every image the gone client held; each
                # round trip of b gives it the chance.
                for _ in range(3000):
                    if fifo.used() == 0:
                        break
                    b.call("get time")
                self.assertEqual(fifo.used(), 0)
            self.assertEqual(len(b.call("scan time+=0.2").data), 20)
        self.assertEqual(self.host.stop(), 0)

    def test_sigterm_in_a_scan(self):
        with self.host.client() as a:
            load_camera(self, a, fps=100)
            scan = a.start("scan time+=60")
            next(scan.lines())
            self.assertEqual(self.host.stop(signal.SIGTERM), 0, self.host.stderr())
            self.assertEqual(scan.wait().errors, ["aborted"])
        self.assertEqual(shm_names() - self.before, set())


class LineCameraTest(unittest.TestCase):
    def test_every_line_of_a_5_s_scan_at_10000_frames_per_second(self):
        host = start_camera_host(self, LINE_CAMERA)
        with host.client() as c:
            name, _ = load_camera(self, c, fps=10000)
            self.assertEqual(c.call("probesystem type").numbers()[:2], [2, 2048])
            counters = []
            lost = 0
            with ImageFifo(name) as fifo:
                scan = c.start("scan time+=5")
                for line in scan.lines(timeout=60):
                    if not line.startswith("data "):
                        continue
                    _, counter, block, lock = (float(v) for v in line.split()[1:5])
                    counters.append(counter)
                    if lock != 0 or block < 1 or not fifo.release(int(block)):
                        lost += 1
                self.assertEqual(scan.reply.errors, [])
            self.assertEqual(len(counters), 50000)
            self.assertEqual(lost, 0)
            self.assertEqual(counters, [counters[0] + i for i in range(50000)])
        self.assertEqual(host.stop(), 0)


class CameraFuzzTest(unittest.TestCase):
    def test_fuzzed_request_lines(self):
        host = start_camera_host(self, AREA_CAMERA, LEAK_CHECK_ENV)
        with host.client() as client:
            received = []

            def read():
                while not (len(received) >= 2 and received[-1] == "9998\tready" and
                           received[-2].startswith('9998\tdata "lintelhost')):
                    line = client.read_line()
                    if line is None:
                        return
                    received.append(line)

            reader = threading.Thread(target=read)
            reader.start()
            for line in fuzz_lines(10000, seed=2):
                client.send_raw(line + b"\n")
            client.send_raw(b'9998 version\n')
            reader.join()
        with host.client() as c:
            self.assertTrue(math.isfinite(c.call("get time").numbers()[0]))
        status = host.stop()
        if status != 0 and leak_check_unavailable(host.stderr()):
            return  # everything but the leak check passed
        self.assertEqual(status, 0, host.stderr())


if __name__ == "__main__":
    unittest.main()
