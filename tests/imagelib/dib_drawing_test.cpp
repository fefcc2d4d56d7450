// Drawing the window-system bitmaps with QPainter, and the section's QImage handle.
#include "codecs/auto_decoder.h"
#include "imagelib/dib_bitmap.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "support/test_files.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

template <typename Bitmap>
class DibDrawing : public ::testing::Test {};
using Kinds = ::testing::Types<CDIBitmap, CDIBSectionBitmap>;
TYPED_TEST_SUITE(DibDrawing, Kinds);

constexpr QRgb kBackground = 0xFF010203;

QImage Canvas(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage canvas(width, height, format);
    canvas.fill(kBackground);
    return canvas;
}

// The colour the bitmap shows at (x, y), alpha ignored: the pixel or its palette entry.
QRgb Shown(const CImageBitmap& bitmap, int x, int y) {
    BGRA p;
    if (bitmap.BitsPerPixel() == 32) {
        p = bitmap.PixelLine(y)[x];
    } else if (bitmap.BitsPerPixel() == 8) {
        p = bitmap.Palette()[bitmap.Line(y)[x]];
    } else {
        p = bitmap.Palette()[(bitmap.Line(y)[x >> 3] >> (7 - (x & 7))) & 1];
    }
    return qRgb(p.r, p.g, p.b);
}

// Compares the canvas area at (left, top) with the whole bitmap; "" when equal.
std::string CompareShown(const QImage& canvas, int left, int top, const CImageBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if ((canvas.pixel(left + x, top + y) | 0xFF000000) != Shown(bitmap, x, y))
                return "pixel " + std::to_string(x) + "," + std::to_string(y);
    return {};
}

// The bounding box of the canvas pixels that are not the background.
QRect PaintedArea(const QImage& canvas) {
    QRect area;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.pixel(x, y) != kBackground) area |= QRect(x, y, 1, 1);
    return area;
}

void FillGrey(CImageBitmap& bitmap, const std::vector<int>& values) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const auto v = static_cast<uint8_t>(values[static_cast<size_t>(y * bitmap.Width() + x)]);
            bitmap.PixelLine(y)[x] = BGRA{v, v, v, 255};
        }
}

TYPED_TEST(DibDrawing, DrawShowsTheRowsOneToOneAtEveryDepth) {
    for (int depth : {32, 8, 1}) {
        SCOPED_TRACE(depth);
        TypeParam bitmap;
        CreatePattern(bitmap, 13, 7, depth);
        if (depth == 8) bitmap.Palette()[bitmap.Line(0)[0]].a = 0;  // the reserved byte must not hide a colour
        QImage canvas = Canvas(20, 12);
        QPainter painter(&canvas);
        EXPECT_TRUE(bitmap.Draw(painter, 2, 3));
        painter.end();
        EXPECT_EQ(CompareShown(canvas, 2, 3, bitmap), "");
        EXPECT_EQ(PaintedArea(canvas), QRect(2, 3, 13, 7));
    }
}

TEST(DibSectionHandle, SharesTheRowsWithoutCopying) {
    CDIBSectionBitmap bitmap;
    const struct {
        int depth;
        QImage::Format format;
    } cases[] = {{32, QImage::Format_RGB32}, {8, QImage::Format_Indexed8}, {1, QImage::Format_Mono}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.depth);
        bitmap.Create(9, 4, c.depth, false);
        QImage handle = bitmap.BitmapHandle();
        EXPECT_EQ(handle.format(), c.format);
        EXPECT_EQ(handle.size(), QSize(9, 4));
        EXPECT_EQ(handle.constBits(), bitmap.Bits());
        EXPECT_EQ(static_cast<size_t>(handle.bytesPerLine()), bitmap.BytesPerLine());
        if (c.depth != 32) {
            EXPECT_EQ(handle.colorCount(), 1 << c.depth);
            const BGRA entry = bitmap.Palette()[1];
            EXPECT_EQ(handle.color(1), qRgb(entry.r, entry.g, entry.b));
        }
    }
}

TEST(DibSectionHandle, PaintingIntoTheHandleChangesTheBitmap) {
    CDIBSectionBitmap bitmap;
    bitmap.Create(6, 5, 32, false);
    FillGradient(bitmap);
    bitmap.PixelLine(4)[5] = BGRA{10, 20, 30, 255};
    QImage handle = bitmap.BitmapHandle();
    EXPECT_EQ(handle.pixel(5, 4), qRgb(30, 20, 10)) << "row 0 of the handle is the top row";
    {
        QPainter painter(&handle);
        painter.fillRect(QRect(1, 2, 1, 1), QColor(200, 100, 50));
    }
    EXPECT_EQ(handle.constBits(), bitmap.Bits()) << "painting did not detach";
    EXPECT_EQ(bitmap.PixelLine(2)[1], (BGRA{50, 100, 200, 255}));
}

TEST(DibSectionHandle, DecodedPictureDrawnThroughTheHandleMatchesTheRows) {
    TempDir dir;
    CMemBitmap picture;
    picture.Create(37, 23, 32, false);
    FillGradient(picture);
    CBMPEncoder().EncodeFile(dir.File("picture.bmp"), picture);
    CDIBSectionBitmap bitmap;
    CAutoDecoder().DecodeFile(dir.File("picture.bmp"), bitmap, 32);
    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
        QImage canvas = Canvas(40, 30, format);
        QPainter painter(&canvas);
        painter.drawImage(1, 2, bitmap.BitmapHandle());
        painter.end();
        EXPECT_EQ(CompareShown(canvas, 1, 2, bitmap), "") << format;
    }
}

TEST(DibSectionHandle, TransparentPixelsShowTheirColourAsABlitWould) {
    CDIBSectionBitmap bitmap;
    bitmap.Create(3, 2, 32, true);
    FillGradient(bitmap);
    for (int x = 0; x < 3; ++x) bitmap.PixelLine(0)[x].a = 0;
    QImage canvas = Canvas(3, 2, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&canvas);
    EXPECT_TRUE(bitmap.Draw(painter, 0, 0));
    painter.end();
    EXPECT_EQ(CompareShown(canvas, 0, 0, bitmap), "");
}

TEST(DibSectionHandle, ReleasedHandleOwnsTheRows) {
    CDIBSectionBitmap bitmap;
    bitmap.Create(5, 4, 8, false);
    bitmap.Palette()[3] = BGRA{9, 8, 7, 255};
    bitmap.Line(2)[4] = 3;
    const uint8_t* rows = bitmap.Bits();
    QImage released = bitmap.ReleaseBitmapHandle();
    EXPECT_EQ(bitmap.Size(), std::make_pair(16, 16));
    EXPECT_EQ(bitmap.BitsPerPixel(), 8);
    bitmap.Create(300, 300, 32, false);
    EXPECT_EQ(released.constBits(), rows);
    EXPECT_EQ(released.pixel(4, 2), qRgb(7, 8, 9));
}

TYPED_TEST(DibDrawing, StretchDrawAveragesWhenReducing) {
    // A white centre in a black ring: sampling near the middle would see only white, an
    // average over the whole picture a quarter of it.
    TypeParam bitmap;
    bitmap.Create(4, 4, 32, false);
    FillGrey(bitmap, {0, 0, 0, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 0, 0, 0});
    QImage canvas = Canvas(3, 3);
    QPainter painter(&canvas);
    EXPECT_TRUE(bitmap.StretchDraw(painter, 1, 1, 1, 1));
    painter.end();
    EXPECT_EQ(PaintedArea(canvas), QRect(1, 1, 1, 1));
    EXPECT_NEAR(qGreen(canvas.pixel(1, 1)), 64, 3);
}

TYPED_TEST(DibDrawing, StretchDrawInterpolatesWhenEnlarging) {
    TypeParam bitmap;
    bitmap.Create(2, 1, 32, false);
    FillGrey(bitmap, {0, 200});
    QImage canvas = Canvas(8, 2);
    QPainter painter(&canvas);
    EXPECT_TRUE(bitmap.StretchDraw(painter, 0, 0, 8, 2));
    painter.end();
    int between = 0;
    for (int x = 0; x < 8; ++x) {
        const int v = qGreen(canvas.pixel(x, 1));
        if (x > 0) {
            EXPECT_GE(v, qGreen(canvas.pixel(x - 1, 1))) << x;
        }
        between += v > 10 && v < 190;
    }
    EXPECT_GE(between, 2) << "a smooth ramp, not two blocks";
}

TYPED_TEST(DibDrawing, DrawScaledTruncatesTheTargetSize) {
    TypeParam bitmap;
    bitmap.Create(5, 3, 32, false);
    FillGradient(bitmap);
    QImage canvas = Canvas(12, 8);
    QPainter painter(&canvas);
    EXPECT_TRUE(bitmap.DrawScaled(painter, 3, 4, 0.5));
    for (double factor : {0.0, 0.1, -2.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(bitmap.DrawScaled(painter, 0, 0, factor)) << factor;
    painter.end();
    EXPECT_EQ(PaintedArea(canvas), QRect(3, 4, 2, 1));
}

TYPED_TEST(DibDrawing, DrawRegionCopiesOnlyThePart) {
    TypeParam bitmap;
    bitmap.Create(6, 5, 32, false);
    FillGradient(bitmap);
    QImage canvas = Canvas(20, 20);
    QPainter painter(&canvas);
    EXPECT_TRUE(bitmap.DrawRegion(painter, 10, 12, QRect(QPoint(1, 2), QPoint(3, 3))));
    EXPECT_TRUE(bitmap.DrawRegion(painter, 0, 0, QRect(4, 3, 5, 5))) << "clipped to the image";
    EXPECT_FALSE(bitmap.DrawRegion(painter, 0, 0, QRect(7, 0, 3, 3)));
    painter.end();
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(canvas.pixel(10 + x, 12 + y), Shown(bitmap, 1 + x, 2 + y)) << x << "," << y;
    EXPECT_EQ(canvas.pixel(1, 1), Shown(bitmap, 5, 4));
    EXPECT_EQ(PaintedArea(canvas), QRect(0, 0, 2, 2) | QRect(10, 12, 3, 2));
}

TYPED_TEST(DibDrawing, PassesTheRasterOperationOn) {
    TypeParam bitmap;
    bitmap.Create(2, 1, 32, false);
    FillGrey(bitmap, {0x0F, 0xF0});
    QImage canvas(2, 1, QImage::Format_RGB32);
    canvas.fill(qRgb(0xFF, 0xFF, 0xFF));
    QPainter painter(&canvas);
    EXPECT_TRUE(bitmap.Draw(painter, 0, 0, QPainter::RasterOp_SourceXorDestination));
    painter.end();
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(0xF0, 0xF0, 0xF0));
    EXPECT_EQ(canvas.pixel(1, 0), qRgb(0x0F, 0x0F, 0x0F));
}

TYPED_TEST(DibDrawing, InactivePainterDrawsNothing) {
    TypeParam bitmap;
    QPainter painter;
    EXPECT_FALSE(bitmap.Draw(painter, 0, 0));
    EXPECT_FALSE(bitmap.StretchDraw(painter, 0, 0, 5, 5));
    EXPECT_FALSE(bitmap.DrawRegion(painter, 0, 0, QRect(0, 0, 2, 2)));
}

}  // namespace
