import filecmp
import os
import sys
import tempfile
import unittest

from lintelclient.protocol import Reply
from lintelclient.recording import RecordingFailed, decode_pnm, encode_pnm, read_recording, record

HERE = os.path.dirname(os.path.abspath(__file__))
RECORDINGS = os.path.join(HERE, "..", "..", "..", "recordings")


class FakeClient:
    """A machine whose answers a test gives, by request."""

    def __init__(self, answers):
        self.answers, self.requests = answers, []

    def call(self, command, timeout=None):
        self.requests.append(command)
        reply = Reply(1)
        reply.lines, reply.done = list(self.answers.get(command.split()[0], [])), True
        return reply


class RecordingTest(unittest.TestCase):
    def test_netpbm_files_both_ways(self):
        # 2-byte samples are little-endian in the FIFO, big-endian in the file.
        self.assertEqual(encode_pnm(2, 1, b"\x01\x02\x03\x04", 2, 12),
                         b"P5\n2 1\n4095\n\x02\x01\x04\x03")
        for bpp, bits in ((1, 8), (2, 10), (3, 8)):
            pixels = bytes(range(bpp * 12))
            self.assertEqual(decode_pnm(encode_pnm(4, 3, pixels, bpp, bits)), (4, 3, bpp, pixels))
        with self.assertRaises(RecordingFailed):
            encode_pnm(4, 3, bytes(47), 4, 32)

    def test_the_sample_is_what_its_script_makes(self):
        sys.path.insert(0, RECORDINGS)
        import make_target
        with tempfile.TemporaryDirectory() as folder:
            make_target.main(os.path.join(folder, "target"))
            shipped = os.path.join(RECORDINGS, "target")
            names = sorted(os.listdir(shipped))
            self.assertEqual(sorted(os.listdir(os.path.join(folder, "target"))), names)
            self.assertEqual(filecmp.cmpfiles(shipped, os.path.join(folder, "target"), names,
                                              shallow=False)[1:], ([], []))
        camera, lines = read_recording(shipped)
        self.assertEqual([l["lock"] for l in lines], ["0", "0", "0", "1", "0", "0", "0"])
        self.assertEqual(camera["Frames"], "6")

    def test_a_recording_that_cannot_start_leaves_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            target = os.path.join(folder, "new")
            client = FakeClient({"probesystem": ["data 0 0 0 0 0"]})
            with self.assertRaisesRegex(RecordingFailed, "no camera probesystem"):
                record(client, 1, target)
            self.assertFalse(os.path.exists(target))
            open(os.path.join(folder, "kept"), "w").close()
            with self.assertRaisesRegex(RecordingFailed, "not empty"):
                record(client, 1, folder)
            self.assertEqual(os.listdir(folder), ["kept"])
            self.assertEqual(client.requests, ["probesystem type"])
