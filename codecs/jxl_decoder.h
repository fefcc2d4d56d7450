#pragma once

#include "imagelib/image_decoder.h"

// JPEG XL files, bare codestreams and ISO-BMFF containers, through libjxl 0.7 on two
// threads. Always decodes to 32 bits. libjxl does the pixel work: lossy and lossless
// frames, straight alpha from premultiplied, samples of more than 8 bits and floats
// rounded to 8 bits, the orientation applied (the picture's metadata then says 1). Pictures
// coded in libjxl's own colour space come in sRGB; others in their own colours, whose ICC
// profile libjxl reports goes to the metadata for the colour conversion. An animation
// decodes to its first frame composited on the canvas, and its metadata counts the frames.
// The probe reads the headers only: the size as the decode delivers it, bits per sample
// times channels, alpha, orientation 1, the frame count, and whether libjxl reports a profile.
//
// Corruption policy. Fatal: data libjxl rejects (code 2; libjxl names no cause), data that
// ends before the first frame does (code 11), a picture over the storage limit, found from
// the header before any pixel is decoded (code 10). Tolerated: damage after the first
// frame, which only the frame count walks past and stops at.
class CJXLDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
