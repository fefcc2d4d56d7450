#!/usr/bin/python3
"""Writes the JPEG, PNG, GIF, TIFF and EPS fixtures of tests/data with libjpeg-turbo's
cjpeg, ImageMagick and Pillow.

Each fixture is a small file written by one of those tools, with "<fixture>.png" beside it:
Pillow's decode of the fixture, which the tests compare the library's decode with. Run
from anywhere:
    /usr/bin/python3 tests/data/make_codec_library_fixtures.py
"""
import os
import struct
import subprocess
import tempfile

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 37, 23  # odd sizes: rows that do not fill whole bytes, chroma blocks cut short


def picture():
    im = Image.new('RGB', (W, H))
    im.putdata([((x * 7 + y * 3) % 256, (y * 11) % 256, (x * x + y) % 256) for y in range(H) for x in range(W)])
    return im


def magick(src, dst, *options):
    subprocess.run(['convert', src, *options, dst], check=True)


def expected(path):
    im = Image.open(path)
    if im.mode.startswith('I'):
        # Pillow clips 16-bit grey when it converts; 8-bit samples keep the high byte.
        grey = Image.new('L', im.size)
        grey.putdata([v >> 8 for v in im.getdata()])
        im = grey
    im.convert('RGBA').save(path + '.png')


def eps_with_preview(tiff_path, eps_path):
    """A DOS EPS file: the 30-byte binary header, a little PostScript, the TIFF preview."""
    postscript = b'%%!PS-Adobe-3.0 EPSF-3.0\n%%%%BoundingBox: 0 0 %d %d\nshowpage\n%%%%EOF\n' % (W, H)
    with open(tiff_path, 'rb') as f:
        preview = f.read()
    header = struct.pack('<IIIIIIIH', 0xC6D3D0C5, 30, len(postscript), 0, 0, 30 + len(postscript), len(preview),
                         0xFFFF)
    with open(eps_path, 'wb') as f:
        f.write(header + postscript + preview)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, 'picture.ppm')
        picture().save(source)
        folder = lambda name: os.makedirs(os.path.join(HERE, name), exist_ok=True) or os.path.join(HERE, name)
        jpeg, png, gif, tiff, eps = (folder(n) for n in ('jpeg', 'png', 'gif', 'tiff', 'eps'))

        fixtures = []
        for name, options in (('rgb_q90_cjpeg.jpeg', ['-quality', '90']), ('grey_cjpeg.jpeg', ['-grayscale']),
                              ('progressive_cjpeg.jpeg', ['-progressive'])):
            out = os.path.join(jpeg, name)
            with open(out, 'wb') as f:
                subprocess.run(['cjpeg', *options, source], stdout=f, check=True)
            fixtures.append(out)
        out = os.path.join(jpeg, 'cmyk_magick.jpeg')
        magick(source, out, '-colorspace', 'CMYK', '-quality', '95')
        fixtures.append(out)

        out = os.path.join(png, 'rgba_interlaced_magick.png')
        rgba = picture().convert('RGBA')
        rgba.putalpha(Image.new('L', (W, H), 200))
        rgba.save(os.path.join(tmp, 'rgba.png'))
        magick(os.path.join(tmp, 'rgba.png'), out, '-interlace', 'PNG', '-strip')
        fixtures.append(out)
        out = os.path.join(png, 'palette_transparent_pillow.png')
        quantised = picture().quantize(16)
        quantised.save(out, transparency=3)
        fixtures.append(out)
        out = os.path.join(png, 'grey16_magick.png')
        magick(source, out, '-colorspace', 'Gray', '-depth', '16', '-strip')
        fixtures.append(out)

        for name, options in (('palette_magick.gif', ['+dither', '-colors', '64']),
                              ('interlaced_magick.gif', ['+dither', '-colors', '64', '-interlace', 'GIF'])):
            out = os.path.join(gif, name)
            magick(source, out, *options)
            fixtures.append(out)

        for name, options in (('rgb_lzw_magick.tiff', ['-compress', 'LZW']),
                              ('grey4_magick.tiff', ['-colorspace', 'Gray', '-depth', '4']),
                              ('palette_magick.tiff', ['+dither', '-colors', '16', '-type', 'Palette']),
                              ('bilevel_g4_magick.tiff', ['-monochrome', '-compress', 'Group4'])):
            out = os.path.join(tiff, name)
            magick(source, out, *options)
            fixtures.append(out)

        out = os.path.join(eps, 'tiff_preview.eps')
        eps_with_preview(os.path.join(tiff, 'rgb_lzw_magick.tiff'), out)
        Image.open(os.path.join(tiff, 'rgb_lzw_magick.tiff')).convert('RGBA').save(out + '.png')

        for path in fixtures:
            expected(path)


if __name__ == '__main__':
    main()
