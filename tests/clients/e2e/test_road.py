"""The Python client and the C example through lintelhost and the camera module with its
simulated camera: frames with and without numpy, what a scan left early leaves behind (a
failed one is the demo's), the command line's files, and the demo's clean-up on failure and
signals. The paths come from ctest: LINTELHOST, CAMERA_MODULE (read by
lintelclient.localhost) and VYXFIFO_SCAN."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from unittest import mock

from lintelclient import Camera, ImageFifo, camera as camera_module
from lintelclient.localhost import LocalHost

DEMO = os.path.join(os.path.dirname(__file__), "..", "..", "..", "clients", "python", "demo.py")
AREA = "[SimCamera]\nWidth=320\nHeight=240\nFrameRate=100\nFrameRateMax=1000\n"
OPEN_GAIN = ("[General]\nChannels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain\n"
             "[Default]\nAccess=D\n[imageheight]\nAccess=RW\nMin=10\n[gain]\nAccess=RW\n"
             "Min=0\nMax=24\n")
TIMEOUT = 60


def segment_exists(name):
    return os.path.exists("/dev/shm/" + name)


def wait_until(condition):
    deadline = time.monotonic() + TIMEOUT
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


class CameraTest(unittest.TestCase):
    def host(self, camera=AREA):
        host = LocalHost(camera)
        self.addCleanup(host.close)
        return host

    def test_frames_with_numpy_and_without_and_nothing_left_behind(self):
        host = self.host()
        for numpy in ([camera_module.numpy] if camera_module.numpy else []) + [None]:
            with self.subTest(numpy=numpy is not None), \
                    mock.patch.object(camera_module, "numpy", numpy):
                with Camera(port=host.port, timeout=TIMEOUT) as camera:
                    name = camera.fifo_name
                    frames = [(f.counter, f.image.tolist()) for f in camera.frames(5)]
                    with ImageFifo(name) as fifo:
                        self.assertEqual(fifo.used(), 0)
                self.assertFalse(segment_exists(name))
                self.assertEqual([c - frames[0][0] for c, _ in frames], [0, 1, 2, 3, 4])
                for counter, image in frames:
                    self.assertEqual((len(image), len(image[0])), (240, 320))
                    # The simulated camera's pixels, one byte each, in the last row.
                    self.assertEqual([image[239][x] for x in (0, 319)],
                                     [(239 * 320 + x + counter) % 251 for x in (0, 319)])

    def test_a_scan_left_early_and_lost_frames(self):
        host = self.host(AREA + "DropEvery=4\n")
        with Camera(port=host.port, timeout=TIMEOUT) as camera:
            scan = camera.frames()
            for frame in scan:
                if scan.frames >= 12:
                    break
            self.assertTrue(scan.done)
            scan = camera.frames(20)
            lost = [frame.counter for frame in scan if frame.lost and frame.image is None]
            self.assertEqual((scan.frames, scan.lost), (20, len(lost)))
            self.assertGreaterEqual(len(lost), 3)
            with ImageFifo(camera.fifo_name) as fifo:
                self.assertEqual(fifo.used(), 0)

    def test_the_c_example_reads_a_scan_and_a_new_size_refits_the_fifo(self):
        host = self.host()
        with Camera(port=host.port, timeout=TIMEOUT) as camera:
            camera.client.call("imagefifo select " + camera.fifo_name, check=True)
            done = subprocess.run([os.environ["VYXFIFO_SCAN"], "--port", str(host.port),
                                   "--seconds", "0.2"], capture_output=True, text=True,
                                  timeout=TIMEOUT)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertRegex(done.stdout, r"^lines 20 lost 0 missing 0 mean ")
            # set opens what probe.config opens.
            with self.assertRaisesRegex(ValueError, "gain not changed: it is not available"):
                camera.set(gain=2)
            camera.configure(OPEN_GAIN)
            camera.set(gain=2, imageheight=100)
            self.assertEqual((camera.get("gain"), camera.height), (2, 100))
            self.assertGreater(camera.slots, 64 * 2 ** 20 // (320 * 240))
            self.assertEqual([len(f.image.tolist()) for f in camera.frames(2)], [100, 100])


class CommandLineTest(unittest.TestCase):
    def test_scan_saves_16_bit_pngs_and_a_tiff_stack(self):
        with LocalHost(AREA + "PixelFormat=4\n") as host, \
                tempfile.TemporaryDirectory() as folder:
            formats = ["png"] + (["tiff"] if camera_module.numpy else [])
            for form in formats:
                done = subprocess.run([sys.executable, "-m", "lintelclient", "scan", "--frames",
                                       "3", "--save", folder, "--format", form, "--port",
                                       str(host.port)], capture_output=True, text=True,
                                      timeout=TIMEOUT)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("frames 3, lost 0", done.stdout)
            files = sorted(os.listdir(folder))
            self.assertEqual(len([f for f in files if f.endswith(".png")]), 3)
            with open(os.path.join(folder, files[0]), "rb") as f:
                self.assertEqual(f.read(25)[24], 16)  # the IHDR bit depth
            if "tiff" in formats:
                import tifffile
                stack = tifffile.imread(os.path.join(folder, "frames.tif"))
                self.assertEqual((stack.shape, str(stack.dtype)), ((3, 240, 320), "uint16"))


class DemoTest(unittest.TestCase):
    def start(self, *args):
        demo = subprocess.Popen([sys.executable, DEMO, *args], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: demo.poll() is None and demo.kill())
        return demo

    def test_a_failure_says_why_and_leaves_no_fifo(self):
        demo = self.start("--duration", "0.01", "--size", "320x240")
        _, said = demo.communicate(timeout=TIMEOUT)
        self.assertEqual(demo.returncode, 1)
        self.assertIn("invalid argument", said)
        self.assertIn("duration of measurement is smaller than accuracy", said)
        self.assertFalse(segment_exists("lintelclient_%d_1" % demo.pid))

    def test_signals_remove_the_fifo_and_the_host(self):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=sig):
                demo = self.start("--duration", "600", "--size", "320x240")
                self.assertIn("image FIFO", demo.stdout.readline())
                name = "lintelclient_%d_1" % demo.pid
                self.assertTrue(segment_exists(name))
                with open("/proc/%d/task/%d/children" % (demo.pid, demo.pid)) as f:
                    host = int(f.read().split()[0])
                demo.send_signal(sig)
                demo.wait(TIMEOUT)
                self.assertEqual(demo.returncode, 130 if sig == signal.SIGTERM else -sig)
                self.assertTrue(wait_until(lambda: not os.path.exists("/proc/%d" % host)))
                self.assertTrue(wait_until(lambda: not segment_exists(name)))


if __name__ == "__main__":
    unittest.main()
