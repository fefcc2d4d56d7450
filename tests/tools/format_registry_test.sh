#!/bin/sh
# The format registry drives `vtimg formats` and the desktop entry: the entry lists exactly
# the MIME types the tool prints, every format has a name, extensions and MIME types, and no
# extension belongs to two formats.
set -eu
vtimg=$1
desktop=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

formats=$("$vtimg" formats) || fail "vtimg formats failed"
[ -n "$formats" ] || fail "vtimg formats printed nothing"
echo "$formats" | awk -F '\t' 'NF != 3 || $1 == "" || $2 == "" || $3 == "" { bad = 1 } END { exit bad }' ||
    fail "a line of vtimg formats lacks a field: $formats"
for name in BMP JPEG PNG GIF TIFF EPS PCX TGA PGM PICT WMF EMF; do
    echo "$formats" | cut -f1 | grep -qx "$name" || fail "$name is not listed"
done
echo "$formats" | cut -f2 | grep -qw eps || fail "the eps extension is not listed"
duplicates=$(echo "$formats" | cut -f2 | tr ' ' '\n' | sort | uniq -d)
[ -z "$duplicates" ] || fail "extensions of two formats: $duplicates"

listed=$(echo "$formats" | cut -f3 | tr ' ' '\n' | sort -u)
entry=$(grep '^MimeType=' "$desktop" | sed 's/^MimeType=//' | tr ';' '\n' | sed '/^$/d' | sort -u)
[ "$listed" = "$entry" ] || fail "the desktop entry's MIME types differ from the registry: $entry"
echo "format registry: ok"
