#!/bin/sh
# Colour conversion and quarter turns of a 24-megapixel photograph (6000 x 4000).
#
# Colour: the picture of bench_codecs.sh (plasma with grain, JPEG 4:2:0 quality 90 by
# cjpeg) converted from an Adobe RGB-like profile to sRGB by bench_colour, beside
# `vtimg bench` decoding the same JPEG as stored (--keep-orientation --no-color-management),
# taking turns round after round (ROUNDS, default 5) so that a busy machine slows both alike.
# Quarter turn: bench_orientation, beside a memcpy of the same pixels in the same process.
set -eu
build=${1:-build}
here=$(dirname "$0")
out=$here/out
rounds=${ROUNDS:-5}
mkdir -p "$out"
ppm=$out/bench-24mp-photo-8bit.ppm
jpeg=$out/bench-24mp-8bit-q90.jpg
if [ ! -f "$jpeg" ]; then
    [ -f "$ppm" ] ||
        convert -seed 7 -size 3000x2000 plasma:fractal -resize 6000x4000! -seed 7 -attenuate 0.4 +noise Gaussian -depth 8 "$ppm"
    cjpeg -quality 90 -sample 2x2 -outfile "$jpeg" "$ppm"
fi
decodes=""
conversions=""
firsts=""
i=0
while [ $i -lt "$rounds" ]; do
    decodes="$decodes $("$build/tools/vtimg" --keep-orientation --no-color-management bench "$jpeg" --runs 3)"
    set -- $("$build/bench/bench_colour" "$jpeg" 3)
    conversions="$conversions $1"
    firsts="$firsts $2"
    cores=$3
    i=$((i + 1))
done
median() { echo "$@" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
decode=$(median $decodes)
conversion=$(median $conversions)
first=$(median $firsts)
awk -v d="$decode" -v c="$conversion" -v f="$first" -v n="$cores" -v r="$rounds" 'BEGIN {
    printf "median ms over %d rounds: JPEG decode (vtimg bench) %.1f; Adobe RGB to sRGB conversion %.1f on %d threads (first one, making the transform: %.1f)\n", r, d, c, n, f
    printf "conversion/decode = %.2fx   (target: at most 1.00x)\n", c / d
}'
"$build/bench/bench_orientation" 9
