import os
import struct
import tempfile
import unittest
import zlib

from lintelclient.png import encode_png, write_png


def decode(data):
    """(width, height, depth, colour, rows) of a PNG written with filter 0 on every row."""
    self_check = data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        assert crc == zlib.crc32(kind + body) & 0xFFFFFFFF, kind
        chunks[kind] = chunks.get(kind, b"") + body
        pos += 12 + length
    assert self_check and b"IEND" in chunks
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = len(raw) // height
    rows = [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]
    assert all(raw[y * stride] == 0 for y in range(height))
    return width, height, depth, colour, rows


class PngTest(unittest.TestCase):
    def test_pixel_formats(self):
        cases = [(1, 8, 0, bytes(range(6)), [b"\x00\x01\x02", b"\x03\x04\x05"]),
                 (2, 16, 0, b"\x01\x02\x03\x04" * 3, [b"\x02\x01\x04\x03\x02\x01",
                                                      b"\x04\x03\x02\x01\x04\x03"]),
                 (3, 8, 2, bytes(range(18)), [bytes(range(9)), bytes(range(9, 18))])]
        for bpp, depth, colour, pixels, rows in cases:
            with self.subTest(bpp=bpp):
                self.assertEqual(decode(encode_png(3, 2, pixels, bpp)), (3, 2, depth, colour, rows))

    def test_bad_input_writes_no_file(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "x.png")
            with self.assertRaises(ValueError):
                write_png(path, 4, 4, bytes(15))
            with self.assertRaises(ValueError):
                write_png(path, 1, 1, bytes(5), 5)
            self.assertEqual(os.listdir(folder), [])
            write_png(path, 2, 2, bytes(4))
            self.assertEqual(os.listdir(folder), ["x.png"])
