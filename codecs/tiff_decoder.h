#pragma once

#include "imagelib/image_decoder.h"

// The first image of a TIFF file through libtiff 4.5, also the TIFF preview of an EPS
// file, which CAutoDecoder hands over as a source covering exactly the preview. Three paths:
// - full colour, through libtiff's RGBA interface, written straight into the bitmap's
//   rows: every image asked for at 32 bits, and every image the other path does not take;
// - low colour, for single-sample images of up to 8 bits in strips, black-is-zero,
//   white-is-zero or palette, asked for at 0 or 8 bits: one index per pixel with the grey
//   ramp or colour map as palette (bilevel images asked for at 0 stay 1-bit).
// - plain samples the RGBA interface refuses or misreads (signed, 16-bit, odd depths,
//   and alpha, which it premultiplies): read scanline by scanline into 32 bits, from
//   strips, or from tiles of whole-byte samples side by side.
// A fourth, for CMYK inks of 8 bits in strips with a CMYK profile under colour
// management: read scanline by scanline and converted through the profile.
//
// Alpha comes out straight: associated alpha's colours are divided by it. Samples of more
// than 8 bits that are to be colour-converted reach LittleCMS whole (CColourRowConverter),
// and the metadata then says the pixels are in the decode's target.
//
// Orientation: every path delivers the rows as stored and records the Orientation tag, for
// the decode's finish step to apply (or keep, when the context asks). The ICC profile
// (tag 34675) and the number of directories (pages) are recorded too. The probe reads the
// first directory and describes the picture a decode at depth 0 makes: the same size,
// alpha flag and orientation.
//
// A cancel is noticed between the RGBA interface's bands (a strip, or a row of tiles) and
// on every scanline; progress is told as the share of rows done.
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
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
