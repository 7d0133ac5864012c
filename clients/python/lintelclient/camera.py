"""The camera behind lintelhost as a camera library offers one: open it, take frames.

    from lintelclient import Camera
    with Camera(port=4711) as camera:
        images = [frame.image.copy() for frame in camera.frames(100) if not frame.lost]

`Camera` connects, loads the camera probesystem when none is loaded, and makes an image FIFO
of its own, sized for the camera's images, which it removes again when closed. `frames` runs
one scan and yields a `Frame` per measurand line: its time, frame counter, block and lock,
and its image straight from the FIFO without a copy (a numpy array when numpy is installed,
else a memoryview). A frame's block is released when the frame is done: at the end of its
`with` block, by `Frame.release`, or when the scan moves on to the next frame. Copy what must
outlive it.

Frames the camera lost come too, with `lost` set and no image, and `Scan.lost` counts them.
Every error reply raises `LintelError` with the host's reason when it gave one.
"""

import itertools
import operator
import os

from lintelclient.imagefifo import ImageFifo
from lintelclient.protocol import LintelClient, LintelError, quote

try:
    import numpy
except ImportError:  # optional: images are memoryviews without it
    numpy = None

DEFAULT_PROBESYSTEM = "Camera:1"
FIFO_BYTES = 64 << 20  # the FIFO's size unless asked otherwise ...
MIN_SLOTS = 8  # ... but never fewer slots than this
# Header plus the worst-case alignment of the lock words, as the machine reserves them.
_RING_OVERHEAD = 71
_LOCK_WORD = 8
# The columns of every scan line, first, in this order.
COLUMNS = ("time", "trigger_count", "imageindex", "lock")
_GEOMETRY = {"imagewidth", "imageheight", "imageoffsetx", "imageoffsety"}
# Axis flags of the "axes" reply.
READABLE, WRITABLE, UNAVAILABLE = 2, 4, 16
# A scan without an end: as long as a scan can be (its line count is capped by the machine).
_FOREVER = 1e7

_names = itertools.count(1)


def _ini_section(text, section):
    """The keys and raw values of one section of an INI text (comments after ';' dropped)."""
    values, inside = {}, False
    for line in text.splitlines():
        line = line.split(";", 1)[0].strip()
        if line.startswith("["):
            inside = line == "[%s]" % section
        elif inside and "=" in line:
            key, _, value = line.partition("=")
            values[key.strip().lower()] = value.strip()
    return values


def set_axes(client, values):
    """Sets axes through `client` and reads them back: (their values now, the names of those the
    machine ignored). An axis counts as ignored when it is not available (flag 16; access "D"
    keeps the camera's value) and kept its old value although another was asked for."""
    names = list(values)
    listed = client.start("axes")
    before = client.start("get " + " ".join(names))
    axes = listed.wait().check()
    flags = {words[0]: int(float(words[1]))
             for words in (axes.words(i) for i in range(len(axes.data)))}
    old = before.wait().check().numbers()
    client.call("set " + " ".join("%s=%r" % (k, float(v)) for k, v in values.items()),
                check=True)
    now = client.call("get " + " ".join(names), check=True).numbers()
    ignored = [name for name, was, got in zip(names, old, now)
               if flags.get(name, 0) & UNAVAILABLE and got == was and float(values[name]) != was]
    return dict(zip(names, now)), ignored


def ignored_text(names):
    """Why the machine ignored a set of these axes, in words."""
    return ("%s not changed: %s not available (flags 16); a probe.config that gives %s an "
            "access other than D (Access=RW, with Min and Max) opens %s" % (
                ", ".join(names), "it is" if len(names) == 1 else "they are",
                "it" if len(names) == 1 else "them", "it" if len(names) == 1 else "them"))


class Axis(tuple):
    """One axis of the machine, as "axes" lists it: name, flags, minimum, maximum, accuracy
    and step."""

    __slots__ = ()
    name = property(operator.itemgetter(0), doc="The axis name.")
    flags = property(operator.itemgetter(1),
                     doc="2 readable, 4 meant to be set, 16 not available now.")
    minimum = property(operator.itemgetter(2), doc="The smallest value.")
    maximum = property(operator.itemgetter(3), doc="The largest value.")
    accuracy = property(operator.itemgetter(4), doc="The accuracy of a value.")
    step = property(operator.itemgetter(5), doc="The step between values.")

    @property
    def writable(self):
        """True when the axis is meant to be set now."""
        return bool(self.flags & WRITABLE) and not self.flags & UNAVAILABLE

    @property
    def readable(self):
        """True when `get` reads a current value."""
        return bool(self.flags & READABLE) and not self.flags & UNAVAILABLE


class Frame(tuple):
    """One measurand line of a scan and the image it names, a tuple (time, counter, block,
    lock, scan, extra values). Use it in a `with` block, or let the scan release it when it
    moves on."""

    __slots__ = ()
    time = property(operator.itemgetter(0), doc="The camera's time of the frame, in seconds.")
    counter = property(operator.itemgetter(1), doc="The camera's frame counter.")
    block = property(operator.itemgetter(2), doc="The FIFO block of the image, 0 for none.")
    lock = property(operator.itemgetter(3), doc="1 when the camera lost this frame.")

    @property
    def lost(self):
        """True when the camera lost this frame: it has no image."""
        return self[3] != 0

    @property
    def image(self):
        """The image, shaped (height, width), or (height, width, bytes) for colour, without a
        copy: a read-only numpy array when numpy is installed, else a memoryview. None for a
        lost frame. Its pixels are the frame's until the frame is released; asking for it
        later raises RuntimeError."""
        # Written out here and in `data` rather than shared: a scan asks this once per frame,
        # and a second call would cost as much as the rest of it.
        if not self[2]:
            return None
        scan = self[4]
        if scan._held is not self:
            raise RuntimeError(_RELEASED)
        image = scan._images[self[2] - 1]
        return scan._image(self[2]) if image is None else image

    @property
    def data(self):
        """The image's bytes as a flat read-only memoryview, or None for a lost frame."""
        if not self[2]:
            return None
        scan = self[4]
        if scan._held is not self:
            raise RuntimeError(_RELEASED)
        view = scan._views[self[2] - 1]
        return scan._view(self[2]) if view is None else view

    @property
    def values(self):
        """Every column of the line by axis name, the scan's extra axes included."""
        return dict(zip(self[4].columns, self[:4] + (self[5] if len(self) > 5 else ())))

    def release(self):
        """Gives the block back to the machine; the image is gone afterwards."""
        self[4]._release(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()

    def __repr__(self):
        return "Frame(time=%r, counter=%r, block=%r, lock=%r)" % self[:4]


_new_frame = tuple.__new__
_RELEASED = "the frame was released: take its image while the loop is at it"


class Scan:
    """The frames of one scan, as they come: iterate it once. `frames` and `lost` count the
    lines received and the frames lost among them; `columns` names the values of each line.
    Leaving the loop early (or `stop`) aborts the scan and releases every block it still
    holds; the scan's own error, when it ends with one, raises LintelError at the end of the
    loop, after every frame that came before it."""

    def __init__(self, camera, transaction, columns, timeout):
        self.camera = camera
        self.columns = columns
        self.frames = 0
        self.lost = 0
        self._transaction = transaction
        self._timeout = timeout
        self._held = None
        self._fifo = camera._fifo
        self._free = self._fifo._words.__setitem__
        width, height, depth = camera.width, camera.height, camera.bytes_per_pixel
        self._bytes = width * height * depth
        if depth == 2:
            self._shape, self._format = (height, width), "H"
        elif depth == 1:
            self._shape, self._format = (height, width), "B"
        else:
            self._shape, self._format = (height, width, depth), "B"
        self._flat = memoryview(self._fifo.buffer).toreadonly()
        # Each block's bytes and image, made when first asked and kept: a scan meets every block
        # many times, and a numpy view costs more to make than a frame.
        self._views = [None] * self._fifo.num_entries
        self._images = [None] * self._fifo.num_entries
        self._arrays = None
        if numpy is not None:
            dtype = numpy.dtype("<u2") if depth == 2 else numpy.uint8
            strides = (self._fifo.block_size, width * depth, depth, 1)[:len(self._shape) + 1]
            self._arrays = numpy.ndarray((self._fifo.num_entries,) + self._shape, dtype,
                                         self._fifo.buffer, self._fifo.block_offset(1), strides)
            self._arrays.flags.writeable = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def __iter__(self):
        return self._run()

    @property
    def done(self):
        """True once the scan has ended."""
        return self._transaction.done

    def _run(self):
        finished = False
        batch = iter(())
        try:
            for text in self._transaction.data_blocks(self._timeout):
                batch = self._parse(text)
                for frame in batch:
                    self._held = frame
                    yield frame
                    if self._held is frame:
                        self._held = None
                        if frame[2]:
                            self._free(frame[2] - 1, 0)
            finished = True
        finally:
            if not finished:
                self._free_all(batch)  # the frames of this block that the loop did not reach
                self.stop()
        reply = self._transaction.reply
        if reply.errors:
            reason = next((r for r in reply.reasons if r), None)
            raise LintelError(self._transaction.command, reply.errors, reason)

    def _parse(self, text):
        """The frames of a block of lines, split all at once, as an iterator."""
        words = text.split()
        width = len(self.columns)
        if len(words) % width:
            raise LintelError(self._transaction.command,
                              ["a scan line without its %d values" % width])
        locks = words[3::width]
        kept = locks.count("0")  # nearly always all of them
        try:
            counters = list(map(int, words[1::width]))
            blocks = list(map(int, words[2::width]))
            locks = [0] * kept if kept == len(locks) else list(map(int, locks))
        except ValueError:  # a number written as a fraction or with an exponent
            counters, blocks, locks = ([int(float(w)) for w in words[i::width]]
                                       for i in (1, 2, 3))
        rows = [list(map(float, words[0::width])), counters, blocks, locks,
                itertools.repeat(self)]
        if width > 4:
            rows.append(zip(*(map(float, words[i::width]) for i in range(4, width))))
        self.frames += len(locks)
        self.lost += len(locks) - locks.count(0)
        # Made one at a time as the loop takes them: a frame the loop drops is gone before the
        # next one exists, so that a fast scan does not wake the garbage collector.
        return map(_new_frame, itertools.repeat(Frame), zip(*rows))

    def _image(self, block):
        if self._arrays is not None:
            image = self._arrays[block - 1]
        else:
            image = self._view(block).cast(self._format, self._shape)
        self._images[block - 1] = image
        return image

    def _view(self, block):
        """The bytes of a block, made once and kept."""
        view = self._views[block - 1]
        if view is None:
            start = self._fifo.block_offset(block)
            view = self._views[block - 1] = self._flat[start:start + self._bytes]
        return view

    def _release(self, frame):
        # Only the frame the loop holds has a block of ours; anything else was released.
        if self._held is frame:
            self._held = None
            if frame[2]:
                self._free(frame[2] - 1, 0)

    def stop(self):
        """Ends the scan now (aborting it when it still runs) and releases every block that
        it still holds, also those of lines that were on their way."""
        if self._held is not None:
            self._release(self._held)
        transaction = self._transaction
        client = transaction.client
        if not transaction.done and not client.closed:
            try:
                client.call("abort %d" % transaction.tid)
                transaction.wait()
            except OSError:  # gone (ConnectionError) or silent (TimeoutError)
                return  # the host frees the blocks of a client that is gone
        for text in transaction.data_blocks():
            self._free_all(self._parse(text))

    def _free_all(self, frames):
        for frame in frames:
            if frame[2]:
                self._free(frame[2] - 1, 0)


class Camera:
    """The camera of a lintelhost, ready to take frames.

    `host` and `port` say where lintelhost listens (or `client` is a LintelClient to use).
    The probesystem `probesystem` is loaded (defined first when it does not exist) unless a
    camera probesystem is loaded already and none was named. The image FIFO holds `slots`
    images, or as many as fit `fifo_bytes` (64 MiB) but at least 8; `fifo` names it."""

    def __init__(self, host="127.0.0.1", port=4711, probesystem=None, slots=None,
                 fifo_bytes=FIFO_BYTES, fifo=None, timeout=30.0, client=None):
        self.timeout = timeout
        self._own_client = client is None
        self.client = client or LintelClient(host, port, timeout)
        self._fifo = None
        self.fifo_name = None
        try:
            self._load(probesystem)
            self._read_hardware()
            self.fifo_name = fifo or "lintelclient_%d_%d" % (os.getpid(), next(_names))
            self._slots, self._fifo_bytes = slots, fifo_bytes
            self._make_fifo()
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _call(self, command):
        return self.client.call(command, check=True)

    def _load(self, probesystem):
        if probesystem is None:
            kind = self.client.call("probesystem type")
            if kind.ok and kind.data and kind.numbers()[0] in (2, 3):
                return  # a line or area camera is loaded
            probesystem = DEFAULT_PROBESYSTEM
        listed = self._call("probesystem list " + quote(probesystem))
        if not listed.data:
            self._call("probesystem define " + quote(probesystem))
            listed = self._call("probesystem list " + quote(probesystem))
        newest = max(int(float(listed.words(i)[1])) for i in range(len(listed.data)))
        self._call("probesystem load %s %d" % (quote(probesystem), newest))

    def _read_hardware(self):
        """Image size, bytes per pixel and frame rate from the probesystem's hardware data."""
        text = self._call("receive probe.hardware").words()[0]
        camera = _ini_section(text, "Camera")
        try:
            self.width = int(camera.get("clipsize_x") or 0) or int(camera["img_width"])
            self.height = int(camera.get("clipsize_y") or 0) or int(camera["img_height"])
            self.bytes_per_pixel = int(camera["mem_bpp"])
        except (KeyError, ValueError):
            raise LintelError("receive probe.hardware",
                              ["the probesystem describes no camera image"]) from None
        self.frame_rate = float(camera.get("framerate") or 0)

    @property
    def image_bytes(self):
        """The bytes of one image."""
        return self.width * self.height * self.bytes_per_pixel

    def _make_fifo(self):
        block = self.image_bytes
        slots = self._slots or max(MIN_SLOTS, (self._fifo_bytes - _RING_OVERHEAD) //
                                   (block + _LOCK_WORD))
        self._call("imagefifo create %s %d" % (quote(self.fifo_name),
                                               _RING_OVERHEAD + slots * (block + _LOCK_WORD)))
        self._fifo_geometry = (self.width, self.height, self.bytes_per_pixel)
        self._fifo = ImageFifo(self.fifo_name)

    def _refit_fifo(self):
        """Re-shapes the FIFO after the image size changed, or makes it anew when the
        images no longer fit."""
        self._fifo.close()
        self._fifo = None
        self._call("imagefifo select " + quote(self.fifo_name))
        if self._slots is None and self.client.call("imagefifo reset").ok:
            self._fifo_geometry = (self.width, self.height, self.bytes_per_pixel)
            self._fifo = ImageFifo(self.fifo_name)
            return
        self._call("imagefifo delete " + quote(self.fifo_name))
        self._make_fifo()

    @property
    def slots(self):
        """How many images the FIFO holds."""
        return self._fifo.num_entries

    def frames(self, count=None, seconds=None, axes=(), timeout=None):
        """Runs a scan of `count` frames, or of `seconds`, or until it is stopped (neither
        given), and returns it as a Scan to iterate. `axes` adds columns to every line
        (`Frame.values`)."""
        if count is not None and seconds is not None:
            raise ValueError("frames() takes a count or seconds, not both")
        columns = COLUMNS + tuple(axes)
        self._read_hardware()
        if self._fifo_geometry != (self.width, self.height, self.bytes_per_pixel):
            self._refit_fifo()
        if count is not None:
            if count < 1:
                raise ValueError("frames() needs at least one frame")
            if self.frame_rate <= 0:
                raise LintelError("frames", ["the camera tells no frame rate"])
            # Half a period more, so that the machine's truncation gives exactly `count`.
            seconds = (count + 0.5) / self.frame_rate
        elif seconds is None:
            seconds = _FOREVER
        select = self.client.start("imagefifo select " + quote(self.fifo_name))
        scandata = self.client.start("scandata " + " ".join(columns))
        select.wait().check()
        scandata.wait().check()
        transaction = self.client.start("scan time+=%r" % float(seconds), stream=True)
        return Scan(self, transaction, columns, self.timeout if timeout is None else timeout)

    def axes(self):
        """Every axis of the machine, in index order, as Axis tuples."""
        listed = self._call("axes")
        found = []
        for i in range(len(listed.data)):
            words = listed.words(i)
            found.append(Axis([words[0], int(float(words[1]))] + [float(w) for w in words[2:6]]))
        return found

    def get(self, *axes):
        """The current value of one axis, or a tuple of the values of several."""
        values = tuple(self._call("get " + " ".join(axes)).numbers())
        return values[0] if len(axes) == 1 else values

    def set(self, **values):
        """Sets axes (`camera.set(imageheight=100)`) and returns what they are afterwards.
        Raises ValueError when the machine ignored one: gain, shutter and frame rate change
        only once a "probe.config" text (`configure`) gives them an access other than "D"."""
        now, ignored = set_axes(self.client, values)
        if _GEOMETRY & set(values):
            self._read_hardware()
            if self._fifo_geometry != (self.width, self.height, self.bytes_per_pixel):
                self._refit_fifo()
        if ignored:
            raise ValueError(ignored_text(ignored))
        return now

    def configure(self, text):
        """Sends a "probe.config" text: channel access and limits, flips."""
        self._call("send probe.config " + quote(text))
        self._read_hardware()

    def close(self):
        """Removes the FIFO and closes the connection (when the camera opened it)."""
        if self._fifo is not None:
            self._fifo.close()
            self._fifo = None
        if self.fifo_name is not None and not self.client.closed:
            try:
                self.client.call("imagefifo delete " + quote(self.fifo_name))
            except OSError:
                pass  # the host is gone, and its FIFOs with it
            self.fifo_name = None
        if self._own_client:
            self.client.close()
