#include "avif_reader.h"

#include "imagelib/decode_context.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace {

[[noreturn]] void RaiseAvifError(avifResult result, const avifDecoder& decoder, const char* step) {
    int code = ERR_BAD_DATA;
    switch (result) {
    case AVIF_RESULT_TRUNCATED_DATA:
        code = ERR_END_OF_DATA;
        break;
    case AVIF_RESULT_OUT_OF_MEMORY:
        code = ERR_OUT_OF_MEMORY;
        break;
    case AVIF_RESULT_NO_CODEC_AVAILABLE:
    case AVIF_RESULT_NOT_IMPLEMENTED:
        code = ERR_FEATURE_UNAVAILABLE;
        break;
    default:
        // libavif 0.11 tells its size and dimension limits, which come from the storage
        // limit, only in its diagnostics.
        if (std::strstr(decoder.diag.error, "dimensions are too large") != nullptr) code = ERR_OUT_OF_MEMORY;
        break;
    }
    const char* detail = decoder.diag.error[0] != '\0' ? decoder.diag.error : avifResultToString(result);
    RaiseError(code, FormatText("AVIF decoder: %s failed: %s.", step, detail));
}

uint32_t LimitFromStorage(uint64_t pixels) {
    return static_cast<uint32_t>(std::clamp<uint64_t>(pixels, 1, std::numeric_limits<uint32_t>::max()));
}

// Rows one after the other, top to bottom, at one stride: libavif can write into them.
bool RowsContiguous(const CImageBitmap& bitmap) {
    const size_t stride = bitmap.BytesPerLine();
    for (int y = 1; y < bitmap.Height(); ++y)
        if (bitmap.Line(y) != bitmap.Line(y - 1) + stride) return false;
    return stride <= std::numeric_limits<uint32_t>::max();
}

void ConvertEightBit(const avifImage& image, CImageBitmap& bitmap) {
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    rgb.format = AVIF_RGB_FORMAT_BGRA;
    rgb.depth = 8;
    const int width = bitmap.Width(), height = bitmap.Height();
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> staging;
    if (RowsContiguous(bitmap)) {
        rgb.pixels = bitmap.Line(0);
        rgb.rowBytes = static_cast<uint32_t>(bitmap.BytesPerLine());
    } else {
        staging.resize(rowBytes * static_cast<size_t>(height));
        rgb.pixels = staging.data();
        rgb.rowBytes = static_cast<uint32_t>(rowBytes);
    }
    if (const avifResult result = avifImageYUVToRGB(&image, &rgb); result != AVIF_RESULT_OK)
        RaiseError(result == AVIF_RESULT_OUT_OF_MEMORY ? ERR_OUT_OF_MEMORY : ERR_BAD_DATA,
                   FormatText("AVIF decoder: the colour conversion failed: %s.", avifResultToString(result)));
    if (!staging.empty())
        for (int y = 0; y < height; ++y) std::memcpy(bitmap.Line(y), staging.data() + rowBytes * y, rowBytes);
}

// Samples above 8 bits: converted by libavif at their own depth, then rounded to 8 bits.
void ConvertDeep(const avifImage& image, CImageBitmap& bitmap) {
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    rgb.format = AVIF_RGB_FORMAT_BGRA;
    rgb.depth = image.depth;
    const int width = bitmap.Width(), height = bitmap.Height();
    const size_t samplesPerRow = static_cast<size_t>(width) * 4;
    std::vector<uint16_t> deep(samplesPerRow * static_cast<size_t>(height));
    rgb.pixels = reinterpret_cast<uint8_t*>(deep.data());
    rgb.rowBytes = static_cast<uint32_t>(samplesPerRow * sizeof(uint16_t));
    if (const avifResult result = avifImageYUVToRGB(&image, &rgb); result != AVIF_RESULT_OK)
        RaiseError(result == AVIF_RESULT_OUT_OF_MEMORY ? ERR_OUT_OF_MEMORY : ERR_BAD_DATA,
                   FormatText("AVIF decoder: the colour conversion failed: %s.", avifResultToString(result)));
    // One table lookup per sample; samples beyond the depth (never made by libavif) clamp.
    const uint32_t max = (1u << image.depth) - 1;
    std::vector<uint8_t> reduced(size_t{1} << 16, 255);
    for (uint32_t v = 0; v <= max; ++v) reduced[v] = static_cast<uint8_t>((v * 255 + max / 2) / max);
    for (int y = 0; y < height; ++y) {
        const uint16_t* in = deep.data() + samplesPerRow * y;
        uint8_t* out = bitmap.Line(y);
        for (size_t i = 0; i < samplesPerRow; ++i) out[i] = reduced[in[i]];
    }
}

bool AnyTransparent(const CImageBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        const BGRA* row = bitmap.PixelLine(y);
        uint8_t opaque = 255;
        for (int x = 0; x < bitmap.Width(); ++x) opaque &= row[x].a;
        if (opaque != 255) return true;
    }
    return false;
}

}  // namespace

int OrientationOfRotationAndMirror(bool rotates, int angle, bool mirrors, int mode) {
    // Rows: anti-clockwise quarter turns; columns: no mirror, top-bottom, left-right.
    static constexpr int kOrientation[4][3] = {{1, 4, 2}, {8, 5, 7}, {3, 2, 4}, {6, 7, 5}};
    const int turns = rotates ? (angle & 3) : 0;
    const int mirror = mirrors ? 1 + (mode & 1) : 0;
    return kOrientation[turns][mirror];
}

CAvifReader::CAvifReader(std::span<const uint8_t> data) : decoder_(avifDecoderCreate()) {
    if (!decoder_) RaiseError(ERR_OUT_OF_MEMORY, "Out of memory creating the AVIF decoder.");
    const CDecodeContext* context = ActiveDecodeContext();
    const uint64_t storageLimit = context != nullptr ? context->storageLimit : BitmapStorageLimit();
    avifDecoder& decoder = *decoder_;
    decoder.maxThreads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // A 32-bit pixel for each counted pixel (libavif takes no more than its default), and a
    // single row as long as the limit allows.
    decoder.imageSizeLimit = std::min<uint32_t>(LimitFromStorage(storageLimit / 4), AVIF_DEFAULT_IMAGE_SIZE_LIMIT);
    decoder.imageDimensionLimit = LimitFromStorage(storageLimit / 4);
    decoder.strictFlags = AVIF_STRICT_DISABLED;
    decoder.ignoreExif = AVIF_TRUE;
    decoder.ignoreXMP = AVIF_TRUE;
    if (const avifResult result = avifDecoderSetIOMemory(&decoder, data.data(), data.size()); result != AVIF_RESULT_OK)
        RaiseAvifError(result, decoder, "opening the data");
    if (const avifResult result = avifDecoderParse(&decoder); result != AVIF_RESULT_OK)
        RaiseAvifError(result, decoder, "reading the container");
    if (decoder.image->width == 0 || decoder.image->height == 0 || decoder.imageCount < 1)
        RaiseError(ERR_BAD_DATA, "AVIF decoder: the file holds no picture.");
    if (decoder.image->width > static_cast<uint32_t>(std::numeric_limits<int>::max()) ||
        decoder.image->height > static_cast<uint32_t>(std::numeric_limits<int>::max()))
        RaiseError(ERR_OUT_OF_MEMORY, "AVIF decoder: the picture is larger than a bitmap can be.");
    CheckBitmapStorage(Width(), Height(), 32, PaddedLineBytes(Width(), 32));
}

CAvifReader::~CAvifReader() = default;

int CAvifReader::ColourChannels() const { return decoder_->image->yuvFormat == AVIF_PIXEL_FORMAT_YUV400 ? 1 : 3; }

int CAvifReader::Orientation() const {
    const avifImage& image = *decoder_->image;
    return OrientationOfRotationAndMirror((image.transformFlags & AVIF_TRANSFORM_IROT) != 0, image.irot.angle,
                                          (image.transformFlags & AVIF_TRANSFORM_IMIR) != 0, image.imir.mode);
}

std::vector<uint8_t> CAvifReader::IccProfile() const {
    const avifRWData& icc = decoder_->image->icc;
    return icc.size != 0 ? std::vector<uint8_t>(icc.data, icc.data + icc.size) : std::vector<uint8_t>{};
}

double CAvifReader::DecodeFrame(int index, CImageBitmap& bitmap) {
    avifDecoder& decoder = *decoder_;
    CheckDecodeCancelled();
    const avifResult result = index == decoder.imageIndex + 1 ? avifDecoderNextImage(&decoder)
                                                              : avifDecoderNthImage(&decoder, static_cast<uint32_t>(index));
    if (result != AVIF_RESULT_OK) RaiseAvifError(result, decoder, "decoding the picture");
    CheckDecodeCancelled();
    const avifImage& image = *decoder.image;
    if (image.depth != 8 && image.depth != 10 && image.depth != 12)
        RaiseError(ERR_CANNOT_HANDLE, FormatText("AVIF decoder: samples of %u bits are not read.", image.depth));
    if (image.width > static_cast<uint32_t>(std::numeric_limits<int>::max()) ||
        image.height > static_cast<uint32_t>(std::numeric_limits<int>::max()))
        RaiseError(ERR_OUT_OF_MEMORY, "AVIF decoder: the picture is larger than a bitmap can be.");
    bitmap.Create(static_cast<int>(image.width), static_cast<int>(image.height), 32, HasAlpha());
    ImageMetadata& metadata = bitmap.Metadata();
    metadata.orientation = Orientation();
    metadata.iccProfile = IccProfile();
    metadata.frameCount = FrameCount();
    CBitmapLock lock(bitmap, false, true);
    if (image.depth == 8)
        ConvertEightBit(image, bitmap);
    else
        ConvertDeep(image, bitmap);
    bitmap.SetHasAlpha(HasAlpha() && AnyTransparent(bitmap));
    return std::isfinite(decoder.imageTiming.duration) ? decoder.imageTiming.duration : 0.0;
}

void CAvifReader::Restart() {
    if (const avifResult result = avifDecoderReset(decoder_.get()); result != AVIF_RESULT_OK)
        RaiseAvifError(result, *decoder_, "starting again");
}
