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


def with_alpha(im):
    alpha = Image.new('L', im.size)
    alpha.putdata([(x * 23 + y * 5) % 256 for y in range(H) for x in range(W)])
    out = im.convert('RGBA')
    out.putalpha(alpha)
    return out


def magick(src, dst, *options):
    # -strip keeps time stamps out of the PNG pictures, so a rerun changes nothing.
    strip = ('-strip',) if dst.endswith('.png') else ()
    subprocess.run(['convert', src, *options, *strip, dst], check=True)


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


def tga(folder):
    # ImageMagick 6.9 stores rows top first even when its header says bottom-up (its
    # default), so its files here are written with an explicit top-down origin.
    top = ('-orient', 'TopLeft')
    rgb = picture()
    rgb.save(f'{folder}/rgb.png')
    rgb.save(f'{folder}/rgb24_pillow.tga')
    rgb.save(f'{folder}/rgb24_top_pillow.tga', orientation=1)
    rgb.save(f'{folder}/rgb24_rle_pillow.tga', rle=True)
    magick(f'{folder}/rgb.png', f'{folder}/rgb24_top_magick.tga', *top)
    magick(f'{folder}/rgb.png', f'{folder}/rgb24_rle_top_magick.tga', *top, '-compress', 'RLE')

    rgba = with_alpha(rgb)
    rgba.save(f'{folder}/rgba.png')
    rgba.save(f'{folder}/rgba32_pillow.tga')
    rgba.save(f'{folder}/rgba32_rle_top_pillow.tga', rle=True, orientation=1)

    # 5 bits per channel; the picture is ImageMagick's own reading of its file.
    magick(f'{folder}/rgb.png', f'{folder}/rgb16_top_magick.tga', *top, '-depth', '5')
    magick(f'{folder}/rgb.png', f'{folder}/rgb16_rle_top_magick.tga', *top, '-depth', '5', '-compress', 'RLE')
    magick(f'{folder}/rgb16_top_magick.tga', f'{folder}/rgb16.png')

    palette = rgb.quantize(50)
    palette.save(f'{folder}/palette.png')
    palette.save(f'{folder}/palette8_pillow.tga')
    palette.save(f'{folder}/palette8_rle_top_pillow.tga', rle=True, orientation=1)
    magick(f'{folder}/palette.png', f'{folder}/palette8_rle_top_magick.tga', *top, '-type', 'Palette',
           '-compress', 'RLE')

    grey = rgb.convert('L')
    grey.save(f'{folder}/grey.png')
    grey.save(f'{folder}/grey8_pillow.tga')
    grey.save(f'{folder}/grey8_top_pillow.tga', orientation=1)
    magick(f'{folder}/grey.png', f'{folder}/grey8_rle_top_magick.tga', *top, '-type', 'Grayscale',
           '-compress', 'RLE')

    grey_alpha = with_alpha(grey).convert('LA')
    grey_alpha.save(f'{folder}/greyalpha.png')
    grey_alpha.save(f'{folder}/greyalpha16_pillow.tga')
    grey_alpha.save(f'{folder}/greyalpha16_rle_top_pillow.tga', rle=True, orientation=1)


def pgm(folder):
    grey = picture().convert('L')
    grey.save(f'{folder}/grey.png')
    grey.save(f'{folder}/p5_255_pillow.pgm')
    grey.point(lambda v: v * 257, 'I').save(f'{folder}/p5_65535_pillow.pgm')
    comment = ('-set', 'comment', 'written by ImageMagick\nover two lines')
    magick(f'{folder}/grey.png', f'{folder}/p5_255_magick.pgm', *comment)
    magick(f'{folder}/grey.png', f'{folder}/p2_255_magick.pgm', *comment, '-compress', 'none')
    magick(f'{folder}/grey.png', f'{folder}/p5_65535_magick.pgm', *comment, '-depth', '16')
    magick(f'{folder}/grey.png', f'{folder}/p2_65535_magick.pgm', *comment, '-depth', '16', '-compress', 'none')
    # 4 bits: the picture is ImageMagick's own reading of its file.
    magick(f'{folder}/grey.png', f'{folder}/p5_15_magick.pgm', *comment, '-depth', '4')
    magick(f'{folder}/p5_15_magick.pgm', f'{folder}/grey15.png')


def pict(folder):
    # ImageMagick writes indexed pictures as an 8-bit PackBitsRect and true colour as a
    # direct pixmap (opcode 0x9A) of 32 bits with 3 or 4 component planes.
    rgb = picture()
    rgb.save(f'{folder}/rgb.png')
    magick(f'{folder}/rgb.png', f'{folder}/rgb32_magick.pict', '-type', 'TrueColor')
    rgba = with_alpha(rgb)
    rgba.save(f'{folder}/rgba.png')
    magick(f'{folder}/rgba.png', f'{folder}/rgba32_magick.pict', '-type', 'TrueColorAlpha')
    for colours in (256, 16, 2):
        palette = rgb.quantize(colours)
        palette.save(f'{folder}/palette{colours}.png')
        magick(f'{folder}/palette{colours}.png', f'{folder}/palette{colours}_magick.pict', '-type', 'Palette')
    # Rows of more than 250 bytes give their packed length in two bytes.
    wide = Image.new('RGB', (300, 4))
    wide.putdata([((x * 3) % 256, (x // 2 + y * 40) % 256, (x * x) % 256) for y in range(4) for x in range(300)])
    wide.save(f'{folder}/wide.png')
    magick(f'{folder}/wide.png', f'{folder}/wide32_magick.pict', '-type', 'TrueColor')
    wide.quantize(200).save(f'{folder}/widepalette.png')
    magick(f'{folder}/widepalette.png', f'{folder}/wide8_magick.pict', '-type', 'Palette')
    # JPEG streams the tests wrap in QuickTime opcodes.
    rgb.save(f'{folder}/photo.jpg', quality=90)
    rgb.convert('L').save(f'{folder}/photo_grey.jpg', quality=90)


def main():
    for name, writer in (('pcx', pcx), ('tga', tga), ('pgm', pgm), ('pict', pict)):
        folder = os.path.join(HERE, name)
        os.makedirs(folder, exist_ok=True)
        writer(folder)


if __name__ == '__main__':
    main()
