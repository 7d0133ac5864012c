"""A PNG writer for camera images: grey (1 or 2 bytes per pixel, the 2-byte pixels
little-endian as the camera delivers them), RGB (3) or RGBA (4), 8 bits per channel except
16-bit grey. The file is written under a temporary name and renamed, so a failed write leaves
no partial file."""

import os
import struct
import tempfile
import zlib

_COLOUR = {1: (0, 8), 2: (0, 16), 3: (2, 8), 4: (6, 8)}


def _chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def encode_png(width, height, pixels, bytes_per_pixel=1):
    """The PNG file's bytes."""
    if bytes_per_pixel not in _COLOUR:
        raise ValueError("cannot write %d bytes per pixel" % bytes_per_pixel)
    row = width * bytes_per_pixel
    if width <= 0 or height <= 0 or len(pixels) < row * height:
        raise ValueError("%d bytes do not hold %d x %d pixels" % (len(pixels), width, height))
    colour, depth = _COLOUR[bytes_per_pixel]
    raw = bytearray()
    for y in range(height):
        line = pixels[y * row:(y + 1) * row]
        if bytes_per_pixel == 2:  # PNG stores 16-bit samples big-endian
            swapped = bytearray(line)
            swapped[0::2], swapped[1::2] = line[1::2], line[0::2]
            line = swapped
        raw += b"\x00" + bytes(line)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) +
            _chunk(b"IDAT", zlib.compress(bytes(raw), 6)) + _chunk(b"IEND", b""))


def write_png(path, width, height, pixels, bytes_per_pixel=1):
    """Writes the PNG file at `path`, through a temporary file, so that a failure leaves none."""
    data = encode_png(width, height, pixels, bytes_per_pixel)
    folder = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=".png-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, 0o644)  # mkstemp makes it private; an image is for everyone
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
