// Real files carrying orientation and colour information, written by libjpeg and libpng
// themselves (Exif in APP1, an ICC profile split over APP2 segments; iCCP, gAMA, sRGB and
// eXIf chunks), decoded end to end: the decoders record what the files say and the decode
// turns and converts the pictures, unless its context says no.

#include "codecs/auto_decoder.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include "support/test_profiles.h"

#include <lcms2.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Rgb {
    int r, g, b;
};

// The test picture: four blocks of 16 x 16, so that JPEG's blocks keep each colour whole.
//   red   green
//   blue  white
constexpr int kBlock = 16;
constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

Rgb StoredColour(int x, int y) {
    if (y < kBlock) return x < kBlock ? kRed : kGreen;
    return x < kBlock ? kBlue : kWhite;
}

// Exif's TIFF structure with IFD0 holding only the Orientation tag, little-endian.
Bytes ExifBlock(int orientation, bool withPrefix) {
    Bytes b;
    if (withPrefix) b = {'E', 'x', 'i', 'f', 0, 0};
    const Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0,  // header, IFD0 at 8
                        1, 0,                          // one entry
                        0x12, 0x01, 3, 0, 1, 0, 0, 0, static_cast<uint8_t>(orientation), 0, 0, 0,
                        0, 0, 0, 0};                   // no next IFD
    b.insert(b.end(), tiff.begin(), tiff.end());
    return b;
}


// sRGB's primaries with red and green exchanged. With tabulated tone curves of many
// entries the profile outgrows one APP2 segment, as camera profiles with tables do.
Bytes SwappedRedGreen(bool large) {
    const cmsCIExyY white{0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE primaries{{0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    if (large) {
        // Three tabulated curves of different lengths, each stored on its own (LittleCMS
        // shares a tag between equal curves and reads none of over about 32000 entries): a
        // profile of over 64 KiB, which no one APP2 segment holds.
        for (size_t c = 0; c < 3; ++c) {
            std::vector<cmsUInt16Number> table(12000 + c);
            for (size_t i = 0; i < table.size(); ++i)
                table[i] = cmsEvalToneCurve16(gamma, static_cast<cmsUInt16Number>(i * 65535 / (table.size() - 1)));
            curves[c] = cmsBuildTabulatedToneCurve16(nullptr, static_cast<cmsUInt32Number>(table.size()), table.data());
        }
    }
    const Bytes bytes = SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    if (large)
        for (cmsToneCurve* curve : curves) cmsFreeToneCurve(curve);
    cmsFreeToneCurve(gamma);
    return bytes;
}

struct JpegMarkers {
    int orientation = 0;  // 0: no Exif segment
    Bytes profile;
};

void WriteJpeg(const std::string& path, const JpegMarkers& markers) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = 2 * kBlock;
    cinfo.image_height = 2 * kBlock;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (markers.orientation != 0) {
        const Bytes exif = ExifBlock(markers.orientation, true);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    // ICC.1's embedding in JPEG: "ICC_PROFILE\0", sequence number from 1, count, data.
    constexpr size_t kChunk = 65519;
    const size_t chunks = (markers.profile.size() + kChunk - 1) / kChunk;
    for (size_t i = 0; i < chunks; ++i) {
        Bytes segment = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
        segment.push_back(static_cast<uint8_t>(i + 1));
        segment.push_back(static_cast<uint8_t>(chunks));
        const auto from = markers.profile.begin() + static_cast<std::ptrdiff_t>(i * kChunk);
        segment.insert(segment.end(), from, from + static_cast<std::ptrdiff_t>(std::min(kChunk, markers.profile.size() - i * kChunk)));
        jpeg_write_marker(&cinfo, JPEG_APP0 + 2, segment.data(), static_cast<unsigned>(segment.size()));
    }
    std::vector<JSAMPLE> row(3 * 2 * kBlock);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < 2 * kBlock; ++x) {
            const Rgb c = StoredColour(x, static_cast<int>(cinfo.next_scanline));
            row[3 * x] = static_cast<JSAMPLE>(c.r);
            row[3 * x + 1] = static_cast<JSAMPLE>(c.g);
            row[3 * x + 2] = static_cast<JSAMPLE>(c.b);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

struct PngChunks {
    Bytes profile;           // iCCP
    double gamma = 0;        // gAMA, 0: none
    bool srgb = false;       // sRGB chunk
    int orientation = 0;     // eXIf, 0: none
};

// The block picture as 8-bit RGB, or as 16-bit grey of one level when grey16 >= 0.
void WritePng(const std::string& path, const PngChunks& chunks, int grey16 = -1) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    // Some cases store chunks that contradict each other on purpose (a gAMA beside an sRGB
    // chunk): libpng is to write them, not refuse.
    png_set_benign_errors(png, 1);
    png_init_io(png, file);
    const bool grey = grey16 >= 0;
    png_set_IHDR(png, info, 2 * kBlock, 2 * kBlock, grey ? 16 : 8, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!chunks.profile.empty())
        png_set_iCCP(png, info, "test", PNG_COMPRESSION_TYPE_BASE, chunks.profile.data(),
                     static_cast<png_uint_32>(chunks.profile.size()));
    if (chunks.gamma != 0) png_set_gAMA(png, info, chunks.gamma);
    if (chunks.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    Bytes exif;
    if (chunks.orientation != 0) {
        exif = ExifBlock(chunks.orientation, false);
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(exif.size()), exif.data());
    }
    png_write_info(png, info);
    std::vector<png_byte> row(6 * 2 * kBlock);
    for (int y = 0; y < 2 * kBlock; ++y) {
        for (int x = 0; x < 2 * kBlock; ++x) {
            if (grey) {
                row[2 * x] = static_cast<png_byte>(grey16 >> 8);
                row[2 * x + 1] = static_cast<png_byte>(grey16 & 0xFF);
            } else {
                const Rgb c = StoredColour(x, y);
                row[3 * x] = static_cast<png_byte>(c.r);
                row[3 * x + 1] = static_cast<png_byte>(c.g);
                row[3 * x + 2] = static_cast<png_byte>(c.b);
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// The colour at the middle of the block of the decoded picture whose top-left corner is
// (bx, by) in blocks.
Rgb BlockColour(const CImageBitmap& bitmap, int bx, int by) {
    const BGRA p = bitmap.PixelLine(by * kBlock + kBlock / 2)[bx * kBlock + kBlock / 2];
    return {p.r, p.g, p.b};
}

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

std::string Text(Rgb c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

// The four blocks, row by row, as decoded.
void ExpectBlocks(const CImageBitmap& bitmap, const std::vector<Rgb>& expected, int tolerance) {
    ASSERT_EQ(bitmap.Size(), std::make_pair(2 * kBlock, 2 * kBlock));
    for (int i = 0; i < 4; ++i) {
        const Rgb actual = BlockColour(bitmap, i % 2, i / 2);
        EXPECT_TRUE(Near(actual, expected[static_cast<size_t>(i)], tolerance))
            << "block " << i << ": " << Text(actual) << " for " << Text(expected[static_cast<size_t>(i)]);
    }
}

CDecodeContext AsStored() {
    CDecodeContext context;
    context.applyOrientation = false;
    context.colourManagement = false;
    return context;
}

constexpr int kJpegTolerance = 12;

}  // namespace

TEST(ColourOrientationFilesTest, JpegExifOrientationTurnsThePictureUpright) {
    TempDir dir;
    // Orientation 6: stored turned a quarter left; upright, the stored left column (red over
    // blue) is the top row read from the right.
    const std::string path = dir.File("turned.jpg");
    WriteJpeg(path, {.orientation = 6});
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeFile(path, bitmap, 32);
    ExpectBlocks(bitmap, {kBlue, kRed, kWhite, kGreen}, kJpegTolerance);
    EXPECT_EQ(bitmap.Metadata().orientation, 1);

    decoder.DecodeFile(path, bitmap, AsStored(), 32);
    ExpectBlocks(bitmap, {kRed, kGreen, kBlue, kWhite}, kJpegTolerance);
    EXPECT_EQ(bitmap.Metadata().orientation, 6);
    EXPECT_EQ(decoder.ProbeFile(path).orientation, 6);
}

TEST(ColourOrientationFilesTest, JpegIccProfileOverSeveralSegmentsIsApplied) {
    TempDir dir;
    for (const bool large : {false, true}) {
        const Bytes profile = SwappedRedGreen(large);
        ASSERT_EQ(profile.size() > 65519, large);
        const std::string path = dir.File(large ? "large-profile.jpg" : "profile.jpg");
        WriteJpeg(path, {.orientation = 8, .profile = profile});
        CAutoDecoder decoder;
        CMemBitmap bitmap;
        decoder.DecodeFile(path, bitmap, AsStored(), 32);
        EXPECT_EQ(bitmap.Metadata().iccProfile, profile) << "the segments joined in order";
        ExpectBlocks(bitmap, {kRed, kGreen, kBlue, kWhite}, kJpegTolerance);

        // Colours converted (green shows red, red green), then turned: orientation 8 makes
        // the stored right column (green over white) the top row.
        decoder.DecodeFile(path, bitmap, 32);
        ExpectBlocks(bitmap, {kRed, kWhite, kGreen, kBlue}, kJpegTolerance);
        EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());
    }
}

TEST(ColourOrientationFilesTest, PngIccpProfileAndExifOrientationAreApplied) {
    TempDir dir;
    const std::string path = dir.File("profile.png");
    WritePng(path, {.profile = SwappedRedGreen(false), .orientation = 3});
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeFile(path, bitmap, 32);
    // Half turned and red exchanged with green.
    ExpectBlocks(bitmap, {kWhite, kBlue, kRed, kGreen}, 1);
    decoder.DecodeFile(path, bitmap, AsStored(), 32);
    ExpectBlocks(bitmap, {kRed, kGreen, kBlue, kWhite}, 0);
    EXPECT_EQ(bitmap.Metadata().orientation, 3);
}

// A 16-bit grey PNG whose gAMA says its samples are linear light: level 0.5 shows as
// sRGB 188, not 128, which looks far too dark. An sRGB chunk beside the gAMA wins.
TEST(ColourOrientationFilesTest, PngGammaIsAppliedUnlessAnSrgbChunkSaysOtherwise) {
    TempDir dir;
    struct Case {
        const char* name;
        PngChunks chunks;
        int shown;
    };
    for (const Case& c : {Case{"linear.png", {.gamma = 1.0}, 188}, Case{"srgb.png", {.gamma = 1.0, .srgb = true}, 128},
                          Case{"plain.png", {}, 128}}) {
        const std::string path = dir.File(c.name);
        WritePng(path, c.chunks, 0x8080);
        CAutoDecoder decoder;
        CMemBitmap bitmap;
        decoder.DecodeFile(path, bitmap, 32);
        ExpectBlocks(bitmap, std::vector<Rgb>(4, Rgb{c.shown, c.shown, c.shown}), 1);
        decoder.DecodeFile(path, bitmap, AsStored(), 32);
        ExpectBlocks(bitmap, std::vector<Rgb>(4, Rgb{128, 128, 128}), 0);
        if (testing::Test::HasFailure()) FAIL() << c.name;
    }
}
