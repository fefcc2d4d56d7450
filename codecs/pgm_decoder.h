#pragma once

#include "imagelib/image_decoder.h"

// Netpbm greymaps: plain ("P2", decimal samples) and raw ("P5", binary samples of one byte,
// or two big-endian bytes when the maximum grey value is above 255). Samples are scaled from
// 0..maximum to 0..255 with rounding. A requested depth of 0 or 8 gives an 8-bit bitmap with
// the grey-ramp palette, 32 gives grey BGRA pixels.
//
// Corruption policy. Fatal: a signature other than P2 or P5, a header byte that is neither a
// digit, "#" nor whitespace (space, tab, line feed, vertical tab, form feed, carriage
// return), a maximum above 65535, a sample position in a plain file holding anything but
// digits and whitespace, a zero width or height, and sample data that ends early (raw files
// are checked against the file size before anything is allocated). Tolerated: a maximum of
// 0 (taken as 255), samples above the maximum (shown white), a plain file that ends right
// after its last digit, and data after the last sample.
class CPGMDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    // The header's size, and 8 or 16 bits per sample as the maximum needs, checked as the
    // decode checks it.
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
