#include "imagelib/mem_bitmap.h"
#include "imagelib/orientation.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The picture as stored, three by two, every pixel its own letter:
//   A B C
//   D E F
// and how each Exif orientation shows it upright.
const std::vector<std::string> kUpright[9] = {
    {},
    {"ABC", "DEF"},
    {"CBA", "FED"},
    {"FED", "CBA"},
    {"DEF", "ABC"},
    {"AD", "BE", "CF"},
    {"DA", "EB", "FC"},
    {"FC", "EB", "DA"},
    {"CF", "BE", "AD"},
};

BGRA Colour(char letter) {
    const int i = letter - 'A';
    return BGRA{static_cast<uint8_t>(10 + i), static_cast<uint8_t>(40 * i), static_cast<uint8_t>(250 - 30 * i),
                static_cast<uint8_t>(100 + i)};
}

void MakeLetters(CImageBitmap& bitmap, int depth, int orientation) {
    bitmap.Create(3, 2, depth, depth == 32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const char letter = static_cast<char>('A' + 3 * y + x);
            if (depth == 32)
                bitmap.PixelLine(y)[x] = Colour(letter);
            else
                bitmap.Line(y)[x] = static_cast<uint8_t>(letter - 'A' + 7);
        }
    if (depth == 8)
        for (char letter = 'A'; letter <= 'F'; ++letter) bitmap.Palette()[letter - 'A' + 7] = Colour(letter);
    bitmap.Metadata().orientation = orientation;
}

std::vector<std::string> Letters(const CImageBitmap& bitmap) {
    std::vector<std::string> rows;
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::string row;
        for (int x = 0; x < bitmap.Width(); ++x) {
            const BGRA pixel = bitmap.BitsPerPixel() == 32 ? bitmap.PixelLine(y)[x] : bitmap.Palette()[bitmap.Line(y)[x]];
            char letter = '?';
            for (char c = 'A'; c <= 'F'; ++c)
                if (Colour(c) == pixel) letter = c;
            row += letter;
        }
        rows.push_back(row);
    }
    return rows;
}

BGRA At(const CImageBitmap& bitmap, int x, int y) { return bitmap.PixelLine(y)[x]; }

// A copy of bitmap with its orientation set to orientation and applied.
void Oriented(CImageBitmap& out, CImageBitmap& source, int orientation) {
    out.CopyFrom(source, 0);
    out.Metadata().orientation = orientation;
    ApplyOrientation(out);
}

}  // namespace

TEST(OrientationTest, EveryOrientationShowsThePictureUpright) {
    for (int depth : {32, 8})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << depth << " bits, orientation " << orientation);
            CMemBitmap bitmap;
            MakeLetters(bitmap, depth, orientation);
            bitmap.Metadata().iccProfile = {1, 2, 3};
            ApplyOrientation(bitmap);
            EXPECT_EQ(Letters(bitmap), kUpright[orientation]);
            EXPECT_EQ(bitmap.BitsPerPixel(), depth);
            EXPECT_EQ(bitmap.HasAlpha(), depth == 32);
            EXPECT_EQ(bitmap.Metadata().orientation, 1) << "applied";
            EXPECT_EQ(bitmap.Metadata().iccProfile, std::vector<uint8_t>({1, 2, 3}));
        }
}

TEST(OrientationTest, ValuesOutsideOneToEightLeaveThePictureAsStored) {
    for (int orientation : {0, 9, -1}) {
        CMemBitmap bitmap;
        MakeLetters(bitmap, 32, orientation);
        ApplyOrientation(bitmap);
        EXPECT_EQ(Letters(bitmap), kUpright[1]);
        EXPECT_EQ(bitmap.Metadata().orientation, orientation);
    }
}

// Pictures wider and taller than a cache block, with sides that are no multiple of four,
// so that whole squares, edge pixels and several bands of rows all take part. A transpose
// is checked pixel by pixel; the other quarter turns are a transpose and a mirror or half
// turn (done in place, without the blocks).
TEST(OrientationTest, QuarterTurnsOfLargePicturesAgreeWithTransposeAndMirror) {
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{1003, 302}, {130, 1027}, {1, 5}, {7, 1}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        CMemBitmap stored;
        stored.Create(width, height, 32, false);
        FillGradient(stored);
        CMemBitmap transposed;
        Oriented(transposed, stored, 5);
        ASSERT_EQ(transposed.Size(), std::make_pair(height, width));
        bool same = true;
        for (int y = 0; y < width && same; ++y)
            for (int x = 0; x < height && same; ++x) same = At(transposed, x, y) == At(stored, y, x);
        EXPECT_TRUE(same);
        for (const auto& [orientation, then] : std::vector<std::pair<int, int>>{{6, 2}, {7, 3}, {8, 4}}) {
            CMemBitmap turned;
            Oriented(turned, stored, orientation);
            CMemBitmap expected;
            Oriented(expected, transposed, then);
            std::string why;
            EXPECT_TRUE(SamePixels(turned, expected, &why)) << orientation << ": " << why;
        }
    }
}

TEST(OrientationTest, OneBitPicturesTurnLikeTheirEightBitCopies) {
    CMemBitmap bits;
    CreatePattern(bits, 13, 6, 1);
    for (int orientation = 2; orientation <= 8; ++orientation) {
        CMemBitmap turnedBits;
        Oriented(turnedBits, bits, orientation);
        CMemBitmap bytes;
        bytes.CopyFrom(bits, 8);
        CMemBitmap turnedBytes;
        Oriented(turnedBytes, bytes, orientation);
        CMemBitmap widened;
        widened.CopyFrom(turnedBits, 8);
        EXPECT_EQ(turnedBits.BitsPerPixel(), 1);
        std::string why;
        EXPECT_TRUE(SamePixels(widened, turnedBytes, &why)) << orientation << ": " << why;
    }
}
