#pragma once

#include "imagelib/image_decoder.h"

// Macintosh PICT files (QuickDraw pictures, version 1 and 2, after their 512-byte preamble).
// The opcodes are walked twice: a scan that decodes no pixels finds the images and drawing,
// then the picture is made. A picture of a single image and no drawing shows that image at
// its own size, as stored: a monochrome BitMap, an indexed PixMap of 1, 2, 4 or 8 bits with
// its colour table (BitsRect, BitsRgn, PackBitsRect, PackBitsRgn), a direct PixMap of 16 or
// 32 bits (DirectBitsRect, DirectBitsRgn), or JPEG data inside a QuickTime opcode (0x8200),
// which goes to the JPEG decoder given at construction; indexed and monochrome images decode
// at 8 bits when 0 or 8 is asked for, the rest at 32 (a greyscale JPEG at what the JPEG
// decoder chooses), and the depth used is reported back. Any other picture is drawn whole
// at 32 bits (see PictCanvas and PictDrawing): every image at its destination, and the
// QuickDraw drawing. What follows a QuickTime image for readers without QuickTime is passed
// over up to the next such image.
//
// Corruption policy. Fatal: a missing or unknown version opcode, a picture that ends (or is
// damaged) before anything drawable, a picture holding nothing drawable (code 6), pattern
// types other than 1 and 2, region and polygon sizes below 2, pixel sizes other than 1, 2,
// 4, 8, 16 and 32, 32-bit pixmaps with other than 3 or 4 components, direct pixmaps of 8 bits
// or fewer (they carry no colour table), colour-table entries whose index is not below the
// table's size, QuickTime data without a JPEG stream, and, with no JPEG decoder given, any
// JPEG data (code 6). Tolerated: data that ends or is damaged after something drawable (the
// picture shows what comes before), colour tables of more than 256 entries (entries beyond
// 255 are dropped), packed rows whose runs produce more or fewer bytes than a row holds (the
// excess is dropped, the rest is colour 0), and rows too short for the width (the rest is
// colour 0, or black for direct pixels).
class CPICTDecoder : public CImageDecoder {
public:
    // jpegDecoder decodes embedded JPEG data; it is not owned and may be null.
    explicit CPICTDecoder(CImageDecoder* jpegDecoder = nullptr) : jpegDecoder_(jpegDecoder) {}

    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;

private:
    CImageDecoder* jpegDecoder_;
};
