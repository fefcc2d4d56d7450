// Pictures carried inside metafile bitmaps: decoded no larger than drawn where the format
// can decode smaller, and together bounded by the metafile's own size, so that a few
// kilobytes of file cannot cost gigabytes.

#include "codecs/metafile_builder.h"
#include "codecs/metafile_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <chrono>

namespace {

constexpr uint32_t kEmrStretchDiBits = 81;
constexpr uint32_t kSourceCopy = 0x00CC0020;

Bytes Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(bytes.begin(), bytes.end());
}

QImage Plain(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A bitmap record drawing (x, y, size x size) from a header of width x height whose pixels
// are a JPEG (compression 4) or PNG (5) picture.
Bytes StretchPicture(int x, int y, int size, int width, int height, int compression, const Bytes& picture) {
    constexpr int kFixed = 80;
    constexpr int kHeader = 40;
    Bytes out;
    for (int v : {x, y, x + size, y + size, x, y, 0, 0, width, height, kFixed, kHeader, kFixed + kHeader}) Put32(out, v);
    Put32(out, static_cast<int64_t>(picture.size()));
    Put32(out, 0);  // colours are RGB
    Put32(out, kSourceCopy);
    Put32(out, size);
    Put32(out, size);
    for (int v : {kHeader, width, height}) Put32(out, v);
    Put16(out, 1);
    Put16(out, 0);
    for (int64_t v : {int64_t{compression}, static_cast<int64_t>(picture.size()), int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0}})
        Put32(out, v);
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
}

// 96 x 48 pixels at 96 dots per inch.
CEmfBuilder SmallDrawing() { return CEmfBuilder(QRect(QPoint(0, 0), QPoint(2540, 1270))); }

// The code the decode fails with (0: none), and the picture in bitmap.
int Decode(const Bytes& file, CMemBitmap& bitmap) {
    SetMetafileDotsPerInch(96);
    TempDir dir;
    WriteBytes(dir.File("pictures.emf"), file);
    int code = 0;
    try {
        CMetafileDecoder().DecodeFile(dir.File("pictures.emf"), bitmap, 32);
    } catch (const CTextException& e) {
        code = e.Code();
    }
    SetMetafileDotsPerInch(0);
    return code;
}

uint32_t Rgb(const CImageBitmap& bitmap, int x, int y) {
    const BGRA p = bitmap.PixelLine(y)[x];
    return uint32_t{p.r} << 16 | uint32_t{p.g} << 8 | p.b;
}

// A 4096 x 4096 JPEG drawn 40 pixels wide: decoded at an eighth (512 x 512), it fits what a
// 96 x 48 drawing allows its pictures; decoded whole it would not.
TEST(MetafileEmbeddedPicture, AJpegIsDecodedAtTheSizeItIsDrawnAt) {
    const Bytes jpeg = Encoded(Plain(4096, 4096, qRgb(0, 0, 255)), "JPEG");
    ASSERT_FALSE(jpeg.empty());
    CMemBitmap bitmap;
    ASSERT_EQ(Decode(SmallDrawing().Record(kEmrStretchDiBits, StretchPicture(0, 0, 40, 40, 40, 4, jpeg)).Build(), bitmap), 0);
    const BGRA drawn = bitmap.PixelLine(20)[20];
    EXPECT_LE(drawn.r + drawn.g, 4);
    EXPECT_GE(drawn.b, 250);
    EXPECT_EQ(Rgb(bitmap, 60, 20), 0xFFFFFFu);
}

// A PNG cannot be decoded smaller: one of 5000 x 5000 pixels (100 MB) behind a small
// drawing fails the decode as too large, at once, instead of costing its pixels.
TEST(MetafileEmbeddedPicture, APictureBeyondTheDrawingsAllowanceIsTooLarge) {
    const Bytes png = Encoded(Plain(5000, 5000, qRgb(0, 255, 0)), "PNG");
    ASSERT_FALSE(png.empty());
    CMemBitmap bitmap;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Decode(SmallDrawing().Record(kEmrStretchDiBits, StretchPicture(0, 0, 40, 5000, 5000, 5, png)).Build(), bitmap),
              ERR_OUT_OF_MEMORY);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "refused before its rows are read";
}

// Each 2000 x 2000 PNG fits the allowance alone; the third drawn exceeds what they may take together.
TEST(MetafileEmbeddedPicture, PicturesTogetherShareOneAllowance) {
    const Bytes png = Encoded(Plain(2000, 2000, qRgb(255, 0, 0)), "PNG");
    CMemBitmap bitmap;
    CEmfBuilder two = SmallDrawing();
    for (int x : {0, 48}) two.Record(kEmrStretchDiBits, StretchPicture(x, 0, 40, 2000, 2000, 5, png));
    ASSERT_EQ(Decode(two.Build(), bitmap), 0);
    EXPECT_EQ(Rgb(bitmap, 20, 20), 0xFF0000u);
    EXPECT_EQ(Rgb(bitmap, 68, 20), 0xFF0000u);

    CEmfBuilder three = SmallDrawing();
    for (int x : {0, 30, 60}) three.Record(kEmrStretchDiBits, StretchPicture(x, 0, 30, 2000, 2000, 5, png));
    EXPECT_EQ(Decode(three.Build(), bitmap), ERR_OUT_OF_MEMORY);
}

}  // namespace
