#include "decode_test_helpers.h"

#include "codecs/pgm_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

#include <gtest/gtest.h>

namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Fixture(const std::string& name) { return TestDataPath("pgm/" + name); }

std::vector<int> Greys(const CImageBitmap& bitmap) {
    std::vector<int> greys;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) greys.push_back(PixelOf(bitmap, x, y).g);
    return greys;
}

TEST(PgmDecoder, FilesWrittenByStandardToolsShowTheirPictures) {
    const struct {
        const char* file;
        const char* picture;
    } cases[] = {
        {"p5_255_pillow.pgm", "grey.png"},   {"p5_65535_pillow.pgm", "grey.png"}, {"p5_255_magick.pgm", "grey.png"},
        {"p2_255_magick.pgm", "grey.png"},   {"p5_65535_magick.pgm", "grey.png"}, {"p2_65535_magick.pgm", "grey.png"},
        {"p5_15_magick.pgm", "grey15.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CAutoDecoder decoder;
        CMemBitmap wide, narrow;
        decoder.DecodeFile(Fixture(c.file), wide, 32);
        EXPECT_EQ(decoder.LastFormat(), ImageFormat::PGM);
        EXPECT_EQ(DifferenceFromPicture(wide, Fixture(c.picture)), "");
        decoder.DecodeFile(Fixture(c.file), narrow, 0);
        EXPECT_EQ(narrow.BitsPerPixel(), 8);
        std::string why;
        EXPECT_TRUE(SamePixels(wide, narrow, &why)) << why;
    }
}

TEST(PgmDecoder, SamplesScaleFromTheirMaximum) {
    CMemBitmap bitmap;
    int depth = 0;
    // Comments, tabs, vertical tabs and carriage returns between the numbers; a sample above
    // the maximum is white; the file ends right after its last digit.
    ASSERT_EQ(DecodeBytes(Text("P2\t# comment\r\n3 2\n#another\n#\n15\n0 1 15\n\t7\v16  8"), bitmap, depth), 0);
    EXPECT_EQ(depth, 8);
    EXPECT_EQ(Greys(bitmap), (std::vector<int>{0, 17, 255, 119, 255, 136}));

    // Above 255, samples of a raw file are two bytes, most significant first.
    Bytes wide = Text("P5 4 1 65535\n");
    Append(wide, {0x00, 0x00, 0xFF, 0xFF, 0x80, 0x80, 0x00, 0x81});
    ASSERT_EQ(DecodeBytes(wide, bitmap), 0);
    EXPECT_EQ(Greys(bitmap), (std::vector<int>{0, 255, 128, 1}));
    Bytes thousand = Text("P5 3 1 1000 ");
    Append(thousand, {0x03, 0xE8, 0x01, 0xF4, 0xFF, 0xFF});
    ASSERT_EQ(DecodeBytes(thousand, bitmap), 0);
    EXPECT_EQ(Greys(bitmap), (std::vector<int>{255, 128, 255}));

    // A maximum of 0 is taken as 255.
    ASSERT_EQ(DecodeBytes(Text("P5 2 1 0\n\x05\xFA"), bitmap), 0);
    EXPECT_EQ(Greys(bitmap), (std::vector<int>{5, 250}));
}

TEST(PgmDecoder, BrokenHeadersAreRefused) {
    EXPECT_EQ(ErrorFrom<CPGMDecoder>(Text("P6 1 1 255\n\x01\x02\x03")), ERR_BAD_DATA);
    EXPECT_EQ(ErrorFrom<CPGMDecoder>(Text("Q5 1 1 255\n\x01")), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(Text("P2 3 x 255\n1 2 3\n")), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(Text("P2 3,2 255\n1 2 3 4 5 6\n")), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(Text("P5 1 1 70000\n\x01\x02")), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(Text("P5 0 1 255\n")), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(Text("P5 1 1")), ERR_END_OF_DATA);
    EXPECT_EQ(ErrorOf(Text("P5 1 1 # comment to the end")), ERR_END_OF_DATA);
}

TEST(PgmDecoder, SampleDataMustBeCompleteAndNumeric) {
    EXPECT_EQ(ErrorOf(Text("P2 2 2 255\n1 2 x 4\n")), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(Text("P2 2 2 255\n1 2 3\n")), ERR_END_OF_DATA);
    EXPECT_EQ(ErrorOf(Text("P5 2 2 255\n\x01\x02\x03")), ERR_END_OF_DATA);
    EXPECT_EQ(ErrorOf(Text("P5 2 1 256\n\x01\x02\x03")), ERR_END_OF_DATA);
    // A billion pixels claimed by a file of a few bytes are refused before allocation.
    EXPECT_EQ(ErrorOf(Text("P5 40000 30000 255\n\x01\x02\x03")), ERR_END_OF_DATA);
    EXPECT_EQ(ErrorOf(Text("P2 40000 30000 255\n1 2 3")), ERR_END_OF_DATA);
}

// The probe reads the header the decode reads and refuses what it refuses before samples.
TEST(PgmDecoder, ProbeAgreesWithTheDecodeWithoutReadingSamples) {
    CPGMDecoder decoder;
    auto probe = [&decoder](const Bytes& file, ImageInfo& info) { return ProbeError(decoder, file, info); };
    ImageInfo info;
    ASSERT_EQ(probe(Text("P5 # size\n3 2 255\nABCDEF"), info), 0);
    EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(3, 2));
    EXPECT_EQ(info.bitsPerPixel, 8);
    ASSERT_EQ(probe(Text("P2 2 1 1000\n1 1000"), info), 0);
    EXPECT_EQ(info.bitsPerPixel, 16);
    EXPECT_FALSE(info.hasAlpha);
    for (const char* refused : {"P6 1 1 255\n\x01\x02\x03", "P5 1 1 70000\n\x01\x02", "P5 0 1 255\n", "P5 1 1",
                                "P5 2 1 256\n\x01\x02\x03", "P2 40000 30000 255\n1 2 3"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(probe(Text(refused), info), ErrorFrom<CPGMDecoder>(Text(refused)));
    }
}

}  // namespace
