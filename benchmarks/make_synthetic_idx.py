#!/usr/bin/env python3
"""Writes a synthetic training set in the IDX format: COUNT images of 28 x 28
bytes, each a few thick random strokes on a black ground (so that, like
handwritten digits, most pixels are 0 and the rectifier and pooling see ties),
and COUNT labels 0 .. 9. The same seed gives the same files.

    make_synthetic_idx.py OUT_DIR [--count N] [--seed S]

writes OUT_DIR/train-images.idx3-ubyte and OUT_DIR/train-labels.idx1-ubyte.
Only the standard library is used; the images do not resemble digits, they
only have the shapes and value ranges of real ones, for timing.
"""
import argparse
import os
import random
import struct

SIDE = 28


def draw_image(rng):
    pixels = bytearray(SIDE * SIDE)
    for _ in range(rng.randint(2, 4)):
        x0, y0 = rng.uniform(4, 23), rng.uniform(4, 23)
        x1, y1 = rng.uniform(4, 23), rng.uniform(4, 23)
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for s in range(steps + 1):
            t = s / steps
            cx, cy = x0 + (x1 - x0) * t, y0 + (y1 - y0) * t
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    x, y = int(cx) + dx, int(cy) + dy
                    if 0 <= x < SIDE and 0 <= y < SIDE:
                        v = 255 if dx == 0 and dy == 0 else 128 + rng.randint(0, 100)
                        i = y * SIDE + x
                        if v > pixels[i]:
                            pixels[i] = v
    return pixels


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("out_dir")
    ap.add_argument("--count", type=int, default=60000)
    ap.add_argument("--seed", type=int, default=4)
    args = ap.parse_args()
    if args.count < 1:
        ap.error("--count must be at least 1")
    rng = random.Random(args.seed)
    os.makedirs(args.out_dir, exist_ok=True)
    images = bytearray(struct.pack(">IIII", 0x803, args.count, SIDE, SIDE))
    labels = bytearray(struct.pack(">II", 0x801, args.count))
    for _ in range(args.count):
        images += draw_image(rng)
        labels.append(rng.randint(0, 9))
    with open(os.path.join(args.out_dir, "train-images.idx3-ubyte"), "wb") as f:
        f.write(images)
    with open(os.path.join(args.out_dir, "train-labels.idx1-ubyte"), "wb") as f:
        f.write(labels)


if __name__ == "__main__":
    main()
