#!/bin/sh
# Makes the pictures of samples/ with ImageMagick: plasma landscapes with a fixed seed,
# gradients and drawn shapes, one file per format and variant the library reads.
# Run from the project's root; the results are committed.
set -eu
out=${1:-samples}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

convert -seed 7 -size 480x320 plasma:sienna-skyblue -blur 0x2 "$tmp/landscape.png"
convert -size 320x240 gradient:navy-gold \
    -fill 'rgba(255,255,255,0.85)' -draw 'circle 160,120 160,40' \
    -fill crimson -draw 'rectangle 40,170 120,220' \
    -fill seagreen -draw 'polygon 220,200 300,200 260,140' "$tmp/shapes.png"
convert -seed 11 -size 320x240 plasma:darkgreen-khaki "$tmp/meadow.png"
convert -size 256x256 radial-gradient:white-black "$tmp/grey.png"

convert "$tmp/landscape.png" -quality 88 "$out/landscape.jpg"
convert "$tmp/meadow.png" -quality 85 -colorspace Gray "$out/meadow-grey.jpg"
convert "$tmp/shapes.png" -type TrueColor BMP3:"$out/shapes.bmp"
convert "$tmp/meadow.png" -resize 240x180 -colors 256 -compress RLE BMP3:"$out/meadow-rle8.bmp"
convert "$tmp/shapes.png" -alpha set -channel A -fx 'i<w/2 ? 1 : 0.5' +channel "$out/shapes-alpha.png"
convert "$tmp/landscape.png" -resize 240x "$out/landscape.png"
convert "$tmp/shapes.png" -colors 64 "$out/shapes.gif"
convert "$tmp/shapes.png" -compress LZW "$out/shapes.tif"
convert "$tmp/shapes.png" -colors 256 "$out/shapes.pcx"
convert "$tmp/shapes.png" -flip -compress RLE "$out/shapes.tga"
convert "$tmp/grey.png" -colorspace Gray "$out/radial.pgm"
convert "$tmp/shapes.png" -resize 160x120 "$out/shapes.pict"
# EPS with a TIFF preview: the 30-byte binary header, a small PostScript program drawing
# a frame, then the preview.
convert "$tmp/meadow.png" -resize 120x90 -compress LZW "$tmp/preview.tif"
printf '%s\n' '%!PS-Adobe-3.0 EPSF-3.0' '%%BoundingBox: 0 0 160 120' \
    'newpath 0 0 moveto 160 0 lineto 160 120 lineto 0 120 lineto closepath stroke' '%%EOF' >"$tmp/frame.ps"
/usr/bin/python3 - "$tmp/frame.ps" "$tmp/preview.tif" "$out/meadow-preview.eps" <<'PY'
import struct, sys
ps = open(sys.argv[1], 'rb').read()
tiff = open(sys.argv[2], 'rb').read()
header = struct.pack('<4sIIIIIIH', b'\xc5\xd0\xd3\xc6', 30, len(ps), 0, 0, 30 + len(ps), len(tiff), 0xFFFF)
open(sys.argv[3], 'wb').write(header + ps + tiff)
PY
ls -l "$out"
du -sh "$out"
