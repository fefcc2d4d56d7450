"""Median milliseconds Pillow needs to read FILE and decode it from memory, over RUNS runs in
one process. Pillow maps some raw files (8-bit PGM among them) straight from the disk
instead of decoding them; reading the file into memory first makes it decode.

usage: pillow_decode_unmapped.py FILE RUNS
"""
import io
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
        with open(path, "rb") as f:
            data = io.BytesIO(f.read())
        with Image.open(data) as image:
            image.load()
        times.append((time.perf_counter() - start) * 1000.0)
    print(f"{statistics.median(times):.3f}")


if __name__ == "__main__":
    main()
