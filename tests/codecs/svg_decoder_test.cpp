#include "codecs/auto_decoder.h"
#include "codecs/svg_decoder.h"
#include "codecs/svg_signature.h"
#include "decode_test_helpers.h"

#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>

namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Svg(const std::string& attributes, const std::string& content = "") {
    return "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' " + attributes +
           ">" + content + "</svg>";
}

void DecodeSvg(const std::string& text, CImageBitmap& bitmap) {
    CSVGDecoder decoder;
    decoder.DecodeMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size(), bitmap);
}

BGRA At(const CImageBitmap& bitmap, int x, int y) { return bitmap.PixelLine(y)[x]; }

TEST(SvgDecoder, IntrinsicSizes) {
    struct Case {
        const char* attributes;
        int width, height;
    } cases[] = {
        {"width='20' height='10'", 20, 10},
        {"width='20px' height='10.2px'", 20, 11},
        {"width='1in' height='0.5in'", 96, 48},
        {"width='10mm' height='2.54cm'", 38, 96},
        {"width='72pt' height='6pc'", 96, 96},
        {"width='100%' height='100%' viewBox='0 0 30 40'", 30, 40},
        {"viewBox='5 5 12 7'", 12, 7},
        {"width='24' viewBox='0 0 12 7'", 24, 14},
        {"width='0.2' height='0.3'", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes);
        const std::string text = Svg(c.attributes, "<rect width='100%' height='100%' fill='#00f'/>");
        CMemBitmap bitmap;
        DecodeSvg(text, bitmap);
        EXPECT_EQ(bitmap.Width(), c.width);
        EXPECT_EQ(bitmap.Height(), c.height);
        EXPECT_EQ(bitmap.BitsPerPixel(), 32);
        CSVGDecoder decoder;
        const ImageInfo info = decoder.ProbeMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
    }
}

TEST(SvgDecoder, WithoutSizeOrViewBoxTheInkExtentsAreDrawn) {
    CMemBitmap bitmap;
    DecodeSvg(Svg("", "<rect x='5' y='6' width='7' height='8' fill='#f00'/>"), bitmap);
    ASSERT_EQ(bitmap.Width(), 7);
    ASSERT_EQ(bitmap.Height(), 8);
    for (const auto& [x, y] : {std::pair{0, 0}, {6, 7}, {3, 4}}) {
        const BGRA p = At(bitmap, x, y);
        EXPECT_EQ(p.r, 255);
        EXPECT_EQ(p.b, 0);
        EXPECT_EQ(p.a, 255);
    }
    EXPECT_FALSE(bitmap.HasAlpha());
}

TEST(SvgDecoder, TransparentCanvasWithStraightAlpha) {
    CMemBitmap bitmap;
    DecodeSvg(Svg("width='4' height='2'",
                  "<rect width='2' height='1' fill='#f08000'/>"
                  "<rect y='1' width='4' height='1' fill='#f08000' fill-opacity='0.5'/>"),
              bitmap);
    ASSERT_EQ(bitmap.Width(), 4);
    EXPECT_TRUE(bitmap.HasAlpha());
    const BGRA solid = At(bitmap, 0, 0);
    EXPECT_EQ(solid.r, 0xF0);
    EXPECT_EQ(solid.g, 0x80);
    EXPECT_EQ(solid.b, 0);
    EXPECT_EQ(solid.a, 255);
    EXPECT_EQ(At(bitmap, 3, 0).a, 0);
    const BGRA half = At(bitmap, 2, 1);
    EXPECT_NEAR(half.a, 128, 1);
    EXPECT_NEAR(half.r, 0xF0, 2);
    EXPECT_NEAR(half.g, 0x80, 2);
}

TEST(SvgDecoder, HugePicturesAreScaledDownToTheLongestSide) {
    // Left half red, right half blue, with and without a view box.
    for (const std::string attributes : {"width='100000' height='50'", "width='100000' height='50' viewBox='0 0 100000 50'"}) {
        SCOPED_TRACE(attributes);
        CMemBitmap bitmap;
        DecodeSvg(Svg(attributes, "<rect width='50000' height='50' fill='#f00'/><rect x='50000' width='50000' height='50' fill='#00f'/>"),
                  bitmap);
        ASSERT_EQ(bitmap.Width(), 8192);
        ASSERT_EQ(bitmap.Height(), 5);
        EXPECT_EQ(At(bitmap, 1000, 2).r, 255);
        EXPECT_EQ(At(bitmap, 7000, 2).b, 255);
        EXPECT_EQ(At(bitmap, 7000, 2).a, 255);
    }
}

// A PNG of one opaque colour, written with Qt.
void WriteColourPng(const std::string& path, QColor colour) {
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
}

TEST(SvgDecoder, ReferencesLoadOnlyFromTheDocumentsOwnFolder) {
    TempDir folder;
    std::filesystem::create_directories(folder.Path() / "doc");
    std::filesystem::create_directories(folder.Path() / "other");
    WriteColourPng(folder.File("doc/here.png"), Qt::green);
    WriteColourPng(folder.File("other/there.png"), Qt::red);
    const std::string text = Svg("width='8' height='4'",
                                 "<image width='4' height='4' xlink:href='here.png'/>"
                                 "<image x='4' width='4' height='4' xlink:href='../other/there.png'/>");
    WriteBytes(folder.File("doc/picture.svg"), Text(text));
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeFile(folder.File("doc/picture.svg"), bitmap);
    ASSERT_EQ(bitmap.Width(), 8);
    EXPECT_EQ(At(bitmap, 1, 1).g, 255);
    EXPECT_EQ(At(bitmap, 1, 1).a, 255);
    EXPECT_EQ(At(bitmap, 6, 1).a, 0);

    // From memory nothing resolves: no folder is the document's own.
    CMemBitmap fromMemory;
    DecodeSvg(text, fromMemory);
    EXPECT_EQ(At(fromMemory, 1, 1).a, 0);
}

TEST(SvgDecoder, CompressedFilesGoByTheirName) {
    const std::string text = Svg("width='3' height='5'");
    uLongf size = compressBound(static_cast<uLong>(text.size())) + 32;
    Bytes packed(size);
    z_stream stream{};
    ASSERT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    TempDir folder;
    WriteBytes(folder.File("packed.svgz"), packed);
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeFile(folder.File("packed.svgz"), bitmap);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Height(), 5);
    EXPECT_EQ(decoder.LastFormat(), ImageFormat::SVG);
}

TEST(SvgDecoder, RecognisedByItsRootElement) {
    auto looks = [](const std::string& text) {
        return LooksLikeSvg(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    EXPECT_TRUE(looks("<svg>"));
    EXPECT_TRUE(looks("\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- made by hand -->\n"
                      "<!DOCTYPE svg PUBLIC '-//W3C//DTD SVG 1.1//EN' [ <!ENTITY a 'b'> ]>\n<svg width='1'/>"));
    EXPECT_TRUE(looks("<svg:svg xmlns:svg='http://www.w3.org/2000/svg'/>"));
    EXPECT_FALSE(looks("<svgx>"));
    EXPECT_FALSE(looks("<html><svg></svg></html>"));
    EXPECT_FALSE(looks("<!-- unfinished comment <svg>"));
    EXPECT_FALSE(looks("text <svg>"));
    const Bytes svg = Text(Svg("width='1' height='1'"));
    EXPECT_EQ(DetectFormat(svg.data(), svg.size()), ImageFormat::SVG);
    const Bytes late = Text("<!--" + std::string(600, '-') + "-->" + Svg("width='1' height='1'"));
    EXPECT_EQ(DetectFormat(late.data(), late.size()), ImageFormat::None);
    EXPECT_EQ(DetectFormat(late.data(), late.size(), "late.svg"), ImageFormat::SVG);
}

TEST(SvgDecoder, BrokenDocumentsFailCleanly) {
    for (const std::string& text : {std::string("<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'><rect"),
                                   std::string("<html xmlns='http://www.w3.org/1999/xhtml'/>"), std::string("")}) {
        SCOPED_TRACE(text);
        CMemBitmap bitmap;
        try {
            DecodeSvg(text, bitmap);
            ADD_FAILURE() << "decoded";
        } catch (const CTextException& e) {
            EXPECT_EQ(e.Code(), ERR_BAD_DATA);
            EXPECT_NE(std::string(e.what()).find("SVG decoder"), std::string::npos) << e.what();
        }
    }
    CDecodeContext cancelled;
    cancelled.Cancel();
    const std::string text = Svg("width='4' height='4'");
    CSVGDecoder decoder;
    CMemBitmap bitmap;
    try {
        decoder.DecodeMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size(), bitmap, cancelled);
        ADD_FAILURE() << "decoded";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANCELLED);
    }
}

}  // namespace
