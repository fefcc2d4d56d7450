#include "codecs/auto_decoder.h"
#include "codecs/metafile_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "metafile_builder.h"
#include "support/corpus.h"
#include "support/gui_app.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QList>

#include <algorithm>
#include <cstdlib>

namespace {

// Enhanced record types and 16-bit record functions the tests write.
enum : uint32_t {
    kEmrSetWindowExtEx = 9,
    kEmrSetViewportExtEx = 11,
    kEmrSetMapMode = 17,
    kEmrSetTextAlign = 22,
    kEmrSelectObject = 37,
    kEmrCreateBrushIndirect = 39,
    kEmrRectangle = 43,
    kEmrGdiComment = 70,
    kEmrExtCreateFontIndirectW = 82,
    kEmrExtTextOutW = 84,
};
enum : uint16_t {
    kWmfSetWindowOrg = 0x020B,
    kWmfSetWindowExt = 0x020C,
    kWmfSelectObject = 0x012D,
    kWmfCreateBrushIndirect = 0x02FC,
    kWmfRectangle = 0x041B,
    kWmfTextOut = 0x0521,
    kWmfCreateFontIndirect = 0x02FB,
    kWmfPolygon = 0x0324,
};
constexpr int32_t kNullPen = static_cast<int32_t>(0x80000008u);
constexpr int32_t kRed = 0x0000FF;  // colour references are 0x00BBGGRR

// Plays bytes as a file of the given name through the any-format decoder, as the viewer
// would; returns the error code (0 on success) and keeps the message in text.
int DecodeAs(const std::string& name, const Bytes& bytes, CImageBitmap& bitmap, int depth = 32, std::string* text = nullptr) {
    TempDir dir;
    const std::string path = dir.File(name);
    WriteBytes(path, bytes);
    CAutoDecoder decoder;
    try {
        decoder.DecodeFile(path, bitmap, depth);
    } catch (const CTextException& e) {
        if (text != nullptr) *text = e.Text();
        return e.Code();
    }
    return 0;
}

bool Near(const BGRA& p, int r, int g, int b, int tolerance = 8) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

// An enhanced metafile of 96 x 48 pixels (at 96 dots per inch) with a red rectangle
// without outline from (24, 12) to (72, 36).
CEmfBuilder RedRectangle() {
    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    emf.Record(kEmrCreateBrushIndirect, {1, 0, kRed, 0})
        .Record(kEmrSelectObject, {1})
        .Record(kEmrSelectObject, {kNullPen})
        .Record(kEmrRectangle, {24, 12, 72, 36});
    return emf;
}

class MetafileDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { SetMetafileDotsPerInch(96); }
    void TearDown() override { SetMetafileDotsPerInch(0); }
};

}  // namespace

TEST_F(MetafileDecoderTest, PictureSizeFollowsTheHeader) {
    struct Case {
        const char* what;
        std::string name;
        Bytes bytes;
        int dpi;
        int width;
        int height;
    };
    const Case cases[] = {
        {"placeable box of 1440 x 720 at 1440 units per inch", "a.wmf",
         CWmfBuilder().Placeable(0, 0, 1440, 720, 1440).Build(), 96, 96, 48},
        {"the same box on a 120 dots-per-inch screen", "a.wmf", CWmfBuilder().Placeable(0, 0, 1440, 720, 1440).Build(), 120, 120, 60},
        {"placeable box of no width", "a.wmf", CWmfBuilder().Placeable(100, 0, 100, 720, 1440).Build(), 96, 320, 48},
        {"no placeable header, window extent of 200 x 100", "a.wmf",
         CWmfBuilder().Record(kWmfSetWindowOrg, {0, 0}).Record(kWmfSetWindowExt, {100, 200}).Build(), 96, 200, 100},
        {"no placeable header, upward window extent", "a.wmf", CWmfBuilder().Record(kWmfSetWindowExt, {-100, 200}).Build(), 96, 200, 100},
        {"no placeable header and no window", "a.wmf", CWmfBuilder().Build(), 96, 320, 200},
        {"enhanced frame of 25.4 x 12.7 mm", "a.emf", CEmfBuilder(QRect(QPoint(0, 0), QPoint(2540, 1270))).Build(), 96, 96, 48},
        {"enhanced frame of nothing", "a.emf", CEmfBuilder(QRect(QPoint(0, 0), QPoint(0, 0))).Build(), 96, 320, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetMetafileDotsPerInch(c.dpi);
        CMemBitmap bitmap;
        ASSERT_EQ(DecodeAs(c.name, c.bytes, bitmap), 0);
        EXPECT_EQ(bitmap.Width(), c.width);
        EXPECT_EQ(bitmap.Height(), c.height);
        // The probe computes the same size.
        const ImageInfo info = CMetafileDecoder().ProbeMemory(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(c.width, c.height));
        EXPECT_EQ(info.bitsPerPixel, 32);
        EXPECT_FALSE(info.hasAlpha);
    }
}

// The probe draws at the resolution of the context it is given, as the decode does.
TEST_F(MetafileDecoderTest, ProbeTakesItsContextsResolutionAndPalette) {
    const Bytes placeable = CWmfBuilder().Placeable(0, 0, 1440, 720, 1440).Build();
    CDecodeContext context;
    context.dotsPerInch = 72;
    CMetafileDecoder decoder;
    const ImageInfo info = decoder.ProbeMemory(placeable.data(), placeable.size(), &context);
    EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(72, 36));
    CMemBitmap bitmap;
    decoder.DecodeMemory(placeable.data(), placeable.size(), bitmap, context);
    EXPECT_EQ(bitmap.Size(), std::make_pair(72, 36));

    CEmfBuilder emf = RedRectangle();
    emf.Palette({qRgb(250, 250, 250), qRgb(200, 10, 10)});
    const Bytes withPalette = emf.Build();
    EXPECT_EQ(decoder.ProbeMemory(withPalette.data(), withPalette.size()).bitsPerPixel, 8);
}

TEST_F(MetafileDecoderTest, DrawsOnWhiteAndGivesOpaqueTrueColour) {
    for (int depth : {0, 32}) {
        CMemBitmap bitmap;
        ASSERT_EQ(DecodeAs("red.emf", RedRectangle().Build(), bitmap, depth), 0);
        ASSERT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_FALSE(bitmap.HasAlpha());
        EXPECT_TRUE(Near(bitmap.PixelLine(2)[2], 255, 255, 255)) << "nothing is drawn in the corner";
        EXPECT_TRUE(Near(bitmap.PixelLine(24)[48], 255, 0, 0)) << "the rectangle";
        EXPECT_TRUE(Near(bitmap.PixelLine(40)[48], 255, 255, 255)) << "below the rectangle";
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x) ASSERT_EQ(bitmap.PixelLine(y)[x].a, 255);
    }
}

TEST_F(MetafileDecoderTest, ContentDecidesTheKindWhateverTheName) {
    const Bytes wmf = CWmfBuilder().Placeable(0, 0, 1440, 720, 1440).Build();
    const Bytes emf = RedRectangle().Build();
    CMemBitmap expectedWmf;
    ASSERT_EQ(DecodeAs("picture.wmf", wmf, expectedWmf), 0);
    for (const char* name : {"picture.EMF", "picture.emf", "x.emf.bmp"}) {
        CMemBitmap bitmap;
        EXPECT_EQ(DecodeAs(name, wmf, bitmap), 0) << name << " holding a 16-bit metafile";
        EXPECT_TRUE(SamePixels(bitmap, expectedWmf)) << name;
    }
    CMemBitmap bitmap;
    EXPECT_EQ(DecodeAs("picture.wmf", emf, bitmap), 0) << "an enhanced metafile named .wmf";
    EXPECT_TRUE(Near(bitmap.PixelLine(24)[48], 255, 0, 0));
    std::string text;
    EXPECT_EQ(DecodeAs("picture.emf", Bytes{1, 0, 0, 0, 8}, bitmap, 32, &text), ERR_FEATURE_UNAVAILABLE);
    EXPECT_EQ(DecodeAs("picture", Bytes{1, 0, 0, 0, 8}, bitmap, 32, &text), ERR_UNKNOWN_TYPE);
}

TEST_F(MetafileDecoderTest, DamagedRecordEndsPlayingKeepingWhatWasDrawn) {
    Bytes runsPastTheEnd;
    Put32(runsPastTheEnd, kEmrRectangle);
    Put32(runsPastTheEnd, 4000);
    CEmfBuilder emf = RedRectangle();
    emf.Raw(runsPastTheEnd);
    CMemBitmap bitmap;
    std::string text;
    EXPECT_EQ(DecodeAs("damaged.emf", emf.Build(), bitmap, 32, &text), ERR_BAD_DATA);
    EXPECT_NE(text.find("record 5 (type 43)"), std::string::npos) << text;  // the header is record 0
    ASSERT_EQ(bitmap.BitsPerPixel(), 32);
    EXPECT_TRUE(Near(bitmap.PixelLine(24)[48], 255, 0, 0)) << "the rectangle drawn before the damage stays";

    // A record too short for what it says it holds: a polygon of 100 points carrying two.
    CWmfBuilder wmf;
    wmf.Placeable(0, 0, 100, 100, 96).Record(kWmfCreateBrushIndirect, {0, 0xFF, 0, 0}).Record(kWmfSelectObject, {0});
    wmf.Record(kWmfRectangle, {50, 50, 0, 0}).Record(kWmfPolygon, {100, 1, 1, 2, 2});
    CMemBitmap wmfBitmap;
    EXPECT_EQ(DecodeAs("damaged.wmf", wmf.Build(), wmfBitmap, 32, &text), ERR_BAD_DATA);
    EXPECT_NE(text.find("function 0x0324"), std::string::npos) << text;
    EXPECT_TRUE(Near(wmfBitmap.PixelLine(25)[25], 255, 0, 0));

    // A fixed-size record with another size is as impossible.
    CEmfBuilder grown = RedRectangle();
    grown.Record(kEmrSelectObject, {1, 0, 0});
    EXPECT_EQ(DecodeAs("grown.emf", grown.Build(), bitmap), ERR_BAD_DATA);
}

TEST_F(MetafileDecoderTest, CommentsAndUnknownRecordsAreSkipped) {
    Bytes comment;
    Put32(comment, 12);
    for (char c : std::string("EMF+\x01\x40\xFF\xFF")) comment.push_back(static_cast<uint8_t>(c));
    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    emf.Record(kEmrGdiComment, comment).Record(200, {1, 2, 3}).Record(kEmrCreateBrushIndirect, {1, 0, kRed, 0});
    emf.Record(kEmrSelectObject, {1}).Record(kEmrRectangle, {0, 0, 96, 48});
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeAs("skip.emf", emf.Build(), bitmap), 0);
    EXPECT_TRUE(Near(bitmap.PixelLine(24)[48], 255, 0, 0));
}

TEST_F(MetafileDecoderTest, PaletteGivesEightBitsWithNearestColours) {
    CEmfBuilder emf = RedRectangle();
    emf.Palette({qRgb(250, 250, 250), qRgb(200, 10, 10), qRgb(0, 0, 0)});
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeAs("palette.emf", emf.Build(), bitmap, 0), 0);
    ASSERT_EQ(bitmap.BitsPerPixel(), 8);
    EXPECT_EQ(bitmap.Palette()[0], OpaqueColour(250, 250, 250));
    EXPECT_EQ(bitmap.Palette()[1], OpaqueColour(200, 10, 10));
    EXPECT_EQ(bitmap.Palette()[3], OpaqueColour(0, 0, 0)) << "entries the metafile does not give are black";
    EXPECT_EQ(bitmap.Line(2)[2], 0) << "white maps to the near-white entry";
    EXPECT_EQ(bitmap.Line(24)[48], 1) << "red maps to the dark red entry";

    CMemBitmap trueColour;
    ASSERT_EQ(DecodeAs("palette.emf", emf.Build(), trueColour, 32), 0);
    EXPECT_EQ(trueColour.BitsPerPixel(), 32) << "32 bits asked for, 32 bits given";
}

TEST_F(MetafileDecoderTest, MappingModesPlaceTheDrawing) {
    // Anisotropic: a window of 200 x 100 units onto the 96 x 48 picture; the rectangle
    // covers the window's left half.
    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    emf.Record(kEmrSetMapMode, {8}).Record(kEmrSetWindowExtEx, {200, 100}).Record(kEmrSetViewportExtEx, {96, 48});
    emf.Record(kEmrCreateBrushIndirect, {1, 0, kRed, 0}).Record(kEmrSelectObject, {1}).Record(kEmrSelectObject, {kNullPen});
    emf.Record(kEmrRectangle, {0, 0, 100, 100});
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeAs("aniso.emf", emf.Build(), bitmap), 0);
    EXPECT_TRUE(Near(bitmap.PixelLine(24)[20], 255, 0, 0));
    EXPECT_TRUE(Near(bitmap.PixelLine(24)[76], 255, 255, 255));

    // Low metric: tenths of a millimetre, y pointing up from the top edge; 127 units down
    // and 254 across are half the picture's height and its whole width.
    CEmfBuilder metric(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    metric.Record(kEmrSetMapMode, {2}).Record(kEmrCreateBrushIndirect, {1, 0, kRed, 0}).Record(kEmrSelectObject, {1});
    metric.Record(kEmrSelectObject, {kNullPen}).Record(kEmrRectangle, {0, 0, 254, -64});
    ASSERT_EQ(DecodeAs("metric.emf", metric.Build(), bitmap), 0);
    EXPECT_TRUE(Near(bitmap.PixelLine(10)[48], 255, 0, 0));
    EXPECT_TRUE(Near(bitmap.PixelLine(40)[48], 255, 255, 255));

    // A placeable 16-bit metafile whose window is half its box: the window fills the picture.
    CWmfBuilder wmf;
    wmf.Placeable(0, 0, 960, 480, 960).Record(kWmfSetWindowOrg, {0, 0}).Record(kWmfSetWindowExt, {240, 480});
    wmf.Record(kWmfCreateBrushIndirect, {0, 0xFF, 0, 0}).Record(kWmfSelectObject, {0}).Record(kWmfRectangle, {240, 240, 0, 0});
    ASSERT_EQ(DecodeAs("window.wmf", wmf.Build(), bitmap), 0);
    ASSERT_EQ(bitmap.Width(), 96);
    EXPECT_TRUE(Near(bitmap.PixelLine(40)[40], 255, 0, 0));
    EXPECT_TRUE(Near(bitmap.PixelLine(40)[56], 255, 255, 255));
}

TEST_F(MetafileDecoderTest, TextIsDrawn) {
    // Text needs fonts, which Qt serves only inside the application object the test
    // program owns.
    Bytes font;
    Put32(font, 1);
    for (int v : {-30, 0, 0, 0, 700}) Put32(font, v);
    for (int i = 0; i < 8; ++i) font.push_back(0);
    const Bytes face = Utf16(u"Arial");
    font.insert(font.end(), face.begin(), face.end());
    font.resize(4 + 92, 0);

    const std::u16string hello = u"Hello";
    Bytes text;
    for (int v : {0, 0, -1, -1, 1}) Put32(text, v);  // bounds, graphics mode
    Put32(text, 0x3F800000);
    Put32(text, 0x3F800000);                          // scales
    for (int v : {90, 10, static_cast<int>(hello.size()), 76, 0, 0, 0, 0, 0, 0}) Put32(text, v);
    const Bytes chars = Utf16(hello);
    text.insert(text.end(), chars.begin(), chars.end());

    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    emf.Record(kEmrExtCreateFontIndirectW, font).Record(kEmrSelectObject, {1});
    emf.Record(kEmrSetTextAlign, {2});  // right-aligned at x = 90, top at y = 10
    emf.Record(kEmrExtTextOutW, text);
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeAs("text.emf", emf.Build(), bitmap), 0);
    int inkLeft = 0, inkRight = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.PixelLine(y)[x].g < 128) ++(x < 90 ? inkLeft : inkRight);
    EXPECT_GT(inkLeft, 100) << "the word is drawn left of its right-aligned reference point";
    EXPECT_EQ(inkRight, 0);

    CWmfBuilder wmf;
    Bytes out;
    Put16(out, 5);
    for (char c : std::string("Hello")) out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
    Put16(out, 20);
    Put16(out, 10);
    wmf.Placeable(0, 0, 96, 48, 96).Record(kWmfTextOut, out);
    ASSERT_EQ(DecodeAs("text.wmf", wmf.Build(), bitmap), 0);
    int ink = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) ink += bitmap.PixelLine(y)[x].g < 128;
    EXPECT_GT(ink, 20) << "text in the default font";
}

// A face the machine lacks must still show letters: where the font configuration stands a
// dingbats font in for it (as it does for Impact on some systems), the text falls back to
// the generic face. Elsewhere the substitute is a text face already and there is nothing
// to check.
TEST_F(MetafileDecoderTest, MissingTextFaceIsNotDrawnWithPictures) {
    TestGuiApplication();
    QFont probe(QStringLiteral("Impact"));
    const QString standIn = QFontInfo(probe).family();
    if (standIn.compare(QLatin1String("Impact"), Qt::CaseInsensitive) == 0 ||
        !QFontDatabase::writingSystems(standIn).contains(QFontDatabase::Symbol))
        GTEST_SKIP() << "Impact is served by " << standIn.toStdString() << ", a text face";
    const auto render = [](const std::string& faceName) {
        Bytes font;
        for (int word : {-24, 0, 0, 0, 400, 0, 0, 0, 0}) Put16(font, word);
        for (char c : faceName) font.push_back(static_cast<uint8_t>(c));
        font.push_back(0);
        Bytes out;
        Put16(out, 4);
        for (char c : std::string("Hamb")) out.push_back(static_cast<uint8_t>(c));
        Put16(out, 10);
        Put16(out, 4);
        CWmfBuilder wmf;
        wmf.Placeable(0, 0, 96, 48, 96).Record(kWmfCreateFontIndirect, font).Record(kWmfSelectObject, {0}).Record(kWmfTextOut, out);
        CMemBitmap bitmap;
        EXPECT_EQ(DecodeAs("face.wmf", wmf.Build(), bitmap), 0);
        std::vector<BGRA> pixels;
        for (int y = 0; y < bitmap.Height(); ++y) pixels.insert(pixels.end(), bitmap.PixelLine(y), bitmap.PixelLine(y) + bitmap.Width());
        return pixels;
    };
    const std::vector<BGRA> generic = render("sans-serif");
    EXPECT_GT(std::count_if(generic.begin(), generic.end(), [](const BGRA& p) { return p.g < 128; }), 20);
    EXPECT_TRUE(render("Impact") == generic) << "Impact is drawn with " << standIn.toStdString();
}

// Drawings exported by Inkscape as enhanced and 16-bit metafiles, with Inkscape's own
// rendering of each as the reference (tests/data/metafile/make_metafile_fixtures.sh).
TEST_F(MetafileDecoderTest, MatchesInkscapeRenderings) {
    for (const char* name : {"shapes", "text", "gradient", "picture"})
        for (const char* kind : {"emf", "wmf"}) {
            const std::string file = std::string(name) + "." + kind;
            SCOPED_TRACE(file);
            CorpusEntry entry;
            entry.file = TestDataPath("metafile/" + file);
            entry.reference = entry.file + ".png";
            entry.compare = "meta:12";
            CAutoDecoder decoder;
            CMemBitmap bitmap;
            decoder.DecodeFile(entry.file, bitmap, 32);
            EXPECT_EQ(CompareWithReference(bitmap, entry), "");
        }
}
