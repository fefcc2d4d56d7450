#pragma once

#include "imagelib/image_decoder.h"

// AVIF files through libavif (see CAvifReader for what is read and the corruption policy):
// a still picture, or the first frame of an image sequence, always at 32 bits. The probe
// parses the container only: size, bits per pixel, alpha, frames, the orientation of the
// irot and imir properties and whether a profile is present.
class CAVIFDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
