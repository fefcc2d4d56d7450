// Both window-system bitmap kinds: storage layout, packed DIBs in and out, resources.
#include "imagelib/byte_order.h"
#include "imagelib/dib_bitmap.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

template <typename Bitmap>
class DibKinds : public ::testing::Test {};
using Kinds = ::testing::Types<CDIBitmap, CDIBSectionBitmap>;
TYPED_TEST_SUITE(DibKinds, Kinds);

int ThrownCode(auto&& call) {
    try {
        call();
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

// An 8-bit 4 x 3 packed DIB, bottom-up, colour table entry 7 red, pixel (x, y) = x + 4 * y.
std::vector<uint8_t> Packed8Bit(int32_t height = 3, uint32_t coloursUsed = 0) {
    const uint32_t entries = coloursUsed ? coloursUsed : 256;
    std::vector<uint8_t> dib(40 + 4 * entries + 3 * 4);
    WriteLE32(&dib[0], 40);
    WriteLE32(&dib[4], 4);
    WriteLE32(&dib[8], static_cast<uint32_t>(height));
    WriteLE16(&dib[12], 1);
    WriteLE16(&dib[14], 8);
    WriteLE32(&dib[32], coloursUsed);
    for (uint32_t i = 0; i < entries; ++i) dib[40 + 4 * i] = dib[41 + 4 * i] = dib[42 + 4 * i] = static_cast<uint8_t>(i);
    dib[40 + 4 * 7] = 0;
    dib[41 + 4 * 7] = 0;
    dib[42 + 4 * 7] = 255;
    uint8_t* rows = &dib[40 + 4 * entries];
    for (int y = 0; y < 3; ++y) {
        const int stored = height > 0 ? 2 - y : y;
        for (int x = 0; x < 4; ++x) rows[stored * 4 + x] = static_cast<uint8_t>(x + 4 * y);
    }
    return dib;
}

void ExpectPacked8BitImage(const CImageBitmap& bitmap) {
    ASSERT_EQ(bitmap.Size(), std::make_pair(4, 3));
    ASSERT_EQ(bitmap.BitsPerPixel(), 8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(bitmap.Line(y)[x], x + 4 * y) << x << "," << y;
    EXPECT_EQ(bitmap.Palette()[7], (BGRA{0, 0, 255, 255}));
    EXPECT_EQ(bitmap.Palette()[3], (BGRA{3, 3, 3, 255}));
}

TYPED_TEST(DibKinds, StartsAsGreyEightBitImageWithWindowsHeader) {
    TypeParam bitmap;
    EXPECT_EQ(bitmap.Size(), std::make_pair(16, 16));
    EXPECT_EQ(bitmap.BitsPerPixel(), 8);
    EXPECT_EQ(bitmap.Palette()[200], (BGRA{200, 200, 200, 255}));
    const uint8_t* info = bitmap.InfoHeader();
    EXPECT_EQ(ReadLE32(info), 40u);
    EXPECT_EQ(ReadLE32(info + 4), 16u);
    EXPECT_EQ(ReadLE32(info + 8), 16u);
    EXPECT_EQ(ReadLE16(info + 12), 1);
    EXPECT_EQ(ReadLE16(info + 14), 8);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(bitmap.Palette()), info + 40) << "the palette is the colour table";

    bitmap.Create(7, 2, 32, true);
    EXPECT_EQ(bitmap.Palette(), nullptr);
    EXPECT_TRUE(bitmap.HasAlpha());
    info = bitmap.InfoHeader();
    EXPECT_EQ(ReadLE16(info + 14), 32);
    EXPECT_EQ(static_cast<int32_t>(ReadLE32(info + 8)), 2) << "positive height: bottom-up";
}

TYPED_TEST(DibKinds, PadsRowsAndEstimatesMemory) {
    TypeParam bitmap;
    const struct {
        int width, depth;
        size_t bytes;
    } cases[] = {{1, 1, 4}, {9, 1, 4}, {33, 1, 8}, {5, 8, 8}, {3, 32, 12}};
    for (const auto& c : cases) {
        bitmap.Create(c.width, 2, c.depth, false);
        EXPECT_EQ(bitmap.BytesPerLine(), c.bytes) << c.width << " pixels at " << c.depth;
    }
    bitmap.Create(10, 10, 32, false);
    EXPECT_EQ(bitmap.MemoryUsed(), 488u);
    bitmap.Create(10, 10, 8, false);
    EXPECT_EQ(bitmap.MemoryUsed(), 1232u);
}

TEST(DibLayout, PlainDibStoresBottomRowFirstSectionTopRowFirst) {
    CDIBitmap dib;
    dib.Create(3, 4, 32, false);
    EXPECT_EQ(dib.Lines()[3], dib.Bits());
    EXPECT_EQ(dib.Lines()[0], dib.Bits() + 3 * 12);
    EXPECT_EQ(dib.Bits(), dib.InfoHeader() + 40) << "one block: header, then rows";

    CDIBSectionBitmap section;
    section.Create(3, 4, 32, false);
    EXPECT_EQ(section.Lines()[0], section.Bits());
    EXPECT_EQ(section.Lines()[3], section.Bits() + 3 * 12);
}

TEST(DibLayout, PlainDibHoldsOneLockForItsStorage) {
    CDIBitmap dib;
    EXPECT_EQ(dib.LockCount(), 1);
    dib.Create(2, 2, 32, false);
    EXPECT_EQ(dib.LockCount(), 1);
    EXPECT_THROW(dib.Create(0, 2, 32, false), CTextException);
    dib.Create(2, 2, 8, false);
    EXPECT_EQ(dib.LockCount(), 1);
    CDIBSectionBitmap section;
    EXPECT_EQ(section.LockCount(), 0);
}

TYPED_TEST(DibKinds, GlobalDibIsPackedBottomUp) {
    TypeParam bitmap;
    bitmap.Create(3, 2, 32, false);
    FillGradient(bitmap);
    const std::vector<uint8_t> dib = bitmap.CreateGlobalDIB();
    ASSERT_EQ(dib.size(), 40u + 2 * 12);
    EXPECT_EQ(ReadLE32(&dib[0]), 40u);
    EXPECT_EQ(ReadLE16(&dib[14]), 32);
    EXPECT_EQ(static_cast<int32_t>(ReadLE32(&dib[8])), 2);
    EXPECT_EQ(std::memcmp(&dib[40], bitmap.Line(1), 12), 0) << "bottom row first";
    EXPECT_EQ(std::memcmp(&dib[52], bitmap.Line(0), 12), 0);

    bitmap.Create(5, 3, 8, false);
    bitmap.Palette()[9] = BGRA{1, 2, 3, 255};
    const std::vector<uint8_t> dib8 = bitmap.CreateGlobalDIB();
    ASSERT_EQ(dib8.size(), 40u + 1024 + 3 * 8);
    EXPECT_EQ(std::memcmp(&dib8[40 + 36], "\1\2\3\377", 4), 0);
}

TYPED_TEST(DibKinds, CreatesFromPackedDib) {
    TypeParam bitmap;
    bitmap.CreateFromPackedDIB(Packed8Bit());
    ExpectPacked8BitImage(bitmap);
    EXPECT_EQ(ReadLE32(bitmap.InfoHeader() + 32), 0u) << "the stored header names the full table";

    TypeParam topDown;
    topDown.CreateFromPackedDIB(Packed8Bit(-3));
    ExpectPacked8BitImage(topDown);

    TypeParam shortTable;
    shortTable.CreateFromPackedDIB(Packed8Bit(3, 16));
    ExpectPacked8BitImage(shortTable);
}

TYPED_TEST(DibKinds, PackedDibRoundTripsAcrossKindsAndDepths) {
    for (int depth : {32, 8, 1}) {
        SCOPED_TRACE(depth);
        CDIBitmap source;
        CreatePattern(source, 13, 5, depth);
        TypeParam copy;
        copy.CreateFromPackedDIB(source.CreateGlobalDIB());
        std::string why;
        EXPECT_TRUE(SamePixels(source, copy, &why)) << why;
        EXPECT_EQ(copy.BitsPerPixel(), depth);
    }
}

TYPED_TEST(DibKinds, RefusesDamagedPackedDibsAndKeepsTheImage) {
    TypeParam bitmap;
    bitmap.Create(2, 2, 32, false);
    const std::vector<uint8_t> good = Packed8Bit();
    auto patched = [&](size_t offset, uint32_t value, bool word = false) {
        std::vector<uint8_t> dib = good;
        word ? WriteLE16(&dib[offset], static_cast<uint16_t>(value)) : WriteLE32(&dib[offset], value);
        return dib;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> dib;
        int code;
    } cases[] = {
        {"empty", {}, ERR_BAD_DATA},
        {"truncated rows", std::vector<uint8_t>(good.begin(), good.end() - 1), ERR_BAD_DATA},
        {"header larger than block", patched(0, 100000), ERR_BAD_DATA},
        {"OS/2 header", patched(0, 12), ERR_CANNOT_HANDLE},
        {"zero width", patched(4, 0), ERR_BAD_DATA},
        {"negative width", patched(4, 0xFFFFFFFF), ERR_BAD_DATA},
        {"zero height", patched(8, 0), ERR_BAD_DATA},
        {"huge height", patched(8, 0x7FFFFFFF), ERR_BAD_DATA},
        {"24 bits", patched(14, 24, true), ERR_CANNOT_HANDLE},
        {"run-length encoded", patched(16, 1), ERR_CANNOT_HANDLE},
        {"table longer than the depth allows", patched(32, 257), ERR_BAD_DATA},
        {"table past the block", std::vector<uint8_t>(good.begin(), good.begin() + 140), ERR_BAD_DATA},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ThrownCode([&] { bitmap.CreateFromPackedDIB(c.dib); }), c.code) << c.what;
        EXPECT_EQ(bitmap.Size(), std::make_pair(2, 2)) << c.what;
        EXPECT_EQ(bitmap.BitsPerPixel(), 32) << c.what;
    }
}

TYPED_TEST(DibKinds, LoadsBitmapResource) {
    TypeParam bitmap;
    bitmap.LoadResourceBitmap(":/tests/resource_8bit_5x3.bmp");
    ASSERT_EQ(bitmap.Size(), std::make_pair(5, 3));
    ASSERT_EQ(bitmap.BitsPerPixel(), 8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap.Line(y)[x], (x + 2 * y) % 8) << x << "," << y;
    EXPECT_EQ(bitmap.Palette()[7], (BGRA{0, 0, 255, 255}));
    EXPECT_EQ(bitmap.Palette()[2], (BGRA{255, 0, 0, 255}));
    EXPECT_EQ(bitmap.Palette()[3], (BGRA{90, 90, 90, 255}));

    EXPECT_EQ(ThrownCode([&] { bitmap.LoadResourceBitmap(":/tests/no_such.bmp"); }), ERR_CANNOT_OPEN);
    EXPECT_EQ(ThrownCode([&] { bitmap.LoadResourceBitmap(":/tests/not_a_bitmap.txt"); }), ERR_NOT_THIS_FORMAT);
    EXPECT_EQ(bitmap.Size(), std::make_pair(5, 3)) << "a failed load keeps the image";
}

TYPED_TEST(DibKinds, EncoderWritesTheSameFileAsFromPlainMemory) {
    TempDir dir;
    for (int depth : {32, 8, 1}) {
        SCOPED_TRACE(depth);
        CMemBitmap converted;
        CreatePattern(converted, 11, 6, depth);
        TypeParam bitmap;
        bitmap.CopyFrom(converted, 0);
        CBMPEncoder encoder;
        encoder.EncodeFile(dir.File("plain.bmp"), converted);
        encoder.EncodeFile(dir.File("dib.bmp"), bitmap);
        EXPECT_EQ(ReadBytes(dir.File("plain.bmp")), ReadBytes(dir.File("dib.bmp")));
    }
}

}  // namespace

namespace {

TYPED_TEST(DibKinds, ResizesLikePlainMemory) {
    CMemBitmap picture, plain;
    CreatePattern(picture, 45, 31, 32);
    plain.ResizeFrom(picture, 20, 15);
    TypeParam source, resized;
    source.CopyFrom(picture, 0);
    resized.ResizeFrom(source, 20, 15);
    std::string why;
    EXPECT_TRUE(SamePixels(plain, resized, &why)) << why;
}

}  // namespace
