"""Reads an image FIFO: a block ring buffer in the POSIX shared-memory segment /dev/shm/NAME
(byte layout in host/vyxshm/README.md). The camera machine publishes each image's 1-based
block number in the measurand line ("imageindex"); read the block, then release it so that
the machine can use it again.

On x86-64 plain loads are not reordered with other loads, nor stores with earlier loads, so
checking the lock word before copying and clearing it after copying has the effect of the
full barriers the layout asks for.
"""

import mmap
import os
import struct

_VARIANTS = {
    # first byte: (header size, field format, lock word size)
    8: (64, "<Q", 8),
    4: (32, "<I", 4),
}


class ImageFifo:
    def __init__(self, name, directory="/dev/shm"):
        self.name = name
        fd = os.open(os.path.join(directory, name), os.O_RDWR)
        try:
            info = os.fstat(fd)
            size = info.st_size
            if size < 32:
                raise ValueError("segment %s is too small for a ring buffer" % name)
            # Fault every page in now rather than in the first frames of a scan, but only a
            # segment whose pages exist: populating holes would allocate them.
            flags = mmap.MAP_SHARED
            if info.st_blocks * 512 >= size:
                flags |= getattr(mmap, "MAP_POPULATE", 0)
            self._map = mmap.mmap(fd, size, flags=flags)
        finally:
            os.close(fd)
        width = self._map[0]
        if width not in _VARIANTS:
            self._map.close()
            raise ValueError("segment %s holds no ring buffer (first byte %d)" % (name, width))
        self.variant = 64 if width == 8 else 32
        self._header, self._format, self._word = _VARIANTS[width]
        step = self._word
        self.block_size = self._field(step * 1)
        self.num_entries = self._field(step * 2)
        self._locks = self._field(step * 4)
        end = self._locks + self.num_entries * self._word
        if self._header + self.num_entries * self.block_size > self._locks or end > size:
            self._map.close()
            raise ValueError("ring buffer of %s does not fit its segment" % name)

    def close(self):
        self._map.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _field(self, offset):
        return struct.unpack_from(self._format, self._map, offset)[0]

    def _lock_offset(self, number):
        return self._locks + (number - 1) * self._word

    @property
    def active(self):
        return self._map[1] != 0

    @property
    def write_index(self):
        return self._field(self._word * 3)

    def in_use(self, number):
        return 1 <= number <= self.num_entries and self._field(self._lock_offset(number)) != 0

    def used(self):
        """How many blocks are in use."""
        return sum(1 for n in range(1, self.num_entries + 1) if self.in_use(n))

    def read(self, number, size=None):
        """A copy of block `number` (its first `size` bytes), or None when the number is out of
        range or the block is free."""
        if not self.in_use(number):
            return None
        start = self._header + (number - 1) * self.block_size
        return bytes(self._map[start:start + (self.block_size if size is None else size)])

    def release(self, number):
        """Frees block `number`; False when it is out of range or free already."""
        if not self.in_use(number):
            return False
        struct.pack_into(self._format, self._map, self._lock_offset(number), 0)
        return True
