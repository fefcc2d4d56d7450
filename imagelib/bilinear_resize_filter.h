#pragma once

#include "resize_filter.h"

// Resizes a 32-bit bitmap with the two-pass triangle-kernel resampler: bilinear
// interpolation when enlarging, a widened triangle that averages when reducing. Each of the
// four bytes of a pixel (alpha too) is resampled on its own.
class CBilinearResizeFilter : public CResizeFilter {
public:
    CBilinearResizeFilter(int newWidth, int newHeight) : CResizeFilter(newWidth, newHeight) {}

    // Recreates destination as newWidth x newHeight at 32 bits with the source's alpha flag.
    // A source of another depth is refused (code 7) before the destination is touched; when
    // source and destination are one bitmap it is resized through a scratch copy.
    void Apply(CImageBitmap& source, CImageBitmap& destination) override;
};
