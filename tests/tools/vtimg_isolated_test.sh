#!/bin/sh
# vtimg --isolated against vtimg decoding in its own process: every fixture of every format
# (and WebP, AVIF and HEIF files ImageMagick writes here) gives the same BMP or the same
# error from the helper, under its system-call filter; and the helper cannot open a file.
set -u
vtimg=$1
helper=$2
data=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export VT_DECODER_HELPER="$helper"
# Compared here is what the decodes give. In sanitizer builds the tool, which has none of the
# test programs' leak suppressions, would end on the font libraries' leaks at exit instead;
# those are checked by the library tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=0"

for format in webp avif heic; do
    convert -size 37x23 gradient:red-blue -alpha set -channel A -evaluate set 60% "$dir/made.$format" 2>/dev/null ||
        echo "note: ImageMagick cannot write $format here"
done

compared=0
for file in "$data"/*/* "$dir"/made.*; do
    # Scripts, and the reference decodes beside the fixtures (PNG files like any other).
    case $file in *.sh | *.py | *.md | *.*.png) continue ;; esac
    [ -f "$file" ] || continue
    "$vtimg" convert "$file" "$dir/own.bmp" 2>"$dir/own.err"
    own=$?
    "$vtimg" --isolated convert "$file" "$dir/helper.bmp" 2>"$dir/helper.err"
    isolated=$?
    [ $own -eq $isolated ] || fail "$file: exit $own in process, $isolated isolated: $(cat "$dir/helper.err")"
    if [ $own -eq 0 ]; then
        cmp -s "$dir/own.bmp" "$dir/helper.bmp" || fail "$file: the helper's pixels differ"
    else
        # The helper's own warnings aside, the same code and text.
        grep ': code ' "$dir/own.err" >"$dir/own.code"
        grep ': code ' "$dir/helper.err" >"$dir/helper.code"
        cmp -s "$dir/own.code" "$dir/helper.code" ||
            fail "$file: '$(cat "$dir/own.code")' in process, '$(cat "$dir/helper.code")' isolated"
    fi
    rm -f "$dir"/own.* "$dir"/helper.*
    compared=$((compared + 1))
done
[ $compared -ge 40 ] || fail "only $compared files compared"

opened=$("$helper" --test-try-open "$data/jpeg/rgb_q90_cjpeg.jpeg" 2>/dev/null)
case $opened in
EPERM | EACCES) ;;
*) fail "the helper's open of a picture gave '$opened'" ;;
esac
echo "$compared files decode alike in the helper"
