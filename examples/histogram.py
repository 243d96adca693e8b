#!/usr/bin/env python3
"""Takes one 16-bit frame, saves it with numpy (.npy) and as PNG, and prints its histogram.

Usage: histogram.py [--sim N] [out-prefix]
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import numpy as np  # noqa: E402

import lumora  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", type=int, default=None, help="use N simulated cameras")
    parser.add_argument("prefix", nargs="?", default="frame")
    args = parser.parse_args()
    with lumora.Camera(sim=args.sim) as cam:
        cam.bit_depth = 16
        frame = cam.snap()
        np.save(args.prefix + ".npy", frame)
        cam.save(args.prefix + ".png")
        print("%s.npy, %s.png: %d x %d, %s, %.1f degC" % (args.prefix, args.prefix, frame.shape[1],
              frame.shape[0], frame.dtype, cam.temperature))
    # 12 significant bits: 16 bins of 256 levels each.
    counts, edges = np.histogram(frame, bins=16, range=(0, 4096))
    widest = counts.max()
    for count, low in zip(counts, edges):
        bar = "#" * int(round(50 * count / widest)) if widest else ""
        print("%5d..%5d %9d %s" % (low, low + 255, count, bar))


if __name__ == "__main__":
    main()
