"""lintelhost under misuse: clients that send and never read, and a full disk, which the
reason after the error reply must name."""

import os
import shutil
import socket
import tempfile
import threading
import unittest

from hostprocess import HostDidNotStart, load_camera, start_host

# A client may get this far ahead before the host stops reading from it: its bounds (16 MiB of
# replies, 1 MiB of requests) and what the system's socket buffers hold.
FAR_AHEAD = 40 << 20


class Flooder(threading.Thread):
    """Sends `payload` over and over and reads nothing, until a send has waited for a while
    (the host stopped reading) or FAR_AHEAD bytes went out."""

    def __init__(self, port, payload):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.settimeout(2)
        self.payload = payload
        self.sent = 0
        self.blocked = False

    def run(self):
        try:
            while self.sent < FAR_AHEAD:
                self.sent += self.sock.send(self.payload)
        except socket.timeout:
            self.blocked = True
        except OSError:
            pass  # the host closed the connection


class BoundsTest(unittest.TestCase):
    def test_clients_that_never_read_are_no_longer_read_from(self):
        host = start_host(self)
        with host.client() as good:
            load_camera(self, good, fifo_bytes=0)
            payloads = [b"".join(b"%d %s\n" % (i + 1, request) for i in range(500))
                        for request in (b"axes", b"get time trigger_count", b"axes")]
            flooders = [Flooder(host.port, payload) for payload in payloads]
            # Long requests with short replies: no bound stops them, they only keep the host
            # busy.
            busy = Flooder(host.port, b"1 get " + b"x" * 60000 + b"\n")
            for flooder in flooders + [busy]:
                flooder.start()
            while any(f.is_alive() for f in flooders):
                self.assertTrue(good.call("get time").ok)  # served all along
            for flooder in flooders:
                self.assertTrue(flooder.blocked, "sent %d bytes unhindered" % flooder.sent)
            if not host.sanitized():  # a sanitizer keeps freed memory for a while
                self.assertLess(host.status("VmHWM"), 256)
            for flooder in flooders + [busy]:
                flooder.sock.close()
            self.assertTrue(good.call("get time").ok)
        self.assertEqual(host.stop(), 0, host.stderr())


class FullDiskTest(unittest.TestCase):
    def test_a_full_disk_reads_as_such(self):
        if shutil.which("unshare") is None:
            self.skipTest("no unshare to give the host a small file system of its own")
        directory = os.path.join(tempfile.mkdtemp(prefix="lintelhost-test-"), "host")
        self.addCleanup(shutil.rmtree, os.path.dirname(directory), True)
        os.makedirs(directory)
        # The host in a mount namespace of its own, its directory a file system of 2 MiB.
        mount = 'mount -t tmpfs -o size=2m tmpfs "$1" && shift && exec "$@"'
        try:
            host = start_host(self, directory=directory,
                              wrapper=["unshare", "-rm", "--", "sh", "-c", mount, "sh",
                                       directory])
        except HostDidNotStart as failure:
            self.skipTest("no mount namespace here: " + failure.stderr.strip()[-200:])
        with host.client() as c:
            load_camera(self, c, fifo_bytes=0)
            # Fill it, seen from inside the host's namespace.
            try:
                with open("/proc/%d/root%s/filler" % (host.process.pid, directory), "wb") as f:
                    while True:
                        f.write(b"\0" * 65536)
                        f.flush()
            except OSError:
                pass
            reply = c.call("probe define 1 1 x=1")
            self.assertEqual(reply.errors, ["internal error"])
            self.assertIn("ENOSPC: No space left on device", reply.info[0])
        self.assertEqual(host.stop(), 0, host.stderr())


if __name__ == "__main__":
    unittest.main()
