#include "codecs/bmp_decoder.h"
#include "imagelib/byte_order.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/output_sink.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

namespace {

struct CapacityProbe : CImageEncoder {
    void EncodeInto(CImageBitmap&, COutputSink&) override {}
    using CImageEncoder::EncodedSize;
};

struct FixedSizeBitmap : CMemBitmap {
    explicit FixedSizeBitmap(size_t used) : used_(used) {}
    size_t MemoryUsed() const override { return used_; }
    size_t used_;
};

std::vector<uint8_t> Encode(CImageBitmap& bitmap, const TempDir& dir) {
    const std::string path = dir.File("out.bmp");
    CBMPEncoder().EncodeFile(path, bitmap);
    return ReadBytes(path);
}

}  // namespace

TEST(BmpEncoderTest, TrueColourIsWrittenAsTwentyFourBitRowsBottomUp) {
    TempDir dir;
    CMemBitmap bitmap;
    bitmap.Create(3, 2, 32, true);
    FillGradient(bitmap);
    const auto file = Encode(bitmap, dir);
    ASSERT_EQ(file.size(), 78u);
    EXPECT_EQ(ReadLE32(&file[2]), 78u);
    EXPECT_EQ(ReadLE32(&file[10]), 54u);
    EXPECT_EQ(ReadLE32(&file[14]), 40u);
    EXPECT_EQ(ReadLE16(&file[28]), 24);
    EXPECT_EQ(static_cast<int32_t>(ReadLE32(&file[22])), 2);
    const BGRA bottomLeft = bitmap.PixelLine(1)[0];
    EXPECT_EQ(file[54], bottomLeft.b);
    EXPECT_EQ(file[56], bottomLeft.r);
    const BGRA topRight = bitmap.PixelLine(0)[2];
    EXPECT_EQ(file[66 + 6], topRight.b);
}

TEST(BmpEncoderTest, IndexedBitmapsKeepTheirPalettesAndPadRows) {
    TempDir dir;
    CMemBitmap eight;
    eight.Create(5, 1, 8, false);
    const auto file8 = Encode(eight, dir);
    EXPECT_EQ(ReadLE32(&file8[10]), 1078u);
    EXPECT_EQ(file8.size(), 1086u);
    EXPECT_EQ(file8[54 + 4 * 9 + 3], 255) << "palette entries keep their alpha byte";

    CMemBitmap one;
    one.Create(9, 1, 1, false);
    const auto file1 = Encode(one, dir);
    EXPECT_EQ(ReadLE32(&file1[10]), 62u);
    EXPECT_EQ(file1.size(), 66u);

    // Unpadded 5-byte rows in memory become 8-byte rows on disk: for a tall 1-bit picture
    // that is more than the usual buffer estimate, and the file must still be complete.
    CMemBitmap tall;
    tall.Create(33, 5000, 1, false);
    const auto fileTall = Encode(tall, dir);
    EXPECT_EQ(fileTall.size(), 62u + 8 * 5000);
}

TEST(BmpEncoderTest, BufferCapacityFollowsMemoryUse) {
    CapacityProbe probe;
    EXPECT_EQ(probe.EncodedSize(FixedSizeBitmap(19999)), 24095u);
    EXPECT_EQ(probe.EncodedSize(FixedSizeBitmap(25000)), 30000u);
}

TEST(BmpEncoderTest, UnwritablePathsFailWithoutLeavingFiles) {
    TempDir dir;
    CMemBitmap bitmap;
    try {
        CBMPEncoder().EncodeFile(dir.File("missing/out.bmp"), bitmap);
        FAIL();
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANNOT_CREATE);
        EXPECT_EQ(e.Text(), "Decoder error: Opening " + dir.File("missing/out.bmp") + " failed\n");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(BmpEncoderTest, DecodeEncodeDecodeKeepsThePixels) {
    TempDir dir;
    CMemBitmap wide;
    wide.Create(7, 5, 32, false);
    FillGradient(wide);
    CMemBitmap eight;
    eight.Create(7, 5, 8, false);
    CMemBitmap one;
    one.CopyFrom(wide, 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) eight.Line(y)[x] = static_cast<uint8_t>(x * 30 + y);
    eight.Palette()[33] = BGRA{1, 2, 3, 255};

    for (CImageBitmap* original : {static_cast<CImageBitmap*>(&wide), static_cast<CImageBitmap*>(&eight),
                                   static_cast<CImageBitmap*>(&one)}) {
        SCOPED_TRACE(original->BitsPerPixel());
        const std::string path = dir.File("round.bmp");
        CBMPEncoder().EncodeFile(path, *original);
        CMemBitmap decoded;
        CBMPDecoder().DecodeFile(path, decoded, 0);
        std::string why;
        if (original->BitsPerPixel() == 1) {
            CMemBitmap expanded;
            expanded.CopyFrom(*original, 8);
            EXPECT_TRUE(SamePixels(expanded, decoded, &why)) << why;
        } else {
            EXPECT_TRUE(SamePixels(*original, decoded, &why)) << why;
        }
        CBMPEncoder().EncodeFile(dir.File("again.bmp"), decoded);
        if (original->BitsPerPixel() != 1) {
            EXPECT_EQ(ReadBytes(path), ReadBytes(dir.File("again.bmp")));
        }
    }
}

// Files are streamed through a buffer far smaller than a large picture's file; the bytes
// must be those of the whole file encoded in one memory block.
TEST(BmpEncoderTest, StreamedFilesEqualTheWholeFileEncodedInMemory) {
    TempDir dir;
    for (const auto [width, height, depth] : {std::tuple{1001, 700, 32}, {1203, 1500, 8}, {4097, 1100, 1}, {3, 2, 32}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height << " at " << depth);
        CMemBitmap bitmap;
        CreatePattern(bitmap, width, height, depth);
        std::vector<uint8_t> memory(64 + 1024 + static_cast<size_t>(height) * (static_cast<size_t>(width) * 3 + 4));
        COutputSink sink;
        sink.Open("memory", memory.data(), memory.size());
        CBMPEncoder().Encode(bitmap, sink);
        memory.resize(sink.Used());
        EXPECT_EQ(Encode(bitmap, dir), memory);
    }
}
