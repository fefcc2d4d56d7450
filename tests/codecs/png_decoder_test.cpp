#include "codecs/png_decoder.h"
#include "decode_test_helpers.h"

#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <png.h>

#include <functional>

namespace {

// A picture to write with libpng itself: any colour type, bit depth and interlacing.
struct PngPicture {
    int width = 13;
    int height = 11;
    int colourType = PNG_COLOR_TYPE_GRAY;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    const png_color_16* transparentColour = nullptr;
    std::function<int(int x, int y, int channel)> sample;
    // Colour and orientation chunks, written when set.
    std::vector<png_byte> exif;
    std::vector<png_byte> iccProfile;
    double gamma = 0;
    std::vector<double> chromaticities;  // white, red, green, blue as x, y pairs
    int srgbIntent = -1;
};

int Channels(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

std::vector<uint8_t> EncodePng(const PngPicture& p) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp w, png_bytep data, size_t n) {
            auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(w));
            bytes->insert(bytes->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(p.width), static_cast<png_uint_32>(p.height), p.bitDepth,
                 p.colourType, p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!p.palette.empty()) png_set_PLTE(png, info, p.palette.data(), static_cast<int>(p.palette.size()));
    if (!p.paletteAlpha.empty() || p.transparentColour)
        png_set_tRNS(png, info, p.paletteAlpha.data(), static_cast<int>(p.paletteAlpha.size()), p.transparentColour);
    if (!p.exif.empty()) png_set_eXIf_1(png, info, static_cast<png_uint_32>(p.exif.size()), const_cast<png_bytep>(p.exif.data()));
    if (!p.iccProfile.empty())
        png_set_iCCP(png, info, "test", PNG_COMPRESSION_TYPE_BASE, p.iccProfile.data(), static_cast<png_uint_32>(p.iccProfile.size()));
    if (p.gamma > 0) png_set_gAMA(png, info, p.gamma);
    if (p.chromaticities.size() == 8) {
        const auto& c = p.chromaticities;
        png_set_cHRM(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    }
    if (p.srgbIntent >= 0) png_set_sRGB(png, info, p.srgbIntent);
    png_write_info(png, info);
    const int channels = Channels(p.colourType);
    const size_t rowBytes = (static_cast<size_t>(p.width) * channels * p.bitDepth + 7) / 8;
    std::vector<std::vector<png_byte>> rows(static_cast<size_t>(p.height), std::vector<png_byte>(rowBytes));
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < channels; ++c) {
                const int v = p.sample(x, y, c);
                const size_t bit = static_cast<size_t>((x * channels + c) * p.bitDepth);
                png_byte* row = rows[static_cast<size_t>(y)].data();
                if (p.bitDepth == 16) {
                    row[bit / 8] = static_cast<png_byte>(v >> 8);
                    row[bit / 8 + 1] = static_cast<png_byte>(v);
                } else {
                    row[bit / 8] |= static_cast<png_byte>(v << (8 - p.bitDepth - bit % 8));
                }
            }
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

PngPicture GreyPicture(int bitDepth) {
    PngPicture p;
    p.bitDepth = bitDepth;
    p.sample = [bitDepth](int x, int y, int) { return (x * 7 + y * 31) % (1 << bitDepth); };
    return p;
}

// Three colours, the second half transparent, and index 3 drawn only where asked.
PngPicture PalettePicture(bool withAlpha, bool strayIndex = false) {
    PngPicture p;
    p.colourType = PNG_COLOR_TYPE_PALETTE;
    p.bitDepth = 2;
    p.palette = {{200, 10, 20}, {30, 220, 40}, {50, 60, 230}};
    if (withAlpha) p.paletteAlpha = {255, 128};
    p.sample = [strayIndex](int x, int y, int) { return strayIndex && x == 12 && y == 10 ? 3 : (x + y) % 3; };
    return p;
}

PngPicture RgbaPicture(std::function<int(int x, int y)> alpha, int bitDepth = 8, bool interlaced = false) {
    PngPicture p;
    p.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    p.bitDepth = bitDepth;
    p.interlaced = interlaced;
    const int scale = bitDepth == 16 ? 257 : 1;
    p.sample = [alpha, scale](int x, int y, int channel) { return (channel == 3 ? alpha(x, y) : (x * 9 + y * 5 + channel * 70) % 256) * scale; };
    return p;
}

// An Exif block as cameras write it, big-endian, holding only IFD0's Orientation.
std::vector<png_byte> ExifWithOrientation(int orientation) {
    return {'M', 'M', 0, 42, 0, 0, 0, 8,                     // byte order, magic, offset of IFD0
            0, 1,                                            // one entry
            0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<png_byte>(orientation), 0, 0,  // Orientation, SHORT, 1
            0, 0, 0, 0};                                     // no next IFD
}

// A small ICC profile libpng accepts: a display profile header for RGB data with the D50
// illuminant, and one private tag of bytes that do not compress (libpng refuses an iCCP
// chunk that is not longer than its keyword buffer and a minimal zlib stream).
std::vector<png_byte> SmallIccProfile() {
    std::vector<png_byte> profile(244);
    auto put = [&profile](size_t at, std::initializer_list<int> bytes) {
        for (int b : bytes) profile[at++] = static_cast<png_byte>(b);
    };
    put(0, {0, 0, 0, 244});                      // size
    put(8, {2, 0x10, 0, 0});                     // version 2.1
    put(12, {'m', 'n', 't', 'r'});               // display device
    put(16, {'R', 'G', 'B', ' '});               // data colour space
    put(20, {'X', 'Y', 'Z', ' '});               // connection space
    put(36, {'a', 'c', 's', 'p'});
    put(68, {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D});  // D50 as s15Fixed16 numbers
    put(128, {0, 0, 0, 1, 'z', 'z', 'z', 'z', 0, 0, 0, 144, 0, 0, 0, 100});  // one tag at 144
    uint32_t noise = 1;
    for (size_t i = 144; i < profile.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        profile[i] = static_cast<png_byte>(noise >> 16);
    }
    return profile;
}

}  // namespace

// 16-bit samples reach 8 bits rounded to the nearest level; lower depths get a ramp of their levels.
TEST(PngDecoderTest, GreyscaleAtEveryBitDepthDecodesToIndicesOrGreyPixels) {
    CPNGDecoder decoder;
    for (int bits : {1, 2, 4, 8, 16}) {
        SCOPED_TRACE(bits);
        const PngPicture picture = GreyPicture(bits);
        const auto bytes = EncodePng(picture);
        CMemBitmap indexed, grey;
        int depth = 0;
        DecodeBytes(decoder, bytes, indexed, depth);
        ASSERT_EQ(depth, 8);
        depth = 32;
        DecodeBytes(decoder, bytes, grey, depth);
        ASSERT_EQ(grey.BitsPerPixel(), 32);
        EXPECT_FALSE(grey.HasAlpha());
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) {
                const int sample = picture.sample(x, y, 0);
                const int index = bits == 16 ? (sample * 255 + 32767) / 65535 : sample;
                const auto level = static_cast<uint8_t>(bits >= 8 ? index : index * 255 / ((1 << bits) - 1));
                ASSERT_EQ(indexed.Line(y)[x], index);
                ASSERT_EQ(indexed.Palette()[index], (BGRA{level, level, level, 255}));
                ASSERT_EQ(grey.PixelLine(y)[x], (BGRA{level, level, level, 255}));
            }
    }
}

TEST(PngDecoderTest, PaletteImagesKeepTheirPaletteOrExpandWithTheirTransparency) {
    CPNGDecoder decoder;
    CMemBitmap indexed;
    int depth = 0;
    DecodeBytes(decoder, EncodePng(PalettePicture(true)), indexed, depth);
    ASSERT_EQ(indexed.BitsPerPixel(), 8);
    EXPECT_EQ(indexed.Line(0)[1], 1);
    EXPECT_EQ(indexed.Palette()[1], (BGRA{40, 220, 30, 255}));

    for (bool withAlpha : {false, true}) {
        CMemBitmap colour;
        depth = 32;
        DecodeBytes(decoder, EncodePng(PalettePicture(withAlpha)), colour, depth);
        EXPECT_EQ(colour.HasAlpha(), withAlpha);
        EXPECT_EQ(colour.PixelLine(0)[0], (BGRA{20, 10, 200, 255}));
        EXPECT_EQ(colour.PixelLine(0)[1], (BGRA{40, 220, 30, static_cast<uint8_t>(withAlpha ? 128 : 255)}));
        EXPECT_EQ(colour.PixelLine(0)[2], (BGRA{230, 60, 50, 255}));
    }
}

TEST(PngDecoderTest, PixelsBeyondThePaletteAreBadDataAtEveryDepth) {
    CPNGDecoder decoder;
    const auto bytes = EncodePng(PalettePicture(false, true));
    for (int depth : {0, 32}) EXPECT_EQ(DecodeError(decoder, bytes, nullptr, depth), ERR_BAD_DATA) << depth;
}

// Colour and alpha images cannot fit 8 bits: asked for 8, they come back at 32 and say so.
TEST(PngDecoderTest, ColourAndAlphaTypesComeBackAsThirtyTwoBits) {
    struct Case {
        int colourType, bitDepth;
        bool alpha;
    };
    CPNGDecoder decoder;
    for (const Case& c : {Case{PNG_COLOR_TYPE_RGB, 8, false}, Case{PNG_COLOR_TYPE_RGB, 16, false},
                          Case{PNG_COLOR_TYPE_GRAY_ALPHA, 8, true}, Case{PNG_COLOR_TYPE_RGB_ALPHA, 8, true},
                          Case{PNG_COLOR_TYPE_RGB_ALPHA, 16, true}}) {
        SCOPED_TRACE(c.colourType * 100 + c.bitDepth);
        PngPicture p;
        p.colourType = c.colourType;
        p.bitDepth = c.bitDepth;
        const int scale = c.bitDepth == 16 ? 257 : 1;
        p.sample = [scale](int x, int y, int channel) { return ((x * 11 + y * 3 + channel * 50) % 256) * scale; };
        CMemBitmap bitmap;
        int depth = 8;
        DecodeBytes(decoder, EncodePng(p), bitmap, depth);
        EXPECT_EQ(depth, 32);
        ASSERT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_EQ(bitmap.HasAlpha(), c.alpha);
        const bool grey = c.colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                auto at = [&](int channel) { return static_cast<uint8_t>(p.sample(x, y, channel) / scale); };
                const BGRA expected = grey ? BGRA{at(0), at(0), at(0), at(1)}
                                           : BGRA{at(2), at(1), at(0), c.alpha ? at(3) : uint8_t{255}};
                ASSERT_EQ(bitmap.PixelLine(y)[x], expected) << x << ", " << y;
            }
    }
}

TEST(PngDecoderTest, GreyTransparentColourBecomesAlphaAtThirtyTwoBits) {
    PngPicture p = GreyPicture(8);
    const png_color_16 transparent{0, 0, 0, 0, 7};
    p.transparentColour = &transparent;
    CPNGDecoder decoder;
    CMemBitmap bitmap;
    int depth = 32;
    DecodeBytes(decoder, EncodePng(p), bitmap, depth);
    EXPECT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(bitmap.PixelLine(0)[1], (BGRA{7, 7, 7, 0}));
    EXPECT_EQ(bitmap.PixelLine(0)[2], (BGRA{14, 14, 14, 255}));
}

TEST(PngDecoderTest, InterlacedFilesDecodeLikeTheirPlainTwins) {
    CPNGDecoder decoder;
    PngPicture rgba;
    rgba.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba.sample = [](int x, int y, int channel) { return (x * 19 + y * 7 + channel * 61) % 256; };
    for (PngPicture picture : {rgba, GreyPicture(2), PalettePicture(true)}) {
        for (int depth : {0, 32}) {
            CMemBitmap plain, interlaced;
            int asked = depth;
            DecodeBytes(decoder, EncodePng(picture), plain, asked);
            picture.interlaced = true;
            asked = depth;
            DecodeBytes(decoder, EncodePng(picture), interlaced, asked);
            picture.interlaced = false;
            std::string why;
            EXPECT_TRUE(SamePixels(plain, interlaced, &why)) << picture.colourType << " at " << depth << ": " << why;
        }
    }
}

TEST(PngDecoderTest, DamagedOrShortFilesFailWithTheirOwnCodes) {
    CPNGDecoder decoder;
    const auto good = EncodePng(GreyPicture(8));
    std::string text;

    auto damaged = good;
    damaged[20] ^= 0x01;  // inside the header chunk, so its checksum no longer matches
    EXPECT_EQ(DecodeError(decoder, damaged, &text), ERR_BAD_DATA);
    EXPECT_EQ(text, "Decoder error: IHDR: CRC error\n");

    auto notPng = good;
    notPng[1] = 'Q';
    EXPECT_EQ(DecodeError(decoder, notPng, &text), ERR_BAD_DATA);

    const std::vector<uint8_t> cut(good.begin(), good.end() - 30);
    EXPECT_EQ(DecodeError(decoder, cut, &text), ERR_END_OF_DATA);
    EXPECT_EQ(text, "End of file reached while decoding.\n");

    // Plain colour rows take a shorter way through libpng; its checks must hold there too.
    PngPicture colour;
    colour.colourType = PNG_COLOR_TYPE_RGB;
    colour.sample = [](int x, int y, int channel) { return (x * 5 + y * 17 + channel * 29) % 256; };
    const auto goodColour = EncodePng(colour);
    auto damagedData = goodColour;
    damagedData[goodColour.size() - 20] ^= 0x01;  // inside the image data
    EXPECT_EQ(DecodeError(decoder, damagedData, &text), ERR_BAD_DATA);
    const std::vector<uint8_t> cutColour(goodColour.begin(), goodColour.end() - 30);
    EXPECT_EQ(DecodeError(decoder, cutColour, &text), ERR_END_OF_DATA);
}

TEST(PngDecoderTest, ColourChunksAndExifOrientationReachTheMetadata) {
    PngPicture p = RgbaPicture([](int, int) { return 255; });
    p.exif = ExifWithOrientation(6);
    p.iccProfile = SmallIccProfile();
    p.gamma = 1 / 2.2;
    p.chromaticities = {0.3127, 0.329, 0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
    const auto bytes = EncodePng(p);
    CPNGDecoder decoder;
    CMemBitmap bitmap;
    int depth = 32;
    DecodeBytes(decoder, bytes, bitmap, depth);
    const ImageMetadata& m = bitmap.Metadata();
    EXPECT_EQ(m.orientation, 6);
    EXPECT_EQ(m.iccProfile, p.iccProfile);
    EXPECT_TRUE(m.pngColour.hasGamma);
    EXPECT_NEAR(m.pngColour.gamma, 0.45455, 1e-5);
    ASSERT_TRUE(m.pngColour.hasChromaticities);
    EXPECT_NEAR(m.pngColour.whiteX, 0.3127, 1e-5);
    EXPECT_NEAR(m.pngColour.redY, 0.33, 1e-5);
    EXPECT_NEAR(m.pngColour.greenY, 0.6, 1e-5);
    EXPECT_NEAR(m.pngColour.blueX, 0.15, 1e-5);
    EXPECT_FALSE(m.pngColour.srgb);
    EXPECT_EQ(m.frameCount, 1);
    // The pixels are the file's, not turned: applying the orientation is the caller's business.
    EXPECT_EQ(bitmap.Width(), p.width);
    EXPECT_EQ(bitmap.PixelLine(2)[3], (BGRA{177, 107, 37, 255}));

    const ImageInfo info = decoder.ProbeMemory(bytes.data(), bytes.size());
    EXPECT_EQ(info.orientation, 6);
    EXPECT_TRUE(info.hasColourProfile);

    // A picture without those chunks carries none of them.
    CMemBitmap plain;
    DecodeBytes(decoder, EncodePng(RgbaPicture([](int, int) { return 255; })), plain, depth);
    EXPECT_EQ(plain.Metadata(), ImageMetadata{});
}

TEST(PngDecoderTest, AnSrgbChunkIsRecordedWithItsIntent) {
    PngPicture p = GreyPicture(8);
    p.srgbIntent = PNG_sRGB_INTENT_SATURATION;
    CPNGDecoder decoder;
    CMemBitmap bitmap;
    int depth = 0;
    DecodeBytes(decoder, EncodePng(p), bitmap, depth);
    EXPECT_TRUE(bitmap.Metadata().pngColour.srgb);
    EXPECT_EQ(bitmap.Metadata().pngColour.srgbIntent, PNG_sRGB_INTENT_SATURATION);
    EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());
}

// The alpha flag says that some pixel is not opaque, on every way through the decoder: the
// plain 8-bit rows, libpng's transforms (16 bits, interlacing) and expanded palettes.
TEST(PngDecoderTest, AlphaFlagIsSetOnlyWhenSomePixelIsNotOpaque) {
    const auto opaque = [](int, int) { return 255; };
    const auto onePixel = [](int x, int y) { return x == 12 && y == 10 ? 254 : 255; };
    struct Case {
        const char* name;
        PngPicture picture;
        bool alpha;
    };
    PngPicture opaquePalette = PalettePicture(true);
    opaquePalette.paletteAlpha = {255, 255};
    const Case cases[] = {
        {"plain rows, opaque", RgbaPicture(opaque), false},
        {"plain rows, one translucent pixel", RgbaPicture(onePixel), true},
        {"16 bits, opaque", RgbaPicture(opaque, 16), false},
        {"16 bits, one translucent pixel", RgbaPicture(onePixel, 16), true},
        {"interlaced, opaque", RgbaPicture(opaque, 8, true), false},
        {"interlaced, one translucent pixel", RgbaPicture(onePixel, 8, true), true},
        {"palette whose tRNS entries are all opaque", opaquePalette, false},
        {"palette with a translucent entry", PalettePicture(true), true},
    };
    CPNGDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = EncodePng(c.picture);
        CMemBitmap bitmap;
        int depth = 32;
        DecodeBytes(decoder, bytes, bitmap, depth);
        EXPECT_EQ(bitmap.HasAlpha(), c.alpha);
        if (c.picture.colourType == PNG_COLOR_TYPE_RGB_ALPHA) {
            EXPECT_EQ(bitmap.PixelLine(10)[12].a, c.alpha ? 254 : 255);
        }
        // The probe reads no pixels: it says that the file stores alpha.
        EXPECT_TRUE(decoder.ProbeMemory(bytes.data(), bytes.size()).hasAlpha);
    }
}

TEST(PngDecoderTest, ProbeReadsTheHeaderAsStored) {
    struct Case {
        PngPicture picture;
        int bitsPerPixel;
        bool alpha;
    };
    PngPicture rgb16;
    rgb16.colourType = PNG_COLOR_TYPE_RGB;
    rgb16.bitDepth = 16;
    rgb16.sample = [](int x, int, int) { return x * 1000; };
    CPNGDecoder decoder;
    for (const Case& c : {Case{GreyPicture(2), 2, false}, Case{PalettePicture(false), 2, false},
                          Case{PalettePicture(true), 2, true}, Case{rgb16, 48, false},
                          Case{RgbaPicture([](int, int) { return 9; }, 16), 64, true}}) {
        const auto bytes = EncodePng(c.picture);
        const ImageInfo info = decoder.ProbeMemory(bytes.data(), bytes.size());
        EXPECT_EQ(info.width, 13);
        EXPECT_EQ(info.height, 11);
        EXPECT_EQ(info.bitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(info.hasAlpha, c.alpha);
        EXPECT_EQ(info.frameCount, 1);
        EXPECT_EQ(info.orientation, 1);
        EXPECT_FALSE(info.hasColourProfile);
    }
    // Only the header is read: a file cut right after its first image data still probes.
    const auto whole = EncodePng(GreyPicture(8));
    const std::vector<uint8_t> cut(whole.begin(), whole.end() - 20);
    EXPECT_EQ(decoder.ProbeMemory(cut.data(), cut.size()).width, 13);
}
