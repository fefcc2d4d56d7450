// The bilinear resize: contribution windows, rounding, and the fast passes against the
// arithmetic written out plainly.
#include "imagelib/bilinear_resize_filter.h"
#include "imagelib/image_filter.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/resampler.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// Resizes a one-row 32-bit bitmap whose four channels all carry the given values, and
// returns the row's values, checking that every channel (alpha too) came out alike.
std::vector<int> ResizedRow(const std::vector<int>& values, int newWidth) {
    CMemBitmap source, target;
    source.Create(static_cast<int>(values.size()), 1, 32, true);
    for (size_t x = 0; x < values.size(); ++x) {
        const auto v = static_cast<uint8_t>(values[x]);
        source.PixelLine(0)[x] = BGRA{v, v, v, v};
    }
    target.ResizeFrom(source, newWidth, 1);
    EXPECT_TRUE(target.HasAlpha());
    std::vector<int> result;
    for (int x = 0; x < target.Width(); ++x) {
        const BGRA p = target.PixelLine(0)[x];
        EXPECT_TRUE(p.g == p.b && p.r == p.b && p.a == p.b) << "channels differ at " << x;
        result.push_back(p.b);
    }
    return result;
}

TEST(ResampleArithmetic, EnlargingInterpolatesBetweenNeighbours) {
    EXPECT_EQ(ResizedRow({0, 100}, 4), (std::vector<int>{0, 50, 100, 100}));
    EXPECT_EQ(ResizedRow({7}, 3), (std::vector<int>{7, 7, 7}));
}

TEST(ResampleArithmetic, ReducingAveragesOverAWidenedTriangle) {
    EXPECT_EQ(ResizedRow({0, 100, 200, 100}, 2), (std::vector<int>{33, 150}));
}

TEST(ResampleArithmetic, RoundsHalvesUpAndTruncatesBelow) {
    // Scale 4: sample 1 sits a quarter of the way from source 0 to source 1.
    EXPECT_EQ(ResizedRow({66, 0}, 8)[1], 50) << "0.75 * 66 = 49.5";
    EXPECT_EQ(ResizedRow({65, 2}, 8)[1], 49) << "48.75 + 0.5 = 49.25";
    EXPECT_EQ(ResizedRow({49, 50}, 4)[1], 50) << "49.5";
}

TEST(ResampleArithmetic, ContributionWindows) {
    CResampler resampler;
    const ContributionList reduce = resampler.Contributions(2, 4);
    EXPECT_EQ(reduce.windowSize, 5);
    EXPECT_EQ(reduce.left, (std::vector<int>{0, 0}));
    EXPECT_EQ(reduce.right, (std::vector<int>{2, 3}));
    EXPECT_DOUBLE_EQ(reduce.WeightsOf(0)[0], 0.5 / 0.75);
    EXPECT_DOUBLE_EQ(reduce.WeightsOf(0)[1], 0.25 / 0.75);
    EXPECT_EQ(reduce.WeightsOf(0)[2], 0.0);
    EXPECT_EQ(std::vector<double>(reduce.WeightsOf(1), reduce.WeightsOf(1) + 4), (std::vector<double>{0, 0.25, 0.5, 0.25}));

    // Enlarging 10 to 20: sample 3 sits at 1.5, and its window 0..3 is one too wide, so it
    // loses its left end.
    const ContributionList enlarge = resampler.Contributions(20, 10);
    EXPECT_EQ(enlarge.windowSize, 3);
    EXPECT_EQ(enlarge.left[3], 1);
    EXPECT_EQ(enlarge.right[3], 3);
    EXPECT_EQ(std::vector<double>(enlarge.WeightsOf(3), enlarge.WeightsOf(3) + 3), (std::vector<double>{0.5, 0.5, 0}));
    EXPECT_EQ(enlarge.left[19], 8);
    EXPECT_EQ(enlarge.right[19], 9);
    EXPECT_EQ(std::vector<double>(enlarge.WeightsOf(19), enlarge.WeightsOf(19) + 2), (std::vector<double>{0, 1}));

    // Reducing by 3: the triangle reaches three samples to each side.
    EXPECT_EQ(resampler.Contributions(100, 300).windowSize, 7);
}

// The same resize written out plainly from the rules: full windows, one channel at a time,
// every weight in order. The library's passes must agree with it byte for byte.
struct Window {
    int left = 0;
    int right = 0;
    std::vector<double> weights;
};

std::vector<Window> PlainWindows(int count, int n) {
    const double scale = static_cast<double>(count) / n;
    const double radius = scale < 1 ? 1.0 / scale : 1.0;
    const double factor = scale < 1 ? scale : 1.0;
    const int windowSize = 2 * static_cast<int>(std::ceil(radius)) + 1;
    std::vector<Window> windows(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Window& w = windows[static_cast<size_t>(i)];
        const double centre = i / scale;
        w.left = std::max(0, static_cast<int>(std::floor(centre - radius)));
        w.right = std::min(static_cast<int>(std::ceil(centre + radius)), n - 1);
        if (w.right - w.left + 1 > windowSize) ++w.left;
        double sum = 0;
        for (int k = w.left; k <= w.right; ++k) {
            const double x = std::fabs((centre - k) * factor);
            w.weights.push_back(x < 1.0 ? factor * (1.0 - x) : 0.0);
            sum += w.weights.back();
        }
        if (sum > 0)
            for (double& weight : w.weights) weight /= sum;
    }
    return windows;
}

std::vector<uint8_t> PlainResize(const CImageBitmap& source, int newWidth, int newHeight) {
    const int width = source.Width();
    const int height = source.Height();
    std::vector<uint8_t> middle(static_cast<size_t>(newWidth) * height * 4);
    const auto across = PlainWindows(newWidth, width);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < newWidth; ++x)
            for (int c = 0; c < 4; ++c) {
                const Window& w = across[static_cast<size_t>(x)];
                double value = 0;
                for (int k = w.left; k <= w.right; ++k) value += w.weights[static_cast<size_t>(k - w.left)] * source.Line(y)[4 * k + c];
                middle[(static_cast<size_t>(y) * newWidth + x) * 4 + c] = static_cast<uint8_t>(static_cast<int>(value + 0.5));
            }
    std::vector<uint8_t> result(static_cast<size_t>(newWidth) * newHeight * 4);
    const auto down = PlainWindows(newHeight, height);
    for (int x = 0; x < newWidth; ++x)
        for (int y = 0; y < newHeight; ++y)
            for (int c = 0; c < 4; ++c) {
                const Window& w = down[static_cast<size_t>(y)];
                double value = 0;
                for (int k = w.left; k <= w.right; ++k)
                    value += w.weights[static_cast<size_t>(k - w.left)] * middle[(static_cast<size_t>(k) * newWidth + x) * 4 + c];
                result[(static_cast<size_t>(y) * newWidth + x) * 4 + c] = static_cast<uint8_t>(static_cast<int>(value + 0.5));
            }
    return result;
}

void FillNoise(CImageBitmap& bitmap, uint32_t seed) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < 4 * bitmap.Width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            bitmap.Line(y)[x] = static_cast<uint8_t>(seed >> 24);
        }
}

TEST(ResampleArithmetic, FastPassesMatchThePlainArithmeticExactly) {
    const struct {
        int width, height, newWidth, newHeight;
    } cases[] = {
        {1, 1, 1, 1},    {1, 1, 5, 3},     {2, 2, 1, 1},      {7, 5, 3, 2},   {13, 9, 29, 17}, {100, 3, 7, 40},
        {37, 41, 37, 41}, {64, 1, 1, 64},  {9, 13, 8, 12},    {300, 7, 11, 5}, {5, 300, 17, 9}, {33, 19, 66, 38},
        {640, 480, 100, 75}, {19, 11, 45, 4},
    };
    uint32_t seed = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " to " + std::to_string(c.newWidth) +
                     "x" + std::to_string(c.newHeight));
        CMemBitmap source, target;
        source.Create(c.width, c.height, 32, false);
        FillNoise(source, seed++);
        target.ResizeFrom(source, c.newWidth, c.newHeight);
        ASSERT_EQ(target.Size(), std::make_pair(c.newWidth, c.newHeight));
        const std::vector<uint8_t> expected = PlainResize(source, c.newWidth, c.newHeight);
        int mismatches = 0;
        for (int y = 0; y < c.newHeight; ++y)
            mismatches += std::memcmp(target.Line(y), &expected[static_cast<size_t>(y) * c.newWidth * 4],
                                      static_cast<size_t>(c.newWidth) * 4) != 0;
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(ResampleArithmetic, SameSizeReproducesTheImage) {
    CMemBitmap source, target;
    source.Create(23, 17, 32, true);
    FillNoise(source, 99);
    target.ResizeFrom(source, 23, 17);
    std::string why;
    EXPECT_TRUE(SamePixels(source, target, &why)) << why;
    EXPECT_TRUE(target.HasAlpha());
}

TEST(ResizeFilter, ResizesInPlaceThroughAScratchBitmap) {
    CMemBitmap picture, copy, expected;
    picture.Create(31, 12, 32, false);
    FillNoise(picture, 7);
    copy.CopyFrom(picture, 0);
    expected.ResizeFrom(copy, 12, 31);
    picture.ResizeFrom(picture, 12, 31);
    std::string why;
    EXPECT_TRUE(SamePixels(expected, picture, &why)) << why;
}

TEST(ResizeFilter, RefusesSourcesBelow32BitsAndKeepsTheDestination) {
    CMemBitmap source, target;
    source.Create(8, 8, 8, false);
    target.Create(3, 3, 32, false);
    try {
        target.ResizeFrom(source, 4, 4);
        FAIL() << "an 8-bit source was resized";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANNOT_HANDLE);
    }
    EXPECT_EQ(target.Size(), std::make_pair(3, 3));
}

TEST(ResizeFilter, RefusesAnIntermediateImageOverTheStorageLimit) {
    // A tall thin picture made wide: the horizontal pass's output is 1000 x 1000 pixels.
    CMemBitmap source, target;
    source.Create(1, 1000, 32, false);
    SetBitmapStorageLimit(1 << 20);
    int code = 0;
    try {
        target.ResizeFrom(source, 1000, 1);
    } catch (const CTextException& e) {
        code = e.Code();
    }
    SetBitmapStorageLimit(kDefaultBitmapStorageLimit);
    EXPECT_EQ(code, ERR_OUT_OF_MEMORY);
}

// A filter that only knows how to work in place: inverts every byte.
class CInvertFilter : public CImageFilter {
public:
    void ApplyInPlace(CImageBitmap& bitmap) override {
        for (int y = 0; y < bitmap.Height(); ++y)
            for (size_t x = 0; x < bitmap.BytesPerLine(); ++x) bitmap.Line(y)[x] = static_cast<uint8_t>(~bitmap.Line(y)[x]);
    }
};

// A filter that only knows how to write a destination: a copy at 1 bit.
class CMonoFilter : public CImageFilter {
public:
    void Apply(CImageBitmap& source, CImageBitmap& destination) override { destination.CopyFrom(source, 1); }
};

TEST(ImageFilter, EachBaseOperationIsWrittenInTermsOfTheOther) {
    CMemBitmap source, target;
    source.Create(3, 2, 32, false);
    FillNoise(source, 5);
    const uint8_t first = source.Line(0)[0];
    CInvertFilter invert;
    invert.Apply(source, target);
    EXPECT_EQ(target.Line(0)[0], static_cast<uint8_t>(~first));
    EXPECT_EQ(source.Line(0)[0], first) << "the source is left alone";

    CMonoFilter mono;
    mono.ApplyInPlace(source);
    EXPECT_EQ(source.BitsPerPixel(), 1);
    EXPECT_EQ(source.Size(), std::make_pair(3, 2));
}

}  // namespace
