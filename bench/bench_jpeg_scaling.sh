#!/bin/sh
# The cheap ways through a JPEG: the header probe of a 24-megapixel picture (6000 x 4000,
# the photo-like file of bench_codecs.sh) beside its full decode, in one process
# (`vtimg bench --probe` against `vtimg bench`) and as whole processes (`vtimg info` against
# `vtimg convert FILE OUT.bmp`); and the thumbnail of a 12-megapixel photo (4000 x 3000), a
# decode scaled for at least 100 x 75 plus the resize to it (`vtimg bench --thumbnail`),
# beside its full decode without a resize. Targets: at most 0.02, 0.10 and 0.70 of the
# full decode. Whole processes take turns round after round (ROUNDS, default 9) so that a
# shared machine slows both alike; each figure is a median.
set -eu
build=${1:-build}
here=$(dirname "$0")
out=$here/out
rounds=${ROUNDS:-9}
vtimg=$build/tools/vtimg
mkdir -p "$out"

ppm=$out/bench-24mp-photo-8bit.ppm
if [ ! -f "$ppm" ]; then
    # The grain keeps the JPEG near a photograph's size; smooth plasma alone compresses far better.
    convert -seed 7 -size 3000x2000 plasma:fractal -resize 6000x4000! -seed 7 -attenuate 0.4 +noise Gaussian -depth 8 "$ppm"
fi
large=$out/bench-24mp-8bit-q90.jpg
[ -f "$large" ] || cjpeg -quality 90 -sample 2x2 -outfile "$large" "$ppm"
photo=$out/bench-12mp-8bit-q90.jpg
if [ ! -f "$photo" ]; then
    convert -seed 11 -size 2000x1500 plasma:fractal -resize 4000x3000! -seed 11 -attenuate 0.4 +noise Gaussian -depth 8 \
        "$out/bench-12mp-photo-8bit.ppm"
    cjpeg -quality 90 -sample 2x2 -outfile "$photo" "$out/bench-12mp-photo-8bit.ppm"
    rm -f "$out/bench-12mp-photo-8bit.ppm"
fi

# Milliseconds since the epoch, arithmetic on decimals, and the median of the numbers on stdin.
now() { date +%s%N | awk '{ printf "%.3f", $1 / 1000000 }'; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

probe=$("$vtimg" bench "$large" --probe --runs 51)
decode=$("$vtimg" bench "$large" --runs 5)

bmp=$out/bench-24mp-converted.bmp
info_times=""
convert_times=""
round=0
while [ $round -lt "$rounds" ]; do
    start=$(now)
    "$vtimg" info "$large" > /dev/null
    info_times="$info_times $(calc "$(now) - $start")"
    start=$(now)
    "$vtimg" convert "$large" "$bmp"
    convert_times="$convert_times $(calc "$(now) - $start")"
    round=$((round + 1))
done
rm -f "$bmp"
info=$(echo $info_times | tr ' ' '\n' | median)
converted=$(echo $convert_times | tr ' ' '\n' | median)

thumbnail=$("$vtimg" bench "$photo" --thumbnail 100x75 --runs 9)
full=$("$vtimg" bench "$photo" --runs 9)

{
    echo "probe of the 24 MP JPEG, in process: $probe ms; its decode: $decode ms"
    echo "ratio probe / decode: $(calc "$probe / $decode") (target <= 0.02)"
    echo "vtimg info, whole process: $info ms; vtimg convert to BMP: $converted ms (medians of $rounds rounds)"
    echo "ratio info / convert: $(calc "$info / $converted") (target <= 0.10)"
    echo "thumbnail of the 12 MP JPEG, scaled decode for 100x75 and resize: $thumbnail ms; its full decode: $full ms"
    echo "ratio thumbnail / full decode: $(calc "$thumbnail / $full") (target <= 0.70)"
} | tee "$out/jpeg_scaling.txt"
