#include "codecs/animation_source.h"
#include "codecs/auto_decoder.h"
#include "codecs/jxl_animation.h"
#include "codecs/jxl_decoder.h"
#include "decode_test_helpers.h"
#include "support/jxl_files.h"

#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A picture whose neighbouring samples all differ; alpha (if any) runs over every level.
JxlPicture Pattern(int width, int height, int channels, int bits = 8) {
    JxlPicture picture{width, height, channels, bits, {{}}};
    const int top = (1 << bits) - 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                const int v = c == 3 ? (x * 37 + y * 11) % (top + 1) : (x * (c + 3) * 7 + y * (5 - c) * 13 + c * 61) * (top / 255) % (top + 1);
                picture.frames[0].push_back(static_cast<uint16_t>(v));
            }
    return picture;
}

// A smooth picture, as photographs are, for lossy coding.
JxlPicture Smooth(int width, int height) {
    JxlPicture picture{width, height, 3, 8, {{}}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            picture.frames[0].push_back(static_cast<uint16_t>(128 + 100 * std::sin(x / 9.0) * std::cos(y / 13.0)));
            picture.frames[0].push_back(static_cast<uint16_t>(x * 255 / width));
            picture.frames[0].push_back(static_cast<uint16_t>(y * 255 / height));
        }
    return picture;
}

// The 8-bit sample the decode should make of a stored one: rounded to the nearest level.
int Expected(const JxlPicture& picture, size_t index, int frame = 0) {
    const int v = picture.frames[static_cast<size_t>(frame)][index];
    return picture.bits == 8 ? v : (v * 255 + 32767) / 65535;
}

// The number of samples that differ from the picture's, at most one level off allowed when
// tolerance is 1; alpha-less pictures must come out opaque.
int Mismatches(const CImageBitmap& bitmap, const JxlPicture& picture, int tolerance = 0, int frame = 0) {
    int wrong = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const BGRA p = bitmap.PixelLine(y)[x];
            const size_t at = (static_cast<size_t>(y) * picture.width + x) * picture.channels;
            const int got[4] = {p.r, p.g, p.b, p.a};
            for (int c = 0; c < 4; ++c) {
                const int want = c < picture.channels ? Expected(picture, at + c, frame) : 255;
                if (std::abs(got[c] - want) > tolerance) ++wrong;
            }
        }
    return wrong;
}

double Psnr(const CImageBitmap& bitmap, const JxlPicture& picture) {
    double squares = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const BGRA p = bitmap.PixelLine(y)[x];
            const size_t at = (static_cast<size_t>(y) * picture.width + x) * 3;
            const int got[3] = {p.r, p.g, p.b};
            for (int c = 0; c < 3; ++c) {
                const double d = got[c] - picture.frames[0][at + c];
                squares += d * d;
            }
        }
    const double mse = squares / (3.0 * picture.width * picture.height);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

void Decode(const Bytes& bytes, CImageBitmap& bitmap, const CDecodeContext& context = {}) {
    CJXLDecoder decoder;
    decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, context, 0);
}

int ErrorDecoding(const Bytes& bytes, const CDecodeContext& context = {}) {
    CMemBitmap bitmap;
    try {
        Decode(bytes, bitmap, context);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

TEST(JxlDecoder, LosslessCodestreamAndContainerDecodeExactly) {
    for (const bool container : {false, true}) {
        SCOPED_TRACE(container ? "container" : "codestream");
        const JxlPicture picture = Pattern(67, 45, 3);
        const Bytes bytes = EncodeJxl(picture, {.container = container});
        EXPECT_EQ(DetectFormat(bytes.data(), bytes.size()), ImageFormat::JXL);
        CMemBitmap bitmap;
        Decode(bytes, bitmap);
        ASSERT_EQ(bitmap.Width(), 67);
        ASSERT_EQ(bitmap.Height(), 45);
        EXPECT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_FALSE(bitmap.HasAlpha());
        EXPECT_EQ(Mismatches(bitmap, picture), 0);
        // sRGB pixels: the profile libjxl reports is sRGB's, which the finish step leaves alone.
        EXPECT_EQ(bitmap.Metadata().frameCount, 1);

        CJXLDecoder decoder;
        const ImageInfo info = decoder.ProbeMemory(bytes.data(), bytes.size());
        EXPECT_EQ(info.width, 67);
        EXPECT_EQ(info.height, 45);
        EXPECT_EQ(info.bitsPerPixel, 24);
        EXPECT_FALSE(info.hasAlpha);
        EXPECT_EQ(info.frameCount, 1);
    }
}

TEST(JxlDecoder, LossyStaysCloseToTheSource) {
    const JxlPicture picture = Smooth(160, 120);
    const Bytes bytes = EncodeJxl(picture, {.lossless = false, .distance = 1.0f});
    CMemBitmap bitmap;
    Decode(bytes, bitmap);
    ASSERT_EQ(bitmap.Width(), 160);
    EXPECT_GE(Psnr(bitmap, picture), 30.0);
    EXPECT_FALSE(bitmap.HasAlpha());
}

TEST(JxlDecoder, AlphaOnlyWhenSomePixelIsTransparent) {
    const JxlPicture picture = Pattern(40, 30, 4);
    CMemBitmap bitmap;
    Decode(EncodeJxl(picture), bitmap);
    EXPECT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(Mismatches(bitmap, picture), 0);
    CJXLDecoder decoder;
    const Bytes bytes = EncodeJxl(picture);
    EXPECT_TRUE(decoder.ProbeMemory(bytes.data(), bytes.size()).hasAlpha);

    JxlPicture opaque = picture;
    for (size_t i = 3; i < opaque.frames[0].size(); i += 4) opaque.frames[0][i] = 255;
    Decode(EncodeJxl(opaque), bitmap);
    EXPECT_FALSE(bitmap.HasAlpha());
    EXPECT_EQ(Mismatches(bitmap, opaque), 0);
}

TEST(JxlDecoder, ThePixelsProfileGoesToTheColourConversion) {
    // Linear-light samples: mid grey there is a much lighter grey in sRGB.
    JxlPicture picture{4, 4, 3, 8, {std::vector<uint16_t>(48, 128)}};
    const Bytes bytes = EncodeJxl(picture, {.linear = true});
    CDecodeContext asStored;
    asStored.colourManagement = false;
    CMemBitmap stored;
    Decode(bytes, stored, asStored);
    EXPECT_FALSE(stored.Metadata().iccProfile.empty());
    EXPECT_EQ(stored.PixelLine(2)[2].g, 128);
    CMemBitmap converted;
    Decode(bytes, converted);
    EXPECT_NEAR(converted.PixelLine(2)[2].g, 188, 2);
    CJXLDecoder decoder;
    EXPECT_TRUE(decoder.ProbeMemory(bytes.data(), bytes.size()).hasColourProfile);
}

TEST(JxlDecoder, SixteenBitSamplesRoundToTheNearestLevel) {
    JxlPicture picture = Pattern(50, 20, 4, 16);
    // Samples at and around the halfway points between 8-bit levels.
    for (size_t i = 0; i < 256; ++i) picture.frames[0][i] = static_cast<uint16_t>(i * 257 + 128 + i % 3 - 1);
    CMemBitmap bitmap;
    Decode(EncodeJxl(picture), bitmap);
    EXPECT_EQ(Mismatches(bitmap, picture), 0);
    CJXLDecoder decoder;
    const Bytes bytes = EncodeJxl(picture);
    EXPECT_EQ(decoder.ProbeMemory(bytes.data(), bytes.size()).bitsPerPixel, 64);
}

TEST(JxlDecoder, OrientationIsAppliedOnce) {
    // 3 x 2 stored, turned a quarter clockwise (orientation 6): 2 x 3 shown, the stored
    // first column becoming the top row read right to left.
    JxlPicture picture{3, 2, 3, 8, {{}}};
    for (int i = 0; i < 6; ++i)
        for (int c = 0; c < 3; ++c) picture.frames[0].push_back(static_cast<uint16_t>(i * 40 + c));
    const Bytes bytes = EncodeJxl(picture, {.orientation = 6});
    CMemBitmap bitmap;
    Decode(bytes, bitmap);
    ASSERT_EQ(bitmap.Width(), 2);
    ASSERT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.Metadata().orientation, 1);
    // Stored (x, y) goes to shown (height - 1 - y, x).
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(bitmap.PixelLine(x)[1 - y].r, (y * 3 + x) * 40) << x << "," << y;
    CJXLDecoder decoder;
    const ImageInfo info = decoder.ProbeMemory(bytes.data(), bytes.size());
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.orientation, 1);
}

JxlPicture ThreeFrames() {
    JxlPicture picture{8, 6, 4, 8, {}};
    const uint16_t colours[3][4] = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 0}};
    for (const auto& colour : colours) {
        picture.frames.emplace_back();
        for (int i = 0; i < 8 * 6; ++i) picture.frames.back().insert(picture.frames.back().end(), colour, colour + 4);
    }
    return picture;
}

TEST(JxlDecoder, AnimationFramesDelaysAndLoops) {
    const JxlPicture picture = ThreeFrames();
    // 100 ticks a second: 250 ms, 40 ms, and a duration of 0, shown for 100 ms.
    const Bytes bytes = EncodeJxl(picture, {.ticksPerSecond = 100, .loops = 3, .durations = {25, 4, 0}});

    CMemBitmap still;
    Decode(bytes, still);
    EXPECT_EQ(still.Metadata().frameCount, 3);
    EXPECT_EQ(Mismatches(still, picture, 0, 0), 0);
    CJXLDecoder decoder;
    EXPECT_EQ(decoder.ProbeMemory(bytes.data(), bytes.size()).frameCount, 3);

    TempDir folder;
    WriteBytes(folder.File("moving.jxl"), bytes);
    const std::unique_ptr<CAnimationReader> reader = OpenAnimation(folder.File("moving.jxl"), CDecodeContext{});
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FrameCount(), 3);
    EXPECT_EQ(reader->LoopCount(), 3);
    EXPECT_EQ(reader->CanvasWidth(), 8);
    EXPECT_EQ(reader->CanvasHeight(), 6);
    const int delays[3] = {250, 40, 100};
    for (int round = 0; round < 2; ++round) {
        for (int frame = 0; frame < 3; ++frame) {
            CMemBitmap bitmap;
            EXPECT_EQ(reader->ReadFrame(bitmap), delays[frame]);
            ASSERT_EQ(bitmap.Width(), 8);
            EXPECT_EQ(bitmap.HasAlpha(), frame != 0);
            EXPECT_EQ(Mismatches(bitmap, picture, 0, frame), 0) << "frame " << frame;
        }
        CMemBitmap past;
        EXPECT_EQ(reader->ReadFrame(past), -1);
        reader->Rewind();
    }

    // A still picture is no animation.
    WriteBytes(folder.File("still.jxl"), EncodeJxl(Pattern(4, 4, 3)));
    EXPECT_EQ(OpenAnimation(folder.File("still.jxl"), CDecodeContext{}), nullptr);
}

TEST(JxlDecoder, DamagedTruncatedHugeAndCancelledDecodesFailCleanly) {
    const Bytes bytes = EncodeJxl(Pattern(64, 64, 3));
    for (const size_t cut : {size_t{2}, size_t{12}, bytes.size() / 2, bytes.size() - 1}) {
        const Bytes truncated(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const int code = ErrorDecoding(truncated);
        EXPECT_TRUE(code == ERR_END_OF_DATA || code == ERR_BAD_DATA) << cut << ": " << code;
    }
    Bytes damaged = bytes;
    for (size_t i = 20; i < damaged.size(); i += 7) damaged[i] ^= 0x5A;
    const int code = ErrorDecoding(damaged);
    EXPECT_TRUE(code == 0 || code == ERR_BAD_DATA || code == ERR_END_OF_DATA) << code;

    CDecodeContext small;
    small.storageLimit = 64 * 63 * 4;
    EXPECT_EQ(ErrorDecoding(bytes, small), ERR_OUT_OF_MEMORY);

    CDecodeContext cancelled;
    cancelled.Cancel();
    EXPECT_EQ(ErrorDecoding(bytes, cancelled), ERR_CANCELLED);
    const std::unique_ptr<CAnimationReader> reader = OpenJXLAnimation(
        EncodeJxl(ThreeFrames(), {.ticksPerSecond = 10, .durations = {1, 1, 1}}), CDecodeContext{});
    reader->Context().Cancel();
    CMemBitmap bitmap;
    try {
        reader->ReadFrame(bitmap);
        ADD_FAILURE() << "a cancelled frame was read";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANCELLED);
    }
}

}  // namespace
