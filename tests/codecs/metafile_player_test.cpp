#include "codecs/metafile/dib.h"
#include "codecs/metafile/gdi_canvas.h"
#include "codecs/metafile/raster_ops.h"
#include "codecs/metafile/record_reader.h"
#include "metafile_builder.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace metafile;

namespace {

// A canvas over a white 100 x 100 picture whose logical units are its pixels.
struct CanvasFixture {
    QImage picture{100, 100, QImage::Format_RGB32};
    std::optional<CGdiCanvas> canvas;

    CanvasFixture() {
        picture.fill(Qt::white);
        canvas.emplace(picture, QTransform(), 96 / 25.4, 96 / 25.4);
        GdiPen none;
        none.style = kPsNull;
        canvas->SelectObject(none);
    }
    void Brush(QColor colour) {
        GdiBrush brush;
        brush.colour = colour;
        canvas->SelectObject(brush);
    }
    // The raster engine paints straight into the picture's pixels.
    QRgb At(int x, int y) const { return picture.pixel(x, y) & 0xFFFFFF; }
};

}  // namespace

TEST(RecordReaderTest, NeverReadsBeyondItsBytes) {
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
    CRecordReader in(bytes);
    EXPECT_EQ(in.U32(), 0x04030201u);
    EXPECT_THROW(in.U32(), CRecordTooShort);
    EXPECT_EQ(in.U16(), 0x0605) << "a failed read consumes nothing";
    EXPECT_THROW(in.U8(), CRecordTooShort);

    EXPECT_EQ(in.At(2, 2, 2).Size(), 4u);
    EXPECT_THROW(in.At(7, 0), CRecordTooShort) << "an offset past the end";
    EXPECT_THROW(in.At(2, 3, 2), CRecordTooShort) << "items that do not fit";
    EXPECT_THROW(in.At(0, uint64_t{1} << 62, 8), CRecordTooShort) << "a count whose byte size overflows";
}

TEST(DibTest, DecodesEveryLayoutPlayersMeet) {
    // Each case: header fields, colour table and pixel bytes of a 2 x 2 bitmap, and the
    // colours expected top row first.
    struct Case {
        const char* what;
        int bitCount;
        int compression;
        int height;  // negative: rows top-down
        Bytes table;
        Bytes pixels;
        QRgb expected[4];
    };
    const Bytes blackWhite = {0, 0, 0, 0, 255, 255, 255, 0};
    const Bytes fourColours = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};  // red, green, blue, white
    const QRgb red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF, black = 0;
    const Case cases[] = {
        {"1 bit, bottom-up", 1, 0, 2, blackWhite, {0x80, 0, 0, 0, 0x40, 0, 0, 0}, {black, white, white, black}},
        {"4 bits", 4, 0, 2, fourColours, {0x23, 0, 0, 0, 0x01, 0, 0, 0}, {red, green, blue, white}},
        {"8 bits, top-down", 8, 0, -2, fourColours, {0, 1, 0, 0, 2, 3, 0, 0}, {red, green, blue, white}},
        {"run-length 8 bits with a delta over an unset pixel", 8, 1, 2, fourColours, {0, 2, 1, 0, 1, 1, 0, 0, 2, 0, 0, 1},
         {red, red, white, green}},
        {"run-length 4 bits", 4, 2, 2, fourColours, {2, 0x12, 0, 0, 2, 0x30, 0, 1}, {white, red, green, blue}},
        {"16 bits, 5-5-5", 16, 0, 2, {}, {0x1F, 0, 0xE0, 0x03, 0, 0x7C, 0xFF, 0x7F}, {red, white, blue, green}},
        {"24 bits", 24, 0, -2, {}, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}, {red, green, blue, black}},
        {"16 bits with 5-6-5 masks after the header", 16, 3, -2,
         {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
         {0, 0xF8, 0xE0, 0x07, 0, 0, 0x1F, 0},
         {red, green, black, blue}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes header;
        Put32(header, 40);
        Put32(header, 2);
        Put32(header, c.height);
        Put16(header, 1);
        Put16(header, c.bitCount);
        Put32(header, c.compression);
        for (int i = 0; i < 3; ++i) Put32(header, 0);
        Put32(header, c.bitCount <= 8 ? static_cast<int>(c.table.size() / 4) : 0);  // colours used
        Put32(header, 0);
        header.insert(header.end(), c.table.begin(), c.table.end());
        if (c.compression == 3) header.resize(40 + 12);
        const DibImage dib = DecodeDib(CRecordReader(header), CRecordReader(c.pixels), DibColourSource{});
        ASSERT_FALSE(dib.image.isNull());
        for (int i = 0; i < 4; ++i) {
            const QRgb pixel = dib.image.pixel(i % 2, i / 2);
            // Pixels a run-length bitmap leaves unset are transparent: they keep what is below.
            if (qAlpha(pixel) == 0) EXPECT_EQ(c.expected[i], white) << "pixel " << i;
            else EXPECT_EQ(pixel & 0xFFFFFF, c.expected[i]) << "pixel " << i;
        }
    }

    Bytes header;
    Put32(header, 40);
    Put32(header, 100);
    Put32(header, 100);
    Put16(header, 1);
    Put16(header, 24);
    for (int i = 0; i < 6; ++i) Put32(header, 0);
    const Bytes fewPixels(100, 0);
    EXPECT_TRUE(DecodeDib(CRecordReader(header), CRecordReader(fewPixels), DibColourSource{}).image.isNull())
        << "pixels shorter than the header says leave the bitmap out";
    header[4] = 0;  // width 0
    EXPECT_TRUE(DecodeDib(CRecordReader(header), CRecordReader(fewPixels), DibColourSource{}).image.isNull());
}

TEST(RasterOpTest, TernaryCodesCombinePatternSourceAndDestination) {
    const uint32_t p = 0xF0F0F0, s = 0xCCCCCC, d = 0xAAAAAA;
    EXPECT_EQ(Rop3(Rop3Code(0x00CC0020), p, s, d) & 0xFFFFFF, s) << "source copy";
    EXPECT_EQ(Rop3(Rop3Code(0x008800C6), p, s, d) & 0xFFFFFF, s & d) << "source and";
    EXPECT_EQ(Rop3(Rop3Code(0x00EE0086), p, s, d) & 0xFFFFFF, s | d) << "source paint";
    EXPECT_EQ(Rop3(Rop3Code(0x00660046), p, s, d) & 0xFFFFFF, s ^ d) << "source invert";
    EXPECT_EQ(Rop3(Rop3Code(0x005A0049), p, s, d) & 0xFFFFFF, p ^ d) << "pattern invert";
    EXPECT_EQ(Rop3(Rop3Code(0x00550009), p, s, d) & 0xFFFFFF, ~d & 0xFFFFFF) << "destination invert";
    EXPECT_EQ(Rop3(Rop3Code(0x00B8074A), p, s, d) & 0xFFFFFF, ((s & d) | (~s & p)) & 0xFFFFFF) << "pattern where the mask is clear";
    EXPECT_TRUE(Rop3UsesSource(0xCC));
    EXPECT_FALSE(Rop3UsesSource(0x5A));
    EXPECT_TRUE(Rop3UsesPattern(0x5A));
    EXPECT_FALSE(Rop3UsesPattern(0x55));
}

TEST(GdiCanvasTest, BlitsCombineWithTheDestination) {
    CanvasFixture f;
    f.Brush(Qt::red);
    f.canvas->Rectangle(QRectF(0, 0, 100, 100));
    f.Brush(QColor(0, 0, 255));
    f.canvas->Blit(QRectF(0, 0, 50, 100), nullptr, QRectF(), 0x005A0049);  // pattern XOR destination
    f.canvas->Blit(QRectF(50, 0, 50, 50), nullptr, QRectF(), 0x00550009);  // invert the destination
    EXPECT_EQ(f.At(25, 50), 0xFF00FFu) << "red XOR blue";
    EXPECT_EQ(f.At(75, 25), 0x00FFFFu) << "red inverted";
    EXPECT_EQ(f.At(75, 75), 0xFF0000u) << "outside both";

    QImage source(2, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, 0xFF000000);
    source.setPixel(1, 0, 0xFFFFFFFF);
    f.canvas->Blit(QRectF(0, 0, 100, 100), &source, QRectF(0, 0, 2, 1), 0x008800C6);  // source AND destination
    EXPECT_EQ(f.At(10, 50), 0x000000u) << "black masks";
    EXPECT_EQ(f.At(90, 90), 0xFF0000u) << "white keeps the destination";
}

TEST(GdiCanvasTest, ClippingFollowsSaveAndRestore) {
    CanvasFixture f;
    f.canvas->IntersectClipRect(QRectF(0, 0, 50, 100));
    f.canvas->Dc().Save();
    f.canvas->ExcludeClipRect(QRectF(0, 0, 100, 50));
    f.Brush(Qt::red);
    f.canvas->Rectangle(QRectF(0, 0, 100, 100));
    EXPECT_EQ(f.At(25, 25), 0xFFFFFFu) << "excluded";
    EXPECT_EQ(f.At(25, 75), 0xFF0000u);
    f.canvas->Dc().Restore(-1);
    f.Brush(Qt::blue);
    f.canvas->Rectangle(QRectF(0, 0, 100, 100));
    EXPECT_EQ(f.At(25, 25), 0x0000FFu) << "the exclusion is gone with the restored state";
    EXPECT_EQ(f.At(75, 25), 0xFFFFFFu) << "the intersection saved before stays";
    f.canvas->CombineClip(std::nullopt, kRgnCopy);
    f.canvas->Rectangle(QRectF(0, 0, 100, 100));
    EXPECT_EQ(f.At(75, 25), 0x0000FFu);
}

TEST(GdiCanvasTest, PiesTurnWithTheArcDirection) {
    // From the right-hand point to the top point: counter-clockwise is the upper right
    // quarter, clockwise the other three.
    for (const bool clockwise : {false, true}) {
        CanvasFixture f;
        f.canvas->State().arcDirection = clockwise ? kClockwise : kCounterClockwise;
        f.Brush(Qt::red);
        f.canvas->Arc(QRectF(0, 0, 100, 100), QPointF(100, 50), QPointF(50, 0), CGdiCanvas::ArcKind::Pie);
        EXPECT_EQ(f.At(75, 25) == 0xFF0000u, !clockwise);
        EXPECT_EQ(f.At(25, 75) == 0xFF0000u, clockwise);
    }
}

TEST(GdiCanvasTest, FloodFillStopsAtSmoothedBorders) {
    CanvasFixture f;
    GdiPen black;
    black.width = 1;
    black.cosmetic = false;
    f.canvas->SelectObject(black);
    GdiBrush hollow;
    hollow.style = kBsNull;
    f.canvas->SelectObject(hollow);
    f.canvas->Ellipse(QRectF(10.3, 10.3, 50.4, 50.4));
    f.Brush(Qt::green);
    f.canvas->FloodFill(QPointF(35, 35), Qt::black, false);
    EXPECT_EQ(f.At(35, 35), 0x00FF00u);
    EXPECT_EQ(f.At(90, 90), 0xFFFFFFu) << "the fill stays inside the circle";
}

TEST(GdiCanvasTest, ShapesReachingFarOutsideDrawAsIfTheyFitted) {
    // Geometry far outside the picture is cut at a margin before drawing; what lies inside
    // must not change, under either fill rule and for wide strokes.
    const std::vector<QPointF> ring = {{-1e6, -1e6}, {1e6, -1e6}, {1e6, 1e6}, {-1e6, 1e6},
                                       {20, 20},     {80, 20},    {80, 80},   {20, 80}};
    const std::vector<uint32_t> counts = {4, 4};
    for (const int mode : {kAlternate, kWinding}) {
        CanvasFixture f;
        f.canvas->State().polyFillMode = mode;
        f.Brush(Qt::red);
        f.canvas->PolyPolygon(ring, counts);
        EXPECT_EQ(f.At(10, 10), 0xFF0000u);
        EXPECT_EQ(f.At(95, 50), 0xFF0000u);
        EXPECT_EQ(f.At(50, 50), mode == kAlternate ? 0xFFFFFFu : 0xFF0000u) << "both squares turn the same way";
    }

    CanvasFixture f;
    GdiPen wide;
    wide.width = 10;
    wide.cosmetic = false;
    wide.style = kPsGeometric | kPsEndCapFlat;
    f.canvas->SelectObject(wide);
    const std::vector<QPointF> zigzag = {{-5e5, 50}, {5e5, 50}, {50, 5e5}, {50, -5e5}};
    f.canvas->Polyline(zigzag);
    EXPECT_EQ(f.At(10, 50), 0x000000u) << "the horizontal stroke";
    EXPECT_EQ(f.At(50, 10), 0x000000u) << "the vertical stroke";
    EXPECT_EQ(f.At(10, 60), 0xFFFFFFu);
    EXPECT_EQ(f.At(60, 10), 0xFFFFFFu);

    // A pen a little over a pixel wide is no line for the painter's own line drawing either:
    // it too is cut before it is filled, and still shows where it crosses the picture.
    CanvasFixture thin;
    GdiPen third = wide;
    third.width = 1.3;
    third.style = kPsGeometric;
    thin.canvas->SelectObject(third);
    thin.canvas->Polyline(zigzag);
    EXPECT_LT(thin.At(10, 50) & 0xFF, 0x80u) << "the horizontal stroke, its edges smoothed";
    EXPECT_LT(thin.At(50, 10) & 0xFF, 0x80u) << "the vertical stroke";
    EXPECT_EQ(thin.At(10, 55), 0xFFFFFFu);
}

TEST(ObjectTableTest, NewObjectsTakeTheLowestFreeSlot) {
    CObjectTable table;
    for (int i = 0; i < 3; ++i) table.InsertAtFreeSlot(GdiPalette{{static_cast<QRgb>(i)}});
    table.Delete(1);
    table.InsertAtFreeSlot(GdiBrush{});
    ASSERT_NE(table.Find(1), nullptr);
    EXPECT_TRUE(std::holds_alternative<GdiBrush>(*table.Find(1)));
    table.InsertAtFreeSlot(GdiBrush{});
    EXPECT_NE(table.Find(3), nullptr);
    EXPECT_EQ(table.Find(4), nullptr);
    table.Store(CObjectTable::kMaxSlots, GdiBrush{});
    EXPECT_EQ(table.Find(CObjectTable::kMaxSlots), nullptr) << "slots beyond the largest table are refused";
}
