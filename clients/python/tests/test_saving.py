import os
import tempfile
import unittest
from unittest import mock

from lintelclient import saving

# Two frames of 3 x 2 pixels of 2 bytes.
FRAMES = [bytes(range(12)), bytes(range(12, 24))]


class SavingTest(unittest.TestCase):
    def save(self, tiff, frames=FRAMES):
        temporary = tempfile.TemporaryDirectory()
        self.addCleanup(temporary.cleanup)
        folder = temporary.name
        saver = saving.FrameSaver(folder, 3, 2, 2, tiff=tiff)
        for counter, pixels in enumerate(frames, 1):
            saver.add(counter, memoryview(pixels))
        return folder, saver

    def test_a_tiff_stack_with_each_library_and_a_clear_refusal_without(self):
        libraries = [("tifffile", saving.tifffile, None), ("Pillow", None, saving.Image)]
        for name, tifffile, image in [entry for entry in libraries if entry[1] or entry[2]]:
            with self.subTest(library=name), mock.patch.object(saving, "tifffile", tifffile), \
                    mock.patch.object(saving, "Image", image):
                folder, saver = self.save(True)
                path = saver.close()[0]
                self.assertEqual(os.listdir(folder), ["frames.tif"])
                if tifffile:
                    pages = tifffile.imread(path)
                    self.assertEqual((pages.shape, pages[1, 1, 2]), ((2, 2, 3), 23 * 256 + 22))
                else:
                    with image.open(path) as stack:
                        stack.seek(1)
                        self.assertEqual((stack.n_frames, stack.getpixel((2, 1))),
                                         (2, 23 * 256 + 22))
        with mock.patch.object(saving, "tifffile", None), \
                mock.patch.object(saving, "Image", None):
            with self.assertRaisesRegex(RuntimeError, "no TIFF library"):
                saving.FrameSaver(tempfile.gettempdir(), 3, 2, 2, tiff=True)

    def test_a_failed_write_leaves_no_file(self):
        for tiff in [False] + ([True] if saving.tiff_library() else []):
            with self.subTest(tiff=tiff):
                folder, saver = self.save(tiff, [bytes(12), bytes(5)])
                with self.assertRaises(ValueError):
                    saver.close()
                self.assertEqual(os.listdir(folder), [] if tiff else ["frame_00000001.png"])
