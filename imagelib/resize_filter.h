#pragma once

#include "image_filter.h"

// A filter that changes a bitmap's size to newWidth x newHeight; the kinds of resampling
// derive from it.
class CResizeFilter : public CImageFilter {
public:
    int NewWidth() const { return newWidth_; }
    int NewHeight() const { return newHeight_; }

protected:
    CResizeFilter(int newWidth, int newHeight) : newWidth_(newWidth), newHeight_(newHeight) {}

    int newWidth_;
    int newHeight_;
};
