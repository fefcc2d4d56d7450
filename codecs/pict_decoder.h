#pragma once

#include "imagelib/image_decoder.h"

// Macintosh PICT files (QuickDraw pictures, version 1 and 2, after their 512-byte preamble).
// Vector drawing is not rendered: the decoder walks the opcodes, skipping each by its data
// length, to the first image and decodes that one: a monochrome BitMap, an indexed PixMap of
// 1, 2, 4 or 8 bits with its colour table (BitsRect, BitsRgn, PackBitsRect, PackBitsRgn), a
// direct PixMap of 16 or 32 bits (opcode 0x9A), or JPEG data inside a QuickTime opcode
// (0x8200), which goes to the JPEG decoder given at construction. Indexed and monochrome
// images decode at 8 bits when 0 or 8 is asked for; direct pixels and JPEG data decode at
// 32 bits (a greyscale JPEG at what the JPEG decoder chooses), and the depth used is
// reported back.
//
// Corruption policy. Fatal: a missing or unknown version opcode, a picture that ends (or
// whose data ends) before any image, pattern types other than 1 and 2, region and polygon
// sizes below 2, pixel sizes other than 1, 2, 4, 8, 16 and 32, 32-bit pixmaps with other
// than 3 or 4 components, direct pixmaps of 8 bits or fewer (they carry no colour table),
// colour-table entries whose index is not below the table's size, QuickTime data without a
// JPEG stream, and, with no JPEG decoder given, any JPEG data (code 6). Tolerated: colour
// tables of more than 256 entries (entries beyond 255 are dropped), packed rows whose runs
// produce more or fewer bytes than a row holds (the excess is dropped, the rest is colour 0),
// and rows too short for the width (the rest is colour 0, or black for direct pixels).
class CPICTDecoder : public CImageDecoder {
public:
    // jpegDecoder decodes embedded JPEG data; it is not owned and may be null.
    explicit CPICTDecoder(CImageDecoder* jpegDecoder = nullptr) : jpegDecoder_(jpegDecoder) {}

    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;

private:
    CImageDecoder* jpegDecoder_;
};
