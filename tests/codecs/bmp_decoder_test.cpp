#include "codecs/auto_decoder.h"
#include "codecs/bmp_decoder.h"
#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

// A BMP file put together field by field, so tests can write what real writers write and
// what damaged files hold.
struct BmpSpec {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitsPerPixel = 24;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    std::vector<uint32_t> masks;  // inside the header from 52 bytes on, else after it
    std::vector<BGRA> table;
    std::vector<uint8_t> pixels;
    std::optional<uint32_t> dataOffset;
};

std::vector<uint8_t> MakeBmp(const BmpSpec& spec) {
    std::vector<uint8_t> header(std::max<uint32_t>(spec.headerSize, 56), 0);
    WriteLE32(&header[0], spec.headerSize);
    WriteLE32(&header[4], static_cast<uint32_t>(spec.width));
    WriteLE32(&header[8], static_cast<uint32_t>(spec.height));
    WriteLE16(&header[12], 1);
    WriteLE16(&header[14], spec.bitsPerPixel);
    WriteLE32(&header[16], spec.compression);
    WriteLE32(&header[32], spec.coloursUsed);
    std::vector<uint8_t> extra;
    for (size_t i = 0; i < spec.masks.size(); ++i) {
        if (spec.headerSize >= 40 + 4 * (i + 1)) {
            WriteLE32(&header[40 + 4 * i], spec.masks[i]);
        } else {
            extra.resize(extra.size() + 4);
            WriteLE32(&extra[extra.size() - 4], spec.masks[i]);
        }
    }
    header.resize(spec.headerSize);
    for (const BGRA& c : spec.table) extra.insert(extra.end(), {c.b, c.g, c.r, 0});
    const uint32_t offset = spec.dataOffset.value_or(static_cast<uint32_t>(14 + header.size() + extra.size()));
    std::vector<uint8_t> file(14, 0);
    file[0] = 'B';
    file[1] = 'M';
    WriteLE32(&file[10], offset);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), extra.begin(), extra.end());
    file.resize(std::max<size_t>(file.size(), offset), 0);
    file.insert(file.end(), spec.pixels.begin(), spec.pixels.end());
    return file;
}

int Decode(const std::vector<uint8_t>& file, CImageBitmap& bitmap, int depth) {
    CBMPDecoder decoder;
    decoder.DecodeMemory(file.data(), file.size(), bitmap, depth);
    return bitmap.BitsPerPixel();
}

int FailureCode(const std::vector<uint8_t>& file, int depth = 32) {
    CMemBitmap bitmap;
    try {
        Decode(file, bitmap, depth);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

constexpr BGRA kWhite{255, 255, 255, 255};
constexpr BGRA kBlack{0, 0, 0, 255};
constexpr BGRA kRed{0, 0, 255, 255};
constexpr BGRA kGreen{0, 255, 0, 255};

}  // namespace

TEST(BmpDecoderTest, SignatureOtherThanBmFailsBeforeTouchingTheBitmap) {
    auto file = MakeBmp({});
    file[0] = 'M';
    file[1] = 'B';
    CMemBitmap bitmap;
    try {
        Decode(file, bitmap, 32);
        FAIL() << "decoded a file without the BM signature";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_NOT_THIS_FORMAT);
        EXPECT_EQ(e.Text(), "Decoder error: Bitmap decoder: This isn't a bitmap.\n");
    }
    EXPECT_EQ(bitmap.Size(), std::make_pair(16, 16));
}

TEST(BmpDecoderTest, OneBitFilesUseTheirColourTableAtBothDepths) {
    // A white-then-black table, as many writers store it: clear bits are white.
    BmpSpec spec{.width = 3, .height = 1, .bitsPerPixel = 1, .table = {kWhite, kBlack}, .pixels = {0b01000000, 0, 0, 0}};
    const auto file = MakeBmp(spec);
    CMemBitmap wide;
    EXPECT_EQ(Decode(file, wide, 32), 32);
    EXPECT_EQ(wide.PixelLine(0)[0], kWhite);
    EXPECT_EQ(wide.PixelLine(0)[1], kBlack);
    EXPECT_EQ(wide.PixelLine(0)[2], kWhite);

    CMemBitmap indexed;
    EXPECT_EQ(Decode(file, indexed, 0), 8);
    EXPECT_EQ(indexed.Line(0)[1], 1);
    EXPECT_EQ(indexed.Palette()[0], kWhite);
    EXPECT_EQ(indexed.Palette()[1], kBlack);
    EXPECT_EQ(indexed.Palette()[2], kBlack) << "entries the file does not set are opaque black";
}

TEST(BmpDecoderTest, RowsLandUprightWhetherStoredBottomUpOrTopDown) {
    const std::vector<uint8_t> rows = {0, 0, 255, 0, 0, 255, 0, 0};  // red row, then green row
    CMemBitmap bottomUp;
    Decode(MakeBmp({.width = 1, .height = 2, .pixels = rows}), bottomUp, 32);
    EXPECT_EQ(bottomUp.PixelLine(0)[0], kGreen);
    EXPECT_EQ(bottomUp.PixelLine(1)[0], kRed);

    CMemBitmap topDown;
    Decode(MakeBmp({.width = 1, .height = -2, .pixels = rows}), topDown, 32);
    EXPECT_EQ(topDown.Height(), 2);
    EXPECT_EQ(topDown.PixelLine(0)[0], kRed);
    EXPECT_EQ(topDown.PixelLine(1)[0], kGreen);
}

TEST(BmpDecoderTest, LongHeadersPutTheColourTableAfterTheirOwnSize) {
    for (uint32_t size : {52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        CMemBitmap bitmap;
        Decode(MakeBmp({.headerSize = size, .width = 2, .bitsPerPixel = 8, .coloursUsed = 2,
                        .table = {kRed, kGreen}, .pixels = {1, 0, 0, 0}}),
               bitmap, 32);
        EXPECT_EQ(bitmap.PixelLine(0)[0], kGreen);
        EXPECT_EQ(bitmap.PixelLine(0)[1], kRed);
    }
}

TEST(BmpDecoderTest, SixteenAndThirtyTwoBitFilesFollowTheirMasks) {
    // 5-6-5 after a 40-byte header: full green is full scale.
    CMemBitmap rgb565;
    Decode(MakeBmp({.width = 1, .bitsPerPixel = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F},
                    .pixels = {0xE0, 0x07, 0, 0}}),
           rgb565, 32);
    EXPECT_EQ(rgb565.PixelLine(0)[0], kGreen);

    // 5-6-5 inside a V5 header; green 0b000001 must not vanish.
    CMemBitmap v5;
    Decode(MakeBmp({.headerSize = 124, .width = 1, .bitsPerPixel = 16, .compression = 3,
                    .masks = {0xF800, 0x07E0, 0x001F}, .pixels = {0x20, 0x00, 0, 0}}),
           v5, 32);
    EXPECT_EQ(v5.PixelLine(0)[0].g, 4);

    // Plain 16 bits is 5-5-5 and ignores bit 15.
    CMemBitmap rgb555;
    Decode(MakeBmp({.width = 1, .bitsPerPixel = 16, .pixels = {0x1F, 0xFC, 0, 0}}), rgb555, 32);
    EXPECT_EQ(rgb555.PixelLine(0)[0], (BGRA{255, 0, 255, 255}));

    // 32 bits with masks in R, G, B, A order and an alpha mask: the alpha flag is set.
    CMemBitmap rgba;
    Decode(MakeBmp({.headerSize = 56, .width = 1, .bitsPerPixel = 32, .compression = 3,
                    .masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, .pixels = {10, 20, 30, 40}}),
           rgba, 32);
    EXPECT_EQ(rgba.PixelLine(0)[0], (BGRA{30, 20, 10, 40}));
    EXPECT_TRUE(rgba.HasAlpha());
}

TEST(BmpDecoderTest, SixteenBitWhiteStaysWhite) {
    const std::vector<uint8_t> white = {0xFF, 0xFF, 0, 0};
    for (const auto& [what, compression, masks] :
         {std::tuple{"plain 5-5-5", 0u, std::vector<uint32_t>{}},
          std::tuple{"5-5-5 bit fields", 3u, std::vector<uint32_t>{0x7C00, 0x03E0, 0x001F}},
          std::tuple{"5-6-5 bit fields", 3u, std::vector<uint32_t>{0xF800, 0x07E0, 0x001F}}}) {
        SCOPED_TRACE(what);
        CMemBitmap bitmap;
        Decode(MakeBmp({.width = 1, .bitsPerPixel = 16, .compression = compression, .masks = masks, .pixels = white}),
               bitmap, 32);
        EXPECT_EQ(bitmap.PixelLine(0)[0], kWhite);
        EXPECT_FALSE(bitmap.HasAlpha());
    }
}

TEST(BmpDecoderTest, AlphaThatIsZeroEverywhereMeansOpaque) {
    // Two rows of two 32-bit pixels, stored order; the second stored row optionally with alpha.
    auto rows = [](uint8_t laterAlpha) {
        return std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, laterAlpha};
    };
    struct Case {
        const char* what;
        BmpSpec layout;
    };
    const Case cases[] = {
        {"plain, bottom-up", {.width = 2, .height = 2, .bitsPerPixel = 32}},
        {"plain, top-down", {.width = 2, .height = -2, .bitsPerPixel = 32}},
        {"V5 alpha mask", {.headerSize = 124, .width = 2, .height = 2, .bitsPerPixel = 32, .compression = 3,
                           .masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}}},
        {"alpha bit fields after the header", {.width = 2, .height = -2, .bitsPerPixel = 32, .compression = 6,
                                               .masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}}},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.what);
        const int first = c.layout.height < 0 ? 0 : 1;  // bitmap row of the first stored row
        c.layout.pixels = rows(0);
        CMemBitmap opaque;
        Decode(MakeBmp(c.layout), opaque, 32);
        EXPECT_FALSE(opaque.HasAlpha());
        EXPECT_EQ(opaque.PixelLine(first)[0], (BGRA{1, 2, 3, 255}));
        EXPECT_EQ(opaque.PixelLine(1 - first)[1], (BGRA{10, 11, 12, 255}));

        // Only the last pixel stored has alpha: the rows decoded before it keep their zeros.
        c.layout.pixels = rows(200);
        CMemBitmap translucent;
        Decode(MakeBmp(c.layout), translucent, 32);
        EXPECT_TRUE(translucent.HasAlpha());
        EXPECT_EQ(translucent.PixelLine(first)[0], (BGRA{1, 2, 3, 0}));
        EXPECT_EQ(translucent.PixelLine(first)[1], (BGRA{4, 5, 6, 0}));
        EXPECT_EQ(translucent.PixelLine(1 - first)[0], (BGRA{7, 8, 9, 0}));
        EXPECT_EQ(translucent.PixelLine(1 - first)[1], (BGRA{10, 11, 12, 200}));
    }

    // 4-4-4-4 with its alpha nibble: zero everywhere is opaque, full scale is 255.
    for (uint8_t high : {0x0F, 0xFF}) {
        CMemBitmap bitmap;
        Decode(MakeBmp({.headerSize = 124, .width = 1, .bitsPerPixel = 16, .compression = 3,
                        .masks = {0x0F00, 0x00F0, 0x000F, 0xF000}, .pixels = {0xFF, high, 0, 0}}),
               bitmap, 32);
        EXPECT_EQ(bitmap.PixelLine(0)[0], kWhite);
        EXPECT_EQ(bitmap.HasAlpha(), high == 0xFF);
    }
}

TEST(BmpDecoderTest, FourBitOddWidthUsesTheHighNibbleAndSkipsPadding) {
    std::vector<BGRA> table(16, kBlack);
    table[1] = kRed;
    table[2] = kGreen;
    table[3] = kWhite;
    CMemBitmap bitmap;
    // Three pixels per row: 1, 2, 3 in two bytes, then two bytes of padding; two rows.
    Decode(MakeBmp({.width = 3, .height = 2, .bitsPerPixel = 4, .table = table,
                    .pixels = {0x12, 0x3F, 0xEE, 0xEE, 0x32, 0x1F, 0xEE, 0xEE}}),
           bitmap, 32);
    EXPECT_EQ(bitmap.PixelLine(1)[0], kRed);
    EXPECT_EQ(bitmap.PixelLine(1)[2], kWhite);
    EXPECT_EQ(bitmap.PixelLine(0)[0], kWhite);
    EXPECT_EQ(bitmap.PixelLine(0)[2], kRed);
}

TEST(BmpDecoderTest, DepthIsChosenAndReportedBack) {
    CBMPDecoder decoder;
    const auto eightBit = MakeBmp({.width = 1, .bitsPerPixel = 8, .coloursUsed = 1, .table = {kRed}, .pixels = {0, 0, 0, 0}});
    const auto trueColour = MakeBmp({.width = 1, .pixels = {1, 2, 3, 0}});
    for (auto [file, wanted, expected] : {std::tuple{eightBit, 0, 8}, std::tuple{trueColour, 0, 32},
                                          std::tuple{trueColour, 8, 32}, std::tuple{eightBit, 32, 32}}) {
        CMemBitmap bitmap;
        CMemoryBlockSource source;
        source.Open(file.data(), file.size());
        int depth = wanted;
        decoder.DecodeSource(source, bitmap, depth);
        EXPECT_EQ(depth, expected);
        EXPECT_EQ(bitmap.BitsPerPixel(), expected);
    }
}

TEST(BmpDecoderTest, RunLengthDataDecodesWithDeltasAndEarlyEnds) {
    std::vector<BGRA> table = {kBlack, kRed, kGreen};
    // RLE8, 4 x 3: bottom row "1 1 2 2", then a delta of (1, 1) and one pixel, then the end.
    CMemBitmap rle8;
    Decode(MakeBmp({.width = 4, .height = 3, .bitsPerPixel = 8, .compression = 1, .coloursUsed = 3, .table = table,
                    .pixels = {2, 1, 2, 2, 0, 0, 0, 2, 1, 1, 1, 2, 0, 1}}),
           rle8, 32);
    EXPECT_EQ(rle8.PixelLine(2)[0], kRed);
    EXPECT_EQ(rle8.PixelLine(2)[3], kGreen);
    EXPECT_EQ(rle8.PixelLine(0)[1], kGreen) << "the pixel after the delta";
    for (int x = 0; x < 4; ++x) EXPECT_EQ(rle8.PixelLine(1)[x], kBlack) << "pixels a delta skips keep colour 0";
    EXPECT_EQ(rle8.PixelLine(0)[0], kBlack);
    EXPECT_EQ(rle8.PixelLine(0)[3], kBlack) << "pixels after the end keep colour 0";

    // RLE4, 3 x 1: an absolute run of three nibbles (one pad byte), then the end.
    CMemBitmap rle4;
    Decode(MakeBmp({.width = 3, .height = 1, .bitsPerPixel = 4, .compression = 2, .coloursUsed = 3, .table = table,
                    .pixels = {0, 3, 0x12, 0x10, 0, 1}}),
           rle4, 8);
    EXPECT_EQ(rle4.Line(0)[0], 1);
    EXPECT_EQ(rle4.Line(0)[1], 2);
    EXPECT_EQ(rle4.Line(0)[2], 1);
}

TEST(BmpDecoderTest, RunsIntoRowPaddingAreClippedAndRunsBeyondItFail) {
    const std::vector<BGRA> table = {kBlack, kRed};
    // Width 5 pads to 8 pixels at 8 bits: a run of 8 fits the padding, a run of 9 does not.
    CMemBitmap bitmap;
    Decode(MakeBmp({.width = 5, .bitsPerPixel = 8, .compression = 1, .coloursUsed = 2, .table = table,
                    .pixels = {8, 1, 0, 1}}),
           bitmap, 32);
    EXPECT_EQ(bitmap.PixelLine(0)[4], kRed);
    EXPECT_EQ(FailureCode(MakeBmp({.width = 5, .bitsPerPixel = 8, .compression = 1, .coloursUsed = 2, .table = table,
                                 .pixels = {9, 1, 0, 1}})),
              ERR_CANNOT_HANDLE);
    // An absolute run past the last row.
    EXPECT_EQ(FailureCode(MakeBmp({.width = 2, .bitsPerPixel = 8, .compression = 1, .coloursUsed = 2, .table = table,
                                 .pixels = {0, 0, 0, 2, 1, 1, 0, 1}})),
              ERR_CANNOT_HANDLE);
}

TEST(BmpDecoderTest, DamagedRunLengthDataFailsWithItsCode) {
    const std::vector<BGRA> table = {kBlack, kRed};
    struct Case {
        const char* what;
        std::vector<uint8_t> runs;
        int code;
    };
    const Case cases[] = {
        {"a delta past the top row", {0, 2, 0, 2, 0, 1}, ERR_CANNOT_HANDLE},
        {"a delta past the right edge", {0, 2, 3, 0, 0, 1}, ERR_CANNOT_HANDLE},
        {"no end-of-bitmap escape", {2, 1}, ERR_END_OF_DATA},
        {"an absolute run cut short", {0, 3, 1}, ERR_END_OF_DATA},
        {"an index beyond the table", {1, 5, 0, 1}, ERR_BAD_DATA},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FailureCode(MakeBmp({.width = 2, .height = 1, .bitsPerPixel = 8, .compression = 1, .coloursUsed = 2,
                                       .table = table, .pixels = c.runs})),
                  c.code)
            << c.what;
}

TEST(BmpDecoderTest, DamagedHeadersFailWithTheirCodes) {
    const std::vector<BGRA> table = {kBlack, kRed};
    struct Case {
        const char* what;
        BmpSpec spec;
        int code;
    };
    const std::vector<Case> cases = {
        {"header size 8", {.headerSize = 8, .pixels = {0, 0, 0, 0}}, ERR_BAD_DATA},
        {"header size 66", {.headerSize = 66, .pixels = {0, 0, 0, 0}}, ERR_BAD_DATA},
        {"depth 7", {.bitsPerPixel = 7, .pixels = {0, 0, 0, 0}}, ERR_BAD_DATA},
        {"zero width", {.width = 0, .pixels = {0, 0, 0, 0}}, ERR_BAD_DATA},
        {"negative width", {.width = -3, .pixels = {0, 0, 0, 0}}, ERR_BAD_DATA},
        {"top-down run lengths", {.height = -1, .bitsPerPixel = 8, .compression = 1, .table = table, .pixels = {0, 1}},
         ERR_BAD_DATA},
        {"colour count beyond the file", {.bitsPerPixel = 8, .coloursUsed = 0x12341234, .pixels = {0, 0, 0, 0}},
         ERR_BAD_DATA},
        {"index beyond the table", {.bitsPerPixel = 8, .coloursUsed = 2, .table = table, .pixels = {5, 0, 0, 0}},
         ERR_BAD_DATA},
        {"truncated rows", {.width = 4, .height = 4, .pixels = {0, 0, 0}}, ERR_END_OF_DATA},
        {"huge picture", {.width = 100000, .height = 100000, .pixels = {0, 0, 0, 0}}, ERR_OUT_OF_MEMORY},
        {"width x height x 4 beyond 64 bits", {.width = INT32_MAX, .height = INT32_MIN, .bitsPerPixel = 32}, ERR_OUT_OF_MEMORY},
    };
    for (const Case& c : cases) EXPECT_EQ(FailureCode(MakeBmp(c.spec)), c.code) << c.what;
}

TEST(BmpDecoderTest, UnusualButValidTablesAndOffsetsDecode) {
    // 300 colours in the table: the first 256 are used, the rest skipped.
    std::vector<BGRA> big(300, kGreen);
    big[0] = kRed;
    CMemBitmap oversize;
    Decode(MakeBmp({.width = 1, .bitsPerPixel = 8, .coloursUsed = 300, .table = big, .pixels = {0, 0, 0, 0}}), oversize, 32);
    EXPECT_EQ(oversize.PixelLine(0)[0], kRed);

    // A data offset pointing back into the colour table: the pixels follow the table.
    CMemBitmap early;
    Decode(MakeBmp({.width = 1, .bitsPerPixel = 8, .coloursUsed = 2, .table = {kRed, kGreen}, .pixels = {1, 0, 0, 0},
                    .dataOffset = 20}),
           early, 32);
    EXPECT_EQ(early.PixelLine(0)[0], kGreen);

    // A gap between the table and the pixels is skipped.
    CMemBitmap gap;
    Decode(MakeBmp({.width = 1, .bitsPerPixel = 8, .coloursUsed = 2, .table = {kRed, kGreen}, .pixels = {1, 0, 0, 0},
                    .dataOffset = 200}),
           gap, 32);
    EXPECT_EQ(gap.PixelLine(0)[0], kGreen);
}

TEST(BmpDecoderTest, Os2CoreHeadersUseThreeByteColours) {
    std::vector<uint8_t> file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0,
                                 12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 1, 0,
                                 0, 0, 255, 0, 255, 0,  // red, green
                                 0x40, 0, 0, 0};
    CMemBitmap bitmap;
    Decode(file, bitmap, 32);
    EXPECT_EQ(bitmap.PixelLine(0)[0], kRed);
    EXPECT_EQ(bitmap.PixelLine(0)[1], kGreen);
}

TEST(BmpDecoderTest, AnyFormatDecoderRecognisesBitmaps) {
    const auto file = MakeBmp({.width = 1, .pixels = {1, 2, 3, 0}});
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeMemory(file.data(), file.size(), bitmap, 32);
    EXPECT_EQ(decoder.LastFormat(), ImageFormat::BMP);
    EXPECT_EQ(bitmap.PixelLine(0)[0], (BGRA{1, 2, 3, 255}));
    // Two bytes "BM" are classified as a bitmap and then fail there.
    const uint8_t bm[] = {'B', 'M'};
    EXPECT_THROW(decoder.DecodeMemory(bm, 2, bitmap, 32), CTextException);
    EXPECT_EQ(decoder.LastFormat(), ImageFormat::BMP);
}
