#include "codecs/metafile_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "metafile_builder.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <bit>
#include <tuple>
#include <cstdlib>

// Records played as whole files, checked by the pixels they leave: the state records
// (transforms, saved states, mapping), the fill rules and the bitmap records whose
// combinations real files depend on (masks, palettes, row order).

namespace {

enum : uint32_t {
    kEmrPolyPolygon16 = 91,
    kEmrSetWindowExtEx = 9,
    kEmrSetViewportExtEx = 11,
    kEmrSetMapMode = 17,
    kEmrSetBkMode = 18,
    kEmrSetPolyFillMode = 19,
    kEmrSetBkColor = 25,
    kEmrIntersectClipRect = 30,
    kEmrSaveDc = 33,
    kEmrRestoreDc = 34,
    kEmrSetWorldTransform = 35,
    kEmrModifyWorldTransform = 36,
    kEmrSelectObject = 37,
    kEmrCreatePen = 38,
    kEmrCreateBrushIndirect = 39,
    kEmrDeleteObject = 40,
    kEmrRectangle = 43,
    kEmrMoveToEx = 27,
    kEmrLineTo = 54,
    kEmrStretchDiBits = 81,
    kEmrSetTextColor = 24,
    kEmrExtCreatePen = 95,
    kEmrBeginPath = 59,
    kEmrEndPath = 60,
    kEmrCloseFigure = 61,
    kEmrFillPath = 62,
    kEmrSelectClipPath = 67,
    kEmrAbortPath = 68,
    kEmrExtTextOutW = 84,
    kEmrExtCreateFontIndirectW = 82,
    kEmrGradientFill = 118,
};
enum : uint16_t {
    kWmfSaveDc = 0x001E,
    kWmfRestoreDc = 0x0127,
    kWmfSelectObject = 0x012D,
    kWmfDeleteObject = 0x01F0,
    kWmfSetWindowOrg = 0x020B,
    kWmfSetWindowExt = 0x020C,
    kWmfCreateBrushIndirect = 0x02FC,
    kWmfRectangle = 0x041B,
    kWmfPatBlt = 0x061D,
};
constexpr int32_t kNullPen = static_cast<int32_t>(0x80000008u);
constexpr int32_t kBlackBrush = static_cast<int32_t>(0x80000004u);
constexpr int32_t kRed = 0x0000FF;
constexpr int32_t kGreen = 0x00FF00;
constexpr int32_t kBlue = 0xFF0000;

int32_t Float(float v) { return std::bit_cast<int32_t>(v); }

// An enhanced metafile of 96 x 48 pixels, one logical unit per pixel, drawing without
// outlines.
CEmfBuilder Emf() {
    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    emf.Record(kEmrSelectObject, {kNullPen});
    return emf;
}

CEmfBuilder& SolidBrush(CEmfBuilder& emf, int slot, int32_t colour) {
    return emf.Record(kEmrCreateBrushIndirect, {slot, 0, colour, 0}).Record(kEmrSelectObject, {slot});
}

void Play(const std::string& name, const Bytes& bytes, CMemBitmap& bitmap) {
    SetMetafileDotsPerInch(96);
    TempDir dir;
    WriteBytes(dir.File(name), bytes);
    CMetafileDecoder decoder;
    int depth = 32;
    try {
        decoder.DecodeFile(dir.File(name), bitmap, depth);
    } catch (const CTextException& e) {
        ADD_FAILURE() << e.Text();
    }
    SetMetafileDotsPerInch(0);
}

uint32_t Rgb(const CImageBitmap& bitmap, int x, int y) {
    const BGRA p = bitmap.PixelLine(y)[x];
    return uint32_t{p.r} << 16 | uint32_t{p.g} << 8 | p.b;
}

// A stretch of a device-independent bitmap onto (x, y, width, height) with a raster
// operation; dib is a packed info header, colour table and pixels, headerBytes long up
// to the pixels.
Bytes StretchDiBits(int x, int y, int width, int height, const Bytes& dib, int headerBytes, int sourceWidth,
                    int sourceHeight, uint32_t rop) {
    constexpr int kFixed = 80;  // the record's fields, type and size included
    Bytes out;
    for (int v : {x, y, x + width, y + height}) Put32(out, v);  // bounds
    for (int v : {x, y, 0, 0, sourceWidth, sourceHeight}) Put32(out, v);
    Put32(out, kFixed);
    Put32(out, headerBytes);
    Put32(out, kFixed + headerBytes);
    Put32(out, static_cast<int64_t>(dib.size()) - headerBytes);
    Put32(out, 0);  // colours are RGB
    Put32(out, rop);
    Put32(out, width);
    Put32(out, height);
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

Bytes InfoHeader(int width, int height, int bitCount, int colours) {
    Bytes out;
    for (int v : {40, width, height}) Put32(out, v);
    Put16(out, 1);
    Put16(out, bitCount);
    for (int v : {0, 0, 0, 0, colours, 0}) Put32(out, v);
    return out;
}

void Append(Bytes& to, std::initializer_list<uint8_t> bytes) { to.insert(to.end(), bytes); }

Bytes Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(bytes.begin(), bytes.end());
}

// An info header whose pixels are a JPEG (compression 4) or PNG (5) picture, followed by it.
Bytes EmbeddedPicture(int width, int height, int compression, const Bytes& picture) {
    Bytes out;
    for (int v : {40, width, height}) Put32(out, v);
    Put16(out, 1);
    Put16(out, 0);
    for (int64_t v : {int64_t{compression}, static_cast<int64_t>(picture.size()), int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0}})
        Put32(out, v);
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
}

// Eight by eight pixels in four quadrants: red, green on top; blue, yellow below.
QImage Quadrants() {
    QImage image(8, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            image.setPixel(x, y, y < 4 ? (x < 4 ? qRgb(255, 0, 0) : qRgb(0, 255, 0)) : (x < 4 ? qRgb(0, 0, 255) : qRgb(255, 255, 0)));
    return image;
}

}  // namespace

TEST(MetafileRecordsTest, WorldTransformsComposeInTheirOrder) {
    CEmfBuilder emf = Emf();
    SolidBrush(emf, 1, kRed);
    emf.Record(kEmrSetWorldTransform, {Float(2), 0, 0, Float(2), 0, 0});
    emf.Record(kEmrRectangle, {0, 0, 10, 10});
    // Left-multiplied: the translation applies before the scale, so 30 units become 60 pixels.
    emf.Record(kEmrModifyWorldTransform, {Float(1), 0, 0, Float(1), Float(30), 0, 2});
    emf.Record(kEmrRectangle, {0, 0, 10, 10});
    // Back to the identity, then a translation right-multiplied onto it.
    emf.Record(kEmrModifyWorldTransform, {Float(1), 0, 0, Float(1), 0, 0, 1});
    emf.Record(kEmrModifyWorldTransform, {Float(1), 0, 0, Float(1), Float(5), Float(30), 3});
    emf.Record(kEmrRectangle, {0, 0, 10, 10});
    CMemBitmap bitmap;
    Play("world.emf", emf.Build(), bitmap);
    ASSERT_EQ(bitmap.Width(), 96);
    EXPECT_EQ(Rgb(bitmap, 15, 15), 0xFF0000u) << "scaled by two";
    EXPECT_EQ(Rgb(bitmap, 70, 10), 0xFF0000u) << "translated, then scaled";
    EXPECT_EQ(Rgb(bitmap, 40, 10), 0xFFFFFFu) << "not scaled, then translated";
    EXPECT_EQ(Rgb(bitmap, 10, 35), 0xFF0000u) << "after the identity";
    EXPECT_EQ(Rgb(bitmap, 18, 35), 0xFFFFFFu) << "the identity dropped the scale";
}

TEST(MetafileRecordsTest, PolygonFillModesDecideAboutHoles) {
    // Two nested squares turning the same way: alternate leaves the inner one open,
    // winding fills it.
    CEmfBuilder emf = Emf();
    SolidBrush(emf, 1, kRed);
    for (const int mode : {1, 2}) {
        const int left = mode == 1 ? 0 : 48;
        Bytes polys;
        for (int v : {left, 0, left + 40, 40, 2, 8, 4, 4}) Put32(polys, v);
        for (int v : {left + 4, 4, left + 44, 4, left + 44, 44, left + 4, 44}) Put16(polys, v);
        for (int v : {left + 14, 14, left + 34, 14, left + 34, 34, left + 14, 34}) Put16(polys, v);
        emf.Record(kEmrSetPolyFillMode, {mode}).Record(kEmrPolyPolygon16, polys);
    }
    CMemBitmap bitmap;
    Play("fill.emf", emf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 8, 24), 0xFF0000u);
    EXPECT_EQ(Rgb(bitmap, 24, 24), 0xFFFFFFu) << "alternate: the inner square is a hole";
    EXPECT_EQ(Rgb(bitmap, 56, 24), 0xFF0000u);
    EXPECT_EQ(Rgb(bitmap, 72, 24), 0xFF0000u) << "winding: the inner square is filled";
}

TEST(MetafileRecordsTest, HatchesShowTheBackgroundOnlyWhenOpaque) {
    CEmfBuilder emf = Emf();
    emf.Record(kEmrSetBkColor, {kGreen});
    emf.Record(kEmrCreateBrushIndirect, {1, 2, kBlue, 4}).Record(kEmrSelectObject, {1});  // cross hatch
    emf.Record(kEmrSetBkMode, {2}).Record(kEmrRectangle, {0, 0, 40, 40});
    emf.Record(kEmrSetBkMode, {1}).Record(kEmrRectangle, {48, 0, 88, 40});
    CMemBitmap bitmap;
    Play("hatch.emf", emf.Build(), bitmap);
    int opaque[3] = {}, transparent[3] = {};  // blue, green, white
    for (int y = 4; y < 36; ++y)
        for (int x = 4; x < 36; ++x) {
            for (auto [count, left] : {std::pair{opaque, 0}, std::pair{transparent, 48}}) {
                const uint32_t c = Rgb(bitmap, left + x, y);
                count[0] += c == 0x0000FFu;
                count[1] += c == 0x00FF00u;
                count[2] += c == 0xFFFFFFu;
            }
        }
    EXPECT_GT(opaque[0], 50) << "hatch lines";
    EXPECT_GT(opaque[1], 500) << "background colour between them";
    EXPECT_EQ(opaque[2], 0);
    EXPECT_GT(transparent[0], 50);
    EXPECT_EQ(transparent[1], 0) << "no background when transparent";
    EXPECT_GT(transparent[2], 500);
}

TEST(MetafileRecordsTest, BitmapsCombineAsMasksAndKeepTheirRowOrder) {
    CEmfBuilder emf = Emf();
    SolidBrush(emf, 1, kRed);
    emf.Record(kEmrRectangle, {0, 0, 97, 49});

    // The transparent sprite idiom: a one-bit mask ANDed in (black where the sprite is),
    // then the sprite ORed over it (black where the background must show).
    Bytes mask = InfoHeader(2, 1, 1, 2);
    Append(mask, {0, 0, 0, 0, 255, 255, 255, 0, 0x40, 0, 0, 0});  // black, white; pixels 0 1
    emf.Record(kEmrStretchDiBits, StretchDiBits(0, 0, 96, 24, mask, 48, 2, 1, 0x008800C6));
    Bytes sprite = InfoHeader(2, 1, 24, 0);
    Append(sprite, {255, 0, 0, 0, 0, 0, 0, 0});  // blue, black (BGR), padded
    emf.Record(kEmrStretchDiBits, StretchDiBits(0, 0, 96, 24, sprite, 40, 2, 1, 0x00EE0086));

    // Eight bits, rows stored top-down (negative height), stretched by twenty.
    Bytes indexed = InfoHeader(2, -2, 8, 3);
    Append(indexed, {0, 255, 0, 0, 255, 0, 255, 0, 0, 255, 255, 0});  // green, magenta, yellow
    Append(indexed, {0, 1, 0, 0, 2, 2, 0, 0});
    emf.Record(kEmrStretchDiBits, StretchDiBits(40, 24, 40, 24, indexed, 52, 2, 2, 0x00CC0020));

    CMemBitmap bitmap;
    Play("masks.emf", emf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 20, 12), 0x0000FFu) << "the sprite";
    EXPECT_EQ(Rgb(bitmap, 70, 12), 0xFF0000u) << "the background through the mask";
    EXPECT_EQ(Rgb(bitmap, 50, 29), 0x00FF00u) << "first stored row on top";
    EXPECT_EQ(Rgb(bitmap, 70, 29), 0xFF00FFu);
    EXPECT_EQ(Rgb(bitmap, 50, 42), 0xFFFF00u);
    EXPECT_EQ(Rgb(bitmap, 20, 40), 0xFF0000u) << "outside every bitmap";
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) ASSERT_EQ(bitmap.PixelLine(y)[x].a, 255) << "raster operations keep pixels opaque";
}

TEST(MetafileRecordsTest, IsotropicMappingKeepsTheAspect) {
    CEmfBuilder emf = Emf();
    SolidBrush(emf, 1, kRed);
    emf.Record(kEmrSetMapMode, {7}).Record(kEmrSetWindowExtEx, {100, 100}).Record(kEmrSetViewportExtEx, {96, 48});
    emf.Record(kEmrRectangle, {0, 0, 100, 100});
    CMemBitmap bitmap;
    Play("iso.emf", emf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 24, 24), 0xFF0000u);
    EXPECT_EQ(Rgb(bitmap, 70, 24), 0xFFFFFFu) << "a square stays square";
}

TEST(MetafileRecordsTest, SavedStatesComeBackWithTheirObjectsAndClip) {
    CEmfBuilder emf = Emf();
    SolidBrush(emf, 1, kRed);
    emf.Record(kEmrSaveDc, {});
    SolidBrush(emf, 2, kBlue);
    emf.Record(kEmrIntersectClipRect, {0, 0, 20, 48});
    emf.Record(kEmrRectangle, {0, 0, 40, 20});
    emf.Record(kEmrRestoreDc, {-1});
    emf.Record(kEmrRectangle, {0, 28, 40, 48});
    // Deleting the selected brush does not unselect it; selecting the empty slot does nothing.
    emf.Record(kEmrDeleteObject, {1}).Record(kEmrSelectObject, {1}).Record(kEmrRectangle, {50, 0, 90, 20});
    emf.Record(kEmrSelectObject, {kBlackBrush}).Record(kEmrRectangle, {50, 28, 90, 48});
    CMemBitmap bitmap;
    Play("saved.emf", emf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 10, 10), 0x0000FFu);
    EXPECT_EQ(Rgb(bitmap, 30, 10), 0xFFFFFFu) << "clipped while saved";
    EXPECT_EQ(Rgb(bitmap, 30, 38), 0xFF0000u) << "brush and clip restored";
    EXPECT_EQ(Rgb(bitmap, 70, 10), 0xFF0000u) << "the deleted brush still drawing";
    EXPECT_EQ(Rgb(bitmap, 70, 38), 0x000000u) << "stock black brush";

    // The same in a 16-bit metafile, whose window is part of the saved state.
    CWmfBuilder wmf;
    wmf.Placeable(0, 0, 100, 100, 96).Record(kWmfCreateBrushIndirect, {0, 0xFF, 0, 0});  // slot 0: red
    wmf.Record(kWmfCreateBrushIndirect, {0, 0, 0xFF, 0}).Record(kWmfSelectObject, {0});  // slot 1: blue
    wmf.Record(kWmfSaveDc, {}).Record(kWmfSelectObject, {1});
    wmf.Record(kWmfSetWindowOrg, {0, 0}).Record(kWmfSetWindowExt, {50, 50});
    wmf.Record(kWmfRectangle, {25, 25, 0, 0});  // the upper left quarter at half the scale
    wmf.Record(kWmfRestoreDc, {-1}).Record(kWmfRectangle, {100, 100, 75, 75});
    wmf.Record(kWmfDeleteObject, {1});
    CMemBitmap wmfBitmap;
    Play("saved.wmf", wmf.Build(), wmfBitmap);
    ASSERT_EQ(wmfBitmap.Width(), 100);
    EXPECT_EQ(Rgb(wmfBitmap, 40, 40), 0x0000FFu) << "window 50 units wide on 100 pixels";
    EXPECT_EQ(Rgb(wmfBitmap, 60, 60), 0xFFFFFFu);
    EXPECT_EQ(Rgb(wmfBitmap, 90, 90), 0xFF0000u) << "window and brush restored";
}

TEST(MetafileRecordsTest, GeometricPensScaleAndCosmeticPensDoNot) {
    // A window four times the picture: a pen 40 units wide is 10 pixels, a pen of width 0
    // stays one pixel.
    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    emf.Record(kEmrSetMapMode, {8}).Record(kEmrSetWindowExtEx, {384, 192}).Record(kEmrSetViewportExtEx, {96, 48});
    emf.Record(kEmrCreatePen, {1, 0, 40, 0, 0}).Record(kEmrSelectObject, {1});  // solid, 40 units, black
    emf.Record(kEmrMoveToEx, {0, 40}).Record(kEmrLineTo, {384, 40});
    emf.Record(kEmrCreatePen, {2, 0, 0, 0, 0}).Record(kEmrSelectObject, {2});
    emf.Record(kEmrMoveToEx, {0, 120}).Record(kEmrLineTo, {384, 120});
    CMemBitmap bitmap;
    Play("pens.emf", emf.Build(), bitmap);
    int wide = 0, thin = 0;
    for (int y = 0; y < 24; ++y) wide += Rgb(bitmap, 48, y) != 0xFFFFFFu;
    for (int y = 24; y < 48; ++y) thin += Rgb(bitmap, 48, y) != 0xFFFFFFu;
    EXPECT_GE(wide, 9);
    EXPECT_LE(wide, 12);
    EXPECT_GE(thin, 1);
    EXPECT_LE(thin, 2);
}

TEST(MetafileRecordsTest, HatchesAndPatternsPaintFillsAndWidePens) {
    CEmfBuilder emf = Emf();
    emf.Record(kEmrSetTextColor, {kGreen}).Record(kEmrSetBkColor, {kBlue}).Record(kEmrSetBkMode, {1});
    // Hatches past the line patterns fill solid in the text and the background colour.
    emf.Record(kEmrCreateBrushIndirect, {1, 2, kRed, 8}).Record(kEmrSelectObject, {1}).Record(kEmrRectangle, {0, 0, 20, 20});
    emf.Record(kEmrCreateBrushIndirect, {2, 2, kRed, 10}).Record(kEmrSelectObject, {2}).Record(kEmrRectangle, {24, 0, 44, 20});

    // A geometric pen 16 units wide painting with a vertical red hatch.
    Bytes hatched;
    for (int v : {3, 52, 0, 52, 0, 0x00010000, 16, 2, kRed, 1, 0}) Put32(hatched, v);
    emf.Record(kEmrExtCreatePen, hatched).Record(kEmrSelectObject, {3});
    emf.Record(kEmrMoveToEx, {0, 34}).Record(kEmrLineTo, {44, 34});

    // One painting with a bitmap of blue and green columns.
    Bytes patterned;
    Bytes dib = InfoHeader(2, 1, 24, 0);
    Append(dib, {255, 0, 0, 0, 255, 0, 0, 0});
    for (int v : {4, 52, 40, 92, 8, 0x00010000, 16, 6, 0, 0, 0}) Put32(patterned, v);
    patterned.insert(patterned.end(), dib.begin(), dib.end());
    emf.Record(kEmrExtCreatePen, patterned).Record(kEmrSelectObject, {4});
    emf.Record(kEmrMoveToEx, {50, 24}).Record(kEmrLineTo, {90, 24});

    CMemBitmap bitmap;
    Play("pens.emf", emf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 10, 10), 0x00FF00u) << "solid in the text colour";
    EXPECT_EQ(Rgb(bitmap, 34, 10), 0x0000FFu) << "solid in the background colour";
    int hatchRed = 0, hatchWhite = 0, blue = 0, green = 0, other = 0;
    for (int x = 4; x < 40; ++x) {
        hatchRed += Rgb(bitmap, x, 34) == 0xFF0000u;
        hatchWhite += Rgb(bitmap, x, 34) == 0xFFFFFFu;
        const uint32_t c = Rgb(bitmap, 50 + x, 24);
        blue += c == 0x0000FFu;
        green += c == 0x00FF00u;
        other += c != 0x0000FFu && c != 0x00FF00u;
    }
    EXPECT_GT(hatchRed, 2) << "hatch lines across the stroke";
    EXPECT_GT(hatchWhite, 20) << "and gaps between them";
    EXPECT_GT(blue, 10);
    EXPECT_GT(green, 10);
    EXPECT_EQ(other, 0) << "the stroke is all pattern";
}

TEST(MetafileRecordsTest, PathsFillAndClipWithoutPaintingWhileOpen) {
    CEmfBuilder emf = Emf();
    SolidBrush(emf, 1, kRed);
    emf.Record(kEmrBeginPath, {}).Record(kEmrRectangle, {0, 40, 96, 48}).Record(kEmrAbortPath, {});
    emf.Record(kEmrBeginPath, {}).Record(kEmrMoveToEx, {10, 10}).Record(kEmrLineTo, {40, 10}).Record(kEmrLineTo, {40, 38});
    emf.Record(kEmrLineTo, {10, 38}).Record(kEmrCloseFigure, {}).Record(kEmrEndPath, {});
    emf.Record(kEmrFillPath, {0, 0, 96, 48});
    emf.Record(kEmrBeginPath, {}).Record(kEmrMoveToEx, {50, 5}).Record(kEmrLineTo, {90, 5}).Record(kEmrLineTo, {90, 35});
    emf.Record(kEmrLineTo, {50, 35}).Record(kEmrCloseFigure, {}).Record(kEmrEndPath, {});
    emf.Record(kEmrSelectClipPath, {5});  // the path becomes the clip
    SolidBrush(emf, 2, kBlue);
    emf.Record(kEmrRectangle, {0, 0, 97, 49});
    CMemBitmap bitmap;
    Play("paths.emf", emf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 48, 44), 0xFFFFFFu) << "an aborted path paints nothing";
    EXPECT_EQ(Rgb(bitmap, 25, 24), 0xFF0000u) << "the filled path";
    EXPECT_EQ(Rgb(bitmap, 70, 20), 0x0000FFu) << "inside the clip path";
    EXPECT_EQ(Rgb(bitmap, 70, 42), 0xFFFFFFu) << "outside it";
    EXPECT_EQ(Rgb(bitmap, 45, 20), 0xFFFFFFu);
}

TEST(MetafileRecordsTest, GradientsAndOpaqueTextBoxesFillTheirRectangles) {
    CEmfBuilder emf = Emf();
    // A horizontal ramp from red to blue over the upper half.
    Bytes gradient;
    for (int v : {0, 0, 96, 24, 2, 1, 0}) Put32(gradient, v);  // bounds, vertices, rectangles, horizontal
    for (auto [x, y, r, b] : {std::tuple{0, 0, 0xFF00, 0}, std::tuple{96, 24, 0, 0xFF00}}) {
        Put32(gradient, x);
        Put32(gradient, y);
        for (int c : {r, 0, b, 0}) Put16(gradient, c);
    }
    Put32(gradient, 0);
    Put32(gradient, 1);
    emf.Record(kEmrGradientFill, gradient);

    // Text output without characters but with an opaque rectangle: writers fill boxes this way.
    Bytes box;
    for (int v : {0, 0, -1, -1, 1}) Put32(box, v);     // bounds, graphics mode
    Put32(box, Float(1));
    Put32(box, Float(1));
    for (int v : {30, 30, 0, 0, 2, 20, 28, 76, 44, 0}) Put32(box, v);  // no characters, opaque, rectangle
    emf.Record(kEmrSetBkColor, {kGreen}).Record(kEmrExtTextOutW, box);

    CMemBitmap bitmap;
    Play("gradient.emf", emf.Build(), bitmap);
    const uint32_t left = Rgb(bitmap, 1, 12), middle = Rgb(bitmap, 48, 12), right = Rgb(bitmap, 94, 12);
    EXPECT_GT(left >> 16, 0xF0u);
    EXPECT_LT(left & 0xFF, 0x10u);
    EXPECT_LT(right >> 16, 0x10u);
    EXPECT_GT(right & 0xFF, 0xF0u);
    EXPECT_NEAR(static_cast<int>(middle >> 16), 128, 12) << std::hex << middle;
    EXPECT_NEAR(static_cast<int>(middle & 0xFF), 128, 12);
    EXPECT_EQ(Rgb(bitmap, 40, 36), 0x00FF00u) << "the opaque box";
    EXPECT_EQ(Rgb(bitmap, 40, 46), 0xFFFFFFu) << "below it";
}

TEST(MetafileRecordsTest, PatternBlitsCopyTheBrushOrInvertTheDestination) {
    CWmfBuilder wmf;
    wmf.Placeable(0, 0, 100, 100, 96).Record(kWmfCreateBrushIndirect, {0, 0xFF, 0, 0}).Record(kWmfSelectObject, {0});
    wmf.Record(kWmfPatBlt, {0x0021, 0x00F0, 100, 60, 0, 0});  // copy the red brush over x < 60
    wmf.Record(kWmfPatBlt, {0x0009, 0x0055, 50, 100, 0, 0});  // invert the upper half
    CMemBitmap bitmap;
    Play("patblt.wmf", wmf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 30, 75), 0xFF0000u);
    EXPECT_EQ(Rgb(bitmap, 30, 25), 0x00FFFFu) << "red inverted";
    EXPECT_EQ(Rgb(bitmap, 80, 25), 0x000000u) << "white inverted";
    EXPECT_EQ(Rgb(bitmap, 80, 75), 0xFFFFFFu);
}

// Printer drivers pass pictures on as JPEG or PNG data behind a bitmap header.
TEST(MetafileRecordsTest, BitmapsCarryingJpegOrPngPicturesDrawThePicture) {
    const Bytes png = Encoded(Quadrants(), "PNG");
    QImage plain(16, 16, QImage::Format_RGB32);
    plain.fill(qRgb(200, 100, 50));
    const Bytes jpeg = Encoded(plain, "JPEG");
    ASSERT_FALSE(png.empty());
    ASSERT_FALSE(jpeg.empty());

    CEmfBuilder emf = Emf();
    emf.Record(kEmrStretchDiBits, StretchDiBits(0, 0, 48, 48, EmbeddedPicture(8, 8, 5, png), 40, 8, 8, 0x00CC0020));
    emf.Record(kEmrStretchDiBits, StretchDiBits(48, 0, 48, 24, EmbeddedPicture(16, 16, 4, jpeg), 40, 16, 16, 0x00CC0020));
    // Data that is no picture leaves the bitmap out; playing goes on.
    const Bytes junk(png.begin(), png.begin() + 30);
    emf.Record(kEmrStretchDiBits, StretchDiBits(48, 24, 48, 24, EmbeddedPicture(8, 8, 5, junk), 40, 8, 8, 0x00CC0020));
    CMemBitmap bitmap;
    Play("pictures.emf", emf.Build(), bitmap);
    EXPECT_EQ(Rgb(bitmap, 12, 12), 0xFF0000u) << "the picture's top row on top";
    EXPECT_EQ(Rgb(bitmap, 36, 12), 0x00FF00u);
    EXPECT_EQ(Rgb(bitmap, 12, 36), 0x0000FFu);
    EXPECT_EQ(Rgb(bitmap, 36, 36), 0xFFFF00u);
    const BGRA jpegPixel = bitmap.PixelLine(12)[72];
    EXPECT_NEAR(jpegPixel.r, 200, 6);
    EXPECT_NEAR(jpegPixel.g, 100, 6);
    EXPECT_NEAR(jpegPixel.b, 50, 6);
    EXPECT_EQ(Rgb(bitmap, 72, 36), 0xFFFFFFu) << "no picture where the data holds none";

    // The 16-bit form: the picture follows the header with no colour table between.
    constexpr uint16_t kWmfStretchDib = 0x0F43;
    Bytes parameters;
    for (int v : {0x0020, 0x00CC, 0, 8, 8, 0, 0, 48, 48, 0, 0}) Put16(parameters, v);  // rop, usage, source, size, place
    const Bytes dib = EmbeddedPicture(8, 8, 5, png);
    parameters.insert(parameters.end(), dib.begin(), dib.end());
    CWmfBuilder wmf;
    wmf.Placeable(0, 0, 96, 48, 96).Record(kWmfStretchDib, parameters);
    CMemBitmap fromWmf;
    Play("pictures.wmf", wmf.Build(), fromWmf);
    EXPECT_EQ(Rgb(fromWmf, 12, 12), 0xFF0000u);
    EXPECT_EQ(Rgb(fromWmf, 36, 36), 0xFFFF00u);
}

// Fields at the ends of their range: nothing may overflow on the way to the picture (the
// sanitizer build turns any overflow into a failure).
TEST(MetafileRecordsTest, FieldsAtTheEndsOfTheirRangeDrawWithoutOverflow) {
    CEmfBuilder emf = Emf();
    Bytes font;
    Put32(font, 1);  // object slot
    for (int64_t v : {int64_t{-20}, int64_t{0}, int64_t{INT32_MIN}, int64_t{INT32_MIN}, int64_t{400}}) Put32(font, v);
    for (int i = 0; i < 2; ++i) Put32(font, 0);  // italic .. pitch and family, as bytes
    const Bytes face = Utf16(u"Sans");
    font.insert(font.end(), face.begin(), face.end());
    font.resize(font.size() + 64 - face.size(), 0);  // face name of 32 characters
    emf.Record(kEmrExtCreateFontIndirectW, font).Record(kEmrSelectObject, {1});
    Bytes text;
    for (int v : {0, 0, -1, -1, 1}) Put32(text, v);  // bounds, graphics mode
    Put32(text, Float(1));
    Put32(text, Float(1));
    for (int v : {10, 30, 1, 76, 0, 0, 0, 0, 0, 0}) Put32(text, v);  // one character at 76, no rectangle, no spacing
    Put16(text, 'A');
    Put16(text, 0);
    emf.Record(kEmrExtTextOutW, text);
    Bytes bytes = emf.Build();
    for (size_t at : {16, 20}) {  // the header's bounds: right and bottom
        const uint32_t most = INT32_MAX;
        for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(most >> (8 * i));
    }
    CMemBitmap bitmap;
    Play("extremes.emf", bytes, bitmap);
    EXPECT_EQ(bitmap.Width(), 96);
}
