// Colour quantization: the three palettes, the three mappings, and 32-to-8-bit copies.
#include "imagelib/mem_bitmap.h"
#include "imagelib/quantize_filter.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <set>

namespace {

BGRA Bgr(int b, int g, int r) { return BGRA{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 255}; }

// A width x height 32-bit bitmap of one colour.
void CreateFlat(CImageBitmap& bitmap, int width, int height, BGRA colour) {
    bitmap.Create(width, height, 32, false);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bitmap.PixelLine(y)[x] = colour;
}

// The lowest fixed-palette index at the smallest squared distance, found the long way.
int NearestFixed(BGRA colour) {
    const auto& palette = CQuantizeFilter::FixedPalette();
    int best = 0, bestDistance = INT_MAX;
    for (int i = 0; i < 256; ++i) {
        const BGRA& e = palette[static_cast<size_t>(i)];
        const int d = (colour.b - e.b) * (colour.b - e.b) + (colour.g - e.g) * (colour.g - e.g) + (colour.r - e.r) * (colour.r - e.r);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

int Quantized(BGRA colour) {
    CMemBitmap source, target;
    CreateFlat(source, 1, 1, colour);
    target.CopyFrom(source, 8);
    return target.Line(0)[0];
}

// The mean of what the 8-bit bitmap shows on one channel (0 blue, 1 green, 2 red).
double MeanShown(const CImageBitmap& bitmap, int channel) {
    double sum = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const BGRA e = bitmap.Palette()[bitmap.Line(y)[x]];
            sum += channel == 0 ? e.b : channel == 1 ? e.g : e.r;
        }
    return sum / (bitmap.Width() * bitmap.Height());
}

std::set<int> IndicesUsed(const CImageBitmap& bitmap) {
    std::set<int> used;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) used.insert(bitmap.Line(y)[x]);
    return used;
}

TEST(FixedPalette, HoldsTheSystemColoursTheCubeAndTheGreys) {
    const auto& palette = CQuantizeFilter::FixedPalette();
    const struct {
        int index;
        BGRA colour;
    } cases[] = {
        {0, Bgr(0, 0, 0)},          {1, Bgr(191, 0, 0)},       {9, Bgr(166, 202, 240)},  {15, Bgr(0, 128, 128)},
        {16, Bgr(0, 81, 0)},        {45, Bgr(255, 255, 0)},    {46, Bgr(0, 0, 81)},      {63, Bgr(255, 133, 81)},
        {190, Bgr(0, 0, 255)},      {224, Bgr(217, 255, 255)}, {225, Bgr(196, 196, 196)}, {244, Bgr(253, 253, 253)},
        {245, Bgr(155, 207, 207)},  {247, Bgr(160, 160, 164)}, {248, Bgr(128, 128, 128)}, {252, Bgr(0, 0, 255)},
        {255, Bgr(255, 255, 255)},
    };
    for (const auto& c : cases) EXPECT_EQ(palette[static_cast<size_t>(c.index)], c.colour) << "entry " << c.index;
}

TEST(FixedPalette, CopyFromMapsToTheNearestEntryLowestIndexFirst) {
    EXPECT_EQ(Quantized(Bgr(0, 0, 0)), 0);
    EXPECT_EQ(Quantized(Bgr(255, 255, 255)), 255) << "the cube leaves white out";
    EXPECT_EQ(Quantized(Bgr(0, 0, 255)), 190) << "entries 190 and 252 are both exact";
    EXPECT_EQ(Quantized(BGRA{10, 200, 30, 0}), Quantized(Bgr(10, 200, 30))) << "alpha plays no part";
    for (BGRA c : {Bgr(100, 100, 100), Bgr(12, 240, 77), Bgr(250, 3, 128), Bgr(199, 199, 199)})
        EXPECT_EQ(Quantized(c), NearestFixed(c));

    CMemBitmap source, target;
    CreateFlat(source, 2, 1, Bgr(1, 2, 3));
    target.CopyFrom(source, 8);
    EXPECT_EQ(target.BitsPerPixel(), 8);
    EXPECT_FALSE(target.HasAlpha());
    EXPECT_EQ(target.Palette()[190], Bgr(0, 0, 255));
}

TEST(FixedPalette, PixelsSharingAKeyTakeTheIndexOfTheFirst) {
    // Both lie in the key of levels 13: one is nearest to (81, 81, 81), the other to grey 128.
    const BGRA low = Bgr(104, 104, 104);
    const BGRA high = Bgr(111, 111, 111);
    ASSERT_NE(NearestFixed(low), NearestFixed(high));
    for (bool lowFirst : {true, false}) {
        CMemBitmap source, target;
        source.Create(2, 1, 32, false);
        source.PixelLine(0)[0] = lowFirst ? low : high;
        source.PixelLine(0)[1] = lowFirst ? high : low;
        target.CopyFrom(source, 8);
        const int expected = NearestFixed(lowFirst ? low : high);
        EXPECT_EQ(target.Line(0)[0], expected);
        EXPECT_EQ(target.Line(0)[1], expected);
    }
}

TEST(MedianCut, SingleColourLeavesOneBoxAndZeros) {
    CMemBitmap source, target;
    CreateFlat(source, 5, 4, Bgr(100, 150, 200));
    CQuantizeFilter(CQuantizeFilter::kMedianCut, CQuantizeFilter::kNoDither).Apply(source, target);
    const BGRA* palette = target.Palette();
    // Levels 12, 18 and 25, each spanning one level: (2 * level) * 255 / 62.
    EXPECT_EQ(palette[8], (BGRA{98, 148, 205, 0}));
    for (int i = 9; i < 256; ++i) ASSERT_EQ(palette[i], (BGRA{0, 0, 0, 0})) << i;
    EXPECT_EQ(palette[1], (BGRA{0, 0, 255, 0})) << "the fixed red box";
    EXPECT_EQ(palette[7], (BGRA{255, 255, 255, 0}));
    EXPECT_EQ(IndicesUsed(target), std::set<int>{8});
}

TEST(MedianCut, SeparatesTheColoursOfAPicture) {
    // Four clusters of slightly different shades: the palette needs an entry near each.
    const BGRA centres[4] = {Bgr(40, 90, 200), Bgr(200, 60, 60), Bgr(120, 220, 30), Bgr(90, 90, 90)};
    CMemBitmap source, target;
    source.Create(64, 64, 32, false);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const BGRA c = centres[(x / 32) + 2 * (y / 32)];
            const int d = (x + y) % 12;
            source.PixelLine(y)[x] = Bgr(c.b + d, c.g + d, c.r + d);
        }
    CQuantizeFilter(CQuantizeFilter::kMedianCut, CQuantizeFilter::kNoDither).Apply(source, target);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const BGRA in = source.PixelLine(y)[x];
            const BGRA out = target.Palette()[target.Line(y)[x]];
            ASSERT_LE(std::abs(in.b - out.b) + std::abs(in.g - out.g) + std::abs(in.r - out.r), 24) << x << "," << y;
        }
}

TEST(Popularity, OrdersKeysByCountAndKeepsTheRampElsewhere) {
    CMemBitmap source, target;
    source.Create(10, 1, 32, false);
    // Three keys: 5 pixels, 3 pixels, 2 pixels.
    const BGRA colours[10] = {Bgr(0, 200, 0),  Bgr(0, 200, 0),   Bgr(0, 200, 0),  Bgr(0, 200, 0),  Bgr(0, 200, 0),
                              Bgr(96, 8, 160), Bgr(96, 8, 160),  Bgr(96, 8, 160), Bgr(40, 80, 40), Bgr(40, 80, 40)};
    for (int x = 0; x < 10; ++x) source.PixelLine(0)[x] = colours[x];
    CQuantizeFilter(CQuantizeFilter::kPopularity, CQuantizeFilter::kNoDither).Apply(source, target);
    const BGRA* palette = target.Palette();
    auto scaled = [](int value) { return static_cast<uint8_t>((value >> 3) * 255 / 31); };
    EXPECT_EQ(palette[8], (BGRA{scaled(0), scaled(200), scaled(0), 0}));
    EXPECT_EQ(palette[9], (BGRA{scaled(96), scaled(8), scaled(160), 0}));
    EXPECT_EQ(palette[10], (BGRA{scaled(40), scaled(80), scaled(40), 0}));
    EXPECT_EQ(palette[4], (BGRA{255, 0, 255, 0}));
    EXPECT_EQ(palette[11], (BGRA{11, 11, 11, 255})) << "unreached entries keep the grey ramp";
    EXPECT_EQ(target.Line(0)[0], 8);
    EXPECT_EQ(target.Line(0)[5], 9);
    EXPECT_EQ(target.Line(0)[9], 10);
}

TEST(Popularity, CountsSaturateSoEqualCountsKeepTheEarlierKey) {
    // 70000 pixels of a later key against 66000 of an earlier one: both count 65535, so
    // the earlier key (lower red level) takes entry 8.
    const BGRA early = Bgr(0, 0, 8);
    const BGRA late = Bgr(0, 0, 16);
    CMemBitmap source, target;
    source.Create(400, 340, 32, false);
    for (int y = 0; y < 340; ++y)
        for (int x = 0; x < 400; ++x) source.PixelLine(y)[x] = y * 400 + x < 70000 ? late : early;
    CQuantizeFilter(CQuantizeFilter::kPopularity, CQuantizeFilter::kNoDither).Apply(source, target);
    EXPECT_EQ(target.Palette()[8], (BGRA{0, 0, 8, 0}));
    EXPECT_EQ(target.Palette()[9], (BGRA{0, 0, 16, 0}));
}

TEST(Dithering, OrderedAndErrorDiffusionKeepTheMeanOfAFlatGrey) {
    const BGRA grey = Bgr(100, 100, 100);
    for (int dither : {CQuantizeFilter::kNoDither, CQuantizeFilter::kOrderedDither, CQuantizeFilter::kFloydSteinberg}) {
        SCOPED_TRACE(dither);
        CMemBitmap source, target;
        CreateFlat(source, 37, 29, grey);
        CQuantizeFilter(CQuantizeFilter::kFixedPalette, dither).Apply(source, target);
        if (dither == CQuantizeFilter::kNoDither) {
            EXPECT_EQ(IndicesUsed(target).size(), 1u);
            continue;
        }
        EXPECT_GE(IndicesUsed(target).size(), 2u) << "a dither mixes entries";
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(MeanShown(target, c), 100, dither == CQuantizeFilter::kFloydSteinberg ? 2 : 12);
    }
}

TEST(Dithering, OrderedOffsetsDependOnTheRowAndThePixelsLeftInIt) {
    // Grey 195 with each offset lands in a key of its own, so every pixel takes the entry
    // nearest to its own offset colour.
    const int matrix[16] = {-7, 1, -5, 3, 5, -3, 7, -1, -4, 4, -6, 2, 8, 0, 6, -2};
    auto expected = [&](int pixelsAfter, int row) {
        const int v = 195 + 2 * matrix[(pixelsAfter % 4) * 4 + row % 4];
        return NearestFixed(Bgr(v, v, v));
    };
    CMemBitmap column, row, columnOut, rowOut;
    CreateFlat(column, 1, 4, Bgr(195, 195, 195));
    CreateFlat(row, 4, 1, Bgr(195, 195, 195));
    CQuantizeFilter(CQuantizeFilter::kFixedPalette, CQuantizeFilter::kOrderedDither).Apply(column, columnOut);
    CQuantizeFilter(CQuantizeFilter::kFixedPalette, CQuantizeFilter::kOrderedDither).Apply(row, rowOut);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(columnOut.Line(y)[0], expected(0, y)) << "row " << y;
    for (int x = 0; x < 4; ++x) EXPECT_EQ(rowOut.Line(0)[x], expected(3 - x, 0)) << "column " << x;
    EXPECT_EQ(IndicesUsed(columnOut).size(), 4u);
}

TEST(QuantizeFilter, RefusesOtherDepthsAndConvertsInPlace) {
    CMemBitmap bitmap, target;
    bitmap.Create(4, 4, 8, false);
    target.Create(2, 2, 32, false);
    try {
        CQuantizeFilter(CQuantizeFilter::kFixedPalette, CQuantizeFilter::kNoDither).Apply(bitmap, target);
        FAIL() << "an 8-bit source was quantized";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANNOT_HANDLE);
    }
    EXPECT_EQ(target.BitsPerPixel(), 32);

    CreateFlat(bitmap, 3, 3, Bgr(0, 0, 255));
    CQuantizeFilter(CQuantizeFilter::kFixedPalette, CQuantizeFilter::kNoDither).ApplyInPlace(bitmap);
    EXPECT_EQ(bitmap.BitsPerPixel(), 8);
    EXPECT_EQ(bitmap.Line(2)[2], 190);
}

}  // namespace
