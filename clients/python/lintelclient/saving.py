"""Saving frames while a scan runs: one PNG per frame (16-bit grey for 2-byte pixels), or one
TIFF stack when a TIFF library is installed (tifffile, else Pillow). Encoding runs on a thread
of its own, so that the scan's frames are released as fast as they come; every file is written
under a temporary name and renamed when complete, so a failure leaves no partial file."""

import os
import queue
import tempfile
import threading

from lintelclient.png import write_png

try:
    import tifffile
except ImportError:  # optional
    tifffile = None
try:
    from PIL import Image
except ImportError:  # optional
    Image = None


def tiff_library():
    """The name of the TIFF library in use, or None when none is installed."""
    if tifffile is not None:
        return "tifffile"
    return "Pillow" if Image is not None else None


class FrameSaver:
    """Writes frames into `folder`: "frame_COUNTER.png" each, or all of them into
    "frames.tif" when `tiff` is set. `add` copies the pixels and returns at once; `close`
    waits for the writes and raises the first error that stopped them."""

    def __init__(self, folder, width, height, bytes_per_pixel, tiff=False):
        if tiff and tiff_library() is None:
            raise RuntimeError("no TIFF library is installed (python3-tifffile or python3-pil);"
                               " save PNG files instead")
        os.makedirs(folder, exist_ok=True)
        self.folder, self.width, self.height = folder, width, height
        self.depth = bytes_per_pixel
        self.tiff = tiff
        self.paths = []
        self.error = None
        self._ended = False
        self._queue = queue.Queue()
        self._thread = threading.Thread(target=self._write, daemon=True)
        self._thread.start()

    def add(self, counter, pixels):
        """Queues one frame's pixels (anything that gives bytes)."""
        if self.error is not None:
            raise self.error
        self._queue.put((counter, bytes(pixels)))

    def close(self):
        """Waits until everything is written; the paths written."""
        self._queue.put(None)
        self._thread.join()
        if self.error is not None:
            raise self.error
        return self.paths

    def _frames(self):
        for item in iter(self._queue.get, None):
            yield item
        self._ended = True

    def _write(self):
        try:
            if self.tiff:
                self._write_stack()
            else:
                for counter, pixels in self._frames():
                    path = os.path.join(self.folder, "frame_%08d.png" % counter)
                    write_png(path, self.width, self.height, pixels, self.depth)
                    self.paths.append(path)
        except Exception as error:  # reported by add and close
            self.error = error
            while not self._ended and self._queue.get() is not None:
                pass

    def _write_stack(self):
        path = os.path.join(self.folder, "frames.tif")
        fd, temporary = tempfile.mkstemp(prefix=".tif-", dir=self.folder)
        os.close(fd)
        try:
            if tifffile is not None:
                import numpy  # tifffile needs it
                dtype = numpy.dtype("<u2") if self.depth == 2 else numpy.uint8
                shape = (self.height, self.width) + ((self.depth,) if self.depth > 2 else ())
                with tifffile.TiffWriter(temporary, bigtiff=True) as stack:
                    for _, pixels in self._frames():
                        stack.write(numpy.frombuffer(pixels, dtype).reshape(shape),
                                    contiguous=True)
            else:
                mode = {1: "L", 2: "I;16", 3: "RGB", 4: "RGBA"}[self.depth]
                pages = [Image.frombytes(mode, (self.width, self.height), pixels)
                         for _, pixels in self._frames()]
                if not pages:
                    raise RuntimeError("no frame to save")
                pages[0].save(temporary, format="TIFF", save_all=True,
                              append_images=pages[1:])
            os.chmod(temporary, 0o644)
            os.replace(temporary, path)
        except BaseException:
            os.unlink(temporary)
            raise
        self.paths.append(path)
