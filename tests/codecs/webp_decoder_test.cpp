#include "codecs/animation_source.h"
#include "codecs/auto_decoder.h"
#include "codecs/webp_animation.h"
#include "codecs/webp_decoder.h"
#include "decode_test_helpers.h"

#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

// RGBA samples of a smooth picture (lossy coding keeps it well) with alpha that varies.
using Pattern = std::function<std::array<uint8_t, 4>(int x, int y)>;

const Pattern kSmooth = [](int x, int y) {
    return std::array<uint8_t, 4>{static_cast<uint8_t>(x * 2), static_cast<uint8_t>(y * 3), static_cast<uint8_t>(128 + (x - y) / 2),
                                  static_cast<uint8_t>(255 - y)};
};

Bytes Rgba(int width, int height, const Pattern& pattern) {
    Bytes rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (uint8_t sample : pattern(x, y)) rgba.push_back(sample);
    return rgba;
}

// Encodes with libwebp's simple encoders: lossless, or lossy at quality 90; without alpha the
// pattern's alpha is dropped.
Bytes EncodeWebP(int width, int height, const Pattern& pattern, bool lossless, bool alpha) {
    Bytes rgba = Rgba(width, height, pattern);
    Bytes rgb;
    for (size_t i = 0; i < rgba.size(); ++i)
        if (i % 4 != 3) rgb.push_back(rgba[i]);
    uint8_t* out = nullptr;
    size_t size = 0;
    if (alpha)
        size = lossless ? WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &out)
                        : WebPEncodeRGBA(rgba.data(), width, height, width * 4, 90, &out);
    else
        size = lossless ? WebPEncodeLosslessRGB(rgb.data(), width, height, width * 3, &out)
                        : WebPEncodeRGB(rgb.data(), width, height, width * 3, 90, &out);
    Bytes file(out, out + size);
    WebPFree(out);
    return file;
}

// The file with chunks (fourcc, bytes) added by libwebpmux.
Bytes WithChunks(const Bytes& file, const std::vector<std::pair<const char*, Bytes>>& chunks) {
    const WebPData input{file.data(), file.size()};
    WebPMux* mux = WebPMuxCreate(&input, 1);
    for (const auto& [fourcc, bytes] : chunks) {
        const WebPData chunk{bytes.data(), bytes.size()};
        EXPECT_EQ(WebPMuxSetChunk(mux, fourcc, &chunk, 1), WEBP_MUX_OK);
    }
    WebPData output;
    WebPDataInit(&output);
    EXPECT_EQ(WebPMuxAssemble(mux, &output), WEBP_MUX_OK);
    Bytes result(output.bytes, output.bytes + output.size);
    WebPDataClear(&output);
    WebPMuxDelete(mux);
    return result;
}

// An Exif block (little-endian TIFF structure) whose IFD0 holds only the orientation.
Bytes ExifWithOrientation(int orientation) {
    Bytes exif = {'I', 'I', 42, 0, 8, 0, 0, 0};
    AppendLE16(exif, 1);
    Append(exif, {0x12, 0x01, 3, 0, 1, 0, 0, 0});
    AppendLE16(exif, orientation);
    Append(exif, {0, 0, 0, 0, 0, 0});
    return exif;
}

// An animation of solid-coloured full frames with these durations, looped loops times,
// lossless so that each composited frame is exact.
Bytes EncodeAnimation(int width, int height, const std::vector<std::array<uint8_t, 4>>& colours,
                      const std::vector<int>& durations, int loops) {
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    options.anim_params.loop_count = loops;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    int timestamp = 0;
    for (size_t i = 0; i < colours.size(); ++i) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = width;
        picture.height = height;
        picture.use_argb = 1;
        // Each frame a colour with a stripe of its own, so that no two frames are alike.
        const Bytes rgba = Rgba(width, height, [&](int x, int y) {
            return x == static_cast<int>(i) ? std::array<uint8_t, 4>{1, 2, 3, 255} : colours[i];
            (void)y;
        });
        WebPPictureImportRGBA(&picture, rgba.data(), width * 4);
        WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += durations[i];
    }
    WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
    WebPData output;
    WebPDataInit(&output);
    WebPAnimEncoderAssemble(encoder, &output);
    Bytes file(output.bytes, output.bytes + output.size);
    WebPDataClear(&output);
    WebPAnimEncoderDelete(encoder);
    return file;
}

double Psnr(const CImageBitmap& bitmap, const Pattern& pattern) {
    double squares = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const BGRA p = bitmap.PixelLine(y)[x];
            const auto want = pattern(x, y);
            for (auto [got, expected] : {std::pair{p.r, want[0]}, std::pair{p.g, want[1]}, std::pair{p.b, want[2]}})
                squares += (got - expected) * (got - expected);
        }
    const double mse = squares / (3.0 * bitmap.Width() * bitmap.Height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

void Decode(const Bytes& bytes, CImageBitmap& bitmap, const CDecodeContext& context = {}) {
    CAutoDecoder decoder;
    decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, context, 32);
}

int DecodeCode(const Bytes& bytes, const CDecodeContext& context = {}, std::string* text = nullptr) {
    CMemBitmap bitmap;
    try {
        Decode(bytes, bitmap, context);
    } catch (const CTextException& e) {
        if (text) *text = e.Text();
        return e.Code();
    }
    return 0;
}

}  // namespace

// Lossless pictures come back exactly, alpha included; lossy ones within 30 dB, their alpha
// (coded losslessly by default) exactly. Without alpha the picture is opaque and says so.
TEST(WebPDecoderTest, LossyAndLosslessWithAndWithoutAlpha) {
    constexpr int kW = 97, kH = 61;
    for (bool lossless : {true, false})
        for (bool alpha : {true, false}) {
            SCOPED_TRACE(testing::Message() << "lossless " << lossless << ", alpha " << alpha);
            CMemBitmap bitmap;
            Decode(EncodeWebP(kW, kH, kSmooth, lossless, alpha), bitmap);
            ASSERT_EQ(bitmap.Size(), std::make_pair(kW, kH));
            ASSERT_EQ(bitmap.BitsPerPixel(), 32);
            EXPECT_EQ(bitmap.HasAlpha(), alpha);
            if (lossless) {
                EXPECT_EQ(Psnr(bitmap, kSmooth), 99);
            }
            EXPECT_GE(Psnr(bitmap, kSmooth), 30);
            for (int y = 0; y < kH; y += 7)
                for (int x = 0; x < kW; x += 5) ASSERT_EQ(bitmap.PixelLine(y)[x].a, alpha ? kSmooth(x, y)[3] : 255);
        }
}

// The bitmap's rows need not be one buffer: a window-system bitmap stores them bottom up.
TEST(WebPDecoderTest, RowsInAnyOrderGetTheSamePixels) {
    class CBottomUpBitmap : public CMemBitmap {
    protected:
        void BuildLineArray() override {
            CMemBitmap::BuildLineArray();
            std::reverse(LineArray().begin(), LineArray().end());
        }
    };
    const Bytes file = EncodeWebP(40, 30, kSmooth, true, true);
    CMemBitmap plain;
    CBottomUpBitmap reversed;
    Decode(file, plain);
    Decode(file, reversed);
    std::string why;
    EXPECT_TRUE(SamePixels(plain, reversed, &why)) << why;
}

// The ICCP chunk's profile and the EXIF chunk's orientation reach the metadata and the
// probe; a plain decode turns the picture upright.
TEST(WebPDecoderTest, ProfileAndOrientationFromTheirChunks) {
    const Bytes profile = {0, 0, 1, 0, 'n', 'o', 't', ' ', 'a', ' ', 'r', 'e', 'a', 'l', ' ', 'o', 'n', 'e'};
    const Bytes file = WithChunks(EncodeWebP(20, 10, kSmooth, true, false), {{"ICCP", profile}, {"EXIF", ExifWithOrientation(6)}});
    CDecodeContext asStored;
    asStored.applyOrientation = false;
    asStored.colourManagement = false;
    CMemBitmap stored, upright;
    Decode(file, stored, asStored);
    EXPECT_EQ(stored.Size(), std::make_pair(20, 10));
    EXPECT_EQ(stored.Metadata().orientation, 6);
    EXPECT_EQ(stored.Metadata().iccProfile, profile);
    Decode(file, upright);
    EXPECT_EQ(upright.Size(), std::make_pair(10, 20));

    CWebPDecoder decoder;
    const ImageInfo info = decoder.ProbeMemory(file.data(), file.size());
    EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(20, 10));
    EXPECT_EQ(info.orientation, 6);
    EXPECT_TRUE(info.hasColourProfile);
    EXPECT_FALSE(info.hasAlpha);
    EXPECT_EQ(info.frameCount, 1);
}

// Frames composited exactly, durations as delays (0 shows for 100 ms), the loop count as
// stored; the plain decode gives frame 0 and counts the frames, as does the probe.
TEST(WebPDecoderTest, AnimationFramesDelaysAndLoops) {
    const std::vector<std::array<uint8_t, 4>> colours = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 255}};
    Bytes file = EncodeAnimation(16, 8, colours, {40, 70, 120}, 3);
    // The last frame's duration (three bytes after its 12 bytes of placement) set to 0.
    size_t last = 0;
    for (size_t at = 12; at + 4 < file.size(); ++at)
        if (std::memcmp(&file[at], "ANMF", 4) == 0) last = at;
    ASSERT_NE(last, 0u);
    std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(last + 8 + 12), 3, 0);

    TempDir folder;
    const std::string path = folder.File("moving.webp");
    WriteBytes(path, file);
    const auto reader = OpenAnimation(path, CDecodeContext{});
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FrameCount(), 3);
    EXPECT_EQ(reader->LoopCount(), 3);
    EXPECT_EQ(std::make_pair(reader->CanvasWidth(), reader->CanvasHeight()), std::make_pair(16, 8));
    std::vector<int> delays;
    std::vector<CMemBitmap> frames(3);
    for (CMemBitmap& frame : frames) delays.push_back(reader->ReadFrame(frame));
    EXPECT_EQ(delays, (std::vector<int>{40, 70, 100}));
    for (size_t i = 0; i < 3; ++i) {
        const BGRA want{colours[i][2], colours[i][1], colours[i][0], colours[i][3]};
        EXPECT_EQ(frames[i].PixelLine(5)[9], want) << i;
        EXPECT_EQ(frames[i].PixelLine(5)[i], (BGRA{3, 2, 1, 255})) << i;
        EXPECT_EQ(frames[i].HasAlpha(), i == 1);
    }
    reader->Rewind();
    CMemBitmap again;
    EXPECT_EQ(reader->ReadFrame(again), 40);
    EXPECT_TRUE(SamePixels(frames[0], again));

    CMemBitmap plain;
    Decode(file, plain);
    EXPECT_TRUE(SamePixels(frames[0], plain));
    EXPECT_EQ(plain.Metadata().frameCount, 3);
    CWebPDecoder decoder;
    EXPECT_EQ(decoder.ProbeMemory(file.data(), file.size()).frameCount, 3);

    // A still picture opens no animation.
    const std::string still = folder.File("still.webp");
    WriteBytes(still, EncodeWebP(8, 8, kSmooth, true, true));
    EXPECT_EQ(OpenAnimation(still, CDecodeContext{}), nullptr);
}

// A still picture cut short keeps the rows it holds, the rest transparent; cut inside its
// headers, or an animation cut anywhere, it fails with code 11; a damaged header gives code 2.
TEST(WebPDecoderTest, TruncatedAndDamagedFiles) {
    const Pattern noisy = [](int x, int y) {
        return std::array<uint8_t, 4>{static_cast<uint8_t>(x * y), static_cast<uint8_t>(x ^ y), static_cast<uint8_t>(x * 7 + y), 255};
    };
    const Bytes file = EncodeWebP(128, 128, noisy, false, false);
    CMemBitmap partial;
    Decode(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 6 / 10)), partial);
    ASSERT_EQ(partial.Size(), std::make_pair(128, 128));
    EXPECT_TRUE(partial.HasAlpha());
    EXPECT_EQ(partial.PixelLine(0)[0].a, 255);
    EXPECT_EQ(partial.PixelLine(127)[127], (BGRA{0, 0, 0, 0}));

    std::string text;
    EXPECT_EQ(DecodeCode(Bytes(file.begin(), file.begin() + 20), {}, &text), ERR_END_OF_DATA);
    EXPECT_EQ(text, "Decoder error: WebP decoder: the data ends inside the headers.\n");
    EXPECT_EQ(DecodeCode(Bytes(file.begin(), file.begin() + 40)), ERR_END_OF_DATA);

    const Bytes animation = EncodeAnimation(16, 8, {{255, 0, 0, 255}, {0, 0, 255, 255}}, {50, 50}, 0);
    EXPECT_EQ(DecodeCode(Bytes(animation.begin(), animation.end() - 10)), ERR_END_OF_DATA);

    Bytes damaged = file;
    for (size_t at = 40; at < damaged.size(); at += 3) damaged[at] ^= 0x5A;
    // Damaged partitions may read as data that ends early: libwebp cannot tell the two apart.
    const int code = DecodeCode(damaged);
    EXPECT_TRUE(code == ERR_BAD_DATA || code == ERR_END_OF_DATA) << code;
    Bytes badSize = file;
    std::fill_n(badSize.begin() + 26, 4, 0);  // the VP8 frame's width and height
    EXPECT_EQ(DecodeCode(badSize), ERR_BAD_DATA);
}

// A canvas over the storage limit is refused before anything is decoded, animations too;
// a cancelled context stops the decode.
TEST(WebPDecoderTest, StorageLimitAndCancel) {
    CDecodeContext small;
    small.storageLimit = 100 * 100 * 4;
    std::string text;
    EXPECT_EQ(DecodeCode(EncodeWebP(101, 100, kSmooth, true, false), small, &text), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(DecodeCode(EncodeWebP(100, 100, kSmooth, true, false), small), 0);
    const Bytes animation = EncodeAnimation(120, 100, {{255, 0, 0, 255}, {0, 0, 255, 255}}, {50, 50}, 0);
    EXPECT_EQ(DecodeCode(animation, small), ERR_OUT_OF_MEMORY);
    try {
        OpenWebPAnimation(animation, small);
        ADD_FAILURE() << "an animation over the limit was opened";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_OUT_OF_MEMORY);
    }

    CDecodeContext cancelled;
    cancelled.Cancel();
    EXPECT_EQ(DecodeCode(EncodeWebP(64, 64, kSmooth, false, true), cancelled), ERR_CANCELLED);
}

// Files are recognised by their content whatever their name; a RIFF file of another kind
// is not WebP.
TEST(WebPDecoderTest, RecognisedByTheRiffFormType) {
    const Bytes file = EncodeWebP(4, 4, kSmooth, true, true);
    EXPECT_EQ(DetectFormat(file.data(), file.size()), ImageFormat::WEBP);
    Bytes wave = file;
    std::memcpy(&wave[8], "WAVE", 4);
    EXPECT_EQ(DetectFormat(wave.data(), wave.size()), ImageFormat::None);
    EXPECT_STREQ(FormatName(ImageFormat::WEBP), "WEBP");
}
