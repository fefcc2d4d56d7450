#pragma once

#include "imagelib/image_decoder.h"

// Windows and OS/2 bitmap files ("BM"): 1, 2, 4 and 8 bits with a colour table (4 and 8
// also run-length encoded, with delta escapes), 16 and 32 bits plain or with bit-field
// masks, and 24 bits. Info headers of 12 (OS/2 1.x), 16 to 64 (OS/2 2.x, Windows 3), 108
// (V4) and 124 (V5) bytes; the colour table follows the header size the file gives.
// Negative heights mark top-down rows. The fourth byte of plain 32-bit pixels, and an alpha
// bit field, are alpha unless they are 0 in every pixel: then the picture is opaque.
//
// Corruption policy. Fatal: any header field out of its range (planes other than 1,
// non-positive width, zero height, unknown depth, file-size, image-size or colour-table
// fields larger than the file, densities no device has), pixel indices beyond the colour
// table, run-length runs that pass a row's end or the last row, and uncompressed pixel data
// shorter than the header promises, which is refused before any allocation. Tolerated:
// a data offset that points back into the headers (the pixels are taken to follow the
// colour table), colour tables longer than 256 entries (the rest is skipped), run-length
// data that ends before the last row (the rest keeps colour 0).
class CBMPDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
