#pragma once

#include "imagelib/image_decoder.h"

// ZSoft PCX files, run-length encoded: one plane of 1, 2, 4 or 8 bits per pixel, two to four
// planes of 1 bit (EGA colours from the header's 16-entry map), and three planes of 8 bits
// (true colour). Every image becomes a 32-bit bitmap; a requested depth of 0 is answered
// with 8, the depth of the file's colour indices.
//
// Corruption policy. Fatal: a header that is not PCX or not run-length encoded, an empty
// image window (Xmax below Xmin or Ymax below Ymin), unsupported plane layouts, a run that
// reaches past the end of the image, image data that ends early (checked against the file
// size before anything is allocated), and an 8-bit image whose 256-colour palette does not
// follow its data. Tolerated: runs that cross row and plane boundaries (the data is one
// stream), a bytes-per-line value too small for the width (the pixels it does not cover
// are black), and any version byte.
class CPCXDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    // The header's size and bits per pixel (over all planes), checked as the decode checks it.
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
