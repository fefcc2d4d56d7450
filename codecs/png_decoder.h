#pragma once

#include "imagelib/image_decoder.h"

// PNG files of every colour type and bit depth through libpng 1.6, which does the pixel
// work: unpacking, de-interlacing, rounding 16-bit samples to the nearest 8-bit level,
// expanding palettes. 16-bit samples whose colours the decode converts (an iCCP profile, or
// gAMA and cHRM without an sRGB chunk) skip the rounding: LittleCMS makes 8-bit pixels of
// them in the target's colours (CColourRowConverter), and the metadata says so.
//
// Depths: greyscale and palette images decode to 8 bits (the grey ramp of the file's bit
// depth, or the file's palette) unless 32 is asked; colour and alpha images always decode
// to 32 bits, and the depth argument reports what was made. At 32 bits a transparency
// chunk becomes the alpha channel; the alpha flag is set when some pixel is not opaque,
// as the row conversion finds it.
//
// Metadata, from the chunks before the image data: eXIf's orientation, the iCCP profile
// (decompressed), and gAMA, cHRM and sRGB as libpng reports them. The probe reads the same
// chunks and stops at the image data; its alpha says the file stores alpha or a tRNS chunk.
//
// Corruption policy. Fatal, code 2 with libpng's own message: a bad signature, header or
// critical chunk, a checksum error in a critical chunk, damaged compressed data, and pixel
// indices beyond the palette. Code 11: data that ends before the image does. Tolerated,
// as libpng tolerates them: damaged or misplaced ancillary chunks, which are dropped.
class CPNGDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
