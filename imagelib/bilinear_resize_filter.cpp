#include "bilinear_resize_filter.h"

#include "image_bitmap.h"
#include "resampler.h"
#include "text_exception.h"

void CBilinearResizeFilter::Apply(CImageBitmap& source, CImageBitmap& destination) {
    if (&source == &destination) {
        ApplyInPlace(destination);
        return;
    }
    if (source.BitsPerPixel() != 32)
        throw CTextException(ERR_CANNOT_HANDLE, "Only bitmaps of 32 bits per pixel can be resized.");
    destination.Create(newWidth_, newHeight_, source.BitsPerPixel(), source.HasAlpha());
    CResampler().Resample(source, destination);
}
