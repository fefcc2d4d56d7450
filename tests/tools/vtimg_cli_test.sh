#!/bin/sh
# The tool end to end: convert, info, exit statuses and messages.
set -eu
vtimg=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Bytes of a file as unsigned decimals: bytes FILE OFFSET COUNT.
bytes() { od -An -tu1 -j "$2" -N "$3" "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

# A 3 x 2 24-bit BMP written by hand: bottom row blue, green, red; top row white, black, grey.
printf 'BM\116\0\0\0\0\0\0\0\066\0\0\0\050\0\0\0\003\0\0\0\002\0\0\0\001\0\030\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' >"$dir/in.bmp"
printf '\377\0\0\0\377\0\0\0\377\0\0\0\377\377\377\0\0\0\200\200\200\0\0\0' >>"$dir/in.bmp"

"$vtimg" convert "$dir/in.bmp" "$dir/out.bmp" || fail "convert failed"
cmp -s "$dir/in.bmp" "$dir/out.bmp" || fail "a 24-bit file did not round-trip byte for byte"

line=$("$vtimg" info "$dir/in.bmp")
[ "$line" = "$dir/in.bmp: BMP 3 x 2, 24 bits per pixel, no alpha" ] || fail "info printed: $line"

"$vtimg" convert "$dir/in.bmp" "$dir/out8.bmp" --depth 8 || fail "convert --depth 8 of a true-colour file failed"
# Eight bits from true colour: the fixed palette, nearest entry, lowest index on ties.
[ "$(bytes "$dir/out8.bmp" 28 1)" = "8" ] || fail "--depth 8 wrote $(bytes "$dir/out8.bmp" 28 1) bits per pixel"
[ "$(bytes "$dir/out8.bmp" 1078 3)" = "249 40 190" ] || fail "--depth 8 bottom row: $(bytes "$dir/out8.bmp" 1078 3)"
[ "$(bytes "$dir/out8.bmp" 1082 3)" = "255 0 248" ] || fail "--depth 8 top row: $(bytes "$dir/out8.bmp" 1082 3)"

# Popularity keeps the eight primaries first; the grey finds its exact shade in the ramp
# that entries no colour reached still hold.
"$vtimg" convert "$dir/in.bmp" "$dir/pop.bmp" --quantize popularity || fail "--quantize popularity failed"
[ "$(bytes "$dir/pop.bmp" 1078 3) $(bytes "$dir/pop.bmp" 1082 3)" = "2 3 1 7 0 128" ] ||
    fail "--quantize popularity rows: $(bytes "$dir/pop.bmp" 1078 3) $(bytes "$dir/pop.bmp" 1082 3)"
for palette in median popularity fixed; do
    for dither in none ordered floyd; do
        "$vtimg" convert "$dir/in.bmp" "$dir/q.bmp" --resize 40x30 --quantize $palette --dither $dither ||
            fail "--quantize $palette --dither $dither failed"
        [ "$(bytes "$dir/q.bmp" 18 1) $(bytes "$dir/q.bmp" 22 1) $(bytes "$dir/q.bmp" 28 1)" = "40 30 8" ] ||
            fail "--quantize $palette --dither $dither wrote the wrong header"
    done
done

# Resizing: to the same size changes nothing, to another size gives that size.
"$vtimg" convert "$dir/in.bmp" "$dir/same.bmp" --resize 3x2 || fail "convert --resize 3x2 failed"
cmp -s "$dir/in.bmp" "$dir/same.bmp" || fail "resizing to the same size changed the picture"
"$vtimg" convert "$dir/in.bmp" "$dir/big.bmp" --resize 7x5 || fail "convert --resize 7x5 failed"
line=$("$vtimg" info "$dir/big.bmp")
[ "$line" = "$dir/big.bmp: BMP 7 x 5, 24 bits per pixel, no alpha" ] || fail "resized info printed: $line"

# One bit: white below 128 on any channel, black when all three are below; rows bottom-up.
"$vtimg" convert "$dir/in.bmp" "$dir/out1.bmp" --depth 1 || fail "convert --depth 1 failed"
[ "$(bytes "$dir/out1.bmp" 28 1)" = "1" ] || fail "--depth 1 wrote $(bytes "$dir/out1.bmp" 28 1) bits per pixel"
[ "$(bytes "$dir/out1.bmp" 54 8)" = "255 255 255 255 0 0 0 255" ] || fail "--depth 1 palette: $(bytes "$dir/out1.bmp" 54 8)"
[ "$(bytes "$dir/out1.bmp" 62 8)" = "0 0 0 0 64 0 0 0" ] || fail "--depth 1 rows: $(bytes "$dir/out1.bmp" 62 8)"

printf 'not an image at all' >"$dir/junk.bmp"
set +e
msg=$("$vtimg" info "$dir/junk.bmp" 2>&1 >/dev/null); status=$?
set -e
[ $status -eq 1 ] || fail "info of junk exited $status"
case $msg in *"code 8: Decoder error: Unknown file type."*) ;; *) fail "junk message: $msg" ;; esac

set +e
"$vtimg" convert "$dir/missing.bmp" "$dir/x.bmp" 2>/dev/null; status=$?
[ $status -eq 1 ] || fail "convert of a missing file exited $status"
[ ! -e "$dir/x.bmp" ] || fail "a failed convert left an output file"
"$vtimg" convert 2>/dev/null; status=$?
[ $status -eq 2 ] || fail "convert without arguments exited $status"
"$vtimg" convert "$dir/in.bmp" "$dir/y.bmp" --depth 7 2>/dev/null; status=$?
[ $status -eq 2 ] || fail "an unknown depth exited $status"
for bad in "--quantize" "--quantize octree" "--dither random" "--quantize fixed --depth 32" "--dither floyd --depth 1"; do
    # shellcheck disable=SC2086
    "$vtimg" convert "$dir/in.bmp" "$dir/y.bmp" $bad 2>/dev/null; status=$?
    [ $status -eq 2 ] || fail "$bad exited $status"
done
for size in 0x4 6 x4 6x 6x-1 ax4; do
    "$vtimg" convert "$dir/in.bmp" "$dir/y.bmp" --resize "$size" 2>/dev/null; status=$?
    [ $status -eq 2 ] || fail "--resize $size exited $status"
done
set -e

"$vtimg" --trace 3 "$dir/trace.log" info "$dir/in.bmp" >/dev/null
grep -q "Windows bitmap recognized." "$dir/trace.log" || fail "the trace log misses the recognition line"
"$vtimg" info "$dir/in.bmp" >/dev/null
[ "$(ls "$dir" | grep -c log)" -eq 1 ] || fail "a trace file appeared without --trace"
# Metafiles play at the screen's resolution, 96 dots per inch without one, or at --dpi.
wmf="$(dirname "$0")/../data/metafile/shapes.wmf"
line=$("$vtimg" info "$wmf")
case $line in *": WMF 159 x 119, 32 bits per pixel, no alpha") ;; *) fail "metafile info printed: $line" ;; esac
line=$("$vtimg" --dpi 48 info "$wmf")
case $line in *": WMF 79 x 59, 32 bits per pixel, no alpha") ;; *) fail "metafile info at 48 dpi printed: $line" ;; esac

# The global options come before the command, in any order. A picture without orientation
# or colour profile decodes the same with or without them.
"$vtimg" --keep-orientation --no-color-management convert "$dir/in.bmp" "$dir/kept.bmp" ||
    fail "convert --keep-orientation --no-color-management failed"
cmp -s "$dir/in.bmp" "$dir/kept.bmp" || fail "--keep-orientation --no-color-management changed a plain picture"
line=$("$vtimg" --no-color-management --dpi 48 --keep-orientation info "$wmf")
case $line in *": WMF 79 x 59, 32 bits per pixel, no alpha") ;; *) fail "info with every global option printed: $line" ;; esac
"$vtimg" --keep-orientation bench "$dir/in.bmp" --runs 1 >/dev/null || fail "bench --keep-orientation failed"
"$vtimg" --no-color-management bench "$dir/in.bmp" --runs 1 >/dev/null || fail "bench --no-color-management failed"
set +e
usage=$("$vtimg" --upright info "$dir/in.bmp" 2>&1); status=$?
set -e
[ $status -eq 2 ] || fail "an unknown global option exited $status"
case $usage in *"--keep-orientation"*"--no-color-management"*) ;; *) fail "the usage text misses the global options: $usage" ;; esac
# Special files named like pictures are refused at once: nothing waits for a FIFO's writer.
mkfifo "$dir/fifo.bmp"
set +e
msg=$(timeout 20 "$vtimg" info "$dir/fifo.bmp" 2>&1 >/dev/null); status=$?
timeout 20 "$vtimg" convert "$dir/fifo.bmp" "$dir/fifo-out.bmp" 2>/dev/null; convert_status=$?
timeout 20 "$vtimg" info /dev/null 2>/dev/null; device_status=$?
set -e
[ $status -eq 1 ] || fail "info of a FIFO exited $status (124: it waited)"
case $msg in *"code 5:"*) ;; *) fail "FIFO message: $msg" ;; esac
[ $convert_status -eq 1 ] || fail "convert of a FIFO exited $convert_status"
[ ! -e "$dir/fifo-out.bmp" ] || fail "convert of a FIFO wrote a file"
[ $device_status -eq 1 ] || fail "info of a device exited $device_status"
echo "vtimg end-to-end: ok"
