#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

int CodeOf(auto&& action) {
    try {
        action();
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

}  // namespace

TEST(BitmapTest, LineLengthsAreUnpaddedInMemoryBitmaps) {
    for (auto [width, depth, expected] : {std::tuple{1, 1, 1}, {9, 1, 2}, {5, 8, 5}, {3, 32, 12}}) {
        CMemBitmap bitmap;
        bitmap.Create(width, 2, depth, false);
        EXPECT_EQ(bitmap.BytesPerLine(), static_cast<size_t>(expected)) << width << " x " << depth;
        EXPECT_EQ(bitmap.Line(1) - bitmap.Line(0), expected);
    }
}

TEST(BitmapTest, NewBitmapsCarryGreyRampPalettes) {
    CMemBitmap fresh;
    EXPECT_EQ(fresh.Size(), std::make_pair(16, 16));
    EXPECT_EQ(fresh.BitsPerPixel(), 8);
    EXPECT_EQ(fresh.Palette()[200], (BGRA{200, 200, 200, 255}));

    CMemBitmap mono;
    mono.Create(4, 4, 1, false);
    EXPECT_EQ(mono.Palette()[0], (BGRA{0, 0, 0, 255}));
    EXPECT_EQ(mono.Palette()[1], (BGRA{255, 255, 255, 255}));

    CMemBitmap wide;
    wide.Create(4, 4, 32, true);
    EXPECT_EQ(wide.Palette(), nullptr);
    EXPECT_TRUE(wide.HasAlpha());
    EXPECT_EQ(wide.MemoryUsed(), 4u * 16 + 88);
}

TEST(BitmapTest, CopyConvertsBetweenDepths) {
    CMemBitmap wide;
    wide.Create(3, 1, 32, false);
    wide.PixelLine(0)[0] = BGRA{127, 127, 127, 255};
    wide.PixelLine(0)[1] = BGRA{0, 0, 128, 255};
    wide.PixelLine(0)[2] = BGRA{255, 255, 255, 255};

    CMemBitmap mono;
    mono.CopyFrom(wide, 1);
    EXPECT_EQ(mono.BitsPerPixel(), 1);
    EXPECT_EQ(mono.Line(0)[0], 0b10000000) << "dark grey is black (1); a pixel with one bright channel is white";
    EXPECT_EQ(mono.Palette()[0], (BGRA{255, 255, 255, 255}));
    EXPECT_EQ(mono.Palette()[1], (BGRA{0, 0, 0, 255}));

    CMemBitmap back;
    back.CopyFrom(mono, 32);
    EXPECT_EQ(back.PixelLine(0)[0], (BGRA{0, 0, 0, 255}));
    EXPECT_EQ(back.PixelLine(0)[1], (BGRA{255, 255, 255, 255}));

    CMemBitmap indexed;
    indexed.CopyFrom(mono, 8);
    EXPECT_EQ(indexed.Line(0)[0], 1);
    EXPECT_EQ(indexed.Line(0)[1], 0);
    EXPECT_EQ(indexed.Palette()[0], (BGRA{255, 255, 255, 255}));
    EXPECT_EQ(indexed.Palette()[5], (BGRA{5, 5, 5, 255})) << "entries past the two colours keep the grey ramp";

    indexed.Palette()[0] = BGRA{1, 2, 3, 4};
    CMemBitmap expanded;
    expanded.CopyFrom(indexed, 32);
    EXPECT_EQ(expanded.PixelLine(0)[1], (BGRA{1, 2, 3, 4})) << "8 to 32 bits takes palette entries, alpha included";
}

TEST(BitmapTest, CopyWithoutConversionDuplicatesPixelsAndPalette) {
    CMemBitmap source;
    source.Create(2, 2, 8, false);
    source.Line(1)[1] = 77;
    source.Palette()[77] = BGRA{9, 8, 7, 255};
    for (int depth : {0, 8}) {
        CMemBitmap copy;
        copy.CopyFrom(source, depth);
        EXPECT_EQ(copy.Line(1)[1], 77);
        EXPECT_EQ(copy.Palette()[77], (BGRA{9, 8, 7, 255}));
    }
    source.CopyFrom(source, 8);
    EXPECT_EQ(source.Line(1)[1], 77);
    EXPECT_EQ(source.LockCount(), 0);
}

TEST(BitmapTest, ImpossibleAndOversizedBitmapsAreRefusedBeforeAllocating) {
    CMemBitmap bitmap;
    bitmap.Create(5, 5, 32, false);
    EXPECT_EQ(CodeOf([&] { bitmap.Create(100000, 100000, 32, false); }), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(CodeOf([&] { bitmap.Create(INT32_MAX, INT32_MAX, 32, false); }), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(CodeOf([&] { bitmap.Create(0, 5, 32, false); }), ERR_BAD_DATA);
    EXPECT_EQ(CodeOf([&] { bitmap.Create(5, -1, 8, false); }), ERR_BAD_DATA);
    EXPECT_EQ(CodeOf([&] { bitmap.Create(5, 5, 24, false); }), ERR_BAD_DATA);
    EXPECT_EQ(bitmap.Size(), std::make_pair(5, 5)) << "a refused Create keeps the previous image";

    // Half a gigapixel fits the default limit; a lower limit refuses much less.
    EXPECT_GE(BitmapStorageLimit(), uint64_t{500'000'000} * 4);
    const uint64_t saved = BitmapStorageLimit();
    SetBitmapStorageLimit(1000);
    EXPECT_EQ(CodeOf([&] { bitmap.Create(16, 16, 32, false); }), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(CodeOf([&] { bitmap.Create(15, 16, 32, false); }), 0);
    SetBitmapStorageLimit(saved);
}
