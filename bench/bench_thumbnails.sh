#!/bin/sh
# Thumbnails of 100 JPEG photos of 4000 x 3000 (bench/bench_thumbnails.cpp) beside
# vipsthumbnail over the same files in one process: first with an empty thumbnail cache,
# then again in a new process with the cache the first run wrote. And the Names list of a
# folder of 10,000 files beside `ls -f` of it, all measured in the same run.
# Usage: bench_thumbnails.sh BUILD_DIR
set -eu
build=${1:-build}
# Absolute: the browser lists folders by their full path.
out=$(cd "$(dirname "$0")" && pwd)/out
photos=$out/thumbnail-photos
many=$out/ten-thousand-files
mkdir -p "$out"

# Milliseconds since the epoch, and arithmetic on decimals.
now() { date +%s%N | awk '{ printf "%.3f", $1 / 1000000 }'; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }

if [ "$(ls "$photos" 2>/dev/null | wc -l)" -ne 100 ]; then
    echo "making 100 photos of 4000 x 3000 in $photos (once)"
    rm -rf "$photos" && mkdir -p "$photos"
    # One photo-like picture (a plasma fractal with grain), shifted and tinted per file so
    # that no two files are alike.
    convert -seed 7 -size 1000x750 plasma:fractal -resize '4000x3000!' -attenuate 0.4 +noise Gaussian \
        "$out/photo-base.ppm"
    i=0
    while [ $i -lt 100 ]; do
        convert "$out/photo-base.ppm" -roll +$((i * 37))+$((i * 23)) -modulate 100,$((80 + i % 40)),$((90 + i % 20)) \
            -quality 90 "$photos/photo$(printf %03d $i).jpg"
        i=$((i + 1))
    done
    rm -f "$out/photo-base.ppm"
fi
if [ "$(ls -f "$many" 2>/dev/null | wc -l)" -ne 10002 ]; then
    rm -rf "$many" && mkdir -p "$many"
    (cd "$many" && seq 1 10000 | sed 's/^/file/; s/$/.jpg/' | xargs touch)
fi

# The thumbnail cache starts empty and is kept for the warm run only.
cache=$(mktemp -d)
start=$(now)
cold=$(XDG_CACHE_HOME=$cache QT_QPA_PLATFORM=offscreen "$build/bench/bench_thumbnails" thumbnails "$photos")
cold_process=$(calc "$(now) - $start")
start=$(now)
warm=$(XDG_CACHE_HOME=$cache QT_QPA_PLATFORM=offscreen "$build/bench/bench_thumbnails" thumbnails "$photos")
warm_process=$(calc "$(now) - $start")
cached=$(ls "$cache/thumbnails/normal" | wc -l)
rm -rf "$cache"
vips_out=$(mktemp -d)
start=$(now)
vipsthumbnail --size 100x75 -o "$vips_out/%s.jpg" "$photos"/*.jpg
vips=$(calc "$(now) - $start")
rm -rf "$vips_out"

list=$(QT_QPA_PLATFORM=offscreen "$build/bench/bench_thumbnails" list "$many" 9)
listed=${list%% *}
best=""
for run in 1 2 3 4 5 6 7 8 9; do
    start=$(now)
    ls -f "$many" > /dev/null
    t=$(calc "$(now) - $start")
    if [ -z "$best" ] || [ "$(calc "$t < $best")" = "1.00" ]; then best=$t; fi
done

{
    echo "vipsthumbnail --size 100x75, 100 JPEG 4000x3000, one process: $vips ms"
    echo "BuildThumbnails, cold cache: $cold (process $cold_process ms; $cached thumbnails cached)"
    echo "ratio cold / vipsthumbnail: $(calc "${cold%% *} / $vips") (target 0.5 or less)"
    echo "BuildThumbnails, warm cache, new process: $warm (process $warm_process ms)"
    echo "ratio warm / vipsthumbnail: $(calc "${warm%% *} / $vips") (target 0.08 or less)"
    echo "SetFolder, 10000 files: $list"
    echo "ls -f, 10000 files (best of 9, process start included): $best ms"
    echo "ratio SetFolder / ls -f: $(calc "$listed / $best")"
} | tee "$out/thumbnails.txt"
