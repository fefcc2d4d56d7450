#include "codecs/format_registry.h"
#include "codecs/heif_decoder.h"
#include "heif_family_test_support.h"

#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct HeifOptions {
    heif_compression_format coding = heif_compression_HEVC;
    bool withAlpha = false;
    // The picture's colours are multiplied by its alpha before they are stored.
    bool premultiplied = false;
    heif_orientation orientation = heif_orientation_normal;
    Bytes icc;
};

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct EncoderDeleter {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};

heif_error AppendTo(heif_context*, const void* data, size_t size, void* out) {
    auto* bytes = static_cast<Bytes*>(out);
    bytes->insert(bytes->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// The picture written by libheif with its own encoders (x265 for HEVC, aom for AV1).
Bytes EncodeHeif(const SourcePicture& picture, const HeifOptions& o) {
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    EXPECT_EQ(heif_context_get_encoder_for_format(context.get(), o.coding, &rawEncoder).code, heif_error_Ok);
    const std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    heif_image* rawImage = nullptr;
    heif_image_create(picture.width, picture.height, heif_colorspace_RGB,
                      o.withAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &rawImage);
    const std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    heif_image_add_plane(image.get(), heif_channel_interleaved, picture.width, picture.height, 8);
    int stride = 0;
    uint8_t* rows = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const int channels = o.withAlpha ? 4 : 3;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            for (int c = 0; c < channels; ++c)
                rows[static_cast<size_t>(y) * stride + x * channels + c] = static_cast<uint8_t>(
                    o.premultiplied && c < 3 ? (picture.At(x, y)[c] * picture.At(x, y)[3] + 127) / 255 : picture.At(x, y)[c]);
    heif_image_set_premultiplied_alpha(image.get(), o.premultiplied ? 1 : 0);
    if (!o.icc.empty()) heif_image_set_raw_color_profile(image.get(), "prof", o.icc.data(), o.icc.size());
    const std::unique_ptr<heif_encoding_options, OptionsDeleter> options(heif_encoding_options_alloc());
    options->image_orientation = o.orientation;
    EXPECT_EQ(heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), nullptr).code,
              heif_error_Ok);
    Bytes bytes;
    heif_writer writer{1, AppendTo};
    EXPECT_EQ(heif_context_write(context.get(), &writer, &bytes).code, heif_error_Ok);
    return bytes;
}

int DecodeWithHeifDecoder(const Bytes& bytes, CMemBitmap& bitmap) {
    CHEIFDecoder decoder;
    try {
        decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, StoredPictureContext(), 32);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

ImageInfo Probe(const Bytes& bytes) {
    CHEIFDecoder decoder;
    return decoder.ProbeMemory(bytes.data(), bytes.size());
}

}  // namespace

// HEVC-coded files decode close to their source, with alpha when they have it, and are
// recognised as HEIF; the probe reports the container.
TEST(HeifDecoderTest, HevcPicturesDecodeClose) {
    for (bool withAlpha : {false, true}) {
        SCOPED_TRACE(withAlpha ? "with alpha" : "opaque");
        const SourcePicture source = SmoothPicture(96, 64, withAlpha);
        const Bytes file = EncodeHeif(source, {.withAlpha = withAlpha});
        EXPECT_EQ(DetectFormat(file.data(), file.size()), ImageFormat::HEIF);
        CMemBitmap bitmap;
        ASSERT_EQ(DecodeWith(file, CDecodeContext(), bitmap), 0);
        EXPECT_GE(Psnr(bitmap, source, withAlpha), 30.0);
        EXPECT_EQ(bitmap.HasAlpha(), withAlpha);
        EXPECT_EQ(bitmap.Metadata().orientation, 1);

        const ImageInfo info = Probe(file);
        EXPECT_EQ(info.width, 96);
        EXPECT_EQ(info.height, 64);
        EXPECT_EQ(info.hasAlpha, withAlpha);
        EXPECT_EQ(info.bitsPerPixel, withAlpha ? 32 : 24);
        EXPECT_EQ(info.orientation, 1);
    }
}

// Premultiplied files come back with straight colours.
TEST(HeifDecoderTest, PremultipliedAlphaIsUndone) {
    const SourcePicture source = MakePicture(64, 48, [](int x, int y, int c) {
        return c == 3 ? 128 + (x + y) * 127 / 110 : c == 0 ? 220 : c == 1 ? 60 + x * 2 : 140 + y;
    });
    const Bytes file = EncodeHeif(source, {.withAlpha = true, .premultiplied = true});
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeWith(file, StoredPictureContext(), bitmap), 0);
    EXPECT_GE(Psnr(bitmap, source, true), 30.0);
}

// AV1-coded HEIF carries the avif brand, so the AVIF decoder takes it; the HEIF decoder
// reads it too.
TEST(HeifDecoderTest, Av1PicturesDecodeClose) {
    const SourcePicture source = SmoothPicture(64, 48, true);
    const Bytes file = EncodeHeif(source, {.coding = heif_compression_AV1, .withAlpha = true});
    EXPECT_EQ(DetectFormat(file.data(), file.size()), ImageFormat::AVIF);
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeWithHeifDecoder(file, bitmap), 0);
    EXPECT_GE(Psnr(bitmap, source, true), 30.0);
}

// libheif applies the file's rotation and mirroring; the picture then needs no more turning.
TEST(HeifDecoderTest, RotationAndMirroringAreApplied) {
    const SourcePicture source = SmoothPicture(64, 48, false);
    // The Exif orientation as the quarter turns anti-clockwise and mirror of the test support.
    const struct {
        heif_orientation orientation;
        int quarterTurns;
        int mirror;
    } cases[] = {{heif_orientation_flip_horizontally, 0, 2},
                 {heif_orientation_rotate_180, 2, 0},
                 {heif_orientation_flip_vertically, 0, 1},
                 {heif_orientation_rotate_90_cw_then_flip_horizontally, 3, 2},
                 {heif_orientation_rotate_90_cw, 3, 0},
                 {heif_orientation_rotate_90_cw_then_flip_vertically, 3, 1},
                 {heif_orientation_rotate_270_cw, 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "orientation " << c.orientation);
        const Bytes file = EncodeHeif(source, {.orientation = c.orientation});
        CMemBitmap bitmap;
        ASSERT_EQ(DecodeWith(file, StoredPictureContext(), bitmap), 0);
        EXPECT_GE(Psnr(bitmap, Turned(source, c.quarterTurns, c.mirror), false), 30.0);
        EXPECT_EQ(bitmap.Metadata().orientation, 1);
        EXPECT_EQ(Probe(file).width, c.quarterTurns % 2 == 0 ? 64 : 48);
    }
}

// The ICC profile goes into the metadata as stored.
TEST(HeifDecoderTest, ColourProfileIsRecorded) {
    Bytes profile(480);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 13);
    const SourcePicture source = SmoothPicture(64, 48, false);
    const Bytes file = EncodeHeif(source, {.icc = profile});
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeWith(file, StoredPictureContext(), bitmap), 0);
    EXPECT_EQ(bitmap.Metadata().iccProfile, profile);
    EXPECT_TRUE(Probe(file).hasColourProfile);
    EXPECT_FALSE(Probe(EncodeHeif(source, {})).hasColourProfile);
}

// Files cut short or damaged fail with a clear error, never a crash; sizes beyond the
// storage limit are refused before the picture is decoded.
TEST(HeifDecoderTest, BadFilesFailCleanly) {
    const Bytes file = EncodeHeif(SmoothPicture(64, 48, false), {});
    // Cut in the coded data: the data ends early; cut in the container: boxes are missing.
    for (size_t keep : {file.size() - 1, file.size() / 2}) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
        CMemBitmap bitmap;
        EXPECT_EQ(DecodeWith(cut, CDecodeContext(), bitmap), ERR_END_OF_DATA) << keep << " bytes kept";
    }
    for (size_t keep : {size_t{100}, size_t{30}}) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
        CMemBitmap bitmap;
        EXPECT_EQ(DecodeWith(cut, CDecodeContext(), bitmap), ERR_BAD_DATA) << keep << " bytes kept";
    }
    Bytes damaged = file;
    for (size_t at = damaged.size() - 200; at < damaged.size(); at += 3) damaged[at] ^= 0x5A;
    CMemBitmap bitmap;
    const int code = DecodeWith(damaged, CDecodeContext(), bitmap);
    EXPECT_TRUE(code == 0 || code == ERR_BAD_DATA) << code;

    CDecodeContext small;
    small.storageLimit = 64 * 48 * 4 - 1;
    EXPECT_EQ(DecodeWith(file, small, bitmap), ERR_OUT_OF_MEMORY);
    Bytes huge = file;
    PatchImageSpatialExtents(huge, 60000, 60000);
    EXPECT_EQ(DecodeWith(huge, CDecodeContext(), bitmap), ERR_OUT_OF_MEMORY);
}

TEST(HeifDecoderTest, CancelStopsTheDecode) {
    TempDir dir;
    const std::string path = dir.File("cancel.heic");
    WriteBytes(path, EncodeHeif(SmoothPicture(96, 64, false), {}));
    EXPECT_EQ(CancelledDecodeError(path), ERR_CANCELLED);
}

// ISO base media files go by their ftyp brands: AVIF's to the AVIF decoder, HEVC's and the
// structural brands without AVIF's to the HEIF decoder, video files to neither.
TEST(HeifDecoderTest, BrandsChooseTheDecoder) {
    const auto ftyp = [](const std::string& major, std::vector<std::string> compatible) {
        Bytes box = {0, 0, 0, static_cast<uint8_t>(16 + 4 * compatible.size()), 'f', 't', 'y', 'p'};
        box.insert(box.end(), major.begin(), major.end());
        box.insert(box.end(), {0, 0, 0, 0});
        for (const std::string& brand : compatible) box.insert(box.end(), brand.begin(), brand.end());
        return box;
    };
    const struct {
        Bytes header;
        ImageFormat expected;
    } cases[] = {
        {ftyp("avif", {"mif1", "miaf"}), ImageFormat::AVIF},
        {ftyp("mif1", {"mif1", "avif"}), ImageFormat::AVIF},
        {ftyp("msf1", {"avis"}), ImageFormat::AVIF},
        {ftyp("heic", {"mif1", "heic"}), ImageFormat::HEIF},
        {ftyp("mif1", {"mif1", "heix"}), ImageFormat::HEIF},
        {ftyp("hevc", {}), ImageFormat::HEIF},
        {ftyp("mif1", {}), ImageFormat::HEIF},
        {ftyp("isom", {"iso2", "mp41"}), ImageFormat::None},
        // A brand past the box's own end belongs to the next box.
        {[&] {
             Bytes b = ftyp("isom", {"mp41"});
             b.insert(b.end(), {'h', 'e', 'i', 'c'});
             return b;
         }(),
         ImageFormat::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DetectFormat(c.header.data(), c.header.size()), c.expected)
            << std::string(c.header.begin() + 8, c.header.begin() + 12);
}
