#!/bin/sh
# Makes the pictures of samples/ with ImageMagick (and the metafiles with Inkscape): plasma landscapes with a fixed seed,
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
# Metafiles: a small chart drawn as SVG, exported by Inkscape as an enhanced and a 16-bit
# metafile (shapes, a gradient, outlines and text).
cat >"$tmp/chart.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="320" height="240" viewBox="0 0 320 240">
  <defs>
    <linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#dfe9f5"/><stop offset="1" stop-color="#ffffff"/>
    </linearGradient>
  </defs>
  <rect x="0" y="0" width="320" height="240" fill="url(#sky)"/>
  <text x="160" y="28" font-family="DejaVu Sans" font-size="18" text-anchor="middle" fill="#203040">Rainfall by season</text>
  <line x1="40" y1="200" x2="300" y2="200" stroke="#203040" stroke-width="2"/>
  <line x1="40" y1="200" x2="40" y2="50" stroke="#203040" stroke-width="2"/>
  <rect x="60" y="110" width="40" height="90" fill="#3a7bd5" stroke="#1d3d6a"/>
  <rect x="120" y="70" width="40" height="130" fill="#2aa876" stroke="#155438"/>
  <rect x="180" y="140" width="40" height="60" fill="#f2a541" stroke="#7a5320"/>
  <rect x="240" y="95" width="40" height="105" fill="#c8553d" stroke="#642a1e"/>
  <g font-family="DejaVu Sans" font-size="12" text-anchor="middle" fill="#203040">
    <text x="80" y="218">Spring</text><text x="140" y="218">Summer</text>
    <text x="200" y="218">Autumn</text><text x="260" y="218">Winter</text>
  </g>
  <polyline points="80,104 140,64 200,134 260,89" fill="none" stroke="#203040" stroke-width="2" stroke-dasharray="6,4"/>
  <circle cx="80" cy="104" r="4" fill="#203040"/><circle cx="140" cy="64" r="4" fill="#203040"/>
  <circle cx="200" cy="134" r="4" fill="#203040"/><circle cx="260" cy="89" r="4" fill="#203040"/>
</svg>
SVG
inkscape "$tmp/chart.svg" --export-type=emf --export-filename="$out/rainfall-chart.emf" 2>/dev/null
inkscape "$tmp/chart.svg" --export-type=wmf --export-filename="$out/rainfall-chart.wmf" 2>/dev/null

ls -l "$out"
du -sh "$out"
