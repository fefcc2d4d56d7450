#pragma once

#include "imagelib/image_decoder.h"

// The first image of a TIFF file through libtiff 4.5, also the TIFF preview of an EPS
// file, which CAutoDecoder hands over as a source covering exactly the preview. Two paths:
// - full colour, through libtiff's RGBA interface, written straight into the bitmap's
//   rows: every image asked for at 32 bits, and every image the other path does not take;
// - low colour, for single-sample images of up to 8 bits in strips, black-is-zero,
//   white-is-zero or palette, asked for at 0 or 8 bits: one index per pixel with the grey
//   ramp or colour map as palette (bilevel images asked for at 0 stay 1-bit).
//
// Corruption policy. Fatal: data libtiff cannot open (code 1), images the RGBA interface
// refuses or cannot read (code 1), a scanline that cannot be read within the first third
// of the rows (code 7); the text is libtiff's own message. Code 10: images over the storage
// limit, refused before their pixels are allocated. Tolerated: damaged strips or tiles
// further on (the RGBA interface skips them; the low-colour path repeats the last row it
// read, until failed reads use up the decode's work budget: code 2), and libtiff's
// warnings, which go to the trace log.
class CTIFFDecoder : public CImageDecoder {
public:
    CTIFFDecoder();

    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
};
