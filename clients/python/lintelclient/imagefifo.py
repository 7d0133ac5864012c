"""Reads an image FIFO: a block ring buffer in the POSIX shared-memory segment /dev/shm/NAME
(byte layout in host/vyxshm/README.md). The camera machine publishes each image's 1-based
block number in the measurand line ("imageindex"); read the block, then release it so that
the machine can use it again.

On x86-64 plain loads are not reordered with other loads, nor stores with earlier loads, so
checking the lock word before copying and clearing it after copying has the effect of the
full barriers the layout asks for.

`view` hands out a block without copying it (a read-only memoryview into the segment), for
readers that hold the block until they release it; `Camera` builds its frames on it.
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
    """An image FIFO opened for reading by its segment name; `directory` is where the
    system keeps shared-memory objects."""

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
        self._words = memoryview(self._map)[self._locks:end].cast(self._format[1])

    def close(self):
        """Unmaps the segment. Views that are still held keep it mapped until they go."""
        self._words.release()
        try:
            self._map.close()
        except BufferError:
            pass  # a caller still holds a view: the mapping goes with the last of them

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _field(self, offset):
        return struct.unpack_from(self._format, self._map, offset)[0]

    @property
    def buffer(self):
        """The mapped segment, for zero-copy views of many blocks at once."""
        return self._map

    def block_offset(self, number):
        """Where block `number` starts in `buffer`."""
        return self._header + (number - 1) * self.block_size

    @property
    def active(self):
        """False once the machine withdrew the FIFO."""
        return self._map[1] != 0

    @property
    def write_index(self):
        """The 0-based index of the block the machine handed out last."""
        return self._field(self._word * 3)

    def in_use(self, number):
        """True when block `number` holds an image that nobody released yet."""
        return 1 <= number <= self.num_entries and self._words[number - 1] != 0

    def used(self):
        """How many blocks are in use."""
        return self.num_entries - self._words.tolist().count(0)

    def view(self, number, size=None):
        """Block `number` (its first `size` bytes) as a read-only memoryview into the segment,
        or None when the number is out of range or the block is free. The bytes stay the
        image's only until the block is released."""
        if not self.in_use(number):
            return None
        start = self.block_offset(number)
        end = start + (self.block_size if size is None else size)
        return memoryview(self._map)[start:end].toreadonly()

    def read(self, number, size=None):
        """A copy of block `number` (its first `size` bytes), or None when the number is out of
        range or the block is free."""
        if not self.in_use(number):
            return None
        start = self.block_offset(number)
        return bytes(self._map[start:start + (self.block_size if size is None else size)])

    def release(self, number):
        """Frees block `number`; False when it is out of range or free already."""
        if not self.in_use(number):
            return False
        self._words[number - 1] = 0
        return True
