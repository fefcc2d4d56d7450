#!/bin/sh
# Decoding in the helper process against decoding in vtimg's own, side by side: a 24-megapixel
# JPEG (the photo-like file of bench_codecs.sh) decoded into a new bitmap each run and its rows
# read once, as the first paint reads them (`vtimg bench --new-bitmap` against
# `vtimg --isolated bench`; target at most 1.05 x), and
# the thumbnail of a 1-megapixel JPEG, a decode scaled for at least 100 x 75 plus the resize
# (`--thumbnail 100x75`), with the header probe the thumbnail list makes first (`--probe`;
# target at most 3 ms more for both together). For information, the 24-megapixel decode
# again with a pause of 300 ms between pictures (`--pause 300`), as someone looking at each
# picture makes: the helper then has its memory for the next one ready. The two take turns
# round after round (ROUNDS, default 5) so that a shared machine slows both alike; each
# figure is the median of the rounds' medians. The helper is started before the clock runs.
# Run it under `taskset -c 0` to see both on one core, as on a machine busy with other work.
set -eu
build=${1:-build}
here=$(dirname "$0")
out=$here/out
rounds=${ROUNDS:-5}
vtimg=$build/tools/vtimg
export VT_DECODER_HELPER="$build/tools/vtview-decoder"
mkdir -p "$out"

large=$out/bench-24mp-8bit-q90.jpg
if [ ! -f "$large" ]; then
    ppm=$out/bench-24mp-photo-8bit.ppm
    [ -f "$ppm" ] ||
        convert -seed 7 -size 3000x2000 plasma:fractal -resize 6000x4000! -seed 7 -attenuate 0.4 +noise Gaussian -depth 8 "$ppm"
    cjpeg -quality 90 -sample 2x2 -outfile "$large" "$ppm"
fi
small=$out/bench-1mp-8bit-q90.jpg
if [ ! -f "$small" ]; then
    convert -seed 5 -size 600x433 plasma:fractal -resize 1200x866! -seed 5 -attenuate 0.4 +noise Gaussian -depth 8 \
        "$out/bench-1mp-photo-8bit.ppm"
    cjpeg -quality 90 -sample 2x2 -outfile "$small" "$out/bench-1mp-photo-8bit.ppm"
    rm -f "$out/bench-1mp-photo-8bit.ppm"
fi

calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# side_by_side NAME ARGS...: the rounds' medians in process and isolated, into NAME.own and NAME.helper.
side_by_side() {
    name=$1
    shift
    : >"$out/isolation-$name.own"
    : >"$out/isolation-$name.helper"
    i=0
    while [ $i -lt "$rounds" ]; do
        "$vtimg" bench "$@" >>"$out/isolation-$name.own"
        "$vtimg" --isolated bench "$@" >>"$out/isolation-$name.helper"
        i=$((i + 1))
    done
}

side_by_side large "$large" --new-bitmap --runs 5
own=$(median <"$out/isolation-large.own")
helper=$(median <"$out/isolation-large.helper")
echo "24 MP JPEG into a new bitmap: $own ms in process, $helper ms in the helper: $(calc "$helper / $own") x (target <= 1.05)"

side_by_side paused "$large" --new-bitmap --runs 5 --pause 300
own=$(median <"$out/isolation-paused.own")
helper=$(median <"$out/isolation-paused.helper")
echo "the same, 300 ms between pictures: $own ms in process, $helper ms in the helper: $(calc "$helper / $own") x"

side_by_side thumbnail "$small" --thumbnail 100x75 --runs 31
side_by_side probe "$small" --probe --runs 51
thumbnail_own=$(median <"$out/isolation-thumbnail.own")
thumbnail_helper=$(median <"$out/isolation-thumbnail.helper")
probe_own=$(median <"$out/isolation-probe.own")
probe_helper=$(median <"$out/isolation-probe.helper")
extra=$(calc "$thumbnail_helper - $thumbnail_own + $probe_helper - $probe_own")
echo "100 x 75 thumbnail of a 1 MP JPEG: $thumbnail_own ms in process, $thumbnail_helper ms in the helper;" \
    "probe $probe_own ms against $probe_helper ms: $extra ms more a picture (target <= 3)"
