#pragma once

#include "imagelib/image_decoder.h"

// HEIF files (HEIC with HEVC coding, and AV1-coded HEIF) through libheif 1.15 with libde265
// and dav1d: the primary picture, always at 32 bits, with its alpha (premultiplied alpha
// un-premultiplied) and its ICC profile (prof or rICC; nclx colours are shown as decoded).
// libheif applies the clean aperture, rotation and mirroring itself, so the picture's
// orientation is 1. Samples above 8 bits are reduced by libheif.
//
// Corruption policy. Code 10: a picture whose bitmap would exceed the storage limit, checked
// on the container's size before any pixel is decoded (libheif's own size limit is set from
// the storage limit too), and libheif's allocation failures. Code 11: data that ends before
// a box does. Code 6: a coding libheif has no decoder for. Code 2 with libheif's message:
// every other damage, damaged coded data included. libheif decodes the picture in one call,
// so a cancel is honoured before and after it.
class CHEIFDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
