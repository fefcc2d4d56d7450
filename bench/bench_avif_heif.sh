#!/bin/sh
# Decode of a 12-megapixel AVIF and HEIC into the 32-bit bitmap beside libavif's and
# libheif's own decode to 8-bit RGBA, in one process with the same threads (ROUNDS rounds,
# default 5). The pictures are made on the first run and kept in bench/out.
set -eu
build=${1:-build}
here=$(dirname "$0")
"$build/bench/bench_avif_heif" "$here/out" "${ROUNDS:-5}"
