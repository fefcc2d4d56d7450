#pragma once

#include "imagelib/image_decoder.h"

#include <memory>

// JPEG files (JFIF, Exif, Adobe) through libjpeg-turbo's libjpeg 6b interface: baseline,
// extended, progressive and arithmetic-coded 8-bit streams. Greyscale images decode to 8
// bits with the grey-ramp palette (or to 32 bits when asked); everything else decodes to
// 32-bit BGRA with alpha 255, written by libjpeg straight into the bitmap's rows. CMYK and
// YCCK images are converted to RGB; Adobe's files store CMYK inverted. Under colour
// management, inks with a CMYK profile go through it into the decode's target
// (CColourRowConverter), and the metadata says so; others take the plain formula.
//
// The decoded picture carries the Exif orientation of the first Exif APP1 segment and the
// ICC profile of the APP2 "ICC_PROFILE" chunks, both as stored: nothing else is applied to
// the pixels. When the decode context wishes for at least minWidth x minHeight, the picture is
// decoded at the smallest of 1/8, 1/4 and 1/2 of its size (libjpeg-turbo's DCT scaling)
// that still covers the wish, and its metadata records the denominator. The probe reads
// the header and those segments only.
//
// The decoder reads from the source's current position and consumes the JPEG stream, so
// a container (a PICT picture) can hand it embedded JPEG data through DecodeSource.
//
// Corruption policy. Fatal, code 6 with libjpeg's own message: damaged or missing headers,
// markers out of place, processes libjpeg-turbo does not decode (lossless, 12-bit),
// colour spaces it cannot turn into RGB, and progressive streams of more than 1000 scans
// (a known way to make a small file decode for minutes). Code 10: images whose bitmap
// would exceed the storage limit, refused before libjpeg allocates its buffers; multi-scan
// streams whose coefficient buffers would exceed it (a scaled decode keeps them at full
// size); libjpeg's own allocation failures. Code 11: Huffman-coded data too short to hold
// one bit per block of the image (a tiny file whose header claims a huge picture), refused
// before anything is allocated. Tolerated, as libjpeg tolerates them (its warnings go to
// the trace log): a stream that ends early decodes the rows it holds and libjpeg fills the
// rest; damaged entropy-coded data is resynchronised at the next restart marker. Ignored
// with a trace line: a malformed Exif block (orientation 1) and an ICC chunk set with a
// chunk missing, repeated, cut short or numbered against the others (no profile).
class CJPEGDecoder : public CImageDecoder {
public:
    CJPEGDecoder();
    ~CJPEGDecoder() override;

    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;

private:
    struct Codec;
    std::unique_ptr<Codec> codec_;
};
