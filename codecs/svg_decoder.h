#pragma once

#include "imagelib/image_decoder.h"

// SVG pictures (and gzip-compressed ones) through librsvg 2.54, rendered with cairo on a
// transparent canvas at 32 bits with straight alpha. The size is the picture's own: width
// and height in absolute units at 96 dots per inch; where they are percentages or missing,
// the view box (one absolute side with a view box keeps the box's aspect); with neither, the
// drawing's ink extents. A picture longer than 8192 pixels on a side is drawn scaled down to
// 8192 on that side, so an SVG is never refused for its size; every picture has at least
// 1 x 1 pixels. librsvg loads nothing from the network, and a file's references only from
// its own folder and those below it (none for SVG data decoded from memory). librsvg draws
// text with its own fonts: no application object is needed.
//
// Corruption policy. Fatal, code 2 with librsvg's message: XML that does not parse, a root
// that is not an SVG element, a rendering librsvg refuses (its limits on elements and
// references). Tolerated, as librsvg tolerates them: unknown elements and attributes,
// invalid attribute values, and references that cannot be loaded (left out of the picture).
class CSVGDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};
