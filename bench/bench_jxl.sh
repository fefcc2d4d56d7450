#!/bin/sh
# JPEG XL decode of a 12-megapixel picture (4000 x 3000, smooth shapes with grain): the
# library's decode into its 32-bit bitmap beside libjxl's own decode to 8-bit RGBA in the
# same process, both on two threads, taking turns (ROUNDS, default 7). The pictures are made
# by libjxl's encoder: lossy at distance 1 and lossless.
set -eu
build=${1:-build}
here=$(dirname "$0")
out=$here/out
rounds=${ROUNDS:-7}
mkdir -p "$out"
for kind in lossy lossless; do
    file=$out/bench-12mp-$kind.jxl
    [ -f "$file" ] || "$build/bench/bench_jxl" --make "$file" $kind
    set -- $("$build/bench/bench_jxl" "$file" "$rounds")
    awk -v o="$1" -v l="$2" -v k="$kind" -v r="$rounds" 'BEGIN {
        printf "%s 12 MP JPEG XL, median ms over %d rounds: ours %.1f, libjxl to RGBA8 %.1f; ratio %.2fx (target: at most 1.15x)\n", k, r, o, l, o / l
    }'
done
