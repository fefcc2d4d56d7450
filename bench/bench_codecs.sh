#!/bin/sh
# Decode speed of the formats read through the codec libraries, on one 24-megapixel picture
# (6000 x 4000, plasma with grain, 8 bits per sample as a camera gives, made with ImageMagick): as JPEG (4:2:0, quality 90, by
# cjpeg), as PNG and as LZW TIFF (by ImageMagick). bench_codecs.py prints the medians of
# `vtimg bench`, of libjpeg-turbo's own djpeg and of Pillow in one Python process, taking
# turns round after round (ROUNDS, default 5), and the ratios.
set -eu
build=${1:-build}
here=$(dirname "$0")
out=$here/out
rounds=${ROUNDS:-5}
mkdir -p "$out"
ppm=$out/bench-24mp-photo-8bit.ppm
if [ ! -f "$ppm" ]; then
    # The grain keeps the JPEG near a photograph's size; smooth plasma alone compresses far better.
    convert -seed 7 -size 3000x2000 plasma:fractal -resize 6000x4000! -seed 7 -attenuate 0.4 +noise Gaussian -depth 8 "$ppm"
fi
jpeg=$out/bench-24mp-8bit-q90.jpg
[ -f "$jpeg" ] || cjpeg -quality 90 -sample 2x2 -outfile "$jpeg" "$ppm"
png=$out/bench-24mp-8bit.png
[ -f "$png" ] || convert "$ppm" "$png"
tiff=$out/bench-24mp-8bit-lzw.tif
[ -f "$tiff" ] || convert "$ppm" -compress LZW "$tiff"
exec /usr/bin/python3 "$here/bench_codecs.py" "$build/tools/vtimg" "$rounds" "$jpeg" "$png" "$tiff"
