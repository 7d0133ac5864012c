import collections
import tempfile
import unittest
from unittest import mock

from lintelclient import camera as camera_module
from lintelclient.camera import COLUMNS, Frame, Scan
from lintelclient.imagefifo import ImageFifo
from lintelclient.protocol import LintelError, Reply
from tests.test_imagefifo import make_segment


class FakeTransaction:
    """A scan whose data lines are given; it answers `abort` by ending with what is left."""

    def __init__(self, blocks, errors=()):
        self.blocks = collections.deque(blocks)
        self.tid, self.command, self.client = 7, "scan time+=1", self
        self.closed, self.calls = False, []
        self.reply = Reply(7, self.command)
        self.reply.lines = ['error "%s"' % e for e in errors]

    @property
    def done(self):
        return not self.blocks or bool(self.calls)

    def data_blocks(self, timeout=None):
        while self.blocks:
            yield self.blocks.popleft()

    def call(self, command):
        self.calls.append(command)

    def wait(self):
        pass


def lines(*rows):
    return "\r\n".join(" ".join(str(v) for v in row) for row in rows)


class ScanTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        # Images of 3 x 2 pixels of 2 bytes in blocks of 16, blocks 1 to 3 in use, each filled
        # with its number.
        make_segment(folder.name, "f", 64, 4, 16, used=[1, 2, 3])
        self.fifo = ImageFifo("f", folder.name)
        self.addCleanup(self.fifo.close)

    def scan(self, blocks, columns=COLUMNS, errors=()):
        camera = mock.Mock(width=3, height=2, bytes_per_pixel=2, _fifo=self.fifo)
        return Scan(camera, FakeTransaction(blocks, errors), columns, 5)

    def test_frames_carry_their_line_and_free_their_block_as_the_loop_moves_on(self):
        scan = self.scan([lines((0.5, 10, 1, 0, 36.5), (0.6, 11, 0, 1, 36.5)),
                          lines((0.7, 12, 2, 0, 37))], COLUMNS + ("temp_camera",))
        seen = []
        for frame in scan:
            seen.append((tuple(frame[:4]), frame.lost, self.fifo.in_use(frame.block)))
            if frame.counter == 12:
                self.assertEqual(frame.values["temp_camera"], 37.0)
        self.assertEqual(seen, [((0.5, 10, 1, 0), False, True), ((0.6, 11, 0, 1), True, False),
                                ((0.7, 12, 2, 0), False, True)])
        self.assertEqual((scan.frames, scan.lost, self.fifo.used()), (3, 1, 1))

    def test_images_are_views_of_the_block_with_numpy_and_without(self):
        for numpy in ([camera_module.numpy] if camera_module.numpy else []) + [None]:
            with self.subTest(numpy=numpy is not None), \
                    mock.patch.object(camera_module, "numpy", numpy):
                for number in (1, 2):  # in use again, as the first pass released them
                    self.fifo._words[number - 1] = 1
                scan = self.scan([lines((0, 1, 1, 0)), lines((0, 2, 2, 0))])
                for frame in scan:
                    image = frame.image
                    # Every pixel is the bytes n, n of block n: little-endian n * 257.
                    self.assertEqual(image.tolist(), [[frame.block * 257] * 3] * 2)
                    self.assertEqual(bytes(frame.data), bytes([frame.block]) * 12)
                    kept = frame
                with self.assertRaises(RuntimeError):
                    kept.image

    def test_leaving_early_aborts_and_frees_what_was_on_its_way(self):
        # Block 2 came with block 1; block 3 was on its way.
        scan = self.scan([lines((0, 1, 1, 0), (0, 2, 2, 0)), lines((0, 3, 3, 0))])
        for frame in scan:
            with frame:
                pass
            break
        self.assertEqual((scan._transaction.calls, self.fifo.used()), (["abort 7"], 0))

    def test_the_scan_error_comes_after_its_frames(self):
        scan = self.scan([lines((0, 1, 1, 0))], errors=["ringbuffer overflow"])
        got = []
        with self.assertRaises(LintelError) as raised:
            for frame in scan:
                got.append(frame.counter)
        self.assertEqual((got, raised.exception.errors), ([1], ["ringbuffer overflow"]))

    def test_a_frame_reads_as_a_named_tuple(self):
        self.assertEqual(repr(Frame((1.5, 2, 3, 0, None))),
                         "Frame(time=1.5, counter=2, block=3, lock=0)")
