#include "decode_test_helpers.h"

#include "codecs/jpeg_decoder.h"
#include "codecs/pict_decoder.h"
#include "codecs/pict_mac_roman.h"
#include "codecs/pict_region.h"
#include "codecs/pict_rows.h"
#include "imagelib/mem_bitmap.h"

#include <gtest/gtest.h>

namespace {

const BGRA kWhite = OpaqueColour(255, 255, 255);
const BGRA kBlack = OpaqueColour(0, 0, 0);

std::string Fixture(const std::string& name) { return TestDataPath("pict/" + name); }

// Builds a picture opcode by opcode: the 512-byte preamble, size, frame and version first.
class PictFile {
public:
    explicit PictFile(int version, int width = 4, int height = 2) : version_(version) {
        bytes_.resize(512 + 2);
        for (int v : {0, 0, height, width}) AppendBE16(bytes_, v);
        if (version == 1) {
            // Version 1 pictures start with their clip region, which is how they are recognised.
            Append(bytes_, {0x11, 0x01});
            Op(0x01).Word(10).Rect(width, height);
        } else {
            Append(bytes_, {0x00, 0x11, 0x02, 0xFF});
            Op(0x0C00).Data(Bytes(24, 0));
        }
    }

    PictFile& Op(int opcode) {
        if (version_ == 1) {
            bytes_.push_back(static_cast<uint8_t>(opcode));
        } else {
            if (bytes_.size() % 2 != 0) bytes_.push_back(0);
            AppendBE16(bytes_, opcode);
        }
        return *this;
    }
    PictFile& Data(const Bytes& data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    PictFile& Word(int v) {
        AppendBE16(bytes_, v);
        return *this;
    }
    PictFile& Long(uint32_t v) {
        AppendBE32(bytes_, v);
        return *this;
    }
    PictFile& Rect(int width, int height) { return RectAt(0, 0, height, width); }
    PictFile& RectAt(int top, int left, int bottom, int right) {
        for (int v : {top, left, bottom, right}) AppendBE16(bytes_, v);
        return *this;
    }
    // The rest of a PixMap record after its row bytes and bounds.
    PictFile& PixMap(int pixelSize, int components = 1, int packType = 0) {
        Word(0).Word(packType).Long(0).Long(0x00480000).Long(0x00480000);
        Word(pixelSize > 8 ? 16 : 0).Word(pixelSize).Word(components).Word(pixelSize > 8 ? 8 : pixelSize);
        return Long(0).Long(0).Long(0);
    }
    // A colour table listing entries in order (device flag set), or with explicit indices.
    PictFile& ColourTable(const std::vector<BGRA>& colours, const std::vector<int>& indices = {}) {
        Long(0).Word(indices.empty() ? 0x8000 : 0).Word(static_cast<int>(colours.size()) - 1);
        for (size_t i = 0; i < colours.size(); ++i) {
            Word(indices.empty() ? 0 : indices[i]);
            Word(colours[i].r * 257).Word(colours[i].g * 257).Word(colours[i].b * 257);
        }
        return *this;
    }
    // Source and destination rectangles and the transfer mode.
    PictFile& Placement(int width, int height) { return Rect(width, height).Rect(width, height).Word(0); }
    // Rows of rowBytes bytes of 8-bit elements: plain below 8 bytes, else packed as literals
    // behind a count of one byte, or two for long rows or when wideCounts asks for them.
    PictFile& Rows(const std::vector<Bytes>& rows, size_t rowBytes, bool wideCounts = false) {
        for (const Bytes& row : rows) {
            if (rowBytes < 8) {
                Data(row);
                continue;
            }
            Bytes packed;
            for (size_t i = 0; i < row.size(); i += 128) {
                const size_t n = std::min<size_t>(128, row.size() - i);
                packed.push_back(static_cast<uint8_t>(n - 1));
                packed.insert(packed.end(), row.begin() + static_cast<long>(i), row.begin() + static_cast<long>(i + n));
            }
            if (rowBytes > 250 || wideCounts)
                Word(static_cast<int>(packed.size()));
            else
                bytes_.push_back(static_cast<uint8_t>(packed.size()));
            Data(packed);
        }
        return *this;
    }
    PictFile& End() { return Op(0xFF); }

    operator const Bytes&() const { return bytes_; }

private:
    int version_;
    Bytes bytes_;
};

const std::vector<BGRA> kFourColours = {OpaqueColour(250, 0, 0), OpaqueColour(0, 250, 0), OpaqueColour(0, 0, 250),
                                        OpaqueColour(10, 20, 30)};

// A 4 x 2 image of 2-bit indices 0 1 2 3 / 3 2 1 0, in plain rows of 1 byte.
PictFile& AddTwoBitImage(PictFile& file) {
    file.Op(0x98).Word(0x8000 | 1).Rect(4, 2).PixMap(2).ColourTable(kFourColours).Placement(4, 2);
    return file.Rows({{0x1B}, {0xE4}}, 1);
}

PictFile TwoBitPicture() {
    PictFile file(2);
    return AddTwoBitImage(file);
}

void ExpectTwoBitPicture(const CImageBitmap& bitmap) {
    ASSERT_EQ(bitmap.Size(), std::make_pair(4, 2));
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(PixelOf(bitmap, x, 0), kFourColours[static_cast<size_t>(x)]) << x;
        EXPECT_EQ(PixelOf(bitmap, x, 1), kFourColours[static_cast<size_t>(3 - x)]) << x;
    }
}

TEST(PictDecoder, FilesWrittenByImageMagickShowTheirPictures) {
    const struct {
        const char* file;
        const char* picture;
        int depthAtZero;
    } cases[] = {
        {"rgb32_magick.pict", "rgb.png", 32},           {"rgba32_magick.pict", "rgba.png", 32},
        {"palette256_magick.pict", "palette256.png", 8}, {"palette16_magick.pict", "palette16.png", 8},
        {"palette2_magick.pict", "palette2.png", 8},     {"wide32_magick.pict", "wide.png", 32},
        {"wide8_magick.pict", "widepalette.png", 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CAutoDecoder decoder;
        CMemBitmap wide, chosen;
        decoder.DecodeFile(Fixture(c.file), wide, 32);
        EXPECT_EQ(decoder.LastFormat(), ImageFormat::PICT);
        EXPECT_EQ(DifferenceFromPicture(wide, Fixture(c.picture)), "");
        int depth = 0;
        ASSERT_EQ(DecodeBytes(ReadBytes(Fixture(c.file)), chosen, depth), 0);
        EXPECT_EQ(depth, c.depthAtZero);
        EXPECT_EQ(chosen.BitsPerPixel(), c.depthAtZero);
        std::string why;
        EXPECT_TRUE(SamePixels(wide, chosen, &why)) << why;
    }

    CAutoDecoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeFile(Fixture("rgba32_magick.pict"), bitmap, 32);
    EXPECT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(bitmap.PixelLine(2)[3].a, 3 * 23 + 2 * 5);
    decoder.DecodeFile(Fixture("rgb32_magick.pict"), bitmap, 32);
    EXPECT_FALSE(bitmap.HasAlpha());
    EXPECT_EQ(bitmap.PixelLine(2)[3].a, 255);
}

TEST(PictDecoder, IndexedPixMapsLookUpTheirColourTable) {
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(TwoBitPicture(), bitmap), 0);
    ExpectTwoBitPicture(bitmap);

    // Explicit entry indices place colours wherever they say; 1- and 4-bit pixels.
    PictFile oneBit(2, 10, 1);
    oneBit.Op(0x98).Word(0x8000 | 2).Rect(10, 1).PixMap(1).ColourTable({kBlack, kWhite}, {1, 0}).Placement(10, 1);
    oneBit.Rows({{0xC0, 0x40}}, 2);
    ASSERT_EQ(DecodeBytes(oneBit, bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), kBlack);  // index 1 holds the first colour given
    EXPECT_EQ(PixelOf(bitmap, 2, 0), kWhite);
    EXPECT_EQ(PixelOf(bitmap, 9, 0), kBlack);

    PictFile fourBit(2, 3, 1);
    fourBit.Op(0x98).Word(0x8000 | 2).Rect(3, 1).PixMap(4).ColourTable(kFourColours).Placement(3, 1);
    fourBit.Rows({{0x32, 0x10}}, 2);
    int depth = 0;
    ASSERT_EQ(DecodeBytes(fourBit, bitmap, depth), 0);
    ASSERT_EQ(bitmap.BitsPerPixel(), 8);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), kFourColours[3]);
    EXPECT_EQ(PixelOf(bitmap, 2, 0), kFourColours[1]);
}

TEST(PictDecoder, MonochromeBitMapsAreBlackOnWhite) {
    // Version 1, a BitsRect of plain rows (2 bytes each) and a PackBitsRect of packed ones.
    PictFile plain(1, 10, 2);
    plain.Op(0x90).Word(2).Rect(10, 2).Placement(10, 2).Rows({{0x80, 0x40}, {0x7F, 0xFF}}, 2).End();
    PictFile packed(1, 64, 1);
    Bytes row(8, 0);
    row[7] = 0x01;
    packed.Op(0x98).Word(8).Rect(64, 1).Placement(64, 1).Rows({row}, 8).End();
    for (int depth : {0, 32}) {
        SCOPED_TRACE(depth);
        CMemBitmap bitmap;
        int asked = depth;
        ASSERT_EQ(DecodeBytes(plain, bitmap, asked), 0);
        EXPECT_EQ(asked, depth == 0 ? 8 : 32);
        EXPECT_EQ(PixelOf(bitmap, 0, 0), kBlack);
        EXPECT_EQ(PixelOf(bitmap, 1, 0), kWhite);
        EXPECT_EQ(PixelOf(bitmap, 9, 0), kBlack);
        EXPECT_EQ(PixelOf(bitmap, 0, 1), kWhite);
        EXPECT_EQ(PixelOf(bitmap, 1, 1), kBlack);
        ASSERT_EQ(DecodeBytes(packed, bitmap, asked), 0);
        EXPECT_EQ(PixelOf(bitmap, 62, 0), kWhite);
        EXPECT_EQ(PixelOf(bitmap, 63, 0), kBlack);
    }
}

TEST(PictDecoder, DirectPixMapsOfSixteenAndThirtyTwoBits) {
    // 16 bits: 5-5-5 big-endian pixels, a component of 31 is full scale.
    PictFile sixteen(2, 4, 1);
    sixteen.Op(0x9A).Long(0).Word(0x8000 | 8).Rect(4, 1).PixMap(16, 3, 3).Placement(4, 1);
    sixteen.Data({9, 3, 0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F, 0x7F, 0xFF});  // a count, four literal pixels
    CMemBitmap bitmap;
    int depth = 8;  // direct pixels cannot be 8 bits: decoded at 32 and reported so
    ASSERT_EQ(DecodeBytes(sixteen, bitmap, depth), 0);
    EXPECT_EQ(depth, 32);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(255, 0, 0));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), OpaqueColour(0, 255, 0));
    EXPECT_EQ(PixelOf(bitmap, 2, 0), OpaqueColour(0, 0, 255));
    EXPECT_EQ(PixelOf(bitmap, 3, 0), OpaqueColour(255, 255, 255));

    // 32 bits, region-clipped (0x9B): planes of alpha, red, green, blue.
    PictFile clipped(2, 2, 1);
    clipped.Op(0x9B).Long(0).Word(0x8000 | 8).Rect(2, 1).PixMap(32, 4, 4).Placement(2, 1).Word(10).Rect(2, 1);
    clipped.Data({9, 0x07, 9, 8, 1, 2, 3, 4, 5, 6});  // one packed row: 8 literal bytes
    ASSERT_EQ(DecodeBytes(clipped, bitmap), 0);
    EXPECT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(PixelOf(bitmap, 0, 0), (BGRA{5, 3, 1, 9}));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), (BGRA{6, 4, 2, 8}));
}

TEST(PictDecoder, ShortPackedRowsWithTwoByteCountsAreRead) {
    // Some writers give rows from about 200 bytes on two-byte counts, below the usual 250.
    std::vector<Bytes> rows(2, Bytes(210));
    for (size_t x = 0; x < 210; ++x) {
        rows[0][x] = static_cast<uint8_t>(x % 4);
        rows[1][x] = static_cast<uint8_t>(3 - x % 4);
    }
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide);
        PictFile file(2, 210, 2);
        file.Op(0x98).Word(0x8000 | 210).Rect(210, 2).PixMap(8).ColourTable(kFourColours).Placement(210, 2);
        file.Rows(rows, 210, wide).End();
        CMemBitmap bitmap;
        ASSERT_EQ(DecodeBytes(file, bitmap), 0);
        ASSERT_EQ(bitmap.Size(), std::make_pair(210, 2));
        for (int x : {0, 1, 127, 128, 130, 209}) {
            EXPECT_EQ(PixelOf(bitmap, x, 0), kFourColours[static_cast<size_t>(x % 4)]) << x;
            EXPECT_EQ(PixelOf(bitmap, x, 1), kFourColours[static_cast<size_t>(3 - x % 4)]) << x;
        }
    }
}

TEST(PictDecoder, SeveralBitmapsAreCompositedOnOnePicture) {
    // A 4 x 4 frame drawn as two bands: indexed colours on top; below, black monochrome rows
    // masked by a region to their left half, so the right half keeps the white background.
    PictFile bands(2, 4, 4);
    AddTwoBitImage(bands);
    bands.Op(0x91).Word(2).RectAt(2, 0, 4, 4).RectAt(2, 0, 4, 4).RectAt(2, 0, 4, 4).Word(0);
    bands.Word(10).RectAt(2, 0, 4, 2);
    bands.Rows({{0xF0, 0}, {0xF0, 0}}, 2).End();
    CMemBitmap bitmap;
    int depth = 0;
    ASSERT_EQ(DecodeBytes(bands, bitmap, depth), 0);
    EXPECT_EQ(depth, 32);
    ASSERT_EQ(bitmap.Size(), std::make_pair(4, 4));
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(PixelOf(bitmap, x, 0), kFourColours[static_cast<size_t>(x)]) << x;
        EXPECT_EQ(PixelOf(bitmap, x, 1), kFourColours[static_cast<size_t>(3 - x)]) << x;
        for (int y : {2, 3}) EXPECT_EQ(PixelOf(bitmap, x, y), x < 2 ? kBlack : kWhite) << x << "," << y;
    }

    // The canvas takes the resolution of its finest bitmap: a 4 x 2 PixMap shown in a 2 x 1
    // rectangle doubles the 2 x 2 frame; a 2 x 1 one of a single colour fills the lower half.
    PictFile scaled(2, 2, 2);
    scaled.Op(0x98).Word(0x8000 | 4).Rect(4, 2).PixMap(8).ColourTable(kFourColours);
    scaled.Rect(4, 2).Rect(2, 1).Word(0).Rows({{0, 1, 2, 3}, {3, 2, 1, 0}}, 4);
    scaled.Op(0x98).Word(0x8000 | 2).Rect(2, 1).PixMap(8).ColourTable(kFourColours);
    scaled.Rect(2, 1).RectAt(1, 0, 2, 2).Word(0).Rows({{2, 2}}, 2).End();
    ASSERT_EQ(DecodeBytes(scaled, bitmap), 0);
    ASSERT_EQ(bitmap.Size(), std::make_pair(4, 4));
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(PixelOf(bitmap, x, 0), kFourColours[static_cast<size_t>(x)]) << x;
        EXPECT_EQ(PixelOf(bitmap, x, 1), kFourColours[static_cast<size_t>(3 - x)]) << x;
        EXPECT_EQ(PixelOf(bitmap, x, 3), kFourColours[2]) << x;
    }

    // Damage after a bitmap ends the picture there instead of losing it.
    Bytes cut = TwoBitPicture();
    const Bytes header = PictFile(2).Op(0x98).Word(0x8000 | 1);
    cut.insert(cut.end(), header.end() - 4, header.end());
    ASSERT_EQ(DecodeBytes(cut, bitmap), 0);
    ExpectTwoBitPicture(bitmap);
}

TEST(PictDecoder, DrawingOpcodesBeforeTheImageAreSkippedByTheirLengths) {
    // The data of each text and region opcode starts with the bytes 00 FF: read as the next
    // opcode instead of skipped, they would end the picture.
    const Bytes text(255, 'x');
    PictFile file(2);
    file.Op(0x01).Word(10).Rect(4, 2);                                       // clip rectangle
    file.Op(0x28).Data({0x00, 0xFF, 0x00, 0x10, 5, 'h', 'e', 'l', 'l', 'o'});  // LongText
    file.Op(0x29).Data({0x00, 0xFF}).Data(text);                             // DHText
    file.Op(0x2A).Data({0x00, 0xFF}).Data(text);                             // DVText
    file.Op(0x2B).Data({0x00, 0xFF, 3, 'a', 'b', 'c'});                      // DHDVText
    file.Op(0x81).Word(0xFF).Rect(4, 2).Data(Bytes(0xFF - 10, 1));           // paintRgn
    file.Op(0x84).Word(0xFF).Rect(4, 2).Data(Bytes(0xFF - 10, 2));           // fillRgn
    file.Op(0x71).Word(14).Rect(4, 2).Data({0, 0, 0, 1});                    // paintPoly
    file.Op(0xA1).Word(100).Word(3).Data({1, 2, 3});                         // LongComment
    file.Op(0x12).Word(2).Data(Bytes(8 + 6, 0x55));                         // BkPixPat, dithered
    file.Op(0x13).Word(1).Data(Bytes(8, 0)).Word(0x8000 | 1).Rect(4, 1).PixMap(2).ColourTable(kFourColours);
    file.Data({0x1B});                                                       // PnPixPat, full: one row
    file.Op(0x24).Word(3).Data({1, 2, 3});                                   // reserved, word length
    file.Op(0xA5).Word(2).Data({1, 2});                                      // reserved, word length
    file.Op(0xB7);                                                           // reserved, no data
    file.Op(0xD3).Long(5).Data(Bytes(5, 0xFF));                              // reserved, long length
    file.Op(0x0280).Data({0x00, 0xFF, 0x00, 0xFF});                          // reserved, 2 x high byte
    file.Op(0x8010);                                                         // reserved, no data
    file.Op(0x8201).Long(3).Data({0xFF, 0xD8, 0xFF});                        // reserved, long length
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(AddTwoBitImage(file), bitmap), 0);
    ExpectTwoBitPicture(bitmap);
}

TEST(PictDecoder, ShapesAreDrawnWithThePenAndPatterns) {
    const BGRA red = OpaqueColour(255, 0, 0);
    const BGRA blue = OpaqueColour(0, 0, 255);
    PictFile file(2, 20, 20);
    file.Op(0x1A).Word(0xFFFF).Word(0).Word(0).Op(0x31).RectAt(2, 2, 6, 6);       // paintRect, red
    file.Op(0x33).RectAt(2, 2, 4, 4);                                             // invertRect
    file.Op(0x07).Word(2).Word(2).Op(0x1A).Word(0).Word(0).Word(0xFFFF);          // 2 x 2 pen, blue
    file.Op(0x30).RectAt(8, 8, 16, 16);                                           // frameRect
    file.Op(0x0A).Data({0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55});         // a checked fill pattern
    file.Op(0x34).RectAt(0, 16, 4, 20);                                           // fillRect
    file.Op(0x07).Word(1).Word(1).Op(0x20).Word(18).Word(0).Word(18).Word(10);   // Line
    file.Op(0x51).RectAt(0, 10, 6, 16);                                           // paintOval
    file.Op(0x61).RectAt(10, 0, 18, 8).Word(0).Word(90);                         // paintArc, 12 to 3
    file.Op(0x01).Word(10).RectAt(0, 0, 20, 19).Op(0x31).RectAt(0, 19, 20, 20);  // clipped away
    file.End();
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(file, bitmap), 0);
    ASSERT_EQ(bitmap.Size(), std::make_pair(20, 20));
    const struct {
        int x, y;
        BGRA colour;
    } expected[] = {
        {2, 2, OpaqueColour(0, 255, 255)}, {3, 3, OpaqueColour(0, 255, 255)}, {4, 4, red}, {5, 5, red},
        {6, 6, kWhite},  {1, 1, kWhite},   {8, 8, blue}, {9, 12, blue}, {10, 10, kWhite}, {15, 15, blue},
        {16, 16, kWhite}, {16, 0, blue},   {17, 0, kWhite}, {16, 1, kWhite}, {17, 1, blue}, {0, 18, blue},
        {10, 18, blue},  {11, 18, kWhite}, {13, 3, blue}, {10, 0, kWhite}, {19, 5, kWhite},
        {6, 11, blue},   {1, 11, kWhite},  {6, 16, kWhite},
    };
    for (const auto& e : expected) EXPECT_EQ(PixelOf(bitmap, e.x, e.y), e.colour) << e.x << "," << e.y;
}

TEST(PictDecoder, VersionOnePicturesDrawShapesAndText) {
    // Old-style colours, an oval and a line of Mac Roman text on its baseline.
    PictFile file(1, 60, 20);
    file.Op(0x0E).Long(205).Op(0x51).RectAt(0, 40, 20, 60);              // red paintOval
    file.Op(0x0E).Long(33).Op(0x0D).Word(14);                               // black, 14 pixels
    file.Op(0x28).Word(16).Word(2).Data({3, 'H', 0x8A, 'I'}).End();          // LongText "HäI"
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(file, bitmap), 0);
    ASSERT_EQ(bitmap.Size(), std::make_pair(60, 20));
    EXPECT_EQ(PixelOf(bitmap, 50, 10), OpaqueColour(255, 0, 0));
    EXPECT_EQ(PixelOf(bitmap, 40, 0), kWhite);
    int inked = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            const BGRA c = PixelOf(bitmap, x, y);
            if (c.r < 128) ++inked;
            if (x >= 36 || y >= 19) {
                EXPECT_EQ(c, kWhite) << x << "," << y;  // beyond the text
            }
        }
    EXPECT_GT(inked, 20);
    EXPECT_EQ(MacRomanToUnicode(std::vector<uint8_t>{'a', 0x8A, 0xA5, 0xD5, 0xF0}), QString::fromUtf8("aä•’\uF8FF"));
}

TEST(PictDecoder, RegionsFlipCoverageLineByLine) {
    // An L: rows 0 and 1 cover x 0 to 3; at row 2 the span from 2 to 4 flips off; at row 4
    // the rest flips off.
    Bytes region;
    for (int v : {0, 0, 0, 4, 4, 0, 0, 4, 0x7FFF, 2, 2, 4, 0x7FFF, 4, 0, 2, 0x7FFF, 0x7FFF}) AppendBE16(region, v);
    region[1] = static_cast<uint8_t>(region.size());
    const QRegion l = PictRegion(region);
    EXPECT_EQ(l.boundingRect(), QRect(0, 0, 4, 4));
    EXPECT_TRUE(l.contains(QPoint(3, 1)));
    EXPECT_TRUE(l.contains(QPoint(1, 3)));
    EXPECT_FALSE(l.contains(QPoint(2, 2)));
    EXPECT_FALSE(l.contains(QPoint(0, 4)));
    // Lines cut short cover the bounding box; a bare box is a rectangle.
    const Bytes cut(region.begin(), region.begin() + 16);
    EXPECT_EQ(PictRegion(cut), QRegion(0, 0, 4, 4));
    EXPECT_EQ(PictRegion(Bytes(region.begin(), region.begin() + 10)), QRegion(0, 0, 4, 4));
}

TEST(PictDecoder, PicturesWithoutImagesOrWithUnknownPartsAreRefused) {
    // Pen, colour and comment opcodes alone draw nothing.
    PictFile nothing(2);
    nothing.Op(0x07).Word(2).Word(2).Op(0x1A).Word(0).Word(0).Word(0).Op(0xA0).Word(5).End();
    EXPECT_EQ(ErrorOf(nothing), ERR_FEATURE_UNAVAILABLE);
    PictFile nothingV1(1);
    nothingV1.Op(0x09).Data(Bytes(8, 0)).Op(0x0E).Long(205).End();
    EXPECT_EQ(ErrorOf(nothingV1), ERR_FEATURE_UNAVAILABLE);

    PictFile pattern(2);
    pattern.Op(0x14).Word(3).Data(Bytes(40, 0));
    EXPECT_EQ(ErrorOf(pattern), ERR_BAD_DATA);

    PictFile region(2);
    region.Op(0x80).Word(1).End();
    EXPECT_EQ(ErrorOf(region), ERR_BAD_DATA);

    Bytes noVersion = TwoBitPicture();
    noVersion[523] = 0x12;
    EXPECT_EQ(ErrorFrom<CPICTDecoder>(noVersion), ERR_NOT_THIS_FORMAT);
    Bytes badVersion = TwoBitPicture();
    badVersion[524] = 3;
    EXPECT_EQ(ErrorFrom<CPICTDecoder>(badVersion), ERR_NOT_THIS_FORMAT);

    const auto pixMapOf = [](int pixelSize, int components, int opcode) {
        PictFile file(2);
        file.Op(opcode);
        if (opcode == 0x9A) file.Long(0);
        file.Word(0x8000 | 8).Rect(2, 1).PixMap(pixelSize, components);
        if (opcode != 0x9A) file.ColourTable(kFourColours);
        return file.Placement(2, 1).Data(Bytes(16, 0));
    };
    EXPECT_EQ(ErrorOf(pixMapOf(3, 1, 0x98)), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(pixMapOf(32, 2, 0x9A)), ERR_BAD_DATA);
    EXPECT_EQ(ErrorOf(pixMapOf(8, 1, 0x9A)), ERR_BAD_DATA);

    // A colour table entry whose index is not below the table's size.
    PictFile table(2);
    table.Op(0x98).Word(0x8000 | 1).Rect(4, 2).PixMap(2).ColourTable({kBlack, kWhite}, {0, 2});
    table.Placement(4, 2).Rows({{0x1B}, {0xE4}}, 1);
    EXPECT_EQ(ErrorOf(table), ERR_BAD_DATA);
}

TEST(PictDecoder, OversizedTablesAndRowsStayInsideTheirBuffers) {
    // 300 colours: entries beyond 255 are read and dropped.
    std::vector<BGRA> many(300, OpaqueColour(1, 2, 3));
    many[255] = OpaqueColour(9, 9, 9);
    PictFile file(2, 2, 1);
    file.Op(0x98).Word(0x8000 | 2).Rect(2, 1).PixMap(8).ColourTable(many).Placement(2, 1).Rows({{255, 0}}, 2);
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(file, bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(9, 9, 9));

    // Packed rows whose runs make more than the 8 bytes a row holds, and a row that makes
    // fewer: the first keeps what fits, the second leaves colour 0.
    PictFile runs(2, 8, 2);
    runs.Op(0x98).Word(0x8000 | 8).Rect(8, 2).PixMap(8).ColourTable(kFourColours).Placement(8, 2);
    runs.Data({4, 0x81, 1, 0x81, 2, 3, 0x80, 0xFD, 3});  // row 1: 128 ones, 128 twos; row 2: 4 threes
    ASSERT_EQ(DecodeBytes(runs, bitmap), 0);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelOf(bitmap, x, 0), kFourColours[1]) << x;
    for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelOf(bitmap, x, 1), kFourColours[x < 4 ? 3 : 0]) << x;

    // Plain rows that cover fewer pixels than the width: the rest is colour 0.
    PictFile narrow(2, 12, 1);
    narrow.Op(0x98).Word(0x8000 | 1).Rect(12, 1).PixMap(2).ColourTable(kFourColours).Placement(12, 1);
    narrow.Rows({{0xFF}}, 1);
    ASSERT_EQ(DecodeBytes(narrow, bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 3, 0), kFourColours[3]);
    EXPECT_EQ(PixelOf(bitmap, 11, 0), kFourColours[0]);

    // A lone image whose rows end early is refused, not shown empty.
    PictFile cutRows(2, 8, 2);
    cutRows.Op(0x98).Word(0x8000 | 8).Rect(8, 2).PixMap(8).ColourTable(kFourColours).Placement(8, 2);
    cutRows.Data({2, 0x00, 3, 40, 1});
    EXPECT_EQ(ErrorOf(cutRows), ERR_END_OF_DATA);

    // 30000 x 30000 pixels claimed by a few bytes are refused before allocation.
    PictFile huge(2);
    huge.Op(0x98).Word(0x8000 | 30000).Rect(30000, 30000).PixMap(8).ColourTable(kFourColours).Placement(2, 2);
    huge.Data(Bytes(100, 0));
    EXPECT_EQ(ErrorOf(huge), ERR_END_OF_DATA);
}

TEST(PictDecoder, UnpackBitsStopsAtEitherEnd) {
    uint8_t out[8] = {};
    const uint8_t literal[] = {3, 1, 2};  // four literal bytes promised, two present
    EXPECT_EQ(UnpackBits(literal, sizeof literal, out, sizeof out, 1), 2u);
    const uint8_t pixels[] = {0xFE, 0xAB, 0xCD, 0x80, 0x00, 0x11, 0x22};  // 3 x AB CD, skip, 1 pixel
    EXPECT_EQ(UnpackBits(pixels, sizeof pixels, out, sizeof out, 2), 8u);
    EXPECT_EQ(out[4], 0xAB);
    EXPECT_EQ(out[6], 0x11);
    const uint8_t tooMany[] = {0x81, 7};  // 128 sevens into 8 bytes
    EXPECT_EQ(UnpackBits(tooMany, sizeof tooMany, out, sizeof out, 1), 8u);
    const uint8_t cut[] = {0xFF, 0xAB};  // a 2-byte element cut short
    EXPECT_EQ(UnpackBits(cut, sizeof cut, out, sizeof out, 2), 0u);
}

// A QuickTime opcode holding some description bytes and then a JPEG stream, optionally
// followed by the bitmap and text that readers without QuickTime show instead.
Bytes QuickTimePicture(const Bytes& payload, bool fallback = false) {
    PictFile file(2);
    Bytes data(68, 0);
    data.insert(data.end(), payload.begin(), payload.end());
    file.Op(0x8200).Long(static_cast<uint32_t>(data.size())).Data(data);
    if (fallback) {
        AddTwoBitImage(file);
        file.Op(0x28).Word(10).Word(2).Data({7, 'm', 'i', 's', 's', 'i', 'n', 'g'});
    }
    return file.End();
}

TEST(PictDecoder, JpegDataGoesToTheJpegDecoder) {
    for (const char* name : {"photo.jpg", "photo_grey.jpg"}) {
        SCOPED_TRACE(name);
        CAutoDecoder decoder;
        CMemBitmap direct, embedded;
        decoder.DecodeFile(Fixture(name), direct, 32);
        int depth = 0;
        for (bool fallback : {false, true}) {
            ASSERT_EQ(DecodeBytes(QuickTimePicture(ReadBytes(Fixture(name)), fallback), embedded, depth), 0);
            EXPECT_EQ(depth, 32);
            EXPECT_EQ(embedded.BitsPerPixel(), 32);
            std::string why;
            EXPECT_TRUE(SamePixels(direct, embedded, &why)) << why;
        }
    }
    const Bytes jpeg = QuickTimePicture(ReadBytes(Fixture("photo.jpg")));
    EXPECT_EQ(ErrorFrom<CPICTDecoder>(jpeg, nullptr), ERR_FEATURE_UNAVAILABLE);
    EXPECT_EQ(ErrorOf(QuickTimePicture(Bytes(40, 0xD8))), ERR_FEATURE_UNAVAILABLE);
}

}  // namespace
