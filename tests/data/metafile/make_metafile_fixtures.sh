#!/bin/sh
# Writes the metafile fixtures of this folder with Inkscape: each SVG drawing is exported
# as an enhanced (.emf) and a 16-bit (.wmf) metafile, and Inkscape's own rendering of each
# exported file at 96 dots per inch on white is kept beside it as its reference
# (<name>.<kind>.png). The tests play the metafiles and compare them with the references.
# Needs Inkscape (Debian package inkscape); run from anywhere.
set -eu
cd "$(dirname "$0")"
for svg in *.svg; do
    name=${svg%.svg}
    for kind in emf wmf; do
        inkscape "$svg" --export-type="$kind" --export-filename="$name.$kind" 2>/dev/null
        inkscape "$name.$kind" --export-type=png --export-dpi=96 --export-background=white \
            --export-background-opacity=1 --export-filename="$name.$kind.png" 2>/dev/null
    done
done
