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
        {"jpeg/rgb_q90_cjpeg.jpeg", "exact"},
        {"jpeg/grey_cjpeg.jpeg", "exact"},
        {"jpeg/progressive_cjpeg.jpeg", "exact"},
        {"jpeg/cmyk_magick.jpeg", "exact"},
        {"png/rgba_interlaced_magick.png", "exact"},
        {"png/palette_transparent_pillow.png", "exact"},
        {"png/grey16_magick.png", "tol:1"},  // rounded to the nearest level; the reference keeps the high byte
        {"gif/palette_magick.gif", "exact"},
        {"gif/interlaced_magick.gif", "exact"},
        {"tiff/rgb_lzw_magick.tiff", "exact"},
        {"tiff/grey4_magick.tiff", "exact"},
        {"tiff/palette_magick.tiff", "exact"},
        {"tiff/bilevel_g4_magick.tiff", "exact"},
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
