#include "decode_test_helpers.h"

#include "codecs/tga_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

#include <gtest/gtest.h>

namespace {

constexpr int kTopDown = 0x20;
constexpr int kRightToLeft = 0x10;

struct TgaLayout {
    int type = 2;
    int bits = 24;
    int width = 1;
    int height = 1;
    int descriptor = 0;
};

struct TgaColourMap {
    int first = 0;
    int length = 0;
    int bits = 24;
    Bytes entries;
};

Bytes TgaFile(const TgaLayout& l, const Bytes& data, const TgaColourMap* map = nullptr) {
    Bytes file;
    Append(file, {0, map ? 1 : 0, l.type});
    AppendLE16(file, map ? map->first : 0);
    AppendLE16(file, map ? map->length : 0);
    Append(file, {map ? map->bits : 0});
    AppendLE16(file, 0);
    AppendLE16(file, 0);
    AppendLE16(file, l.width);
    AppendLE16(file, l.height);
    Append(file, {l.bits, l.descriptor});
    if (map) file.insert(file.end(), map->entries.begin(), map->entries.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::string Fixture(const std::string& name) { return TestDataPath("tga/" + name); }

TEST(TgaDecoder, FilesWrittenByStandardToolsShowTheirPictures) {
    const struct {
        const char* file;
        const char* picture;
        int tolerance;  // ImageMagick widens 5-bit channels by rounding, this library by bit copies
    } cases[] = {
        {"rgb24_pillow.tga", "rgb.png", 0},
        {"rgb24_top_pillow.tga", "rgb.png", 0},
        {"rgb24_rle_pillow.tga", "rgb.png", 0},
        {"rgb24_top_magick.tga", "rgb.png", 0},
        {"rgb24_rle_top_magick.tga", "rgb.png", 0},
        {"rgba32_pillow.tga", "rgba.png", 0},
        {"rgba32_rle_top_pillow.tga", "rgba.png", 0},
        {"rgb16_top_magick.tga", "rgb16.png", 1},
        {"rgb16_rle_top_magick.tga", "rgb16.png", 1},
        {"palette8_pillow.tga", "palette.png", 0},
        {"palette8_rle_top_pillow.tga", "palette.png", 0},
        {"palette8_rle_top_magick.tga", "palette.png", 0},
        {"grey8_pillow.tga", "grey.png", 0},
        {"grey8_top_pillow.tga", "grey.png", 0},
        {"grey8_rle_top_magick.tga", "grey.png", 0},
        {"greyalpha16_pillow.tga", "greyalpha.png", 0},
        {"greyalpha16_rle_top_pillow.tga", "greyalpha.png", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CAutoDecoder decoder;
        CMemBitmap bitmap;
        decoder.DecodeFile(Fixture(c.file), bitmap, 32);
        EXPECT_EQ(decoder.LastFormat(), ImageFormat::TGA);
        EXPECT_EQ(DifferenceFromPicture(bitmap, Fixture(c.picture), c.tolerance), "");
    }
}

TEST(TgaDecoder, OnlyEightBitPixelsDecodeToEightBits) {
    CAutoDecoder decoder;
    CMemBitmap wide, narrow;
    decoder.DecodeFile(Fixture("palette8_rle_top_magick.tga"), wide, 32);
    int depth = 0;
    decoder.DecodeFile(Fixture("palette8_rle_top_magick.tga"), narrow, depth);
    EXPECT_EQ(narrow.BitsPerPixel(), 8);
    std::string why;
    EXPECT_TRUE(SamePixels(wide, narrow, &why)) << why;

    decoder.DecodeFile(Fixture("grey8_pillow.tga"), narrow, 8);
    EXPECT_EQ(narrow.BitsPerPixel(), 8);
    EXPECT_EQ(narrow.Palette()[77], OpaqueColour(77, 77, 77));

    // True colour asked for at 8 bits decodes at 32 and says so.
    const Bytes file = ReadBytes(Fixture("rgb24_pillow.tga"));
    depth = 8;
    ASSERT_EQ(DecodeBytes(file, narrow, depth), 0);
    EXPECT_EQ(depth, 32);
    EXPECT_EQ(narrow.BitsPerPixel(), 32);
    EXPECT_EQ(DifferenceFromPicture(narrow, Fixture("rgb.png")), "");
}

TEST(TgaDecoder, AlphaComesFromThirtyTwoBitPixelsAndTheAttributeBit) {
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeFile(Fixture("rgba32_pillow.tga"), bitmap, 0);
    ASSERT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(bitmap.PixelLine(0)[0].a, 0);
    EXPECT_EQ(bitmap.PixelLine(2)[3].a, 3 * 23 + 2 * 5);

    // 16 bits: 5-5-5 colour, bit 15 set means opaque.
    ASSERT_EQ(DecodeBytes(TgaFile({2, 16, 2, 1}, {0xFF, 0xFF, 0xE0, 0x03}), bitmap), 0);
    EXPECT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(PixelOf(bitmap, 0, 0), (BGRA{255, 255, 255, 255}));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), (BGRA{0, 255, 0, 0}));

    // 15 bits: the same colours, no alpha.
    ASSERT_EQ(DecodeBytes(TgaFile({2, 15, 2, 1}, {0xFF, 0xFF, 0x1F, 0x00}), bitmap), 0);
    EXPECT_FALSE(bitmap.HasAlpha());
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(255, 255, 255));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), OpaqueColour(0, 0, 255));

    // Grey and alpha.
    ASSERT_EQ(DecodeBytes(TgaFile({3, 16, 1, 1}, {90, 40}), bitmap), 0);
    EXPECT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(PixelOf(bitmap, 0, 0), (BGRA{90, 90, 90, 40}));
}

// The alpha flag says that some pixel is not opaque. Attribute bits or alpha bytes that are
// 0 everywhere are no transparency: many writers leave them unset. The pixels keep what the
// file stores either way.
TEST(TgaDecoder, AlphaFlagIsSetOnlyWhenTheAlphaVaries) {
    struct Case {
        const char* name;
        TgaLayout layout;
        Bytes pixels;
        bool alpha;
        uint8_t firstAlpha;
    };
    const Case cases[] = {
        {"16 bits, attribute bits all 0", {2, 16, 2, 1}, {0xFF, 0x7F, 0xE0, 0x03}, false, 0},
        {"16 bits, attribute bits all 1", {2, 16, 2, 1}, {0xFF, 0xFF, 0xE0, 0x83}, false, 255},
        {"16 bits, run-length, attribute bits all 0", {10, 16, 3, 1}, {0x82, 0xFF, 0x7F}, false, 0},
        {"32 bits, alpha bytes all 0", {2, 32, 2, 1}, {1, 2, 3, 0, 4, 5, 6, 0}, false, 0},
        {"32 bits, alpha bytes all 255", {2, 32, 2, 1}, {1, 2, 3, 255, 4, 5, 6, 255}, false, 255},
        {"32 bits, one translucent pixel", {2, 32, 2, 1}, {1, 2, 3, 255, 4, 5, 6, 254}, true, 255},
        {"32 bits, run-length, the same alpha of 128", {10, 32, 3, 1}, {0x82, 1, 2, 3, 128}, true, 128},
        {"grey and alpha, alpha all 0", {3, 16, 2, 1}, {90, 0, 91, 0}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = TgaFile(c.layout, c.pixels);
        CMemBitmap bitmap;
        ASSERT_EQ(DecodeBytes(file, bitmap), 0);
        EXPECT_EQ(bitmap.HasAlpha(), c.alpha);
        EXPECT_EQ(bitmap.PixelLine(0)[0].a, c.firstAlpha);
        // The probe reads the header only: the pixels store alpha.
        CTGADecoder decoder;
        const ImageInfo info = decoder.ProbeMemory(file.data(), file.size());
        EXPECT_TRUE(info.hasAlpha);
        EXPECT_EQ(info.bitsPerPixel, c.layout.bits);
        EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(c.layout.width, c.layout.height));
    }
}

// The probe parses the header as the decode does and refuses what the decode refuses
// before reading pixels.
TEST(TgaDecoder, ProbeReadsTheHeaderOnly) {
    CTGADecoder decoder;
    const TgaColourMap map{0, 2, 24, {10, 20, 30, 40, 50, 60}};
    const Bytes mapped = TgaFile({1, 8, 3, 2}, {0, 1, 0, 1, 1, 0}, &map);
    const ImageInfo info = decoder.ProbeMemory(mapped.data(), mapped.size());
    EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(3, 2));
    EXPECT_EQ(info.bitsPerPixel, 8);
    EXPECT_FALSE(info.hasAlpha);

    auto probeError = [&decoder](const Bytes& file) {
        try {
            decoder.ProbeMemory(file.data(), file.size());
        } catch (const CTextException& e) {
            return e.Code();
        }
        return 0;
    };
    EXPECT_EQ(probeError(TgaFile({2, 24, 4, 4}, Bytes(47))), ERR_END_OF_DATA);  // one byte short
    EXPECT_EQ(probeError(TgaFile({5, 24, 1, 1}, Bytes(3))), ERR_BAD_DATA);
    EXPECT_EQ(probeError(TgaFile({2, 24, 0, 1}, Bytes(3))), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(TgaFile({2, 24, 0, 1}, Bytes(3))), ERR_BAD_DATA);
}

TEST(TgaDecoder, RowOrderFollowsTheDescriptor) {
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 2 x 2, 24 bits
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(TgaFile({2, 24, 2, 2, 0}, pixels), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 1), (BGRA{1, 2, 3, 255}));  // first stored row at the bottom
    ASSERT_EQ(DecodeBytes(TgaFile({2, 24, 2, 2, kTopDown}, pixels), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), (BGRA{1, 2, 3, 255}));
    ASSERT_EQ(DecodeBytes(TgaFile({2, 24, 2, 2, kTopDown | kRightToLeft}, pixels), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 1, 0), (BGRA{1, 2, 3, 255}));
    EXPECT_EQ(PixelOf(bitmap, 0, 1), (BGRA{10, 11, 12, 255}));
}

TEST(TgaDecoder, RunLengthPacketsCrossRows) {
    CMemBitmap bitmap;
    // 3 x 2 greyscale, top-down: a run of 4 crosses into the second row, a raw packet of 2
    // finishes it.
    ASSERT_EQ(DecodeBytes(TgaFile({11, 8, 3, 2, kTopDown}, {0x83, 50, 0x01, 60, 70}), bitmap), 0);
    const int expected[2][3] = {{50, 50, 50}, {50, 60, 70}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelOf(bitmap, x, y).g, expected[y][x]) << x << "," << y;

    // One packet of 128 pixels (header 0xFF) fills a whole 128-pixel row.
    ASSERT_EQ(DecodeBytes(TgaFile({10, 24, 128, 1}, {0xFF, 1, 2, 3}), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 127, 0), (BGRA{1, 2, 3, 255}));

    // A packet that reaches past the last row loses its excess; the data must not run out.
    ASSERT_EQ(DecodeBytes(TgaFile({11, 8, 2, 1}, {0x84, 9}), bitmap), 0);
    EXPECT_EQ(ErrorOf(TgaFile({11, 8, 3, 2}, {0x83, 50, 0x01, 60})), ERR_END_OF_DATA);
}

TEST(TgaDecoder, ColourMapsAreReadWhereverTheyStart) {
    // Four 16-bit entries from index 254: only 254 and 255 are reachable by a byte.
    TgaColourMap map{254, 4, 16, {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0xFF, 0x7F}};
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(TgaFile({1, 8, 3, 1}, {254, 255, 0}, &map), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(0, 0, 255));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), OpaqueColour(0, 255, 0));
    EXPECT_EQ(PixelOf(bitmap, 2, 0), OpaqueColour(0, 0, 0));  // no entry for index 0

    // A greyscale file that carries a map still shows grey.
    TgaColourMap ignored{0, 1, 24, {1, 2, 3}};
    ASSERT_EQ(DecodeBytes(TgaFile({3, 8, 1, 1}, {0}, &ignored), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(0, 0, 0));
}

TEST(TgaDecoder, UnsupportedOrShortFilesAreRefused) {
    EXPECT_EQ(ErrorOf(TgaFile({0, 24, 1, 1}, {1, 2, 3})), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(TgaFile({3, 24, 1, 1}, {1, 2, 3})), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(TgaFile({1, 16, 1, 1}, {1, 2})), ERR_CANNOT_HANDLE);
    EXPECT_EQ(ErrorFrom<CTGADecoder>(TgaFile({2, 12, 1, 1}, {1, 2})), ERR_BAD_DATA);
    TgaColourMap eightBitMap{0, 2, 8, {1, 2}};
    EXPECT_EQ(ErrorOf(TgaFile({1, 8, 1, 1}, {0}, &eightBitMap)), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(TgaFile({2, 24, 0, 1}, {})), ERR_BAD_DATA);

    EXPECT_EQ(ErrorOf(TgaFile({2, 24, 2, 2}, Bytes(11, 0))), ERR_END_OF_DATA);
    // 65535 x 65535 pixels claimed by a file of a few bytes are refused before allocation:
    // at 32 bits they are over the storage limit.
    EXPECT_EQ(ErrorOf(TgaFile({2, 32, 65535, 65535}, Bytes(100, 0))), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(ErrorOf(TgaFile({10, 32, 65535, 65535}, Bytes(100, 0x7F))), ERR_OUT_OF_MEMORY);
}

}  // namespace
