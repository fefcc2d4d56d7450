#!/bin/sh
# BMP decode speed: a 24-megapixel 24-bit BMP (6000 x 4000) made with ImageMagick, decoded
# by `vtimg bench` and by Pillow in one Python process, each the median of several runs.
set -eu
build=${1:-build}
out=$(dirname "$0")/out
runs=${RUNS:-9}
mkdir -p "$out"
file=$out/bench-24mp.bmp
if [ ! -f "$file" ]; then
    convert -seed 3 -size 1500x1000 plasma:red-blue -resize 6000x4000! -type TrueColor BMP3:"$file"
fi
ours=$("$build/tools/vtimg" bench "$file" --runs "$runs")
pillow=$(/usr/bin/python3 "$(dirname "$0")/pillow_decode.py" "$file" "$runs")
/usr/bin/python3 -c "
ours, pillow = $ours, $pillow
print(f'BMP 6000x4000 24-bit: vtimg {ours:.1f} ms, Pillow {pillow:.1f} ms, Pillow/vtimg = {pillow / ours:.2f}x')"
