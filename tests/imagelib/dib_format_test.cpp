// The DIB layout shared by BMP files, clipboard blocks and metafile bitmaps: headers, colour
// tables, bit fields, run-length data and the writers.
#include "imagelib/byte_order.h"
#include "imagelib/dib_format.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace {

// An info header of size bytes with the fields every variant has; the rest stays zero.
std::vector<uint8_t> InfoHeader(uint32_t size, int32_t width, int32_t height, uint16_t bits, uint32_t compression = 0) {
    std::vector<uint8_t> header(size, 0);
    WriteLE32(&header[0], size);
    WriteLE32(&header[4], static_cast<uint32_t>(width));
    WriteLE32(&header[8], static_cast<uint32_t>(height));
    WriteLE16(&header[12], 1);
    WriteLE16(&header[14], bits);
    if (size >= 20) WriteLE32(&header[16], compression);
    return header;
}

// Run-length decoding into a grid of width x height indices, 0xEE where no run wrote.
struct RunGrid {
    int width;
    int height;
    std::vector<uint8_t> cells;
    DibRunLengthResult result;

    RunGrid(const std::vector<uint8_t>& data, int bits, int w, int h, DibRunCheck check)
        : width(w), height(h), cells(static_cast<size_t>(w * h), 0xEE) {
        result = DecodeDibRunLength(data, bits, w, h, check, [&](int row, int x, std::span<const uint8_t> indices) {
            ASSERT_TRUE(row >= 0 && row < height && x >= 0 && x + static_cast<int>(indices.size()) <= width);
            for (size_t i = 0; i < indices.size(); ++i) cells[static_cast<size_t>(row * width + x) + i] = indices[i];
        });
    }
    // The stored row (0 is the bottom one) as one character per pixel, '.' where unset.
    std::string Row(int row) const {
        std::string text;
        for (int x = 0; x < width; ++x) {
            const uint8_t v = cells[static_cast<size_t>(row * width + x)];
            text += v == 0xEE ? '.' : static_cast<char>(v < 10 ? '0' + v : 'a' + v - 10);
        }
        return text;
    }
};

}  // namespace

TEST(DibFormatTest, BitFieldsWidenByCopyingTheirTopBits) {
    struct Case {
        const char* what;
        std::array<uint32_t, 4> masks;
        int bits;
        uint32_t word;
        BGRA expected;
    };
    const Case cases[] = {
        {"5-6-5 white", {0xF800, 0x07E0, 0x001F, 0}, 16, 0xFFFF, {255, 255, 255, 255}},
        {"5-5-5 white", {0x7C00, 0x03E0, 0x001F, 0}, 16, 0x7FFF, {255, 255, 255, 255}},
        {"5-6-5 black", {0xF800, 0x07E0, 0x001F, 0}, 16, 0x0000, {0, 0, 0, 255}},
        // 5-bit 16 = 10000b -> 10000100b, 6-bit 1 = 000001b -> 00000100b, 5-bit 1 -> 00001000b.
        {"5-6-5 middle and low values", {0xF800, 0x07E0, 0x001F, 0}, 16, 0x8021, {8, 4, 132, 255}},
        {"4-4-4-4 with alpha", {0x0F00, 0x00F0, 0x000F, 0xF000}, 16, 0x8F05, {0x55, 0x00, 0xFF, 0x88}},
        {"2-3-1: one bit is 0 or 255", {0xC000, 0x3800, 0x0400, 0}, 16, 0x4C00, {255, 0x24, 0x55, 255}},
        {"10-10-10: the top eight bits", {0x3FF00000, 0x000FFC00, 0x000003FF, 0}, 32, 0x3FF00203, {0x80, 0, 0xFF, 255}},
        {"plain 8-8-8-8", {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 32, 0x80102030, {0x30, 0x20, 0x10, 0x80}},
        {"a mask with holes is read over its whole span", {0x8001, 0, 0, 0}, 16, 0x8001, {0, 0, 0x80, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DibBitFields fields(c.masks, c.bits);
        EXPECT_EQ(fields(c.word), c.expected);
        // Whole rows give the same pixels and report their alpha.
        uint8_t bytes[8];
        WriteLE32(bytes, c.word);
        WriteLE32(bytes + 4, c.word);
        if (c.bits == 16) WriteLE16(bytes + 2, static_cast<uint16_t>(c.word));
        BGRA row[2];
        EXPECT_EQ(fields.ConvertRow(bytes, 2, row), c.expected.a);
        EXPECT_EQ(row[0], c.expected);
        EXPECT_EQ(row[1], c.expected);
    }
}

TEST(DibFormatTest, PlainPixelsUseTheDefaultMasks) {
    const auto plain16 = InfoHeader(40, 1, 1, 16);
    const auto plain32 = InfoHeader(40, 1, 1, 32);
    EXPECT_EQ(DibBitFields(DibPixelMasks(ParseDibInfoHeader(plain16)), 16)(0xFFFF), (BGRA{255, 255, 255, 255}))
        << "bit 15 of plain 16 bits is no alpha";
    EXPECT_EQ(DibBitFields(DibPixelMasks(ParseDibInfoHeader(plain32)), 32)(0x01020304), (BGRA{4, 3, 2, 1}));

    // Masks inside a header count only for bit fields.
    auto v5 = InfoHeader(124, 1, 1, 16);
    WriteLE32(&v5[40], 0xF800);
    WriteLE32(&v5[44], 0x07E0);
    WriteLE32(&v5[48], 0x001F);
    EXPECT_EQ(DibPixelMasks(ParseDibInfoHeader(v5))[0], 0x7C00u);
    WriteLE32(&v5[16], kDibBitFields);
    EXPECT_EQ(DibPixelMasks(ParseDibInfoHeader(v5))[0], 0xF800u);
}

TEST(DibFormatTest, ThirtyTwoBitRowsCopyAndReportTheirAlpha) {
    const uint8_t in[] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0x40};
    BGRA out[3];
    const DibBitFields withAlpha({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 32);
    EXPECT_EQ(withAlpha.ConvertRow(in, 2, out), 0) << "alpha zero in every pixel converted";
    EXPECT_EQ(withAlpha.ConvertRow(in, 3, out), 0x40);
    EXPECT_EQ(out[2], (BGRA{7, 8, 9, 0x40}));
    const DibBitFields withoutAlpha({0x00FF0000, 0x0000FF00, 0x000000FF, 0}, 32);
    EXPECT_EQ(withoutAlpha.ConvertRow(in, 3, out), 255);
    EXPECT_EQ(out[0], (BGRA{1, 2, 3, 255}));
    EXPECT_EQ(out[2], (BGRA{7, 8, 9, 255}));

    const uint8_t rgb[] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    ConvertDibRow24(rgb, 3, out);
    EXPECT_EQ(out[0], (BGRA{10, 20, 30, 255}));
    EXPECT_EQ(out[2], (BGRA{70, 80, 90, 255}));
}

TEST(DibFormatTest, HeadersOfEveryVariantRead) {
    // OS/2 1.x: 16-bit sizes, unsigned.
    std::vector<uint8_t> core = {12, 0, 0, 0, 0x10, 0x80, 3, 0, 1, 0, 8, 0};
    const DibInfoHeader os2 = ParseDibInfoHeader(core);
    EXPECT_TRUE(os2.Core());
    EXPECT_EQ(os2.width, 0x8010);
    EXPECT_EQ(os2.height, 3);
    EXPECT_EQ(os2.bitsPerPixel, 8);
    EXPECT_EQ(DibColourEntrySize(os2), 3u);

    // OS/2 2.x may stop after the depth; what it omits is zero even when bytes follow.
    auto shortHeader = InfoHeader(16, 5, -7, 4);
    shortHeader.resize(60, 0xFF);
    const DibInfoHeader os2v2 = ParseDibInfoHeader(shortHeader);
    EXPECT_EQ(os2v2.width, 5);
    EXPECT_TRUE(os2v2.TopDown());
    EXPECT_EQ(os2v2.Rows(), 7);
    EXPECT_EQ(os2v2.compression, kDibRgb);
    EXPECT_EQ(os2v2.coloursUsed, 0u);
    EXPECT_EQ(DibColourTableEntries(os2v2), 16u);

    // Bit-field masks follow a 40-byte header, three of them or four with alpha; longer
    // headers hold them.
    for (const auto& [size, compression, maskBytes] :
         {std::tuple{40u, kDibBitFields, 12u}, std::tuple{40u, kDibAlphaBitFields, 16u},
          std::tuple{52u, kDibBitFields, 0u}, std::tuple{108u, kDibBitFields, 0u}, std::tuple{40u, kDibRgb, 0u}}) {
        SCOPED_TRACE(size);
        auto header = InfoHeader(size, 1, 1, 32, compression);
        if (size >= 52) WriteLE32(&header[40], 0xFF);
        DibInfoHeader h = ParseDibInfoHeader(header);
        ASSERT_EQ(DibMaskBytesAfterHeader(h), maskBytes);
        const uint8_t after[] = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF};
        ReadDibMasksAfterHeader(std::span(after).first(maskBytes), h);
        if (compression == kDibRgb) continue;
        EXPECT_EQ(h.masks[0], size >= 52 ? 0xFFu : 0xFF0000u);
        EXPECT_EQ(h.masks[3], compression == kDibAlphaBitFields ? 0xFF000000u : 0u);
    }

    // Colour tables: the count, else 2^depth for indices; a table for palette devices only
    // with plain true colour.
    auto indexed = InfoHeader(40, 1, 1, 8);
    EXPECT_EQ(DibColourTableEntries(ParseDibInfoHeader(indexed)), 256u);
    WriteLE32(&indexed[32], 3);
    EXPECT_EQ(DibColourTableEntries(ParseDibInfoHeader(indexed)), 3u);
    auto trueColour = InfoHeader(40, 1, 1, 24);
    WriteLE32(&trueColour[32], 5);
    EXPECT_EQ(DibColourTableEntries(ParseDibInfoHeader(trueColour)), 5u);
    auto bitFields = InfoHeader(40, 1, 1, 16, kDibBitFields);
    WriteLE32(&bitFields[32], 5);
    EXPECT_EQ(DibColourTableEntries(ParseDibInfoHeader(bitFields)), 0u);
}

TEST(DibFormatTest, ColourTablesAreOpaqueAndFilledWithBlack) {
    const uint8_t entries[] = {1, 2, 3, 0x7F, 4, 5, 6, 0};
    std::vector<BGRA> table(4, BGRA{9, 9, 9, 9});
    EXPECT_EQ(ReadDibColourTable(entries, 4, table), 2u);
    EXPECT_EQ(table[0], (BGRA{1, 2, 3, 255})) << "the reserved byte is no alpha";
    EXPECT_EQ(table[1], (BGRA{4, 5, 6, 255}));
    EXPECT_EQ(table[3], (BGRA{0, 0, 0, 255}));
    EXPECT_EQ(ReadDibColourTable(entries, 3, table), 2u) << "core entries are three bytes";
    EXPECT_EQ(table[1], (BGRA{0x7F, 4, 5, 255}));
}

TEST(DibFormatTest, IndicesUnpackHighBitsFirst) {
    const uint8_t in[] = {0b10110100, 0b01000000};
    uint8_t out[9];
    EXPECT_EQ(UnpackDibIndices(in, 1, 9, out), 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 9), (std::vector<uint8_t>{1, 0, 1, 1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(UnpackDibIndices(in, 2, 5, out), 3);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{2, 3, 1, 0, 1}));
    EXPECT_EQ(UnpackDibIndices(in, 4, 3, out), 11);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{11, 4, 4}));
}

TEST(DibFormatTest, RunLengthRunsAndEscapesPlacePixels) {
    // RLE8, 5 x 3: a run of three 1s, end of row; an absolute run of three (padded) and a
    // delta of (1, 1) to the top row, a run of two 4s, end of bitmap.
    const RunGrid rle8({3, 1, 0, 0, 0, 3, 7, 8, 9, 0, 0, 2, 1, 1, 2, 4, 0, 1}, 8, 5, 3, DibRunCheck::Strict);
    EXPECT_EQ(rle8.result.end, DibRunEnd::EndOfBitmap);
    EXPECT_EQ(rle8.result.consumed, 18u);
    EXPECT_EQ(rle8.Row(0), "111..");
    EXPECT_EQ(rle8.Row(1), "789..");
    EXPECT_EQ(rle8.Row(2), "....4") << "the delta moved from column 3 of row 1";

    // RLE4, 5 x 2: a run of five alternates the byte's nibbles; an absolute run of three
    // nibbles takes two bytes.
    const RunGrid rle4({5, 0x12, 0, 0, 0, 3, 0xAB, 0xC0, 0, 1}, 4, 5, 2, DibRunCheck::Strict);
    EXPECT_EQ(rle4.result.end, DibRunEnd::EndOfBitmap);
    EXPECT_EQ(rle4.Row(0), "12121");
    EXPECT_EQ(rle4.Row(1), "abc..");

    // RLE4, 3 x 2: a run reaching into the row's padding, then a row that starts with a delta.
    // The pixel in the padding stays there: the next row's first column is not written.
    for (DibRunCheck check : {DibRunCheck::Strict, DibRunCheck::Clip}) {
        const RunGrid padded({4, 0x12, 0, 0, 0, 2, 2, 0, 1, 0x50, 0, 1}, 4, 3, 2, check);
        EXPECT_EQ(padded.result.end, DibRunEnd::EndOfBitmap);
        EXPECT_EQ(padded.Row(0), "121");
        EXPECT_EQ(padded.Row(1), "..5");
    }
}

TEST(DibFormatTest, StrictRunLengthStopsAtDamage) {
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        DibRunEnd end;
        const char* row0;
    };
    // 5 pixels at 8 bits pad to 8: runs may reach into the padding but not beyond it.
    const Case cases[] = {
        {"a run into the padding", {8, 3, 0, 1}, DibRunEnd::EndOfBitmap, "33333"},
        {"a run past the padding", {9, 3, 0, 1}, DibRunEnd::RunPastRow, "33333"},
        {"a run after the last row", {0, 0, 1, 3}, DibRunEnd::RunPastRow, "....."},
        {"a delta past the right edge", {0, 2, 6, 0}, DibRunEnd::DeltaPastEnd, "....."},
        {"a delta past the top", {0, 2, 0, 2}, DibRunEnd::DeltaPastEnd, "....."},
        {"a delta to the right edge, then a run in the padding", {0, 2, 5, 0, 3, 3, 0, 1}, DibRunEnd::EndOfBitmap,
         "....."},
        {"no end-of-bitmap escape", {2, 3, 0, 0}, DibRunEnd::DataEnded, "33..."},
        {"an absolute run cut short", {0, 3, 1, 2}, DibRunEnd::DataCut, "....."},
        {"a delta cut short", {0, 2, 1}, DibRunEnd::DataCut, "....."},
    };
    for (const Case& c : cases) {
        const RunGrid grid(c.data, 8, 5, 1, DibRunCheck::Strict);
        EXPECT_EQ(grid.result.end, c.end) << c.what;
        EXPECT_EQ(grid.Row(0), c.row0) << c.what;
    }
}

TEST(DibFormatTest, ClippingRunLengthDropsWhatFallsOutside) {
    // 3 x 2: a run of 9 is cut to the row, a delta far right drops the next run, and the
    // data stops being read once every row is reached.
    const RunGrid grid({9, 5, 0, 0, 0, 2, 200, 0, 2, 6, 0, 0, 2, 7, 0, 0, 0xFF}, 8, 3, 2, DibRunCheck::Clip);
    EXPECT_EQ(grid.result.end, DibRunEnd::RowsFilled);
    EXPECT_EQ(grid.result.consumed, 12u);
    EXPECT_EQ(grid.Row(0), "555");
    EXPECT_EQ(grid.Row(1), "...");
    EXPECT_EQ(RunGrid({2, 5}, 8, 3, 2, DibRunCheck::Clip).result.end, DibRunEnd::DataEnded);
    EXPECT_EQ(RunGrid({0, 4, 1, 2}, 8, 3, 2, DibRunCheck::Clip).result.end, DibRunEnd::DataCut);
}

TEST(DibFormatTest, WrittenHeadersReadBack) {
    uint8_t bytes[kBmpFileHeaderSize + kDibInfoHeaderSize];
    WriteBmpFileHeader(bytes, 1234, 1078);
    WriteDibInfoHeader(bytes + kBmpFileHeaderSize, 7, 5, 8);
    BmpFileHeader file;
    ASSERT_TRUE(ParseBmpFileHeader(std::span(bytes).first<kBmpFileHeaderSize>(), file));
    EXPECT_EQ(file.fileSize, 1234u);
    EXPECT_EQ(file.rowsOffset, 1078u);
    const DibInfoHeader info = ParseDibInfoHeader(std::span(bytes).subspan(kBmpFileHeaderSize));
    EXPECT_EQ(info.size, kDibInfoHeaderSize);
    EXPECT_EQ(info.width, 7);
    EXPECT_EQ(info.height, 5);
    EXPECT_EQ(info.planes, 1);
    EXPECT_EQ(info.bitsPerPixel, 8);
    EXPECT_EQ(DibColourTableEntries(info), 256u);

    WriteBmpFileHeader(bytes, uint64_t{5} << 30, 54);
    EXPECT_EQ(ReadLE32(bytes + 2), 0xFFFFFFFFu) << "a size past 4 GiB is stated as the largest";
    bytes[0] = 'M';
    EXPECT_FALSE(ParseBmpFileHeader(std::span(bytes).first<kBmpFileHeaderSize>(), file));
}

TEST(DibFormatTest, PackedRowsArePaddedWithZeros) {
    std::vector<uint8_t> row(8, 0xAA);
    const BGRA pixels[2] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    PackDibRow(reinterpret_cast<const uint8_t*>(pixels), 2, 32, row);
    EXPECT_EQ(row, (std::vector<uint8_t>{1, 2, 3, 5, 6, 7, 0, 0})) << "alpha is dropped";

    std::vector<uint8_t> bits(4, 0xAA);
    const uint8_t line[] = {0xF0, 0x0F};
    PackDibRow(line, 9, 1, bits);
    EXPECT_EQ(bits, (std::vector<uint8_t>{0xF0, 0x0F, 0, 0}));
}
