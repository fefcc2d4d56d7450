// Turning pictures upright in the window-system bitmap kinds: padded rows, bottom-up rows
// (CDIBitmap) and rows whose start is not 16-byte aligned turn as in plain memory, and the
// bitmap stays of its kind with the turned picture in its own storage.
#include "imagelib/dib_bitmap.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/orientation.h"
#include "support/test_files.h"

#include <QColor>
#include <gtest/gtest.h>

namespace {

template <typename Bitmap>
class DibOrientation : public ::testing::Test {};
using Kinds = ::testing::Types<CDIBitmap, CDIBSectionBitmap>;
TYPED_TEST_SUITE(DibOrientation, Kinds);

}  // namespace

TYPED_TEST(DibOrientation, EveryOrientationTurnsLikePlainMemory) {
    for (const int depth : {32, 8, 1})
        for (const auto& [width, height] : std::vector<std::pair<int, int>>{{133, 70}, {5, 3}})
            for (int orientation = 2; orientation <= 8; ++orientation) {
                SCOPED_TRACE(testing::Message() << depth << " bits, " << width << " x " << height << ", orientation "
                                                << orientation);
                CMemBitmap plain;
                CreatePattern(plain, width, height, depth);
                TypeParam bitmap;
                bitmap.CopyFrom(plain, 0);
                plain.Metadata().orientation = orientation;
                bitmap.Metadata().orientation = orientation;
                ApplyOrientation(plain);
                ApplyOrientation(bitmap);
                std::string why;
                EXPECT_TRUE(SamePixels(bitmap, plain, &why)) << why;
                EXPECT_EQ(bitmap.BitsPerPixel(), depth);
            }
}

TEST(DibOrientation, TheSectionsImageShowsTheTurnedPicture) {
    CMemBitmap plain;
    CreatePattern(plain, 7, 3, 32);
    CDIBSectionBitmap section;
    section.CopyFrom(plain, 0);
    section.Metadata().orientation = 8;
    ApplyOrientation(section);
    const QImage image = section.BitmapHandle();
    ASSERT_EQ(image.size(), QSize(3, 7));
    // Orientation 8: the stored last column is the top row.
    for (int x = 0; x < 3; ++x) {
        const BGRA stored = plain.PixelLine(x)[6];
        EXPECT_EQ(QColor(image.pixel(x, 0)), QColor(stored.r, stored.g, stored.b)) << x;
    }
}
