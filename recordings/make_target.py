"""Makes the sample recording recordings/target: a ring target with a cross drifting across
an 8-bit camera's view, 7 measurand lines at 25 frames per second of which one stands for a
lost frame, the camera warming up slowly. Drawn with integer arithmetic only, so the files
come out the same on every machine.

    python3 recordings/make_target.py [DIR]     (default: recordings/target)
"""

import math
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients",
                                "python"))

from lintelclient.recording import INI, encode_pnm, frame_name, ini_text  # noqa: E402

WIDTH, HEIGHT = 96, 72
COUNTERS = [1, 2, 3, 5, 6, 7]  # the camera lost frame 4
FIRST_US, PERIOD_US = 100000000, 40000


def number(value):
    """A number as lintelhost writes it: up to six decimals, no trailing zeros."""
    text = "%.6f" % value
    return text.rstrip("0").rstrip(".") if "." in text else text


def draw(step):
    cx, cy = 30 + 5 * step, 28 + 2 * step
    pixels = bytearray(WIDTH * HEIGHT)
    for y in range(HEIGHT):
        for x in range(WIDTH):
            dx, dy = x - cx, y - cy
            r = math.isqrt(dx * dx + dy * dy)
            value = 30 + (x + y) // 4  # uneven light
            if r <= 20 and r % 6 < 2:
                value = 220
            if (dx == 0 or dy == 0) and r <= 24:
                value = 250
            if r <= 2:
                value = 10
            pixels[y * WIDTH + x] = value
    return bytes(pixels)


def main(folder):
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    lines, frames = [], 0
    expected = COUNTERS[0]
    for step, counter in enumerate(COUNTERS):
        time = number((FIRST_US + (counter - 1) * PERIOD_US) / 1e6)
        celsius = number(34.5 + 0.02 * step)
        while expected < counter:  # the module's line for each lost frame
            lines.append((str(len(lines)), time, str(expected), "1", "0", celsius, ""))
            expected += 1
        frames += 1
        lines.append((str(len(lines)), time, str(counter), "0", str(frames), celsius,
                      frame_name(frames)))
        expected += 1
        with open(os.path.join(folder, frame_name(frames)), "wb") as out:
            out.write(encode_pnm(WIDTH, HEIGHT, draw(step), 1, 8))
    camera = {"Width": WIDTH, "Height": HEIGHT, "PixelFormat": 2, "BitsPerPixel": 8,
              "BytesPerPixel": 1, "FrameRate": 25, "Temperature": 1}
    with open(os.path.join(folder, INI), "w", newline="\n") as out:
        out.write(ini_text(camera, lines))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "target"))
