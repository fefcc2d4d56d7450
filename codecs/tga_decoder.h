#pragma once

#include "imagelib/image_decoder.h"

// Truevision TGA files: colour-mapped (types 1 and 9) with 8-bit indices into a colour map
// of 15-, 16-, 24- or 32-bit entries, true colour (types 2 and 10) of 15, 16, 24 or 32 bits,
// and greyscale (types 3 and 11) of 8 bits or 16 bits (grey and alpha); types 9 to 11 are
// run-length encoded. Rows are stored bottom-up unless descriptor bit 5 is set, and right to
// left when bit 4 is set. 8-bit pixels decode at 8 bits when asked for 8 or 0 (with the
// colour map or a grey ramp as palette), everything else at 32 bits, and the depth used is
// reported back. Alpha comes from 16-bit attribute bits and 32-bit alpha bytes; the alpha
// flag is set when some pixel is not opaque, and alpha that is 0 in every pixel counts as
// none (the pixels keep it as stored). The probe reads the header: its alpha says that the
// pixels store alpha.
//
// Corruption policy. Fatal: unknown image types and pixel or colour-map entry sizes,
// colour-mapped pixels wider than 8 bits, and pixel data that ends early (for uncompressed
// files checked against the file size before anything is allocated). Tolerated: colour-map
// entries at index 256 and above (ignored; indices the map does not set are opaque black),
// run-length packets that cross the end of a row (they continue on the next row, as common
// writers produce them), and packets that reach past the last row (the excess is dropped).
// The footer and extension area of TGA 2.0 files are not read.
class CTGADecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
