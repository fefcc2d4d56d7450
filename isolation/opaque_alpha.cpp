#include "isolation/opaque_alpha.h"

#include "imagelib/image_bitmap.h"

void MakeOpaque(CImageBitmap& picture) {
    if (picture.BitsPerPixel() != 32 || picture.HasAlpha()) return;
    for (int y = 0; y < picture.Height(); ++y) {
        BGRA* row = picture.PixelLine(y);
        for (int x = 0; x < picture.Width(); ++x) row[x].a = 255;
    }
}
