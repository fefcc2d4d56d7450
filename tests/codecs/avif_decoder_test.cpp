#include "codecs/animation_source.h"
#include "codecs/avif_animation.h"
#include "codecs/avif_decoder.h"
#include "codecs/format_registry.h"
#include "heif_family_test_support.h"

#include "imagelib/byte_source.h"
#include "imagelib/dib_bitmap.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <avif/avif.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// How a picture is stored: libavif with aom, lossless through the identity matrix at 4:4:4.
struct AvifOptions {
    int depth = 8;
    avifPixelFormat format = AVIF_PIXEL_FORMAT_YUV444;
    bool lossless = true;
    bool withAlpha = false;
    bool premultiplied = false;
    avifTransformFlags transforms = AVIF_TRANSFORM_NONE;
    int angle = 0;
    int mode = 0;
    Bytes icc;
};

struct AvifFrame {
    SourcePicture picture;
    uint64_t durationMs = 0;
};

struct ImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
struct EncoderDeleter {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};

std::unique_ptr<avifImage, ImageDeleter> MakeImage(const SourcePicture& picture, const AvifOptions& o) {
    std::unique_ptr<avifImage, ImageDeleter> image(
        avifImageCreate(static_cast<uint32_t>(picture.width), static_cast<uint32_t>(picture.height),
                        static_cast<uint32_t>(o.depth), o.format));
    image->yuvRange = AVIF_RANGE_FULL;
    if (o.lossless && o.format == AVIF_PIXEL_FORMAT_YUV444) image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_IDENTITY;
    image->alphaPremultiplied = o.premultiplied ? AVIF_TRUE : AVIF_FALSE;
    image->transformFlags = o.transforms;
    image->irot.angle = static_cast<uint8_t>(o.angle);
    image->imir.mode = static_cast<uint8_t>(o.mode);
    if (!o.icc.empty()) avifImageSetProfileICC(image.get(), o.icc.data(), o.icc.size());
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.format = o.withAlpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    rgb.depth = static_cast<uint32_t>(o.depth);
    const int channels = o.withAlpha ? 4 : 3;
    std::vector<uint16_t> wide(static_cast<size_t>(picture.width) * picture.height * channels);
    std::vector<uint8_t> narrow(wide.size());
    for (size_t i = 0, p = 0; p < picture.samples.size(); p += 4)
        for (int c = 0; c < channels; ++c, ++i) {
            wide[i] = picture.samples[p + static_cast<size_t>(c)];
            narrow[i] = static_cast<uint8_t>(wide[i]);
        }
    rgb.pixels = o.depth > 8 ? reinterpret_cast<uint8_t*>(wide.data()) : narrow.data();
    rgb.rowBytes = static_cast<uint32_t>(picture.width * channels * (o.depth > 8 ? 2 : 1));
    EXPECT_EQ(avifImageRGBToYUV(image.get(), &rgb), AVIF_RESULT_OK);
    return image;
}

Bytes EncodeAvif(const std::vector<AvifFrame>& frames, const AvifOptions& o) {
    std::unique_ptr<avifEncoder, EncoderDeleter> encoder(avifEncoderCreate());
    encoder->speed = AVIF_SPEED_FASTEST;
    encoder->maxThreads = 2;
    encoder->timescale = 1000;
    const int quantizer = o.lossless ? AVIF_QUANTIZER_LOSSLESS : 20;
    encoder->minQuantizer = encoder->maxQuantizer = quantizer;
    encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = o.lossless ? AVIF_QUANTIZER_LOSSLESS : 10;
    for (const AvifFrame& frame : frames) {
        const auto image = MakeImage(frame.picture, o);
        const avifAddImageFlags flags = frames.size() == 1 ? AVIF_ADD_IMAGE_FLAG_SINGLE : AVIF_ADD_IMAGE_FLAG_NONE;
        EXPECT_EQ(avifEncoderAddImage(encoder.get(), image.get(), frame.durationMs, flags), AVIF_RESULT_OK);
    }
    avifRWData output = AVIF_DATA_EMPTY;
    EXPECT_EQ(avifEncoderFinish(encoder.get(), &output), AVIF_RESULT_OK) << encoder->diag.error;
    Bytes bytes(output.data, output.data + output.size);
    avifRWDataFree(&output);
    return bytes;
}

Bytes EncodeAvif(const SourcePicture& picture, const AvifOptions& o) { return EncodeAvif({{picture, 0}}, o); }

// A picture of distinct neighbours over the whole range of depth bits.
SourcePicture DetailedPicture(int width, int height, int depth, bool withAlpha) {
    const int max = (1 << depth) - 1;
    return MakePicture(width, height, [=](int x, int y, int c) {
        const int value = ((x * 37 + y * 101) * (c + 3) + c * 211) % (max + 1);
        return c == 3 && !withAlpha ? max : value;
    });
}

ImageInfo Probe(const Bytes& bytes) {
    CAVIFDecoder decoder;
    return decoder.ProbeMemory(bytes.data(), bytes.size());
}

}  // namespace

// Lossless files decode to the exact samples, higher depths rounded to 8 bits, with alpha
// and in BGRA order; the probe reports what the container says.
TEST(AvifDecoderTest, LosslessPicturesOfEveryDepthDecodeExactly) {
    for (int depth : {8, 10, 12})
        for (bool withAlpha : {false, true}) {
            SCOPED_TRACE(testing::Message() << depth << " bits, alpha " << withAlpha);
            const SourcePicture source = DetailedPicture(40, 24, depth, withAlpha);
            const Bytes file = EncodeAvif(source, {.depth = depth, .withAlpha = withAlpha});
            CMemBitmap bitmap;
            ASSERT_EQ(DecodeWith(file, CDecodeContext(), bitmap), 0);
            EXPECT_EQ(FirstDifference(bitmap, ReducedToEightBits(source, depth)), "");
            EXPECT_EQ(bitmap.HasAlpha(), withAlpha);
            // Rows bottom-up, where libavif cannot write into them directly.
            CDIBitmap upsideDown;
            CAVIFDecoder().DecodeMemory(file.data(), file.size(), upsideDown, 32);
            EXPECT_EQ(FirstDifference(upsideDown, ReducedToEightBits(source, depth)), "");

            const ImageInfo info = Probe(file);
            EXPECT_EQ(info.width, 40);
            EXPECT_EQ(info.height, 24);
            EXPECT_EQ(info.bitsPerPixel, depth * (withAlpha ? 4 : 3));
            EXPECT_EQ(info.hasAlpha, withAlpha);
            EXPECT_EQ(info.frameCount, 1);
        }
}

// Lossy files of every chroma subsampling decode close to their source; 4:0:0 is grey.
TEST(AvifDecoderTest, LossyPicturesOfEverySubsamplingDecodeClose) {
    for (avifPixelFormat format : {AVIF_PIXEL_FORMAT_YUV420, AVIF_PIXEL_FORMAT_YUV422, AVIF_PIXEL_FORMAT_YUV444,
                                   AVIF_PIXEL_FORMAT_YUV400}) {
        SCOPED_TRACE(avifPixelFormatToString(format));
        const bool grey = format == AVIF_PIXEL_FORMAT_YUV400;
        const SourcePicture colour = SmoothPicture(96, 64, true);
        const SourcePicture source = grey ? MakePicture(96, 64, [&](int x, int y, int c) {
            return c == 3 ? colour.At(x, y)[3] : colour.At(x, y)[1];
        })
                                          : colour;
        const Bytes file = EncodeAvif(source, {.format = format, .lossless = false, .withAlpha = true});
        CMemBitmap bitmap;
        ASSERT_EQ(DecodeWith(file, CDecodeContext(), bitmap), 0);
        EXPECT_GE(Psnr(bitmap, source, true), 30.0);
        EXPECT_TRUE(bitmap.HasAlpha());
    }
}

// Premultiplied files come back with straight colours: a faint pixel keeps its colour.
TEST(AvifDecoderTest, PremultipliedAlphaIsUndone) {
    const SourcePicture source = MakePicture(32, 16, [](int x, int y, int c) {
        return c == 3 ? 64 + (x + y) * 4 : c == 0 ? 200 : c == 1 ? 40 + x * 4 : 120;
    });
    const Bytes file = EncodeAvif(source, {.withAlpha = true, .premultiplied = true});
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeWith(file, CDecodeContext(), bitmap), 0);
    // Premultiplied at 8 bits, a colour keeps only about 255 / alpha of its precision.
    EXPECT_EQ(FirstDifference(bitmap, source, 4), "");
}

// Every rotation and mirroring of the container turns the picture once, rotation first, and
// the probe reports it as an Exif orientation; with orientation off the picture stays stored.
TEST(AvifDecoderTest, RotationAndMirroringTurnThePicture) {
    const SourcePicture source = DetailedPicture(6, 4, 8, false);
    for (int angle = 0; angle < 4; ++angle)
        for (int mirror = 0; mirror < 3; ++mirror) {
            SCOPED_TRACE(testing::Message() << "irot " << angle << ", imir " << mirror - 1);
            AvifOptions options;
            options.transforms = (angle != 0 ? AVIF_TRANSFORM_IROT : 0) | (mirror != 0 ? AVIF_TRANSFORM_IMIR : 0);
            options.angle = angle;
            options.mode = mirror == 0 ? 0 : mirror - 1;
            const Bytes file = EncodeAvif(source, options);
            CMemBitmap shown;
            ASSERT_EQ(DecodeWith(file, CDecodeContext(), shown), 0);
            EXPECT_EQ(FirstDifference(shown, Turned(source, angle, mirror)), "");
            EXPECT_EQ(shown.Metadata().orientation, 1);

            CMemBitmap stored;
            ASSERT_EQ(DecodeWith(file, StoredPictureContext(), stored), 0);
            EXPECT_EQ(FirstDifference(stored, source), "");
            EXPECT_EQ(stored.Metadata().orientation, Probe(file).orientation);
        }
}

// The ICC profile goes into the metadata as stored; without one there is none.
TEST(AvifDecoderTest, ColourProfileIsRecorded) {
    Bytes profile(560);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7);
    const SourcePicture source = SmoothPicture(16, 16, false);
    const Bytes withProfile = EncodeAvif(source, {.icc = profile});
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeWith(withProfile, StoredPictureContext(), bitmap), 0);
    EXPECT_EQ(bitmap.Metadata().iccProfile, profile);
    EXPECT_TRUE(Probe(withProfile).hasColourProfile);

    const Bytes without = EncodeAvif(source, {});
    ASSERT_EQ(DecodeWith(without, StoredPictureContext(), bitmap), 0);
    EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());
    EXPECT_FALSE(Probe(without).hasColourProfile);
}

// An image sequence: a decode shows the first frame; the animation reader gives every frame
// with its duration (0 becomes 100 ms), plays for ever, and starts again on rewind.
TEST(AvifDecoderTest, SequencesPlayFrameByFrame) {
    const auto solid = [](int r, int g, int b) {
        return MakePicture(20, 12, [=](int x, int, int c) { return c == 0 ? r : c == 1 ? g : c == 2 ? b - x : 255; });
    };
    const std::vector<AvifFrame> frames = {{solid(250, 0, 30), 40}, {solid(0, 200, 60), 250}, {solid(10, 20, 230), 1}};
    Bytes file = EncodeAvif(frames, {});
    // libavif writes no duration of 0: the last frame's is set to 0 in the time-to-sample box.
    const auto stts = std::search(file.begin(), file.end(), std::begin("stts"), std::end("stts") - 1);
    ASSERT_NE(stts, file.end());
    const size_t entries = stts[11];
    ASSERT_EQ(stts[8] | stts[9] | stts[10], 0);
    const auto lastDelta = stts + 12 + static_cast<std::ptrdiff_t>(8 * (entries - 1) + 4);
    ASSERT_EQ(lastDelta[3], 1);
    lastDelta[3] = 0;

    CMemBitmap first;
    ASSERT_EQ(DecodeWith(file, CDecodeContext(), first), 0);
    EXPECT_EQ(FirstDifference(first, frames[0].picture), "");
    EXPECT_EQ(first.Metadata().frameCount, 3);
    EXPECT_EQ(Probe(file).frameCount, 3);

    TempDir dir;
    const std::string path = dir.File("frames.avif");
    WriteBytes(path, file);
    const std::unique_ptr<CAnimationReader> reader = OpenAnimation(path, CDecodeContext());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->FrameCount(), 3);
    EXPECT_EQ(reader->LoopCount(), 0);
    EXPECT_EQ(reader->CanvasWidth(), 20);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < frames.size(); ++i) {
            CMemBitmap frame;
            EXPECT_EQ(reader->ReadFrame(frame), i + 1 < frames.size() ? static_cast<int>(frames[i].durationMs) : 100);
            EXPECT_EQ(FirstDifference(frame, frames[i].picture), "") << "frame " << i << ", pass " << pass;
        }
        CMemBitmap past;
        EXPECT_EQ(reader->ReadFrame(past), -1);
        reader->Rewind();
    }
    // A still picture is no animation.
    WriteBytes(path, EncodeAvif(frames[0].picture, {}));
    EXPECT_FALSE(OpenAnimation(path, CDecodeContext()));
}

// Files cut short or damaged fail with a clear error, never a crash.
TEST(AvifDecoderTest, TruncatedAndDamagedFilesFailCleanly) {
    const Bytes file = EncodeAvif(SmoothPicture(64, 48, true), {.lossless = false, .withAlpha = true});
    for (size_t keep : {file.size() - 1, file.size() * 3 / 4, file.size() / 2, size_t{40}}) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
        CMemBitmap bitmap;
        EXPECT_EQ(DecodeWith(cut, CDecodeContext(), bitmap), ERR_END_OF_DATA) << keep << " bytes kept";
    }
    Bytes damaged = file;
    // The container's boxes: a meta box that claims more than the file holds.
    for (size_t at = 4; at + 4 <= damaged.size(); ++at)
        if (std::equal(damaged.begin() + static_cast<std::ptrdiff_t>(at), damaged.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                       "meta")) {
            damaged[at - 2] = 0x7F;
            break;
        }
    CMemBitmap bitmap;
    const int code = DecodeWith(damaged, CDecodeContext(), bitmap);
    EXPECT_TRUE(code == ERR_BAD_DATA || code == ERR_END_OF_DATA) << code;
}

// A container claiming a huge picture is refused before anything is decoded or allocated,
// by the storage limit of the decode; so is an honest picture above a small limit.
TEST(AvifDecoderTest, PicturesAboveTheStorageLimitAreRefused) {
    Bytes file = EncodeAvif(SmoothPicture(32, 32, false), {});
    CDecodeContext small;
    small.storageLimit = 32 * 32 * 4 - 1;
    CMemBitmap bitmap;
    EXPECT_EQ(DecodeWith(file, small, bitmap), ERR_OUT_OF_MEMORY);

    PatchImageSpatialExtents(file, 60000, 60000);
    EXPECT_EQ(DecodeWith(file, CDecodeContext(), bitmap), ERR_OUT_OF_MEMORY);
}

// A decode cancelled once its data is read stops before libavif decodes the frame, also
// when no finishing step would check again.
TEST(AvifDecoderTest, CancelStopsTheDecode) {
    TempDir dir;
    const std::string path = dir.File("cancel.avif");
    WriteBytes(path, EncodeAvif(SmoothPicture(96, 64, true), {.withAlpha = true}));
    EXPECT_EQ(CancelledDecodeError(path), ERR_CANCELLED);
}
