"""Record on the machine, replay anywhere, end to end: a scan of the simulated camera (12-bit
pixels, frames dropped singly and three at a time) recorded through lintelhost, then played
by the camera library in a second lintelhost and recorded again. The second recording must
be the first one byte for byte: images, counters, times, "lock" lines of the lost frames,
temperatures and block numbers."""

import filecmp
import os
import sys
import tempfile
import unittest

from hostprocess import load_camera, start_host
from lintelclient import recording

# Wherever the scan starts after the probesystem is loaded, it meets both kinds of loss.
DROPS = ", ".join("%d, %d-%d" % (k + 10, k, k + 2) for k in range(25, 5000, 25))
CAMERA = ("[SimCamera]\nWidth=96\nHeight=64\nPixelFormat=6\nFrameRate=100\n"
          "DropFrames=%s\n" % DROPS)


class RecordAndReplay(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def record(self, camera_ini, into, trigger=None, queue_bytes=512 << 20):
        host = start_host(self, camera=camera_ini)
        with host.client() as client:
            load_camera(self, client, fifo_bytes=0)  # the recording makes its own FIFO
            if trigger is None:
                # Shorter than a frame: the scan fails, and the recording leaves nothing.
                with self.assertRaisesRegex(recording.RecordingFailed, "scan: invalid argument"):
                    recording.record(client, 0.001, into)
                self.assertFalse(os.path.exists(into))
            figures = recording.record(client, 0.6, into, trigger=trigger,
                                       queue_bytes=queue_bytes)
        self.assertEqual(host.stop(), 0, host.stderr())
        return figures

    def test_a_replay_records_as_the_recording_it_plays(self):
        first = self.record(CAMERA, self.path("first"))
        camera, lines = recording.read_recording(self.path("first"))
        locks = "".join(line["lock"] for line in lines)
        self.assertEqual((len(lines), first["lost"]), (first["lines"], locks.count("1")))
        self.assertIn("010", locks)  # a single lost frame
        self.assertIn("01110", locks)  # three in a row
        self.assertEqual((camera["Width"], camera["BytesPerPixel"], camera["BitsPerPixel"],
                          camera["Temperature"]), ("96", "2", "12", "1"))

        trigger = self.path("go")
        replay = ("[SimCamera]\nReplay = %s\nReplayEnd = stall\nReplayTrigger = %s\n"
                  % (self.path("first"), trigger))
        # Each image waits until the one before is on disk: the FIFO holds what comes.
        second = self.record(replay, self.path("second"), trigger=trigger, queue_bytes=1)
        # However the disk keeps up, never a second image waits for it.
        self.assertEqual(second["most_waiting"],
                         int(camera["Width"]) * int(camera["Height"]) * 2)
        self.assertFalse(os.path.exists(trigger))
        names = sorted(os.listdir(self.path("first")))
        self.assertEqual(names, sorted(os.listdir(self.path("second"))))
        same, differ, _ = filecmp.cmpfiles(self.path("first"), self.path("second"), names,
                                           shallow=False)
        self.assertEqual(differ, [])
        self.assertEqual(len(same), first["frames"] + 1)


if __name__ == "__main__":
    sys.exit(unittest.main())
