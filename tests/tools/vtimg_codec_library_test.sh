#!/bin/sh
# The tool end to end on JPEG, PNG, GIF, TIFF and EPS fixtures: info names the format and
# what the header says (bits per pixel as stored), convert writes a BMP at 32 bits; damage fails cleanly.
set -eu
vtimg=$1
data=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

expect_info() {
    line=$("$vtimg" info "$data/$1") || fail "info $1 failed"
    [ "$line" = "$data/$1: $2" ] || fail "info printed: $line"
}
expect_info jpeg/rgb_q90_cjpeg.jpeg "JPEG 37 x 23, 24 bits per pixel, no alpha"
expect_info jpeg/grey_cjpeg.jpeg "JPEG 37 x 23, 8 bits per pixel, no alpha"
expect_info png/rgba_interlaced_magick.png "PNG 37 x 23, 32 bits per pixel, alpha"
expect_info png/palette_transparent_pillow.png "PNG 37 x 23, 4 bits per pixel, alpha"
expect_info gif/interlaced_magick.gif "GIF 37 x 23, 6 bits per pixel, no alpha"
expect_info tiff/rgb_lzw_magick.tiff "TIFF 37 x 23, 24 bits per pixel, no alpha"
expect_info tiff/bilevel_g4_magick.tiff "TIFF 37 x 23, 1 bits per pixel, no alpha"
expect_info eps/tiff_preview.eps "EPS 37 x 23, 24 bits per pixel, no alpha"

for f in jpeg/cmyk_magick.jpeg png/grey16_magick.png gif/palette_magick.gif tiff/palette_magick.tiff eps/tiff_preview.eps; do
    out="$dir/$(basename "$f").bmp"
    "$vtimg" convert "$data/$f" "$out" || fail "convert $f failed"
    # 14-byte file header, 40-byte info header, 37 x 23 pixels of 3 bytes in rows padded to 112 bytes.
    [ "$(wc -c <"$out")" -eq $((54 + 112 * 23)) ] || fail "convert $f wrote $(wc -c <"$out") bytes"
done

head -c 300 "$data/png/rgba_interlaced_magick.png" >"$dir/cut.png"
set +e
msg=$("$vtimg" convert "$dir/cut.png" "$dir/cut.bmp" 2>&1 >/dev/null); status=$?
set -e
[ $status -eq 1 ] || fail "convert of a cut PNG exited $status"
case $msg in *"code 11: End of file reached while decoding."*) ;; *) fail "cut PNG message: $msg" ;; esac

# An SVG written here: rendered without the application object that metafile text needs.
printf '%s' "<svg xmlns='http://www.w3.org/2000/svg' width='37' height='23'><rect width='37' height='23' fill='#0a0'/></svg>" >"$dir/box.svg"
if ! "$vtimg" info "$dir/box.svg" 2>&1 | grep -q "no decoder for them"; then
    line=$("$vtimg" info "$dir/box.svg") || fail "info of an SVG failed"
    [ "$line" = "$dir/box.svg: SVG 37 x 23, 32 bits per pixel, alpha" ] || fail "info printed: $line"
    "$vtimg" convert "$dir/box.svg" "$dir/box.bmp" || fail "convert of an SVG failed"
    [ "$(wc -c <"$dir/box.bmp")" -eq $((54 + 112 * 23)) ] || fail "convert of an SVG wrote $(wc -c <"$dir/box.bmp") bytes"
fi
