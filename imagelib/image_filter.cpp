#include "image_filter.h"

#include "mem_bitmap.h"

void CImageFilter::ApplyInPlace(CImageBitmap& bitmap) {
    CMemBitmap scratch;
    Apply(bitmap, scratch);
    bitmap.CopyFrom(scratch, 0);
}

void CImageFilter::Apply(CImageBitmap& source, CImageBitmap& destination) {
    if (&source != &destination) destination.CopyFrom(source, 0);
    ApplyInPlace(destination);
}
