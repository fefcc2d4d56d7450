"""Median milliseconds Pillow needs to decode FILE completely, over RUNS runs in one process.

usage: pillow_decode.py FILE RUNS
"""
import statistics
import sys
import time

from PIL import Image

Image.MAX_IMAGE_PIXELS = None


def main():
    path, runs = sys.argv[1], int(sys.argv[2])
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        with Image.open(path) as image:
            image.load()
        times.append((time.perf_counter() - start) * 1000.0)
    print(f"{statistics.median(times):.3f}")


if __name__ == "__main__":
    main()
