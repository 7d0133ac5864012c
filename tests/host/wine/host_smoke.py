"""lintelhost.exe under Wine, as a client sees it: it loads vyxcamera.dll from beside itself,
opens the camera machine (whose folders it makes with Windows paths), answers over TCP with the
machine's reasons after errors, refuses a second host on its directory, and refuses --stdio with
its reason.

The paths come from the environment that ctest sets: WINE and LINTELHOST."""

import os
import subprocess
import sys
import tempfile
import unittest

from lintelclient import LintelClient

WINE = os.environ.get("WINE", "")
LINTELHOST = os.environ.get("LINTELHOST", "")
TIMEOUT = 120


class LintelhostUnderWine(unittest.TestCase):
    def test_serves_the_camera_machine_over_tcp(self):
        # The host folder alone in one of its own: a new camera folder is seeded from the
        # installations beside it.
        with tempfile.TemporaryDirectory(prefix="lintelhost-wine-") as root:
            directory = os.path.join(root, "host")
            os.mkdir(directory)
            host = subprocess.Popen([WINE, LINTELHOST, "--dir", directory, "--port", "0"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                first = host.stdout.readline().decode()
                if not first.startswith("lintelhost: listening on 127.0.0.1:"):
                    host.wait(TIMEOUT)
                    self.fail(first + host.stderr.read().decode(errors="replace"))
                port = int(first.rsplit(":", 1)[1])
                with LintelClient(port=port, timeout=TIMEOUT) as client:
                    reply = client.call("get imagewidth")
                    self.assertTrue(reply.ok, reply.lines)
                    self.assertEqual(len(reply.data), 1, reply.lines)
                    # The reason comes from the error log, a file in the directory here.
                    reply = client.call("set nothing=1")
                    self.assertEqual(reply.errors, ["invalid axis"])
                    self.assertIn("unknown axis: nothing", reply.info[0])
                second = subprocess.run([WINE, LINTELHOST, "--dir", directory, "--port", "0"],
                                        capture_output=True, timeout=TIMEOUT)
                self.assertEqual(second.returncode, 1)
                self.assertIn(b"is in use by another lintelhost", second.stderr)
                # The machine's own folder, made from the host's directory with Windows
                # separators, is the same folder seen from Linux.
                self.assertTrue(os.path.isdir(
                    os.path.join(directory, "camera", "VX1280M-SIM", "SIM0000001")))
            finally:
                host.kill()
                host.wait(TIMEOUT)
                host.stdout.close()
                host.stderr.close()

    def test_stdio_is_refused_with_its_reason(self):
        with tempfile.TemporaryDirectory(prefix="lintelhost-wine-") as directory:
            done = subprocess.run([WINE, LINTELHOST, "--dir", directory, "--stdio"],
                                  stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=TIMEOUT)
            self.assertEqual(done.returncode, 2)
            self.assertIn(b"lintelhost: --stdio: not available on Windows", done.stderr)


if __name__ == "__main__":
    sys.exit(unittest.main())
