import ctypes
import os
import struct
import tempfile
import unittest

from lintelclient.imagefifo import ImageFifo


def make_segment(folder, name, variant, blocks, block_size, used):
    """A ring buffer laid out as the machine lays it out, blocks `used` in use."""
    header, word, fmt = (64, 8, "<Q") if variant == 64 else (32, 4, "<I")
    locks = header + blocks * block_size
    locks += -locks % word
    data = bytearray(locks + blocks * word + 5)
    data[0], data[1] = word, 1
    for i, value in enumerate([block_size, blocks, 0, locks]):
        struct.pack_into(fmt, data, word * (i + 1), value)
    for number in used:
        struct.pack_into(fmt, data, locks + (number - 1) * word, 1)
        start = header + (number - 1) * block_size
        data[start:start + block_size] = bytes([number]) * block_size
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def resident_bytes(mapping):
    """How much of an mmap object is mapped in (its Rss in /proc/self/smaps)."""
    start = "%x-" % ctypes.addressof(ctypes.c_char.from_buffer(mapping))
    inside = False
    with open("/proc/self/smaps") as smaps:
        for line in smaps:
            if "-" in line.split(" ")[0]:
                inside = line.startswith(start)
            elif inside and line.startswith("Rss:"):
                return int(line.split()[1]) * 1024
    return 0


class ImageFifoTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def test_both_variants_read_and_release_by_block_number(self):
        for variant in (64, 32):
            with self.subTest(variant=variant):
                make_segment(self.folder.name, "f", variant, 4, 10, used=[2, 4])
                with ImageFifo("f", self.folder.name) as fifo:
                    self.assertEqual((fifo.variant, fifo.num_entries, fifo.block_size),
                                     (variant, 4, 10))
                    self.assertEqual(fifo.read(4), bytes([4]) * 10)
                    self.assertEqual(fifo.read(2, 3), bytes([2]) * 3)
                    for free in (0, 1, 3, 5):
                        self.assertIsNone(fifo.read(free))
                    self.assertTrue(fifo.release(2))
                    self.assertFalse(fifo.release(2))
                    self.assertEqual(fifo.used(), 1)
                # The release is in the segment, for the machine to see.
                with ImageFifo("f", self.folder.name) as again:
                    self.assertEqual(again.used(), 1)
                    self.assertTrue(again.in_use(4))

    @unittest.skipUnless(os.path.isdir("/dev/shm"), "POSIX shared memory")
    def test_reserved_segments_are_mapped_in_at_once_sparse_ones_not(self):
        # In /dev/shm, whose pages come one at a time as a FIFO's do.
        full, sparse = ("lintelclient_test_%d_%s" % (os.getpid(), kind)
                        for kind in ("full", "sparse"))
        for name in (full, sparse):
            self.addCleanup(os.unlink, os.path.join("/dev/shm", name))
        make_segment("/dev/shm", full, 64, 16, 65536, used=[])
        make_segment("/dev/shm", sparse, 64, 1, 10, used=[])
        os.truncate(os.path.join("/dev/shm", sparse), 1 << 20)  # a hole behind
        with ImageFifo(full) as a, ImageFifo(sparse) as b:
            self.assertGreaterEqual(resident_bytes(a._map), 16 * 65536)
            self.assertLess(resident_bytes(b._map), 1 << 20)

    def test_segments_without_a_fitting_ring_buffer_are_refused(self):
        make_segment(self.folder.name, "bad", 64, 4, 10, used=[])
        path = os.path.join(self.folder.name, "bad")
        with open(path, "r+b") as f:
            f.seek(16)
            f.write(struct.pack("<Q", 1000))  # more blocks than the segment holds
        with self.assertRaises(ValueError):
            ImageFifo("bad", self.folder.name)
        with open(path, "r+b") as f:
            f.write(b"\x05")  # no variant
        with self.assertRaises(ValueError):
            ImageFifo("bad", self.folder.name)
