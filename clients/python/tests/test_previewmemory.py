import os
import struct
import tempfile
import threading
import unittest

from lintelclient.previewmemory import EVENT_MAGIC, PreviewMemory


class PreviewMemoryTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.image = os.path.join(self.folder.name, "p")
        self.event = self.image + ".event"
        with open(self.image, "wb") as f:
            f.write(bytes(range(16)))
        with open(self.event, "wb") as f:
            f.write(struct.pack("<II", EVENT_MAGIC, 0) + bytes(56))

    def signal(self):
        with open(self.event, "r+b") as f:
            f.seek(4)
            f.write(struct.pack("<I", 1))

    def test_waits_for_the_signal_reads_and_resets(self):
        with PreviewMemory("p", self.folder.name) as preview:
            self.assertFalse(preview.wait(0.01))
            signaller = threading.Timer(0.05, self.signal)
            signaller.start()
            self.assertTrue(preview.wait(10))
            signaller.join()
            self.assertEqual(preview.read(4), bytes([0, 1, 2, 3]))
            preview.reset()
            self.assertFalse(preview.signalled())
        with open(self.event, "rb") as f:
            self.assertEqual(struct.unpack("<II", f.read(8)), (EVENT_MAGIC, 0))

    def test_an_event_without_the_magic_is_refused(self):
        with open(self.event, "r+b") as f:
            f.write(b"XXXX")
        with self.assertRaises(ValueError):
            PreviewMemory("p", self.folder.name)
