"""Median milliseconds Pillow needs to resize the picture in FILE to WIDTH x HEIGHT with its
bilinear filter, over RUNS runs in one process; only the resize itself is timed.

usage: pillow_resize.py FILE WIDTHxHEIGHT RUNS
"""
import statistics
import sys
import time

from PIL import Image

Image.MAX_IMAGE_PIXELS = None


def main():
    path, size, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    width, height = (int(side) for side in size.split("x"))
    with Image.open(path) as image:
        image.load()
        times = []
        for _ in range(runs):
            start = time.perf_counter()
            image.resize((width, height), Image.BILINEAR)
            times.append((time.perf_counter() - start) * 1000.0)
    print(f"{statistics.median(times):.3f}")


if __name__ == "__main__":
    main()
