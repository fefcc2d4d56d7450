#!/bin/sh
# WebP: decode of a 12-megapixel lossy picture (4000 x 3000, made and encoded at quality 80
# by libwebp inside bench_webp) into the library's 32-bit bitmap, beside libwebp's own
# WebPDecodeRGBA of the same bytes in the same process, one thread each, ROUNDS rounds
# (default 7) taken in turns.
set -eu
build=${1:-build}
rounds=${ROUNDS:-7}
set -- $("$build/bench/bench_webp" "$rounds")
awk -v o="$1" -v l="$2" -v r="$3" -v n="$rounds" 'BEGIN {
    printf "median ms over %d rounds: our decode to the 32-bit bitmap %.1f; WebPDecodeRGBA %.1f\n", n, o, l
    printf "ours/libwebp = %.3fx   (target: at most 1.15x)\n", r
}'
