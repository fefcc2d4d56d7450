#!/bin/sh
# Peak resident memory of `vtimg convert` on a memory bomb: a 1 KB run-length BMP that
# declares 30000 x 30000 pixels (900 megapixels, within the storage limit) and ends at
# once. The decoded picture must be held; the BMP written from it is streamed, so the peak
# stays near the picture alone. Given a second vtimg (an older build), both run side by side.
set -eu
build=${1:-build}
reference=${2:-}
out=$(dirname "$0")/out
mkdir -p "$out"
bomb=$out/bomb-30000-rle8.bmp
# File header, info header (8 bits, RLE8), a grey palette, then "end of bitmap".
/usr/bin/python3 - "$bomb" <<'PY'
import struct, sys
palette = b''.join(bytes((i, i, i, 0)) for i in range(256))
data = b'\x00\x01'
offset = 14 + 40 + len(palette)
header = b'BM' + struct.pack('<IHHI', offset + len(data), 0, 0, offset)
info = struct.pack('<IiiHHIIiiII', 40, 30000, 30000, 1, 8, 1, len(data), 2835, 2835, 256, 0)
open(sys.argv[1], 'wb').write(header + info + palette + data)
PY
peak() {
    /usr/bin/time -f %M "$1" convert "$bomb" "$out/bomb-out.bmp" --depth "$2" 2>&1 >/dev/null | tail -n 1
    rm -f "$out/bomb-out.bmp"
}
for depth in 8 32; do
    ours=$(peak "$build/tools/vtimg" $depth)
    if [ -n "$reference" ]; then
        theirs=$(peak "$reference" $depth)
        /usr/bin/python3 -c "print(f'RLE8 bomb 30000x30000 to a {$depth}-bit BMP: peak RSS vtimg {$ours / 1024:.0f} MiB, reference {$theirs / 1024:.0f} MiB, reference/vtimg = {$theirs / $ours:.2f}x')"
    else
        /usr/bin/python3 -c "print(f'RLE8 bomb 30000x30000 to a {$depth}-bit BMP: peak RSS vtimg {$ours / 1024:.0f} MiB')"
    fi
done
rm -f "$bomb"
