#include "codecs/auto_decoder.h"
#include "imagelib/dib_bitmap.h"
#include "imagelib/mem_bitmap.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

// libtiff fills one raster top row first; a bitmap whose rows run bottom-up in memory (the
// packed DIB kind) gets it row by row and must show the same picture.
TEST(TiffRowLayoutTest, BottomUpBitmapGetsTheSamePictureAsPlainMemory) {
    CAutoDecoder decoder;
    for (const char* file : {"tiff/rgb_lzw_magick.tiff", "eps/tiff_preview.eps"}) {
        SCOPED_TRACE(file);
        CMemBitmap memory;
        CDIBitmap dib;
        decoder.DecodeFile(TestDataPath(file), memory, 32);
        decoder.DecodeFile(TestDataPath(file), dib, 32);
        std::string why;
        EXPECT_TRUE(SamePixels(memory, dib, &why)) << why;
    }
}
