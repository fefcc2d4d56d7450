#pragma once

#include "imagelib/image_decoder.h"

// WebP files through libwebp: lossy (VP8) and lossless (VP8L) pictures, both with or without
// alpha, and animations (the first frame composited on the canvas by libwebpdemux's
// animation decoder; CWebPAnimationReader gives the others). Always decodes to 32-bit BGRA,
// written by libwebp straight into the bitmap's rows where they lie evenly spaced in memory;
// the alpha flag follows the file's alpha (or, for an animation, a frame that is not opaque
// everywhere).
//
// Metadata: the ICCP chunk's profile and the orientation of the EXIF chunk, both as stored,
// and the frame count. The probe reads the headers and chunks and decodes no pixels.
//
// A still picture is fed to libwebp's incremental decoder in steps, so that a cancelled
// decode stops between them.
//
// Corruption policy. Fatal: headers libwebp rejects and damaged compressed data (code 2),
// data that ends inside the headers or before the first row of a still picture (code 11),
// a canvas whose bitmap would exceed the storage limit (code 10, refused before libwebp
// allocates), an animation cut short or damaged anywhere (code 2 or 11: libwebpdemux reads
// only whole files). Tolerated: a still picture cut short after its first rows keeps the
// rows it holds, the rest transparent; a malformed EXIF chunk (upright, with a trace line).
class CWebPDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
