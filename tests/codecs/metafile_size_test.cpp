#include "codecs/auto_decoder.h"
#include "codecs/metafile_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "metafile_builder.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

// 16-bit metafiles that set no window: their records' coordinates are pixels, and the
// picture is as large as what they draw.

namespace {

enum : uint16_t {
    kSelectObject = 0x012D,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kIntersectClipRect = 0x0416,
    kRectangle = 0x041B,
    kTextOut = 0x0521,
};

// Slot 0: a pen that draws nothing; slot 1: a black brush.
CWmfBuilder BlackFillWithoutOutline() {
    CWmfBuilder wmf;
    wmf.Record(kCreatePenIndirect, {5, 0, 0, 0, 0})
        .Record(kSelectObject, {0})
        .Record(kCreateBrushIndirect, {0, 0, 0, 0})
        .Record(kSelectObject, {1});
    return wmf;
}

// The rectangle's records store bottom, right, top, left.
CWmfBuilder& Rectangle(CWmfBuilder& wmf, int left, int top, int right, int bottom) {
    return wmf.Record(kRectangle, {bottom, right, top, left});
}

struct Decoded {
    CMemBitmap bitmap;
    int probedWidth = 0;
    int probedHeight = 0;
};

void Decode(const Bytes& bytes, Decoded& out) {
    TempDir dir;
    const std::string path = dir.File("drawing.wmf");
    WriteBytes(path, bytes);
    CAutoDecoder().DecodeFile(path, out.bitmap, 32);
    const ImageInfo info = CMetafileDecoder().ProbeMemory(bytes.data(), bytes.size());
    out.probedWidth = info.width;
    out.probedHeight = info.height;
}

bool Black(const CMemBitmap& bitmap, int x, int y) {
    const BGRA p = bitmap.PixelLine(y)[x];
    return p.r < 16 && p.g < 16 && p.b < 16;
}

bool White(const CMemBitmap& bitmap, int x, int y) {
    const BGRA p = bitmap.PixelLine(y)[x];
    return p.r > 240 && p.g > 240 && p.b > 240;
}

}  // namespace

TEST(WindowlessMetafileTest, PictureReachesTheFarEdgesOfTheDrawing) {
    struct Case {
        const char* what;
        int left, top, right, bottom;
        int width, height;
    };
    const Case cases[] = {
        {"inside the first quadrant", 10, 20, 150, 260, 150, 260},
        {"partly left of and above the origin", -50, -40, 40, 30, 40, 30},
        {"wholly left of the origin: nothing to measure", -50, -50, -10, -10, 320, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CWmfBuilder wmf = BlackFillWithoutOutline();
        Decoded d;
        Decode(Rectangle(wmf, c.left, c.top, c.right, c.bottom).Build(), d);
        ASSERT_EQ(d.bitmap.Width(), c.width);
        ASSERT_EQ(d.bitmap.Height(), c.height);
        EXPECT_EQ(d.probedWidth, c.width);
        EXPECT_EQ(d.probedHeight, c.height);
        // One unit is one pixel: the rectangle's corners land where the records put them.
        const int insideX = std::max(c.left, 0) + 1, insideY = std::max(c.top, 0) + 1;
        if (c.right > 0) {
            EXPECT_TRUE(Black(d.bitmap, insideX, insideY));
            EXPECT_TRUE(Black(d.bitmap, c.width - 1, c.height - 1));
        } else {
            EXPECT_TRUE(White(d.bitmap, 0, 0));
        }
        if (c.left > 0) {
            EXPECT_TRUE(White(d.bitmap, c.left - 2, c.top - 2));
        }
    }
}

TEST(WindowlessMetafileTest, ClippedAwayDrawingDoesNotWidenThePicture) {
    CWmfBuilder wmf = BlackFillWithoutOutline();
    wmf.Record(kIntersectClipRect, {80, 100, 0, 0});
    Decoded d;
    Decode(Rectangle(wmf, 0, 0, 400, 400).Build(), d);
    EXPECT_EQ(d.bitmap.Width(), 100);
    EXPECT_EQ(d.bitmap.Height(), 80);
    EXPECT_TRUE(Black(d.bitmap, 99, 79));
}

// Lines of text one below the other, as a font sampler writes them: the last line is
// inside the picture, not cut off at a default height.
TEST(WindowlessMetafileTest, TextBelowTheDefaultHeightIsInThePicture) {
    CWmfBuilder wmf;
    Bytes font;
    for (int word : {20, 0, 0, 0, 400, 0, 0, 0, 0}) Put16(font, word);
    for (char c : std::string("Arial")) font.push_back(static_cast<uint8_t>(c));
    font.push_back(0);
    wmf.Record(kCreateFontIndirect, font).Record(kSelectObject, {0});
    for (int line = 0; line < 16; ++line) {
        Bytes out;
        Put16(out, 4);
        for (char c : std::string("HHHH")) out.push_back(static_cast<uint8_t>(c));
        Put16(out, 20 * line);
        Put16(out, 0);
        wmf.Record(kTextOut, out);
    }
    Decoded d;
    Decode(wmf.Build(), d);
    EXPECT_GE(d.bitmap.Height(), 320);
    EXPECT_LE(d.bitmap.Height(), 330);
    EXPECT_GT(d.bitmap.Width(), 20);
    EXPECT_LT(d.bitmap.Width(), 100);
    EXPECT_EQ(d.probedHeight, d.bitmap.Height());
    int inkInLastLine = 0;
    for (int y = 300; y < d.bitmap.Height(); ++y)
        for (int x = 0; x < d.bitmap.Width(); ++x) inkInLastLine += Black(d.bitmap, x, y);
    EXPECT_GT(inkInLastLine, 20);
}
