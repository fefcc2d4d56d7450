#include "webp_decoder.h"

#include "webp_animation.h"
#include "webp_container.h"

#include "imagelib/byte_source.h"
#include "imagelib/decode_context.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <webp/decode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace {

// Bytes handed to the incremental decoder at a time: small enough that a cancelled decode
// of a large picture stops within a few milliseconds, large enough to cost nothing.
constexpr size_t kFeedStep = size_t{256} << 10;

struct IncrementalDeleter {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

// The bitmap's rows as one buffer libwebp can write: evenly spaced, top row first.
bool RowsAreOneBuffer(const CImageBitmap& bitmap, ptrdiff_t& stride) {
    const int height = bitmap.Height();
    stride = height > 1 ? bitmap.Line(1) - bitmap.Line(0) : static_cast<ptrdiff_t>(bitmap.Width()) * 4;
    if (stride < static_cast<ptrdiff_t>(bitmap.Width()) * 4) return false;
    for (int y = 2; y < height; ++y)
        if (bitmap.Line(y) - bitmap.Line(y - 1) != stride) return false;
    return true;
}

void DecodeStill(std::span<const uint8_t> data, const WebPLayout& layout, CImageBitmap& bitmap) {
    const int width = layout.width;
    const int height = layout.height;
    bitmap.Create(width, height, 32, layout.hasAlpha);
    CBitmapLock lock(bitmap, false, true);

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) RaiseError(ERR_FEATURE_UNAVAILABLE, "WebP decoder: libwebp is of another version.");
    config.output.colorspace = MODE_BGRA;
    config.output.is_external_memory = 1;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    ptrdiff_t stride = 0;
    std::vector<uint8_t> scratch;
    const bool direct = RowsAreOneBuffer(bitmap, stride);
    if (direct) {
        config.output.u.RGBA.rgba = bitmap.Line(0);
        config.output.u.RGBA.size = static_cast<size_t>(stride) * static_cast<size_t>(height - 1) + rowBytes;
    } else {
        scratch.resize(rowBytes * static_cast<size_t>(height));
        stride = static_cast<ptrdiff_t>(rowBytes);
        config.output.u.RGBA.rgba = scratch.data();
        config.output.u.RGBA.size = scratch.size();
    }
    config.output.u.RGBA.stride = static_cast<int>(stride);

    const std::unique_ptr<WebPIDecoder, IncrementalDeleter> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder) RaiseError(ERR_OUT_OF_MEMORY, "WebP decoder: libwebp ran out of memory.");
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t fed = 0; status == VP8_STATUS_SUSPENDED && fed < data.size();) {
        CheckDecodeCancelled();
        fed = std::min(data.size(), fed + kFeedStep);
        status = WebPIUpdate(decoder.get(), data.data(), fed);
    }
    int rows = height;
    if (status == VP8_STATUS_SUSPENDED) {
        // No output at all while the decoder still waits for the first partition.
        if (WebPIDecGetRGB(decoder.get(), &rows, nullptr, nullptr, nullptr) == nullptr) rows = 0;
        if (rows <= 0) RaiseError(ERR_END_OF_DATA, "WebP decoder: the data ends before the first row of the picture.");
        Trace(1, FormatText("WebP data ends after row %d of %d; the rest stays transparent.\n", rows, height));
    } else if (status != VP8_STATUS_OK) {
        RaiseWebPStatus(status);
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* line = bitmap.Line(y);
        if (y >= rows)
            std::memset(line, 0, rowBytes);
        else if (!direct)
            std::memcpy(line, scratch.data() + rowBytes * static_cast<size_t>(y), rowBytes);
    }
    if (rows < height) bitmap.SetHasAlpha(true);
}

}  // namespace

void CWebPDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    const std::span<const uint8_t> data(source.RemainingData(), source.Available());
    const WebPLayout layout = ReadWebPLayout(data);
    CheckWebPCanvas(layout);
    CheckDecodeCancelled();
    depth = 32;
    if (layout.animated) {
        CWebPFrameDecoder frames(data, layout);
        frames.ComposeNext(bitmap);
    } else {
        DecodeStill(data, layout, bitmap);
    }
    ImageMetadata& metadata = bitmap.Metadata();
    metadata.iccProfile = layout.iccProfile;
    metadata.orientation = layout.orientation;
    metadata.frameCount = layout.frameCount;
}

void CWebPDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const WebPLayout layout = ReadWebPLayout({source.RemainingData(), source.Available()});
    info.width = layout.width;
    info.height = layout.height;
    info.bitsPerPixel = layout.hasAlpha ? 32 : 24;
    info.hasAlpha = layout.hasAlpha;
    info.frameCount = layout.frameCount;
    info.orientation = layout.orientation;
    info.hasColourProfile = !layout.iccProfile.empty();
}
