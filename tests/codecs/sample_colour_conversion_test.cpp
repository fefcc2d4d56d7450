// Pictures whose decoders convert colours themselves, before samples are lost: 16-bit PNG
// and TIFF samples go through their profile or PNG gamma before they are made 8-bit, and
// CMYK inks of JPEG and TIFF through their CMYK profile. Files written by libpng, libtiff
// and libjpeg, profiles made by LittleCMS; pixels checked against what the colours must be
// and against the decode that leaves colours as stored.

#include "codecs/auto_decoder.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "support/test_files.h"
#include "support/test_profiles.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

CDecodeContext AsStored() {
    CDecodeContext context;
    context.colourManagement = false;
    return context;
}

void Decode(const Bytes& bytes, CImageBitmap& bitmap, const CDecodeContext& context = CDecodeContext()) {
    CAutoDecoder decoder;
    decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, context, 32);
}

BGRA Rgba(int r, int g, int b, int a = 255) {
    return BGRA{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), static_cast<uint8_t>(a)};
}

std::string Text(BGRA p) {
    return "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) + ", " +
           std::to_string(p.a) + ")";
}

void ExpectNear(BGRA actual, BGRA expected, int tolerance, const std::string& where) {
    EXPECT_TRUE(std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
                std::abs(actual.b - expected.b) <= tolerance && actual.a == expected.a)
        << where << ": " << Text(actual) << " for " << Text(expected);
}

// The 8-bit sRGB level of linear light v / 65535.
int SrgbLevel(int v) {
    const double linear = v / 65535.0;
    const double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return static_cast<int>(std::lround(encoded * 255));
}

int Rounded(int v) { return (v * 255 + 32767) / 65535; }

// A 16-bit PNG of one row; pixel gives the samples of each pixel (grey or RGB, alpha last).
Bytes Png16(int width, int colourType, bool interlaced, double gamma, const std::function<std::vector<int>(int x)>& pixel) {
    TempDir dir;
    const std::string path = dir.File("wide.png");
    FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), 3, 16, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_gAMA(png, info, gamma);
    png_write_info(png, info);
    std::vector<png_byte> row;
    for (int x = 0; x < width; ++x)
        for (int v : pixel(x)) {
            row.push_back(static_cast<png_byte>(v >> 8));
            row.push_back(static_cast<png_byte>(v & 0xFF));
        }
    std::vector<png_bytep> rows(3, row.data());
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return ReadBytes(path);
}

// A TIFF of one strip: samples per pixel side by side, rows of width pixels.
struct Tiff {
    uint32_t width = 4, height = 2;
    uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK, extraSample = EXTRASAMPLE_UNASSALPHA;
    Bytes profile;
    std::function<std::vector<int>(uint32_t x, uint32_t y)> pixel;
};

Bytes WriteTiff(const Tiff& t) {
    TempDir dir;
    const std::string path = dir.File("picture.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, t.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, t.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, t.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, t.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, t.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, t.height);
    const int colours = t.photometric == PHOTOMETRIC_RGB ? 3 : t.photometric == PHOTOMETRIC_SEPARATED ? 4 : 1;
    if (t.samples > colours) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &t.extraSample);
    if (!t.profile.empty()) TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(t.profile.size()), t.profile.data());
    for (uint32_t y = 0; y < t.height; ++y) {
        Bytes row;
        for (uint32_t x = 0; x < t.width; ++x)
            for (int v : t.pixel(x, y)) {
                if (t.bits == 16) {
                    const auto v16 = static_cast<uint16_t>(v);
                    row.insert(row.end(), reinterpret_cast<const uint8_t*>(&v16), reinterpret_cast<const uint8_t*>(&v16) + 2);
                } else {
                    row.push_back(static_cast<uint8_t>(v));
                }
            }
        TIFFWriteScanline(tiff, row.data(), y, 0);
    }
    TIFFClose(tiff);
    return ReadBytes(path);
}

// Four inks, one per 16 x 16 block: cyan, magenta / yellow, none. Inverted: 255 is no ink.
constexpr int kBlock = 16;

std::vector<int> Inks(uint32_t x, uint32_t y, bool inverted) {
    const int block = static_cast<int>(y / kBlock * 2 + x / kBlock);
    std::vector<int> ink(4, 0);
    if (block < 3) ink[static_cast<size_t>(block)] = 255;
    if (inverted)
        for (int& v : ink) v = 255 - v;
    return ink;
}

Bytes CmykJpeg(const Bytes& profile, bool adobe) {
    TempDir dir;
    const std::string path = dir.File("inks.jpg");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = cinfo.image_height = 2 * kBlock;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    // libjpeg marks CMYK as Adobe's, whose applications store the inks inverted.
    cinfo.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    if (!profile.empty()) {
        // ICC.1's embedding: "ICC_PROFILE\0", sequence number 1 of 1, the profile.
        Bytes segment = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
        segment.insert(segment.end(), profile.begin(), profile.end());
        jpeg_write_marker(&cinfo, JPEG_APP0 + 2, segment.data(), static_cast<unsigned>(segment.size()));
    }
    std::vector<JSAMPLE> row(4 * 2 * kBlock);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (uint32_t x = 0; x < 2 * kBlock; ++x) {
            const std::vector<int> ink = Inks(x, cinfo.next_scanline, adobe);
            for (size_t k = 0; k < 4; ++k) row[4 * x + k] = static_cast<JSAMPLE>(ink[k]);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
    return ReadBytes(path);
}

// The middle of each block, row by row.
void ExpectBlocks(const CImageBitmap& bitmap, const std::vector<BGRA>& expected, int tolerance) {
    ASSERT_EQ(bitmap.Size(), std::make_pair(2 * kBlock, 2 * kBlock));
    for (int i = 0; i < 4; ++i)
        ExpectNear(bitmap.PixelLine(i / 2 * kBlock + kBlock / 2)[i % 2 * kBlock + kBlock / 2], expected[static_cast<size_t>(i)],
                   tolerance, "block " + std::to_string(i));
}

const BGRA kCyan = Rgba(0, 255, 255), kMagenta = Rgba(255, 0, 255), kYellow = Rgba(255, 255, 0), kWhite = Rgba(255, 255, 255);

}  // namespace

// Linear samples 256 and 383 both round to 8-bit level 1, which sRGB shows as 13; converted
// before the reduction they show as 13 and 18, as they should. Grey without alpha, and RGB
// with alpha interlaced (its rows are whole only after the last pass).
TEST(SampleColourConversionTest, SixteenBitPngGammaIsAppliedBeforeTheSamplesAreReduced) {
    const std::vector<int> levels = {256, 383, 0x8000, 0xFFFF};
    const int width = static_cast<int>(levels.size());
    struct Case {
        const char* name;
        Bytes png;
        bool alpha;
    };
    const Case cases[] = {
        {"grey", Png16(width, PNG_COLOR_TYPE_GRAY, false, 1.0, [&](int x) { return std::vector<int>{levels[static_cast<size_t>(x)]}; }),
         false},
        {"interlaced RGB with alpha",
         Png16(width, PNG_COLOR_TYPE_RGB_ALPHA, true, 1.0,
               [&](int x) {
                   const int v = levels[static_cast<size_t>(x)];
                   return std::vector<int>{v, v, v, 0x8080};
               }),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMemBitmap bitmap;
        Decode(c.png, bitmap);
        ASSERT_EQ(bitmap.Size(), std::make_pair(width, 3));
        const int alpha = c.alpha ? 128 : 255;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) {
                const int shown = SrgbLevel(levels[static_cast<size_t>(x)]);
                ExpectNear(bitmap.PixelLine(y)[x], Rgba(shown, shown, shown, alpha), 1, "pixel " + std::to_string(x));
            }
        EXPECT_GE(bitmap.PixelLine(0)[1].g, bitmap.PixelLine(0)[0].g + 4);
        EXPECT_EQ(bitmap.Metadata().pngColour, PngColourChunks{}) << "the finish step would convert again";
        EXPECT_EQ(bitmap.HasAlpha(), c.alpha);

        Decode(c.png, bitmap, AsStored());
        for (int x = 0; x < width; ++x) {
            const int stored = Rounded(levels[static_cast<size_t>(x)]);
            ExpectNear(bitmap.PixelLine(2)[x], Rgba(stored, stored, stored, alpha), 0, "as stored, pixel " + std::to_string(x));
        }
        EXPECT_TRUE(bitmap.Metadata().pngColour.hasGamma);
    }
}

// A profile that exchanges red and green: converted once, green shows red; a second
// conversion would bring green back. Alpha of 16 bits rounded, colours kept unpremultiplied.
TEST(SampleColourConversionTest, SixteenBitTiffIsConvertedThroughItsProfileOnce) {
    Tiff t;
    t.bits = 16;
    t.samples = 4;
    t.photometric = PHOTOMETRIC_RGB;
    t.profile = SwappedRedGreenProfile();
    t.pixel = [](uint32_t x, uint32_t) {
        switch (x) {
        case 0: return std::vector<int>{0, 0xFFFF, 0, 0xFFFF};
        case 1: return std::vector<int>{0xFFFF, 0, 0, 0x8000};
        case 2: return std::vector<int>{0, 0, 0xFFFF, 0xFFFF};
        default: return std::vector<int>{0x4000, 0x4000, 0x4000, 0x00FF};
        }
    };
    const Bytes bytes = WriteTiff(t);
    CMemBitmap bitmap;
    Decode(bytes, bitmap);
    ASSERT_EQ(bitmap.Size(), std::make_pair(4, 2));
    const BGRA converted[] = {Rgba(255, 0, 0), Rgba(0, 255, 0, 128), Rgba(0, 0, 255), Rgba(Rounded(0x4000), Rounded(0x4000), Rounded(0x4000), 1)};
    for (int x = 0; x < 4; ++x) ExpectNear(bitmap.PixelLine(1)[x], converted[x], 2, "pixel " + std::to_string(x));
    EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());

    Decode(bytes, bitmap, AsStored());
    ExpectNear(bitmap.PixelLine(0)[0], Rgba(0, 255, 0), 0, "as stored");
    ExpectNear(bitmap.PixelLine(0)[1], Rgba(255, 0, 0, 128), 0, "as stored");
    EXPECT_EQ(bitmap.Metadata().iccProfile, t.profile);
}

// Cyan ink through the profile shows magenta, through the plain formula cyan: in JPEG
// files with plain inks and with Adobe's inverted ones, and in TIFF.
TEST(SampleColourConversionTest, CmykInksGoThroughTheirProfile) {
    const Bytes profile = SwappedInksProfile();
    const std::vector<BGRA> throughProfile = {kMagenta, kCyan, kYellow, kWhite};
    const std::vector<BGRA> plain = {kCyan, kMagenta, kYellow, kWhite};
    constexpr int kJpegTolerance = 12;
    for (const bool adobe : {false, true}) {
        SCOPED_TRACE(adobe ? "Adobe's inverted inks" : "plain inks");
        CMemBitmap bitmap;
        Decode(CmykJpeg(profile, adobe), bitmap);
        ExpectBlocks(bitmap, throughProfile, kJpegTolerance);
        EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());
        Decode(CmykJpeg(profile, adobe), bitmap, AsStored());
        ExpectBlocks(bitmap, plain, kJpegTolerance);
        EXPECT_EQ(bitmap.Metadata().iccProfile, profile);
        Decode(CmykJpeg({}, adobe), bitmap);
        ExpectBlocks(bitmap, plain, kJpegTolerance);
    }

    Tiff t;
    t.width = t.height = 2 * kBlock;
    t.samples = 4;
    t.photometric = PHOTOMETRIC_SEPARATED;
    t.profile = profile;
    t.pixel = [](uint32_t x, uint32_t y) { return Inks(x, y, false); };
    CMemBitmap bitmap;
    Decode(WriteTiff(t), bitmap);
    ExpectBlocks(bitmap, throughProfile, 2);
    Decode(WriteTiff(t), bitmap, AsStored());
    ExpectBlocks(bitmap, plain, 0);
    t.profile.clear();
    Decode(WriteTiff(t), bitmap);
    ExpectBlocks(bitmap, plain, 0);
}

// A grey profile's tone curve applies to grey samples of 16 bits; an RGB profile's to grey
// samples as R = G = B.
TEST(SampleColourConversionTest, SixteenBitGreyTiffTakesGreyAndRgbProfiles) {
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    const Bytes linearGrey = SavedProfile(cmsCreateGrayProfile(cmsD50_xyY(), linear));
    const cmsCIExyYTRIPLE srgbPrimaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    const Bytes linearRgb = GammaRgbProfile(srgbPrimaries, 1.0);
    cmsFreeToneCurve(linear);
    for (const Bytes& profile : {linearGrey, linearRgb}) {
        Tiff t;
        t.bits = 16;
        t.profile = profile;
        t.pixel = [](uint32_t x, uint32_t) { return std::vector<int>{x == 0 ? 256 : x == 1 ? 383 : 0x8000}; };
        CMemBitmap bitmap;
        Decode(WriteTiff(t), bitmap);
        for (int x = 0; x < 3; ++x) {
            const int shown = SrgbLevel(x == 0 ? 256 : x == 1 ? 383 : 0x8000);
            ExpectNear(bitmap.PixelLine(0)[x], Rgba(shown, shown, shown), 1, "pixel " + std::to_string(x));
        }
    }
}
