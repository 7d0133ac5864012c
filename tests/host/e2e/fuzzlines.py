"""Random and mutated request lines for the host's robustness tests. A fixed seed gives the
same lines on every run; "quit" is left out so that one connection takes them all."""

import random

SEEDS = [
    "1 get time scanstep", "2 set scanstep=1.5", "3 init", "4 receive probe.hardware", "5 axes",
    '6 send probe.tip "a\\nb \\"c\\""', "7 components", "8 version", "9 probesystem list",
    "10 probesystem type", "11 imagefifo info", "12 scandata time", "13 abort 5",
    "14 probe define 1 2 x=1 y=2 z=3 d=4", "15 probesystem list * 0", "16 get",
    '17 receive "probe.config"', "18 autoinfo stop", "19 preview window stop",
]


def fuzz_lines(count, seed=1):
    rng = random.Random(seed)
    lines = []
    while len(lines) < count:
        kind = rng.random()
        if kind < 0.15:
            line = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 80)))
        elif kind < 0.2:
            line = rng.choice(SEEDS).encode() + b"x" * rng.choice([65530, 65536, 70000])
        else:
            line = bytearray(rng.choice(SEEDS).encode())
            for _ in range(rng.randrange(1, 6)):
                op = rng.randrange(5)
                pos = rng.randrange(len(line) + 1)
                if op == 0 and line:
                    line[min(pos, len(line) - 1)] = rng.randrange(256)
                elif op == 1:
                    line[pos:pos] = bytes([rng.choice(b' "\\=+-.0123456789\t\r\x00e')])
                elif op == 2 and line:
                    del line[pos:pos + rng.randrange(1, 4)]
                elif op == 3:
                    line[pos:pos] = rng.choice(SEEDS).encode()
                else:
                    line = bytearray(rng.choice(SEEDS).split(" ", 1)[0].encode()) + line
            line = bytes(line)
        if b"quit" in line:
            continue
        lines.append(line)
    return lines
