"""Recordings of camera scans: every image of a scan through lintelhost with its measurand
line, written to a folder that the simulated camera plays back ([SimCamera] Replay = DIR).

    record --seconds S [--host H] [--port P] [--probesystem NAME ID] [--fifo-bytes N]
           [--trigger FILE] DIR

A folder holds recording.ini (the camera and one entry per measurand line) and one PGM file
per image (16-bit big-endian samples where the camera has more than 8 bits, PPM for 3-byte
pixels); recordings/README.md describes the format. The reading never waits for the disk: each
image is copied out of the image FIFO, its block released as soon as the next image has come,
and a writer thread saves the copies. When more than --queue-bytes of copies wait, the reading
waits for the disk, and the image FIFO keeps the frames that come meanwhile. A recording that
fails leaves nothing behind.
"""

import argparse
import array
import os
import queue
import sys
import threading
import time

from lintelclient.imagefifo import ImageFifo
from lintelclient.protocol import LintelClient

VERSION = 1
COLUMNS = ("clock", "time", "trigger_count", "lock", "imageindex", "temp_camera")
INI = "recording.ini"
_MAGIC = {1: b"P5", 2: b"P5", 3: b"P6"}


class RecordingFailed(Exception):
    pass


# ---- files ----

def encode_pnm(width, height, pixels, bytes_per_pixel, bits):
    """A PGM (1 or 2 bytes per pixel, the 2-byte samples little-endian as the camera delivers
    them) or PPM (3 bytes) file's bytes."""
    if bytes_per_pixel not in _MAGIC:
        raise RecordingFailed("cannot write %d-byte pixels" % bytes_per_pixel)
    size = width * height * bytes_per_pixel
    if len(pixels) < size:
        raise RecordingFailed("%d bytes do not hold %d x %d pixels" % (len(pixels), width, height))
    maxval = (1 << min(bits, 16)) - 1 if bytes_per_pixel == 2 else 255
    body = pixels[:size]
    if bytes_per_pixel == 2 and sys.byteorder == "little":
        samples = array.array("H", body)
        samples.byteswap()  # Netpbm's samples are big-endian
        body = samples.tobytes()
    return b"%s\n%d %d\n%d\n" % (_MAGIC[bytes_per_pixel], width, height, maxval) + bytes(body)


def decode_pnm(data):
    """(width, height, bytes per pixel, pixels) of a PGM or PPM file; 2-byte samples come back
    little-endian."""
    fields, pos = [], 2
    while len(fields) < 3:
        while data[pos:pos + 1].isspace() or data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1 if data[pos:pos + 1] == b"#" else pos + 1
        end = pos
        while data[end:end + 1].isdigit():
            end += 1
        if end == pos:
            raise RecordingFailed("not a PGM or PPM file")
        fields.append(int(data[pos:end]))
        pos = end
    width, height, maxval = fields
    sample = 2 if maxval > 255 else 1
    bytes_per_pixel = sample * (3 if data[:2] == b"P6" else 1)
    pixels = data[pos + 1:pos + 1 + width * height * bytes_per_pixel]
    if sample == 2:
        samples = array.array("H", pixels)
        if sys.byteorder == "little":
            samples.byteswap()
        pixels = samples.tobytes()
    return width, height, bytes_per_pixel, pixels


def _save(path, data, sync=True):
    """Writes under a temporary name and renames: a file that is there is whole."""
    temporary = os.path.join(os.path.dirname(path), "." + os.path.basename(path) + ".part")
    with open(temporary, "wb") as out:
        out.write(data)
        if sync:
            out.flush()
            os.fsync(out.fileno())
    os.replace(temporary, path)


def _sync_folder(folder):
    fd = os.open(folder, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def frame_name(number):
    return "frame%06d.pgm" % number


def ini_text(camera, lines):
    """recording.ini of a camera (dict of the [Recording] keys) and its lines (tuples of the
    COLUMNS' texts and the frame's file name, "" for none)."""
    out = ["; A camera recording: one entry per measurand line, the images in the files",
           "; named there (recordings/README.md).", "[Recording]",
           "Version = %d" % VERSION]
    for key in ("Width", "Height", "PixelFormat", "BitsPerPixel", "BytesPerPixel", "FrameRate",
                "Temperature"):
        out.append("%s = %s" % (key, camera[key]))
    out.append("Lines = %d" % len(lines))
    out.append("Frames = %d" % sum(1 for line in lines if line[-1]))
    out.append("Columns = %s,frame" % ",".join(COLUMNS))
    out.append("[Lines]")
    out.extend("%d = %s" % (n, ",".join(line)) for n, line in enumerate(lines, 1))
    return "\n".join(out) + "\n"


def read_recording(folder):
    """({key: text} of [Recording], [line dicts of the columns and "frame"]) of a recording."""
    camera, lines, section = {}, [], None
    with open(os.path.join(folder, INI), encoding="utf-8") as f:
        for text in f:
            text = text.strip()
            if not text or text[0] in ";#":
                continue
            if text.startswith("["):
                section = text[1:text.index("]")]
                continue
            key, _, value = (part.strip() for part in text.partition("="))
            if section == "Recording":
                camera[key] = value
            elif section == "Lines":
                lines.append(dict(zip(COLUMNS + ("frame",), value.split(","))))
    return camera, lines


# ---- the writer ----

class FrameWriter(threading.Thread):
    """Saves the images handed to it, in order, off the reading thread, keeping at most
    `limit` bytes of them waiting; reserve() holds the reader back until there is room, and
    meanwhile the image FIFO keeps the frames that come."""

    def __init__(self, folder, camera, limit):
        super().__init__(name="recording-writer", daemon=True)
        self.folder, self.camera, self.limit = folder, camera, limit
        self.queue = queue.Queue()
        self.room = threading.Condition()
        self.waiting = 0  # bytes
        self.most_waiting = 0
        self.stalls = 0  # times the reader waited for the disk
        self.error = None

    def reserve(self):
        size = _frame_bytes(self.camera)

        def fits():
            return self.waiting == 0 or self.waiting + size <= self.limit

        with self.room:
            if not fits():
                self.stalls += 1
                self.room.wait_for(fits)
            self.waiting += size
            self.most_waiting = max(self.most_waiting, self.waiting)

    def put(self, number, image):
        self.queue.put((number, image))

    def finish(self):
        """Saves what waits, then ends the thread."""
        self.queue.put(None)
        self.join()

    def run(self):
        c = self.camera
        while True:
            item = self.queue.get()
            if item is None:
                return
            number, image = item
            try:
                if self.error is None:
                    _save(os.path.join(self.folder, frame_name(number)),
                          encode_pnm(c["Width"], c["Height"], image, c["BytesPerPixel"],
                                     c["BitsPerPixel"]))
            except Exception as error:  # told by record(), on the reading thread
                self.error = error
            with self.room:
                self.waiting -= len(image)
                self.room.notify()


# ---- the recording ----

def _expect(reply, what):
    if not reply.ok:
        raise RecordingFailed("%s: %s" % (what, "; ".join(reply.errors) or "no answer"))
    return reply


def _camera(client, fifo_name):
    """What the recording says of the camera, from the machine and the image FIFO."""
    hardware = {}
    text = _expect(client.call("receive probe.hardware"), "receive probe.hardware").words()[0]
    for line in text.splitlines():
        key, _, value = line.partition("=")
        hardware[key.strip()] = value.strip()
    rate = _expect(client.call("get framerate"), "get framerate").data[0].strip()
    info = _expect(client.call("imagefifo info"), "imagefifo info")
    for i in range(len(info.data)):
        words = info.words(i)
        if words[0] == fifo_name:
            width, height, bpp = (int(w) for w in words[3:6])
            break
    else:
        raise RecordingFailed("imagefifo info does not list " + fifo_name)
    bits = int(hardware.get("bits_per_pixel", 8 * bpp))
    if bpp not in _MAGIC:
        raise RecordingFailed("cannot record %d-byte pixels" % bpp)
    return {"Width": width, "Height": height, "PixelFormat": hardware.get("px_fmt", "0"),
            "BitsPerPixel": bits, "BytesPerPixel": bpp, "FrameRate": rate}


def _frame_bytes(camera):
    return camera["Width"] * camera["Height"] * camera["BytesPerPixel"]


def record(client, seconds, folder, fifo_bytes=128 << 20, trigger=None, queue_bytes=512 << 20,
           probesystem=None):
    """Scans `seconds` through `client` into `folder` (new, or empty); the figures of it."""
    if os.path.isdir(folder) and os.listdir(folder):
        raise RecordingFailed("%s exists and is not empty" % folder)
    made = not os.path.isdir(folder)
    os.makedirs(folder, exist_ok=True)
    fifo_name = "record_%d_%d" % (os.getpid(), int(time.monotonic() * 1000) % 1000000)
    created = ok = False
    try:
        if probesystem is not None:
            _expect(client.call("probesystem load %s %s" % probesystem), "probesystem load")
        kind = _expect(client.call("probesystem type"), "probesystem type").numbers()
        if not kind or kind[0] not in (2, 3):
            raise RecordingFailed("no camera probesystem is loaded (give --probesystem)")
        _expect(client.call("imagefifo create %s %d" % (fifo_name, fifo_bytes)), "imagefifo create")
        created = True
        _expect(client.call("imagefifo select " + fifo_name), "imagefifo select")
        _expect(client.call("scandata " + " ".join(COLUMNS)), "scandata")
        camera = _camera(client, fifo_name)
        with ImageFifo(fifo_name) as fifo:
            writer = FrameWriter(folder, camera, queue_bytes)
            writer.start()
            try:
                figures = _scan(client, seconds, fifo, writer, camera, trigger)
            finally:
                writer.finish()
        if writer.error is not None:
            raise RecordingFailed("writing the frames: %s" % writer.error)
        lines = figures.pop("lines")
        camera["Temperature"] = int(all(line[5] not in ("nan", "-nan") for line in lines))
        _save(os.path.join(folder, INI), ini_text(camera, lines).encode())
        _sync_folder(folder)
        ok = True
        return dict(figures, lines=len(lines), width=camera["Width"], height=camera["Height"],
                    bytes_per_pixel=camera["BytesPerPixel"], most_waiting=writer.most_waiting,
                    stalls=writer.stalls)
    finally:
        if created:
            try:
                client.call("imagefifo delete " + fifo_name)
            except (OSError, TimeoutError, ConnectionError):
                pass  # a host that is gone took the FIFO with it
        if not ok:
            for name in os.listdir(folder):
                os.unlink(os.path.join(folder, name))
            if made:
                os.rmdir(folder)


def _scan(client, seconds, fifo, writer, camera, trigger):
    lines, frames, lost = [], 0, 0
    # A block is freed once the next image has its own: the machine then never hands out a
    # block again before the ring has gone round, so the block numbers in the lines do not
    # depend on how fast we are, and a replay of this recording gives the same ones.
    held = None
    started = time.monotonic()
    scan = client.start("scan time+=%r" % seconds)
    if trigger is not None:
        # The host starts a scan as it reads it, so once a later request is answered the scan
        # takes every frame: now the replay camera may begin.
        _expect(client.call("get time"), "get time")
        open(trigger, "wb").close()
    try:
        for payload in scan.lines(timeout=60):
            if not payload.startswith("data "):
                continue
            words = payload.split()[1:]
            if len(words) != len(COLUMNS):
                raise RecordingFailed("a scan line without the recorded axes: " + payload)
            block = int(float(words[4]))
            name = ""
            if words[3] == "0" and block >= 1:
                frames += 1
                name = frame_name(frames)
                writer.reserve()
                image = fifo.read(block, _frame_bytes(camera))
                if image is None:
                    raise RecordingFailed("block %d of the image FIFO is free" % block)
                if held is not None:
                    fifo.release(held)
                held = block
                writer.put(frames, image)
            else:
                lost += 1
            lines.append(tuple(words) + (name,))
    except BaseException:
        if not scan.done:
            client.call("abort %d" % scan.tid)
        raise
    finally:
        if held is not None:
            fifo.release(held)
    if scan.reply.errors:
        raise RecordingFailed("scan: " + "; ".join(scan.reply.errors))
    return {"lines": lines, "frames": frames, "lost": lost, "seconds": time.monotonic() - started}


def main(argv=None, prog="record"):
    parser = argparse.ArgumentParser(prog=prog, description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, required=True, help="how long to scan")
    parser.add_argument("--host", default="127.0.0.1", help="lintelhost's address (127.0.0.1)")
    parser.add_argument("--port", type=int, default=4711, help="lintelhost's port (4711)")
    parser.add_argument("--probesystem", nargs=2, metavar=("NAME", "ID"),
                        help="load this probesystem first (else the loaded one is recorded)")
    parser.add_argument("--fifo-bytes", type=int, default=128 << 20,
                        help="size of the image FIFO the recording makes (128 MiB)")
    parser.add_argument("--queue-bytes", type=int, default=512 << 20,
                        help="memory for images waiting to be written (512 MiB)")
    parser.add_argument("--trigger", metavar="FILE",
                        help="create FILE once the scan runs (a replay's ReplayTrigger)")
    parser.add_argument("folder", metavar="DIR", help="the new recording's folder")
    args = parser.parse_args(argv)
    if args.seconds <= 0:
        parser.error("--seconds must be positive")
    try:
        with LintelClient(args.host, args.port, timeout=60) as client:
            f = record(client, args.seconds, args.folder, args.fifo_bytes, args.trigger,
                       args.queue_bytes, tuple(args.probesystem) if args.probesystem else None)
    except (RecordingFailed, OSError, TimeoutError, ConnectionError) as error:
        print("record: %s" % error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("record: interrupted; nothing kept", file=sys.stderr)
        return 130
    megabytes = f["frames"] * f["width"] * f["height"] * f["bytes_per_pixel"] / 1e6
    print("%s: %d lines, %d frames of %d x %d pixels (%d bytes each), %d lost; %.1f MB in "
          "%.1f s (%.1f MB/s); at most %.1f MB waited for the disk, the reading waited %d times"
          % (args.folder, f["lines"], f["frames"], f["width"], f["height"], f["bytes_per_pixel"],
             f["lost"], megabytes, f["seconds"], megabytes / max(f["seconds"], 1e-9),
             f["most_waiting"] / 1e6, f["stalls"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:], prog="python -m lintelclient.recording"))
