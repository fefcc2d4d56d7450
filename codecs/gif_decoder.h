#pragma once

#include "imagelib/image_decoder.h"

// GIF files (GIF87a and GIF89a) through giflib 5.2; images whose compressed data starts
// with codes wider than giflib reads (a minimum code size of 9 to 11 bits) go through our
// own LZW reader. The picture is the canvas: the logical screen, grown to the right and down
// to hold the file's first image where that reaches outside the screen (as browsers show
// such files). It takes the background colour, and the first image is drawn on it through
// its own colour map (or the global one). A still viewer shows an animation's first frame,
// so later images are not decoded here (the GIF animation reader composes them); extension
// blocks other than the first image's graphic control extension are skipped. Decodes to 8
// bits with the colour map as palette, the transparent colour's entry as it is stored; at 32
// bits the pixels of the transparent colour named by the first image's graphic control
// extension (the background too, where it is that colour) carry alpha 0 and the picture
// says it has alpha. The picture's frame count is the number of images, found by walking
// the blocks behind the first without decoding them. The probe walks the same way: the
// canvas's size, the first image's colour map depth, whether its graphic control extension
// names a transparent colour, and the number of images.
//
// Corruption policy. Fatal: data that is not a GIF (code 1), records, colour maps or
// compressed data giflib rejects (code 2 with giflib's message), pixels that refer to a
// colour beyond the colour map (code 2), data that ends before the first image does (code
// 11), an empty screen, a canvas of more pixels than the file's compressed data could
// describe (about 11000 per byte), or a file without any image (code 2). Tolerated:
// compressed data whose end code comes before the last pixel (the rest keeps the
// background), an image without width or height (the screen shows its background), a
// background index beyond the colour map, no colour map at all (the grey ramp), anything
// after the first image (the frame count stops at damage there).
class CGIFDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
