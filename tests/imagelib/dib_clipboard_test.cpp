// The clipboard copy: image data and a BMP file that the library's own decoder reads back.
#include "codecs/auto_decoder.h"
#include "imagelib/byte_order.h"
#include "imagelib/dib_bitmap.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/mem_bitmap.h"
#include "support/gui_app.h"
#include "support/test_files.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <gtest/gtest.h>

namespace {

// Runs first in its own process under ctest; run as part of the whole executable it only
// checks that nothing breaks once an application exists.
TEST(DibClipboardWithoutApplication, DoesNothing) {
    CDIBSectionBitmap bitmap;
    bitmap.Create(3, 3, 32, false);
    FillGradient(bitmap);
    if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "an application already exists in this process";
    bitmap.CopyToClipboard();
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

template <typename Bitmap>
class DibClipboard : public ::testing::Test {};
using Kinds = ::testing::Types<CDIBitmap, CDIBSectionBitmap>;
TYPED_TEST_SUITE(DibClipboard, Kinds);

TYPED_TEST(DibClipboard, BmpDataDecodesToTheSamePixels) {
    TestGuiApplication();
    QClipboard* clipboard = QGuiApplication::clipboard();
    ASSERT_NE(clipboard, nullptr);
    for (int depth : {32, 8, 1}) {
        SCOPED_TRACE(depth);
        TypeParam bitmap;
        CreatePattern(bitmap, 21, 9, depth);
        bitmap.CopyToClipboard();
        const QMimeData* data = clipboard->mimeData();
        ASSERT_NE(data, nullptr);
        ASSERT_TRUE(data->hasFormat("image/bmp"));
        const QByteArray bmp = data->data("image/bmp");
        const auto* bytes = reinterpret_cast<const uint8_t*>(bmp.constData());
        ASSERT_GT(bmp.size(), 54);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(ReadLE32(bytes + 2), static_cast<uint32_t>(bmp.size()));
        EXPECT_EQ(ReadLE32(bytes + 14), 40u);
        EXPECT_EQ(ReadLE16(bytes + 28), depth);

        CMemBitmap decoded;
        CAutoDecoder().DecodeMemory(bytes, static_cast<size_t>(bmp.size()), decoded, 32);
        std::string why;
        EXPECT_TRUE(SamePixels(bitmap, decoded, &why)) << why;

        const QImage image = qvariant_cast<QImage>(data->imageData());
        ASSERT_EQ(image.size(), QSize(21, 9));
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 21; ++x) {
                const BGRA p = decoded.PixelLine(y)[x];
                ASSERT_EQ(image.pixel(x, y) | 0xFF000000, qRgb(p.r, p.g, p.b)) << x << "," << y;
            }
    }
}

TEST(DibClipboard, ImageDataOutlivesTheBitmapAndKeepsMeaningfulAlpha) {
    TestGuiApplication();
    {
        CDIBSectionBitmap bitmap;
        bitmap.Create(2, 1, 32, true);
        bitmap.PixelLine(0)[0] = BGRA{10, 20, 30, 40};
        bitmap.PixelLine(0)[1] = BGRA{50, 60, 70, 255};
        bitmap.CopyToClipboard();
        bitmap.Create(500, 500, 32, false);
    }
    const QImage image = qvariant_cast<QImage>(QGuiApplication::clipboard()->mimeData()->imageData());
    EXPECT_EQ(image.pixel(0, 0), qRgba(30, 20, 10, 40));
    EXPECT_EQ(image.pixel(1, 0), qRgba(70, 60, 50, 255));
}

}  // namespace
