"""Reads a preview memory: the machine copies camera images into the shared-memory segment
NAME and signals the event segment NAME.event (u32 magic 0x54564556 at offset 0, u32 state at
offset 4: 1 signalled). A client waits for the state to become 1, copies the image and resets
the state to 0; until then the machine writes no new image."""

import mmap
import os
import struct
import time

EVENT_MAGIC = 0x54564556


class PreviewMemory:
    """A preview memory opened by its segment name; `directory` is where the system keeps
    shared-memory objects."""

    def __init__(self, name, directory="/dev/shm"):
        self.name = name
        self._image = self._open(os.path.join(directory, name))
        self._event = self._open(os.path.join(directory, name + ".event"))
        if len(self._event) < 8 or struct.unpack_from("<I", self._event, 0)[0] != EVENT_MAGIC:
            self.close()
            raise ValueError("%s.event is no event" % name)

    @staticmethod
    def _open(path):
        fd = os.open(path, os.O_RDWR)
        try:
            return mmap.mmap(fd, os.fstat(fd).st_size)
        finally:
            os.close(fd)

    def close(self):
        """Unmaps the picture and the event."""
        self._image.close()
        self._event.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def size(self):
        """The picture segment's size in bytes."""
        return len(self._image)

    def signalled(self):
        """True while a new picture waits."""
        return struct.unpack_from("<I", self._event, 4)[0] != 0

    def wait(self, timeout):
        """True once an image waits, False when `timeout` seconds passed first."""
        deadline = time.monotonic() + timeout
        while not self.signalled():
            if time.monotonic() >= deadline:
                return False
            time.sleep(0.001)
        return True

    def read(self, size=None):
        """A copy of the image (the first `size` bytes of the segment)."""
        return bytes(self._image[:self.size if size is None else size])

    def reset(self):
        """Tells the machine the image is taken."""
        struct.pack_into("<I", self._event, 4, 0)
