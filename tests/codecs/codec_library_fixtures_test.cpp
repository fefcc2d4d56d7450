#include "decode_test_helpers.h"

#include <gtest/gtest.h>

// Small files written by libjpeg-turbo's cjpeg, ImageMagick and Pillow
// (tests/data/make_codec_library_fixtures.py), each decoded at 32 bits and compared with
// Pillow's decode of it kept beside it.
TEST(CodecLibraryFixturesTest, FilesFromOtherWritersDecodeAsTheirPictures) {
    struct Fixture {
        const char* file;
        const char* compare;
    };
    const Fixture fixtures[] = {
        {"jpeg/rgb_q90_cjpeg.jpg", "exact"},
        {"jpeg/grey_cjpeg.jpg", "exact"},
        {"jpeg/progressive_cjpeg.jpg", "exact"},
        {"jpeg/cmyk_magick.jpg", "exact"},
        {"png/rgba_interlaced_magick.png", "exact"},
        {"png/palette_transparent_pillow.png", "exact"},
        {"png/grey16_magick.png", "exact"},
        {"gif/palette_magick.gif", "exact"},
        {"gif/interlaced_magick.gif", "exact"},
        {"tiff/rgb_lzw_magick.tif", "exact"},
        {"tiff/grey4_magick.tif", "exact"},
        {"tiff/palette_magick.tif", "exact"},
        {"tiff/bilevel_g4_magick.tif", "exact"},
        {"eps/tiff_preview.eps", "exact"},
    };
    CAutoDecoder decoder;
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.file);
        CMemBitmap bitmap;
        decoder.DecodeFile(TestDataPath(f.file), bitmap, 32);
        CorpusEntry entry;
        entry.reference = TestDataPath(std::string(f.file) + ".png");
        entry.compare = f.compare;
        EXPECT_EQ(CompareWithReference(bitmap, entry), "");
    }
}
