#include "imagelib/colour_management.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include "support/test_profiles.h"

#include <lcms2.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr cmsCIExyY kD65{0.3127, 0.3290, 1};
constexpr cmsCIExyYTRIPLE kSrgbPrimaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};


cmsToneCurve* SrgbCurve() {
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, parameters);
}

// A matrix-shaper RGB profile of these primaries and one tone curve for all channels.
Bytes RgbProfile(const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve, const cmsCIExyY& white = kD65) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const Bytes bytes = SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

// sRGB with its red and green primaries exchanged: a picture tagged with it shows red
// where its first channel is green, which no missing or wrong conversion can hide.
Bytes SwappedRedGreen() {
    return RgbProfile({kSrgbPrimaries.Green, kSrgbPrimaries.Red, kSrgbPrimaries.Blue}, SrgbCurve());
}

Bytes WideGamut() {  // ProPhoto's primaries, D50, gamma 1.8
    return RgbProfile({{0.7347, 0.2653, 1}, {0.1596, 0.8404, 1}, {0.0366, 0.0001, 1}}, cmsBuildGamma(nullptr, 1.8),
                      {0.3457, 0.3585, 1});
}

Bytes LinearGrey() {
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    const Bytes bytes = SavedProfile(cmsCreateGrayProfile(cmsD50_xyY(), linear));
    cmsFreeToneCurve(linear);
    return bytes;
}

// An RGB profile of lookup tables (as printer and some camera profiles are): a 17-point
// grid from RGB to the Lab connection space, sampled from sRGB with red and green exchanged.
Bytes SwappedRedGreenTable() {
    return TableProfile(cmsSigRgbData, cmsSigInputClass, 3, 17, [](const cmsUInt16Number in[], cmsUInt16Number rgb[]) {
        rgb[0] = in[1];
        rgb[1] = in[0];
        rgb[2] = in[2];
    });
}

BGRA Rgba(int r, int g, int b, int a = 255) {
    return BGRA{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), static_cast<uint8_t>(a)};
}

// A 32-bit picture of the given pixels in one row.
void MakeRow(CImageBitmap& bitmap, const std::vector<BGRA>& pixels) {
    bitmap.Create(static_cast<int>(pixels.size()), 1, 32, true);
    for (size_t x = 0; x < pixels.size(); ++x) bitmap.PixelLine(0)[x] = pixels[x];
}

std::vector<BGRA> Row(const CImageBitmap& bitmap) {
    return {bitmap.PixelLine(0), bitmap.PixelLine(0) + bitmap.Width()};
}

bool Near(BGRA a, BGRA b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance &&
           a.a == b.a;
}

std::string Text(BGRA p) {
    return "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) + ", " +
           std::to_string(p.a) + ")";
}

void ExpectNear(const std::vector<BGRA>& actual, const std::vector<BGRA>& expected, int tolerance = 1) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_TRUE(Near(actual[i], expected[i], tolerance)) << i << ": " << Text(actual[i]) << " for " << Text(expected[i]);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::vector<BGRA> kPrimaries = {Rgba(255, 0, 0), Rgba(0, 255, 0, 77), Rgba(0, 0, 255, 0), Rgba(255, 255, 255),
                                      Rgba(0, 0, 0), Rgba(128, 128, 128, 200)};

}  // namespace

TEST(ColourManagementTest, ProfileWithSwappedPrimariesSwapsRedAndGreenKeepingAlpha) {
    CMemBitmap bitmap;
    MakeRow(bitmap, kPrimaries);
    bitmap.Metadata().iccProfile = SwappedRedGreen();
    ConvertColours(bitmap);
    ExpectNear(Row(bitmap), {Rgba(0, 255, 0), Rgba(255, 0, 0, 77), Rgba(0, 0, 255, 0), Rgba(255, 255, 255),
                             Rgba(0, 0, 0), Rgba(128, 128, 128, 200)});
    EXPECT_TRUE(bitmap.Metadata().iccProfile.empty()) << "the pixels are sRGB now";

    const std::vector<BGRA> converted = Row(bitmap);
    ConvertColours(bitmap);
    EXPECT_EQ(Row(bitmap), converted) << "a second conversion changes nothing";
}

// Profiles with lookup tables go through LittleCMS's own transform, split among threads
// like the others (the picture is large enough), alpha kept.
TEST(ColourManagementTest, ProfileOfLookupTablesIsConvertedByLittleCms) {
    CMemBitmap bitmap;
    bitmap.Create(700, 400, 32, true);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) bitmap.PixelLine(y)[x] = kPrimaries[static_cast<size_t>(x + y) % kPrimaries.size()];
    bitmap.Metadata().iccProfile = SwappedRedGreenTable();
    ConvertColours(bitmap);
    const std::vector<BGRA> expected = {Rgba(0, 255, 0), Rgba(255, 0, 0, 77), Rgba(0, 0, 255, 0), Rgba(255, 255, 255),
                                        Rgba(0, 0, 0), Rgba(128, 128, 128, 200)};
    for (int y : {0, 199, 399}) {
        const std::vector<BGRA> row(bitmap.PixelLine(y), bitmap.PixelLine(y) + 6);
        std::vector<BGRA> shifted(6);
        for (size_t i = 0; i < 6; ++i) shifted[i] = expected[(i + static_cast<size_t>(y)) % expected.size()];
        ExpectNear(row, shifted, 2);
    }
}

TEST(ColourManagementTest, PalettePicturesHaveTheirPaletteConverted) {
    CMemBitmap bitmap;
    bitmap.Create(4, 2, 8, false);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) bitmap.Line(y)[x] = static_cast<uint8_t>(x);
    bitmap.Palette()[0] = Rgba(255, 0, 0);
    bitmap.Palette()[1] = Rgba(0, 255, 0);
    bitmap.Metadata().iccProfile = SwappedRedGreen();
    ConvertColours(bitmap);
    EXPECT_TRUE(Near(bitmap.Palette()[0], Rgba(0, 255, 0), 1)) << Text(bitmap.Palette()[0]);
    EXPECT_TRUE(Near(bitmap.Palette()[1], Rgba(255, 0, 0), 1)) << Text(bitmap.Palette()[1]);
    EXPECT_EQ(bitmap.Line(1)[3], 3) << "indices stay";
}

// The integer matrix-and-curves conversion gives what LittleCMS's own transform gives, on
// a grid of colours through a wide-gamut profile, in both directions.
TEST(ColourManagementTest, MatrixShaperConversionAgreesWithLittleCms) {
    std::vector<BGRA> grid;
    for (int r = 0; r <= 255; r += 15)
        for (int g = 0; g <= 255; g += 15)
            for (int b = 0; b <= 255; b += 15) grid.push_back(Rgba(r, g, b, (r + g) & 0xFF));
    const Bytes wide = WideGamut();
    const Bytes srgb = SavedProfile(cmsCreate_sRGBProfile());
    for (const auto& [from, to] : std::vector<std::pair<Bytes, Bytes>>{{wide, srgb}, {srgb, wide}}) {
        cmsHPROFILE source = cmsOpenProfileFromMem(from.data(), static_cast<cmsUInt32Number>(from.size()));
        cmsHPROFILE target = cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size()));
        cmsHTRANSFORM transform = cmsCreateTransform(source, TYPE_BGRA_8, target, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                                     cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOOPTIMIZE);
        std::vector<BGRA> expected(grid.size());
        cmsDoTransform(transform, grid.data(), expected.data(), static_cast<cmsUInt32Number>(grid.size()));
        cmsDeleteTransform(transform);
        cmsCloseProfile(source);
        cmsCloseProfile(target);

        CMemBitmap bitmap;
        MakeRow(bitmap, grid);
        bitmap.Metadata().iccProfile = from;
        ConvertColours(bitmap, to == srgb ? Bytes{} : to);
        ExpectNear(Row(bitmap), expected);
    }
}

TEST(ColourManagementTest, WideGamutColoursBecomeMoreSaturatedInSrgb) {
    CMemBitmap bitmap;
    MakeRow(bitmap, {Rgba(160, 100, 100)});
    bitmap.Metadata().iccProfile = WideGamut();
    ConvertColours(bitmap);
    const BGRA p = Row(bitmap)[0];
    EXPECT_GT(p.r - p.g, 60) << Text(p);
}

TEST(ColourManagementTest, ConvertsToATargetProfile) {
    CMemBitmap bitmap;
    MakeRow(bitmap, kPrimaries);
    const Bytes target = SwappedRedGreen();
    ConvertColours(bitmap, target);
    ExpectNear(Row(bitmap), {Rgba(0, 255, 0), Rgba(255, 0, 0, 77), Rgba(0, 0, 255, 0), Rgba(255, 255, 255),
                             Rgba(0, 0, 0), Rgba(128, 128, 128, 200)});
    EXPECT_EQ(bitmap.Metadata().iccProfile, target);

    CMemBitmap tagged;
    MakeRow(tagged, kPrimaries);
    tagged.Metadata().iccProfile = target;
    ConvertColours(tagged, target);
    EXPECT_EQ(Row(tagged), kPrimaries) << "the picture is in the target's colours already";
}

TEST(ColourManagementTest, GreyProfileAppliesItsToneCurveToGreyPictures) {
    CMemBitmap bitmap;
    MakeRow(bitmap, {Rgba(0, 0, 0), Rgba(128, 128, 128, 9), Rgba(255, 255, 255), Rgba(64, 64, 64), Rgba(1, 1, 1)});
    bitmap.Metadata().iccProfile = LinearGrey();
    ConvertColours(bitmap);
    // Linear light 0.5 is 188 in sRGB, 0.25 is 137, 1 / 255 is 13.
    ExpectNear(Row(bitmap), {Rgba(0, 0, 0), Rgba(188, 188, 188, 9), Rgba(255, 255, 255), Rgba(137, 137, 137), Rgba(13, 13, 13)});

    CMemBitmap palette;
    palette.Create(2, 1, 8, false);
    palette.Metadata().iccProfile = LinearGrey();
    ConvertColours(palette);
    EXPECT_TRUE(Near(palette.Palette()[128], Rgba(188, 188, 188), 1)) << Text(palette.Palette()[128]);
}

TEST(ColourManagementTest, PngGammaAndChromaticitiesDescribeUntaggedPictures) {
    struct Case {
        const char* what;
        PngColourChunks chunks;
        BGRA expectedRed;
        BGRA expectedGrey;
    };
    const PngColourChunks swapped{.hasChromaticities = true, .whiteX = 0.3127, .whiteY = 0.3290, .redX = 0.30,
                                  .redY = 0.60, .greenX = 0.64, .greenY = 0.33, .blueX = 0.15, .blueY = 0.06};
    PngColourChunks swappedWithGamma = swapped;
    swappedWithGamma.hasGamma = true;
    swappedWithGamma.gamma = 0.45455;
    const Case cases[] = {
        {"linear gamma", {.hasGamma = true, .gamma = 1.0}, Rgba(255, 0, 0), Rgba(188, 188, 188)},
        {"gamma 1/2.2 marks sRGB", {.hasGamma = true, .gamma = 0.45455}, Rgba(255, 0, 0), Rgba(128, 128, 128)},
        {"an sRGB chunk wins", {.hasGamma = true, .gamma = 1.0, .srgb = true}, Rgba(255, 0, 0), Rgba(128, 128, 128)},
        {"chromaticities without gamma", swapped, Rgba(0, 255, 0), Rgba(128, 128, 128)},
        {"chromaticities with gamma", swappedWithGamma, Rgba(0, 255, 0), Rgba(128, 128, 128)},
        {"no chunk", {}, Rgba(255, 0, 0), Rgba(128, 128, 128)},
    };
    for (const Case& c : cases) {
        CMemBitmap bitmap;
        MakeRow(bitmap, {Rgba(255, 0, 0), Rgba(128, 128, 128)});
        bitmap.Metadata().pngColour = c.chunks;
        ConvertColours(bitmap);
        ExpectNear(Row(bitmap), {c.expectedRed, c.expectedGrey}, 2);
        if (testing::Test::HasFailure()) FAIL() << c.what;
    }
}

TEST(ColourManagementTest, ProfilesThatCannotBeUsedLeaveThePictureAsStoredWithATraceLine) {
    const Bytes good = SwappedRedGreen();
    const Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    Bytes garbage(600);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7 + 3);
    const Bytes lab = SavedProfile(cmsCreateLab4Profile(nullptr));
    const PngColourChunks badGamma{.hasGamma = true, .gamma = 1e-6};
    const PngColourChunks badChromaticities{.hasChromaticities = true, .whiteX = 0.3, .whiteY = 0};
    TempDir dir;
    CDecodeContext context;
    context.traceLevel = 1;
    context.traceFileName = dir.File("trace.log");
    CDecodeScope scope(&context);
    int expectedLines = 0;
    for (const Bytes& profile : {truncated, garbage, lab, Bytes{}}) {
        for (const PngColourChunks& chunks : {PngColourChunks{}, badGamma, badChromaticities}) {
            if (profile.empty() && chunks == PngColourChunks{}) continue;
            CMemBitmap bitmap;
            MakeRow(bitmap, kPrimaries);
            bitmap.Metadata().iccProfile = profile;
            bitmap.Metadata().pngColour = chunks;
            const ImageMetadata stored = bitmap.Metadata();
            ConvertColours(bitmap);
            EXPECT_EQ(Row(bitmap), kPrimaries);
            EXPECT_EQ(bitmap.Metadata(), stored);
            ++expectedLines;
        }
    }
    CMemBitmap bitmap;
    MakeRow(bitmap, kPrimaries);
    ConvertColours(bitmap, garbage);
    EXPECT_EQ(Row(bitmap), kPrimaries) << "an unreadable target";
    ++expectedLines;

    const std::string trace = ReadText(context.traceFileName);
    int lines = 0;
    for (size_t at = trace.find("Colour profile not applied"); at != std::string::npos;
         at = trace.find("Colour profile not applied", at + 1))
        ++lines;
    EXPECT_EQ(lines, expectedLines) << trace;
}

// sRGB profiles, whoever made them, leave every pixel byte for byte as it was: LittleCMS's
// own, and one with colorants rounded otherwise and a tabulated tone curve, as other
// writers' profiles have. A grey profile of sRGB's tone curve too.
TEST(ColourManagementTest, SrgbProfilesAreRecognisedAndLeaveThePixelsAlone) {
    std::vector<float> table(1024);
    cmsToneCurve* parametric = SrgbCurve();
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = cmsEvalToneCurveFloat(parametric, static_cast<float>(i) / (table.size() - 1));
    cmsFreeToneCurve(parametric);
    const Bytes tabulated =
        RgbProfile({{0.6401, 0.3300, 1}, {0.3000, 0.6001, 1}, {0.1500, 0.0600, 1}},
                   cmsBuildTabulatedToneCurveFloat(nullptr, static_cast<cmsUInt32Number>(table.size()), table.data()));
    cmsToneCurve* srgbCurve = SrgbCurve();
    const Bytes grey = SavedProfile(cmsCreateGrayProfile(cmsD50_xyY(), srgbCurve));
    cmsFreeToneCurve(srgbCurve);
    std::vector<BGRA> pixels;
    for (int v = 0; v < 256; ++v) pixels.push_back(Rgba(v, 255 - v, (v * 7) & 0xFF, v));
    for (const Bytes& profile : {SavedProfile(cmsCreate_sRGBProfile()), tabulated}) {
        CMemBitmap bitmap;
        MakeRow(bitmap, pixels);
        bitmap.Metadata().iccProfile = profile;
        ConvertColours(bitmap);
        EXPECT_EQ(Row(bitmap), pixels);
        EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());
    }
    CMemBitmap greyPicture;
    std::vector<BGRA> greys;
    for (int v = 0; v < 256; ++v) greys.push_back(Rgba(v, v, v));
    MakeRow(greyPicture, greys);
    greyPicture.Metadata().iccProfile = grey;
    ConvertColours(greyPicture);
    EXPECT_EQ(Row(greyPicture), greys);
}

// 16-bit samples between matrix-and-curve profiles give what LittleCMS's exact pipeline
// gives, dark levels included, in both directions.
TEST(ColourManagementTest, SixteenBitRowConversionAgreesWithLittleCms) {
    std::vector<uint16_t> grid;
    for (int r = 0; r <= 65535; r += 4369)
        for (int g = 0; g <= 65535; g += 4369)
            for (int b : {0, 3, 40, 300, 2000, 30000, 65535})
                grid.insert(grid.end(), {static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b)});
    const size_t count = grid.size() / 3;
    const Bytes wide = WideGamut();
    const Bytes srgb = SavedProfile(cmsCreate_sRGBProfile());
    for (const auto& [from, to] : std::vector<std::pair<Bytes, Bytes>>{{wide, srgb}, {srgb, wide}}) {
        cmsHPROFILE source = cmsOpenProfileFromMem(from.data(), static_cast<cmsUInt32Number>(from.size()));
        cmsHPROFILE target = cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size()));
        cmsHTRANSFORM transform =
            cmsCreateTransform(source, TYPE_RGB_16, target, TYPE_BGRA_8, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
        std::vector<BGRA> expected(count);
        cmsDoTransform(transform, grid.data(), expected.data(), static_cast<cmsUInt32Number>(count));
        cmsDeleteTransform(transform);
        cmsCloseProfile(source);
        cmsCloseProfile(target);
        for (BGRA& p : expected) p.a = 255;

        CDecodeContext context;
        if (to != srgb) context.targetProfile = to;
        CDecodeScope scope(&context);
        ImageMetadata metadata;
        metadata.iccProfile = from;
        const auto converter = CColourRowConverter::ForDecode(metadata, DecoderSamples::Rgb16);
        ASSERT_NE(converter, nullptr);
        std::vector<BGRA> converted(count);
        converter->Convert(grid.data(), converted.data(), count);
        ExpectNear(converted, expected);
    }
}

// A decoder gets a converter for its samples only when the decode converts and the profile
// describes those samples; otherwise it reduces them as usual and the finish step decides.
TEST(ColourManagementTest, RowConvertersAreMadeOnlyForSamplesTheirProfileDescribes) {
    const Bytes swapped = SwappedRedGreen();
    const Bytes inks = SwappedInksProfile();
    const auto converter = [](const Bytes& profile, DecoderSamples samples) {
        ImageMetadata metadata;
        metadata.iccProfile = profile;
        return CColourRowConverter::ForDecode(metadata, samples) != nullptr;
    };
    EXPECT_FALSE(converter(swapped, DecoderSamples::Rgb16)) << "outside any decode";
    CDecodeContext context;
    {
        CDecodeScope scope(&context);
        EXPECT_TRUE(converter(swapped, DecoderSamples::Rgba16));
        EXPECT_TRUE(converter(swapped, DecoderSamples::Grey16)) << "grey samples as R = G = B";
        EXPECT_TRUE(converter(inks, DecoderSamples::InvertedCmyk8));
        EXPECT_FALSE(converter(inks, DecoderSamples::Rgb16));
        EXPECT_FALSE(converter(swapped, DecoderSamples::Cmyk8));
        EXPECT_FALSE(converter(LinearGrey(), DecoderSamples::Rgb16));
        EXPECT_FALSE(converter(SavedProfile(cmsCreate_sRGBProfile()), DecoderSamples::Rgb16)) << "nothing to convert";
        EXPECT_FALSE(converter(Bytes(swapped.begin(), swapped.begin() + 200), DecoderSamples::Rgb16));
        EXPECT_FALSE(converter({}, DecoderSamples::Rgb16));
    }
    context.colourManagement = false;
    CDecodeScope scope(&context);
    EXPECT_FALSE(converter(swapped, DecoderSamples::Rgb16));
}

// 16-bit samples of an RGB profile converted on several threads with one shared transform,
// into the target the context names; the metadata then names the target.
TEST(ColourManagementTest, RowConvertersShareTheirTransformAcrossThreads) {
    CDecodeContext context;
    context.targetProfile = SwappedRedGreen();
    ImageMetadata metadata;
    std::vector<uint16_t> samples;
    for (int i = 0; i < 4096; ++i) samples.insert(samples.end(), {0xFFFF, 0, static_cast<uint16_t>(i * 16), 0x8000});
    std::vector<std::vector<BGRA>> rows(4, std::vector<BGRA>(4096));
    std::vector<std::thread> threads;
    for (auto& row : rows)
        threads.emplace_back([&] {
            CDecodeScope scope(&context);
            auto converter = CColourRowConverter::ForDecode(metadata, DecoderSamples::Rgba16);
            ASSERT_NE(converter, nullptr);
            converter->Convert(samples.data(), row.data(), 4096);
        });
    for (std::thread& thread : threads) thread.join();
    for (const auto& row : rows) {
        EXPECT_EQ(row, rows[0]);
        for (int i : {0, 2048, 4095}) {
            // Untagged red shown on a display whose red and green are exchanged: its green.
            EXPECT_LE(row[static_cast<size_t>(i)].r, 2);
            EXPECT_GE(row[static_cast<size_t>(i)].g, 250);
            EXPECT_EQ(row[static_cast<size_t>(i)].a, 128);
        }
    }
    CDecodeScope scope(&context);
    auto converter = CColourRowConverter::ForDecode(metadata, DecoderSamples::Rgba16);
    converter->MarkConverted(metadata);
    EXPECT_EQ(metadata.iccProfile, context.targetProfile);
}
