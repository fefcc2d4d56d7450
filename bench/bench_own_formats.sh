#!/bin/sh
# PCX, TGA and PGM decode speed: one 24-megapixel picture (6000 x 4000) made with ImageMagick
# and written as a 24-bit run-length PCX, a 24-bit TGA (plain and run-length) and a raw PGM
# of 8 and 16 bits, each decoded to 32 bits per pixel by `vtimg bench` and by Pillow in one
# Python process, the median of several runs.
#
# Pillow does not decode a raw 8-bit PGM: it maps the file and uses it as its picture. For
# PGM the table also shows Pillow reading the file into memory first, which makes it decode.
set -eu
build=${1:-build}
here=$(dirname "$0")
out=$here/out
runs=${RUNS:-9}
mkdir -p "$out"
picture=$out/bench-24mp.png
if [ ! -f "$picture" ]; then
    convert -seed 5 -size 1500x1000 plasma:green-orange -resize 6000x4000! -type TrueColor "$picture"
fi
make_file() {
    [ -f "$out/$1" ] && return
    case $1 in
        *.pcx) convert "$picture" "$out/$1" ;;
        *-rle.tga) convert "$picture" -orient TopLeft -compress RLE "$out/$1" ;;
        *.tga) convert "$picture" -orient TopLeft "$out/$1" ;;
        *-16.pgm) convert "$picture" -colorspace Gray -depth 16 "$out/$1" ;;
        *.pgm) convert "$picture" -colorspace Gray -depth 8 "$out/$1" ;;
    esac
}
for case in "PCX 24-bit run-length:bench-24mp.pcx" "TGA 24-bit plain:bench-24mp.tga" \
            "TGA 24-bit run-length:bench-24mp-rle.tga" "PGM 8-bit raw:bench-24mp.pgm" \
            "PGM 16-bit raw:bench-24mp-16.pgm"; do
    label=${case%%:*}
    name=${case#*:}
    make_file "$name"
    file=$out/$name
    ours=$("$build/tools/vtimg" bench "$file" --runs "$runs")
    pillow=$(/usr/bin/python3 "$here/pillow_decode.py" "$file" "$runs")
    unmapped=0
    case $name in *.pgm) unmapped=$(/usr/bin/python3 "$here/pillow_decode_unmapped.py" "$file" "$runs") ;; esac
    /usr/bin/python3 -c "
ours, pillow, unmapped = $ours, $pillow, $unmapped
line = f'$label 6000x4000: vtimg {ours:.1f} ms, Pillow {pillow:.1f} ms, Pillow/vtimg = {pillow / ours:.2f}x'
if unmapped:
    line += f'; Pillow from memory {unmapped:.1f} ms, {unmapped / ours:.2f}x'
print(line)"
done
