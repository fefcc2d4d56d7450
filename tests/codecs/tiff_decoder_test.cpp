#include "codecs/auto_decoder.h"
#include "codecs/tiff_decoder.h"
#include "decode_test_helpers.h"

#include "imagelib/byte_order.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <array>
#include <cstring>
#include <functional>

namespace {

// A picture to write with libtiff itself. sample gives the stored value of one sample.
struct TiffPicture {
    uint32_t width = 9, height = 7;
    uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, orientation = ORIENTATION_TOPLEFT;
    uint16_t compression = COMPRESSION_NONE, extraSample = EXTRASAMPLE_UNASSALPHA;
    bool tiled = false;  // 16 x 16 tiles, 8- or 16-bit samples only
    uint32_t rowsPerStrip = 1;
    int pages = 1;  // the same picture in each directory
    std::vector<uint8_t> iccProfile;
    std::vector<uint16_t> colourMap;  // red, then green, then blue entries
    std::function<uint32_t(uint32_t x, uint32_t y, int sample)> sample;
};

// One row of one plane, packed from the most significant bit (16-bit samples in the
// machine's order, which libtiff writes as the file's).
std::vector<uint8_t> PackRow(const TiffPicture& p, uint32_t y, int plane) {
    const bool separate = p.planar == PLANARCONFIG_SEPARATE;
    const int perPixel = separate ? 1 : p.samples;
    std::vector<uint8_t> row((static_cast<size_t>(p.width) * perPixel * p.bits + 7) / 8);
    for (uint32_t x = 0; x < p.width; ++x)
        for (int k = 0; k < perPixel; ++k) {
            const uint32_t v = p.sample(x, y, separate ? plane : k);
            const size_t index = static_cast<size_t>(x) * perPixel + k;
            if (p.bits == 16) {
                const auto v16 = static_cast<uint16_t>(v);
                std::memcpy(&row[2 * index], &v16, 2);
                continue;
            }
            for (int b = 0; b < p.bits; ++b)
                if (v >> (p.bits - 1 - b) & 1) {
                    const size_t bit = index * p.bits + static_cast<size_t>(b);
                    row[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
                }
        }
    return row;
}

std::vector<uint8_t> EncodeTiff(const TiffPicture& p) {
    TempDir dir;
    const std::string path = dir.File("picture.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    for (int page = 0; page < p.pages; ++page) {
        if (page > 0) TIFFWriteDirectory(tiff);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, p.planar);
        TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, p.format);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, p.orientation);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, p.compression);
        const int colours = p.photometric == PHOTOMETRIC_RGB ? 3 : 1;
        if (p.samples > colours) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &p.extraSample);
        if (!p.colourMap.empty()) {
            const size_t n = p.colourMap.size() / 3;
            TIFFSetField(tiff, TIFFTAG_COLORMAP, p.colourMap.data(), p.colourMap.data() + n, p.colourMap.data() + 2 * n);
        }
        if (!p.iccProfile.empty())
            TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(p.iccProfile.size()), p.iccProfile.data());
        if (p.tiled) {
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
            const bool separate = p.planar == PLANARCONFIG_SEPARATE;
            const size_t pixelBytes = static_cast<size_t>(separate ? 1 : p.samples) * (p.bits / 8);
            for (int plane = 0; plane < (separate ? p.samples : 1); ++plane)
                for (uint32_t ty = 0; ty < p.height; ty += 16)
                    for (uint32_t tx = 0; tx < p.width; tx += 16) {
                        std::vector<uint8_t> tile(16 * 16 * pixelBytes);
                        for (uint32_t y = ty; y < std::min(ty + 16, p.height); ++y) {
                            const auto row = PackRow(p, y, plane);
                            for (uint32_t x = tx; x < std::min(tx + 16, p.width); ++x)
                                std::memcpy(&tile[((y - ty) * 16 + (x - tx)) * pixelBytes], &row[x * pixelBytes], pixelBytes);
                        }
                        TIFFWriteTile(tiff, tile.data(), tx, ty, 0, static_cast<uint16_t>(plane));
                    }
        } else {
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip);
            for (int plane = 0; plane < (p.planar == PLANARCONFIG_SEPARATE ? p.samples : 1); ++plane)
                for (uint32_t y = 0; y < p.height; ++y) {
                    auto row = PackRow(p, y, plane);
                    TIFFWriteScanline(tiff, row.data(), y, static_cast<uint16_t>(plane));
                }
        }
    }
    TIFFClose(tiff);
    return ReadBytes(path);
}

uint32_t Ramp(uint32_t x, uint32_t y, int sample) { return x * 3 + y * 5 + static_cast<uint32_t>(sample) * 40; }

BGRA Grey(int v) { return BGRA{static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v), 255}; }

// Decodes at 32 bits as callers do: the decode's finish step turns the picture upright
// unless the context keeps it as stored.
void DecodeFinished(CImageDecoder& decoder, const Bytes& bytes, CImageBitmap& bitmap, bool keepOrientation = false) {
    CDecodeContext context;
    context.applyOrientation = !keepOrientation;
    decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, context, 32);
}

}  // namespace

// Asked for 0 bits, black-is-zero and white-is-zero images keep one index per pixel with
// a ramp of their levels; bilevel ones stay 1-bit unless 8 bits are asked.
TEST(TiffDecoderTest, LowColourImagesGiveIndicesAndRampsAtEveryBitDepth) {
    CTIFFDecoder decoder;
    for (uint16_t bits : {1, 2, 3, 4, 8}) {
        for (const auto& [photometric, asked] : {std::pair{PHOTOMETRIC_MINISBLACK, 0}, std::pair{PHOTOMETRIC_MINISWHITE, 0},
                                                std::pair{PHOTOMETRIC_MINISBLACK, 8}}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, photometric " << photometric << ", asked " << asked);
            TiffPicture p;
            p.bits = bits;
            p.photometric = photometric;
            const uint32_t levels = 1u << bits;
            p.sample = [levels](uint32_t x, uint32_t y, int) { return (x + 2 * y) % levels; };
            CMemBitmap bitmap;
            int depth = asked;
            DecodeBytes(decoder, EncodeTiff(p), bitmap, depth);
            ASSERT_EQ(depth, bits == 1 && asked == 0 ? 1 : 8);
            ASSERT_EQ(bitmap.BitsPerPixel(), depth);
            for (uint32_t y = 0; y < p.height; ++y)
                for (uint32_t x = 0; x < p.width; ++x) {
                    const uint8_t* row = bitmap.Line(static_cast<int>(y));
                    const uint32_t index = depth == 1 ? (row[x / 8] >> (7 - x % 8) & 1) : row[x];
                    ASSERT_EQ(index, p.sample(x, y, 0)) << x << ", " << y;
                    const int level = static_cast<int>(photometric == PHOTOMETRIC_MINISWHITE ? levels - 1 - index : index);
                    ASSERT_EQ(bitmap.Palette()[index], Grey(level * 255 / static_cast<int>(levels - 1)));
                }
        }
    }
}

TEST(TiffDecoderTest, ColourMapsAreScaledWhenWideAndNeverReadPastTheirEnd) {
    CTIFFDecoder decoder;
    TiffPicture p;
    p.photometric = PHOTOMETRIC_PALETTE;
    p.bits = 4;
    p.sample = [](uint32_t x, uint32_t, int) { return x % 16; };
    for (uint16_t scale : {uint16_t{257}, uint16_t{1}}) {
        p.colourMap.clear();
        for (int channel = 0; channel < 3; ++channel)
            for (int i = 0; i < 16; ++i) p.colourMap.push_back(static_cast<uint16_t>((i * 16 + channel) * scale));
        CMemBitmap bitmap;
        int depth = 0;
        DecodeBytes(decoder, EncodeTiff(p), bitmap, depth);
        ASSERT_EQ(bitmap.BitsPerPixel(), 8);
        EXPECT_EQ(bitmap.Line(0)[5], 5);
        EXPECT_EQ(bitmap.Palette()[5], OpaqueColour(80, 81, 82)) << scale;
        EXPECT_EQ(bitmap.Palette()[200], Grey(200)) << "entries past the map keep the grey ramp";
    }
}

TEST(TiffDecoderTest, ThirtyTwoBitsComeThroughTheRgbaInterfaceTopRowFirst) {
    CTIFFDecoder decoder;
    TiffPicture rgb;
    rgb.photometric = PHOTOMETRIC_RGB;
    rgb.samples = 3;
    rgb.sample = Ramp;
    TiffPicture rgba = rgb;
    rgba.samples = 4;
    rgba.sample = [](uint32_t x, uint32_t y, int s) { return s == 3 ? 255u : Ramp(x, y, s); };
    TiffPicture tiled;
    tiled.width = 20;
    tiled.height = 18;
    tiled.tiled = true;
    tiled.sample = Ramp;
    for (const TiffPicture& p : {rgb, rgba, tiled}) {
        CMemBitmap bitmap;
        int depth = p.tiled ? 0 : 32;
        DecodeBytes(decoder, EncodeTiff(p), bitmap, depth);
        EXPECT_EQ(depth, 32);
        ASSERT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_EQ(bitmap.HasAlpha(), p.samples == 4);
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x) {
                const auto c = [&](int s) { return static_cast<uint8_t>(p.sample(x, y, p.samples == 1 ? 0 : s)); };
                ASSERT_EQ(bitmap.PixelLine(static_cast<int>(y))[x], (BGRA{c(2), c(1), c(0), 255})) << x << ", " << y;
            }
    }
}

// Orientation 4 stores the bottom row first; 6 and 8 store the picture's columns as rows.
TEST(TiffDecoderTest, OrientationsAreShownUpright) {
    CTIFFDecoder decoder;
    TiffPicture p;
    p.sample = [](uint32_t x, uint32_t y, int) { return x * 20 + y; };
    struct Case {
        uint16_t orientation;
        std::function<std::pair<uint32_t, uint32_t>(uint32_t x, uint32_t y)> stored;  // (column, row)
    };
    const uint32_t w = p.width, h = p.height;
    for (const Case& c : {Case{ORIENTATION_BOTLEFT, [h](uint32_t x, uint32_t y) { return std::make_pair(x, h - 1 - y); }},
                          Case{ORIENTATION_RIGHTTOP, [h](uint32_t x, uint32_t y) { return std::make_pair(y, h - 1 - x); }},
                          Case{ORIENTATION_LEFTBOT, [w](uint32_t x, uint32_t y) { return std::make_pair(w - 1 - y, x); }}}) {
        SCOPED_TRACE(c.orientation);
        p.orientation = c.orientation;
        CMemBitmap bitmap;
        DecodeFinished(decoder, EncodeTiff(p), bitmap);
        const bool turned = c.orientation >= ORIENTATION_LEFTTOP;
        ASSERT_EQ(bitmap.Size(), turned ? std::make_pair(int(h), int(w)) : std::make_pair(int(w), int(h)));
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x) {
                const auto [column, row] = c.stored(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
                ASSERT_EQ(bitmap.PixelLine(y)[x], Grey(static_cast<int>(p.sample(column, row, 0)))) << x << ", " << y;
            }
    }
}

// The RGBA interface reads band by band (a strip of several rows, a row of tiles, the last
// one short), as stored; the decode turns the picture, or keeps it as stored when asked.
TEST(TiffDecoderTest, OrientationsAreShownUprightAcrossBandsOfStripsAndTiles) {
    CTIFFDecoder decoder;
    TiffPicture p;
    p.width = 37;
    p.height = 29;
    p.samples = 3;
    p.photometric = PHOTOMETRIC_RGB;
    p.sample = [](uint32_t x, uint32_t y, int sample) { return (x * 7 + y * 3 + static_cast<uint32_t>(sample) * 50) % 256; };
    const uint32_t w = p.width, h = p.height;
    struct Case {
        uint16_t orientation;
        std::function<std::pair<uint32_t, uint32_t>(uint32_t x, uint32_t y)> stored;  // (column, row)
    };
    const Case cases[] = {
        {ORIENTATION_TOPLEFT, [](uint32_t x, uint32_t y) { return std::make_pair(x, y); }},
        {ORIENTATION_BOTRIGHT, [w, h](uint32_t x, uint32_t y) { return std::make_pair(w - 1 - x, h - 1 - y); }},
        {ORIENTATION_BOTLEFT, [h](uint32_t x, uint32_t y) { return std::make_pair(x, h - 1 - y); }},
        {ORIENTATION_LEFTBOT, [w](uint32_t x, uint32_t y) { return std::make_pair(w - 1 - y, x); }},
    };
    for (const bool tiled : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << (tiled ? "tiles, " : "strips of 5 rows, ") << c.orientation);
            p.tiled = tiled;
            p.rowsPerStrip = 5;
            p.orientation = c.orientation;
            const auto bytes = EncodeTiff(p);
            CMemBitmap bitmap;
            DecodeFinished(decoder, bytes, bitmap);
            const bool turned = c.orientation >= ORIENTATION_LEFTTOP;
            ASSERT_EQ(bitmap.Size(), turned ? std::make_pair(int(h), int(w)) : std::make_pair(int(w), int(h)));
            EXPECT_EQ(bitmap.Metadata().orientation, 1);
            auto colour = [&p](uint32_t column, uint32_t row) {
                auto at = [&](int sample) { return static_cast<uint8_t>(p.sample(column, row, sample)); };
                return BGRA{at(2), at(1), at(0), 255};
            };
            for (int y = 0; y < bitmap.Height(); ++y)
                for (int x = 0; x < bitmap.Width(); ++x) {
                    const auto [column, row] = c.stored(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
                    ASSERT_EQ(bitmap.PixelLine(y)[x], colour(column, row)) << x << ", " << y;
                }

            DecodeFinished(decoder, bytes, bitmap, true);
            ASSERT_EQ(bitmap.Size(), std::make_pair(int(w), int(h)));
            EXPECT_EQ(bitmap.Metadata().orientation, c.orientation);
            for (int y = 0; y < bitmap.Height(); ++y)
                for (int x = 0; x < bitmap.Width(); ++x)
                    ASSERT_EQ(bitmap.PixelLine(y)[x], colour(static_cast<uint32_t>(x), static_cast<uint32_t>(y)))
                        << "kept as stored at " << x << ", " << y;
        }
}

// Every path delivers rows as stored and leaves the Orientation tag to the decode's finish
// step, the RGBA interface too.
TEST(TiffDecoderTest, OrientationIccProfileAndPagesReachTheMetadataAndTheProbe) {
    TiffPicture p;
    p.orientation = ORIENTATION_RIGHTTOP;
    p.pages = 3;
    p.iccProfile = {0, 0, 0, 12, 'l', 'c', 'm', 's', 2, 0x10, 0, 0};
    p.sample = [](uint32_t x, uint32_t y, int) { return x * 20 + y; };
    const auto bytes = EncodeTiff(p);
    CTIFFDecoder decoder;

    CMemBitmap stored;
    int depth = 0;
    DecodeBytes(decoder, bytes, stored, depth);
    ASSERT_EQ(stored.Size(), std::make_pair(9, 7));
    EXPECT_EQ(stored.Line(2)[3], 62);
    const ImageMetadata& m = stored.Metadata();
    EXPECT_EQ(m.orientation, ORIENTATION_RIGHTTOP);
    EXPECT_EQ(m.iccProfile, p.iccProfile);
    EXPECT_EQ(m.frameCount, 3);

    const ImageInfo info = decoder.ProbeMemory(bytes.data(), bytes.size());
    EXPECT_EQ(std::make_pair(info.width, info.height), stored.Size());
    EXPECT_EQ(info.orientation, ORIENTATION_RIGHTTOP);
    EXPECT_EQ(info.frameCount, 3);
    EXPECT_TRUE(info.hasColourProfile);
    EXPECT_EQ(info.bitsPerPixel, 8);
    EXPECT_FALSE(info.hasAlpha);

    CMemBitmap asStored;
    depth = 32;
    DecodeBytes(decoder, bytes, asStored, depth);
    ASSERT_EQ(asStored.Size(), std::make_pair(9, 7));
    EXPECT_EQ(asStored.Metadata().orientation, ORIENTATION_RIGHTTOP);

    CMemBitmap upright;
    DecodeFinished(decoder, bytes, upright);
    ASSERT_EQ(upright.Size(), std::make_pair(7, 9));
    EXPECT_EQ(upright.Metadata().orientation, 1);
    EXPECT_EQ(upright.Metadata().iccProfile, p.iccProfile);
    EXPECT_EQ(upright.Metadata().frameCount, 3);

    // Colour goes through the RGBA interface at every depth, as stored too.
    TiffPicture rgba = p;
    rgba.samples = 3;
    rgba.photometric = PHOTOMETRIC_RGB;
    rgba.pages = 1;
    rgba.iccProfile.clear();
    const auto colour = EncodeTiff(rgba);
    const ImageInfo turned = decoder.ProbeMemory(colour.data(), colour.size());
    EXPECT_EQ(std::make_pair(turned.width, turned.height), std::make_pair(9, 7));
    EXPECT_EQ(turned.orientation, ORIENTATION_RIGHTTOP);
    EXPECT_EQ(turned.bitsPerPixel, 24);
    EXPECT_FALSE(turned.hasAlpha);
    EXPECT_EQ(turned.frameCount, 1);
    EXPECT_FALSE(turned.hasColourProfile);
}

// Sample layouts libtiff's RGBA interface refuses or misreads.
TEST(TiffDecoderTest, PlainSamplesOfAnyDepthOrSignAreScaledToEightBits) {
    TiffPicture twelve;
    twelve.bits = 12;
    twelve.sample = [](uint32_t x, uint32_t y, int) { return x * 400 + y * 7; };
    TiffPicture signedGrey;
    signedGrey.bits = 16;
    signedGrey.format = SAMPLEFORMAT_INT;
    signedGrey.sample = [](uint32_t x, uint32_t, int) { return x * 0x1C00; };  // 0x8000 and above are negative
    // Rounded to the nearest level: 0x00FF is 1, where its high byte would give 0.
    TiffPicture grey16;
    grey16.bits = 16;
    grey16.sample = [](uint32_t x, uint32_t y, int) { return x * 0x0F0F + y * 0x00FF; };
    // Tiles too, the last column and row of them cut by the picture's edges.
    TiffPicture tiledRgba16;
    tiledRgba16.width = 37;
    tiledRgba16.height = 21;
    tiledRgba16.tiled = true;
    tiledRgba16.bits = 16;
    tiledRgba16.samples = 4;
    tiledRgba16.photometric = PHOTOMETRIC_RGB;
    tiledRgba16.sample = [](uint32_t x, uint32_t y, int s) { return s == 3 ? 0xFFFF - x * 0x100 : (x * 0x0707 + y * 0x00FF + static_cast<uint32_t>(s) * 0x3000) & 0xFFFF; };
    TiffPicture rgb4;
    rgb4.photometric = PHOTOMETRIC_RGB;
    rgb4.samples = 3;
    rgb4.bits = 4;
    rgb4.sample = [](uint32_t x, uint32_t y, int s) { return (x + y + static_cast<uint32_t>(s) * 5) % 16; };
    TiffPicture greyAlpha;
    greyAlpha.samples = 2;
    greyAlpha.planar = PLANARCONFIG_SEPARATE;
    greyAlpha.sample = [](uint32_t x, uint32_t y, int s) { return s == 0 ? x * 20 + y : 255 - x; };

    struct Case {
        TiffPicture picture;
        std::function<BGRA(uint32_t x, uint32_t y)> expected;
    };
    const Case cases[] = {
        {twelve, [&](uint32_t x, uint32_t y) { return Grey(static_cast<int>((twelve.sample(x, y, 0) * 255 + 2047) / 4095)); }},
        {signedGrey, [](uint32_t x, uint32_t) { return Grey(static_cast<int>((((x * 0x1C00) ^ 0x8000) * 255 + 32767) / 65535)); }},
        {grey16, [&](uint32_t x, uint32_t y) { return Grey(static_cast<int>((grey16.sample(x, y, 0) * 255 + 32767) / 65535)); }},
        {rgb4, [&](uint32_t x, uint32_t y) {
             const auto c = [&](int s) { return static_cast<uint8_t>(rgb4.sample(x, y, s) * 17); };
             return BGRA{c(2), c(1), c(0), 255};
         }},
        {tiledRgba16, [&](uint32_t x, uint32_t y) {
             const auto c = [&](int s) { return static_cast<uint8_t>((tiledRgba16.sample(x, y, s) * 255 + 32767) / 65535); };
             return BGRA{c(2), c(1), c(0), c(3)};
         }},
        {greyAlpha, [](uint32_t x, uint32_t y) {
             BGRA g = Grey(static_cast<int>(x * 20 + y));
             g.a = static_cast<uint8_t>(255 - x);
             return g;
         }},
    };
    CTIFFDecoder decoder;
    for (const Case& c : cases) {
        CMemBitmap bitmap;
        int depth = 32;
        DecodeBytes(decoder, EncodeTiff(c.picture), bitmap, depth);
        ASSERT_EQ(bitmap.BitsPerPixel(), 32);
        for (uint32_t y = 0; y < c.picture.height; ++y)
            for (uint32_t x = 0; x < c.picture.width; ++x) {
                ASSERT_EQ(bitmap.PixelLine(static_cast<int>(y))[x], c.expected(x, y))
                    << c.picture.bits << " bits at " << x << ", " << y;
            }
    }
}

// Alpha is kept and colours come out straight: associated alpha's premultiplied colours are
// divided by it, grey and RGB, in strips and tiles (read here) and in tiles of separate
// planes (the RGBA interface, which premultiplies unassociated alpha with RGB itself);
// unassociated alpha read here is exact.
TEST(TiffDecoderTest, AlphaIsKeptWithStraightColours) {
    const auto straight = [](uint32_t x, uint32_t y, int s) { return (x * 37 + y * 11 + static_cast<uint32_t>(s) * 60) % 256; };
    const auto alphaOf = [](uint32_t x, uint32_t y) { return std::array<uint32_t, 4>{255, 128, 64, 200}[(x + y) % 4]; };
    struct Case {
        const char* name;
        uint16_t photometric, samples, extraSample;
        bool tiled;
        uint16_t planar = PLANARCONFIG_CONTIG;
    };
    const Case cases[] = {
        {"grey, associated, strips", PHOTOMETRIC_MINISBLACK, 2, EXTRASAMPLE_ASSOCALPHA, false},
        {"RGB, associated, strips", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_ASSOCALPHA, false},
        {"RGB, unassociated, strips", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_UNASSALPHA, false},
        {"RGB, associated, tiles", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_ASSOCALPHA, true},
        {"RGB, unassociated, tiles", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_UNASSALPHA, true},
        {"grey, associated, tiles", PHOTOMETRIC_MINISBLACK, 2, EXTRASAMPLE_ASSOCALPHA, true},
        {"grey, unassociated, tiles", PHOTOMETRIC_MINISBLACK, 2, EXTRASAMPLE_UNASSALPHA, true},
        {"RGB, associated, planar tiles", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_ASSOCALPHA, true, PLANARCONFIG_SEPARATE},
        {"RGB, unassociated, planar tiles", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_UNASSALPHA, true, PLANARCONFIG_SEPARATE},
    };
    CTIFFDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffPicture p;
        p.width = 19;
        p.height = 17;
        p.photometric = c.photometric;
        p.samples = c.samples;
        p.extraSample = c.extraSample;
        p.tiled = c.tiled;
        p.planar = c.planar;
        const int colours = c.samples - 1;
        const bool associated = c.extraSample == EXTRASAMPLE_ASSOCALPHA;
        p.sample = [&](uint32_t x, uint32_t y, int s) {
            const uint32_t a = alphaOf(x, y);
            if (s == colours) return a;
            return associated ? (straight(x, y, s) * a + 127) / 255 : straight(x, y, s);
        };
        CMemBitmap bitmap;
        int depth = 32;
        DecodeBytes(decoder, EncodeTiff(p), bitmap, depth);
        ASSERT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_TRUE(bitmap.HasAlpha());
        const bool exact = !associated && c.planar == PLANARCONFIG_CONTIG;
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x) {
                const BGRA got = bitmap.PixelLine(static_cast<int>(y))[x];
                const uint32_t a = alphaOf(x, y);
                ASSERT_EQ(got.a, a) << x << ", " << y;
                const int tolerance = exact ? 0 : static_cast<int>(255 / a);
                const uint8_t channels[3] = {got.r, got.g, got.b};
                for (int k = 0; k < 3; ++k) {
                    const int expected = static_cast<int>(straight(x, y, colours == 1 ? 0 : k));
                    ASSERT_LE(std::abs(channels[k] - expected), tolerance) << "channel " << k << " at " << x << ", " << y;
                }
            }
    }
}

// 16-bit colours premultiplied by a faint alpha are divided out before they are made 8-bit:
// from 8-bit levels a colour under alpha 3 / 255 could only be guessed to within 40 levels.
TEST(TiffDecoderTest, SixteenBitAssociatedAlphaKeepsFaintColours) {
    TiffPicture p;
    p.bits = 16;
    p.samples = 4;
    p.photometric = PHOTOMETRIC_RGB;
    p.extraSample = EXTRASAMPLE_ASSOCALPHA;
    const auto straight = [](uint32_t x, uint32_t y, int s) { return (x * 37 + y * 11 + static_cast<uint32_t>(s) * 60) % 256; };
    const auto alphaOf = [](uint32_t x, uint32_t y) { return std::array<uint32_t, 4>{3, 17, 128, 255}[(x + y) % 4] * 257; };
    p.sample = [&](uint32_t x, uint32_t y, int s) {
        const uint32_t a = alphaOf(x, y);
        return s == 3 ? a : (straight(x, y, s) * 257 * a + 32767) / 65535;
    };
    CTIFFDecoder decoder;
    CMemBitmap bitmap;
    int depth = 32;
    DecodeBytes(decoder, EncodeTiff(p), bitmap, depth);
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            const BGRA got = bitmap.PixelLine(static_cast<int>(y))[x];
            ASSERT_EQ(got.a, alphaOf(x, y) / 257);
            const uint8_t channels[3] = {got.r, got.g, got.b};
            for (int k = 0; k < 3; ++k)
                ASSERT_LE(std::abs(channels[k] - static_cast<int>(straight(x, y, k))), 1) << "channel " << k << " at " << x << ", " << y;
        }
}

// Strips of one row each, compressed; one strip overwritten with garbage.
TEST(TiffDecoderTest, DamagedStripsFailUnlessLateOnTheLowColourPath) {
    TiffPicture p;
    p.height = 12;
    p.compression = COMPRESSION_LZW;
    p.sample = Ramp;
    const auto good = EncodeTiff(p);
    auto damaged = [&good](uint32_t strip) {
        TempDir dir;
        WriteBytes(dir.File("t.tif"), good);
        TIFF* tiff = TIFFOpen(dir.File("t.tif").c_str(), "r");
        uint64_t *offsets = nullptr, *counts = nullptr;
        TIFFGetField(tiff, TIFFTAG_STRIPOFFSETS, &offsets);
        TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts);
        auto bytes = good;
        std::fill_n(bytes.begin() + static_cast<long>(offsets[strip]), counts[strip], 0xFF);
        TIFFClose(tiff);
        return bytes;
    };
    CTIFFDecoder decoder;
    std::string text;
    EXPECT_EQ(DecodeError(decoder, damaged(1), &text, 0), ERR_CANNOT_HANDLE);
    EXPECT_NE(text, "Decoder error: The TIFF data cannot be read.\n") << "libtiff's own message is lost";
    EXPECT_EQ(DecodeError(decoder, damaged(11), nullptr, 0), 0);
    EXPECT_EQ(DecodeError(decoder, damaged(11), nullptr, 32), ERR_NOT_THIS_FORMAT);
}

TEST(TiffDecoderTest, DataThatIsNoTiffOrTooLargeIsRefused) {
    CTIFFDecoder decoder;
    std::string text;
    EXPECT_EQ(DecodeError(decoder, {'I', 'I', 42, 0, 8, 0, 0}, &text), ERR_NOT_THIS_FORMAT);
    EXPECT_NE(text.find("Decoder error: "), std::string::npos);

    TiffPicture p;
    p.width = 40;
    p.height = 30;
    p.sample = Ramp;
    SetBitmapStorageLimit(40 * 30 * 4 - 1);
    const int code = DecodeError(decoder, EncodeTiff(p));
    SetBitmapStorageLimit(kDefaultBitmapStorageLimit);
    EXPECT_EQ(code, ERR_OUT_OF_MEMORY);
}

// A DOS EPS file: a 30-byte header pointing at the PostScript and at a TIFF preview.
TEST(TiffDecoderTest, EpsPreviewDecodesAndAPreviewBeyondTheFileIsRefused) {
    TiffPicture p;
    p.sample = Ramp;
    const auto preview = EncodeTiff(p);
    const std::string postscript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 9 7\nshowpage\n";
    auto eps = [&](uint32_t previewLength) {
        std::vector<uint8_t> bytes(30, 0);
        const uint32_t fields[6] = {0xC6D3D0C5, 30, static_cast<uint32_t>(postscript.size()), 0, 0,
                                    static_cast<uint32_t>(30 + postscript.size())};
        for (int i = 0; i < 6; ++i)
            for (int b = 0; b < 4; ++b) bytes[static_cast<size_t>(i * 4 + b)] = static_cast<uint8_t>(fields[i] >> (8 * b));
        for (int b = 0; b < 4; ++b) bytes[static_cast<size_t>(24 + b)] = static_cast<uint8_t>(previewLength >> (8 * b));
        bytes[28] = bytes[29] = 0xFF;
        bytes.insert(bytes.end(), postscript.begin(), postscript.end());
        bytes.insert(bytes.end(), preview.begin(), preview.end());
        return bytes;
    };
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    int depth = 32;
    DecodeBytes(decoder, eps(static_cast<uint32_t>(preview.size())), bitmap, depth);
    EXPECT_EQ(decoder.LastFormat(), ImageFormat::EPS);
    ASSERT_EQ(bitmap.Size(), std::make_pair(9, 7));
    EXPECT_EQ(bitmap.PixelLine(6)[8], Grey(static_cast<int>(Ramp(8, 6, 0))));
    EXPECT_EQ(DecodeError(decoder, eps(static_cast<uint32_t>(preview.size()) + 1)), ERR_BAD_DATA);
}

// A picture one pixel wide and three million rows high in one PackBits strip whose data ends
// after 40% of its rows. Late damage is tolerated on the low-colour path, but every row past
// the end is another failed read: the decode ends once those have used up its work budget,
// instead of failing row after row for as long as the header claims rows.
TEST(TiffDecoderTest, EndlessFailingRowsRunOutOfWork) {
    constexpr uint32_t kRows = 3'000'000;
    TempDir dir;
    const std::string path = dir.File("tall.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 1u);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kRows);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kRows);
    std::vector<uint8_t> runs;
    for (uint32_t row = 0; row < kRows * 2 / 5; ++row) runs.insert(runs.end(), {0x00, 0x40});  // one literal byte a row
    TIFFWriteRawStrip(tiff, 0, runs.data(), static_cast<tmsize_t>(runs.size()));
    TIFFClose(tiff);
    const auto bytes = ReadBytes(path);

    CTIFFDecoder decoder;
    CMemBitmap bitmap;
    try {
        decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, 0);
        ADD_FAILURE() << "the decode ended normally";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Text(), "Decoder error: the file asks for far more work than its picture needs.\n");
    }
}
