#!/bin/sh
# Resize speed: a 24-megapixel picture (6000 x 4000) reduced to a 100 x 75 thumbnail and a
# 1920 x 1080 picture enlarged to 3840 x 2160, by `vtimg bench --resize` and by Pillow's
# bilinear resize on the same decoded pixels, each the median of several runs.
set -eu
build=${1:-build}
here=$(dirname "$0")
out=$here/out
runs=${RUNS:-9}
mkdir -p "$out"
large=$out/bench-24mp.bmp
hd=$out/bench-1080p.bmp
if [ ! -f "$large" ]; then
    convert -seed 3 -size 1500x1000 plasma:red-blue -resize 6000x4000! -type TrueColor BMP3:"$large"
fi
if [ ! -f "$hd" ]; then
    convert -seed 5 -size 960x540 plasma:green-yellow -resize 1920x1080! -type TrueColor BMP3:"$hd"
fi
compare() {
    ours=$("$build/tools/vtimg" bench "$1" --resize "$2" --runs "$runs")
    pillow=$(/usr/bin/python3 "$here/pillow_resize.py" "$1" "$2" "$runs")
    /usr/bin/python3 -c "
ours, pillow = $ours, $pillow
print(f'resize $3 to $2: vtimg {ours:.1f} ms, Pillow {pillow:.1f} ms, Pillow/vtimg = {pillow / ours:.2f}x')"
}
compare "$large" 100x75 6000x4000
compare "$hd" 3840x2160 1920x1080
