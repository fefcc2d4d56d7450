#include "webp_animation.h"

#include "imagelib/decode_context.h"
#include "imagelib/decode_steps.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <webp/demux.h>

#include <cstring>

namespace {

constexpr int kZeroDelayMilliseconds = 100;

}  // namespace

void CWebPFrameDecoder::Deleter::operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }

CWebPFrameDecoder::CWebPFrameDecoder(std::span<const uint8_t> data, const WebPLayout& layout) : layout_(layout) {
    CheckWebPCanvas(layout);
    if (!layout.complete) RaiseError(ERR_END_OF_DATA, "WebP decoder: the animation ends before its last frame.");
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) RaiseError(ERR_FEATURE_UNAVAILABLE, "WebP decoder: libwebpdemux is of another version.");
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData whole{data.data(), data.size()};
    decoder_.reset(WebPAnimDecoderNew(&whole, &options));
    if (!decoder_) RaiseError(ERR_BAD_DATA, "WebP decoder: the animation's frames are damaged.");
}

CWebPFrameDecoder::~CWebPFrameDecoder() = default;

int CWebPFrameDecoder::ComposeNext(CImageBitmap& bitmap) {
    CheckDecodeCancelled();
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder_.get(), &canvas, &timestamp))
        RaiseError(ERR_BAD_DATA, "WebP decoder: a frame of the animation is damaged.");
    CheckDecodeCancelled();
    const int width = layout_.width;
    const int height = layout_.height;
    bitmap.Create(width, height, 32, false);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    bool opaque = true;
    {
        CBitmapLock lock(bitmap, false, true);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = canvas + rowBytes * static_cast<size_t>(y);
            std::memcpy(bitmap.Line(y), row, rowBytes);
            for (size_t x = 3; opaque && x < rowBytes; x += 4) opaque = row[x] == 255;
        }
    }
    bitmap.SetHasAlpha(!opaque);
    const int delay = timestamp - previousTimestamp_;
    previousTimestamp_ = timestamp;
    return delay > 0 ? delay : kZeroDelayMilliseconds;
}

void CWebPFrameDecoder::Reset() {
    WebPAnimDecoderReset(decoder_.get());
    previousTimestamp_ = 0;
}

namespace {

class CWebPAnimationReader : public CAnimationReader {
public:
    CWebPAnimationReader(std::vector<uint8_t> data, const CDecodeContext& context)
        : CAnimationReader(context), data_(std::move(data)) {
        RunDecode(&Context(), [&] {
            layout_ = ReadWebPLayout(data_);
            CheckWebPCanvas(layout_);
        });
        SetLayout(layout_.width, layout_.height, layout_.frameCount, layout_.loopCount);
    }

protected:
    int ComposeFrame(int, CImageBitmap& bitmap) override {
        // Made with the first frame: a still picture is opened only to learn that it does
        // not animate, and libwebpdemux allocates its canvases when it is made.
        if (!frames_) frames_ = std::make_unique<CWebPFrameDecoder>(data_, layout_);
        const int delay = frames_->ComposeNext(bitmap);
        bitmap.Metadata().iccProfile = layout_.iccProfile;
        bitmap.Metadata().orientation = layout_.orientation;
        return delay;
    }
    void RestartFrames() override {
        if (frames_) frames_->Reset();
    }

private:
    std::vector<uint8_t> data_;
    WebPLayout layout_;
    std::unique_ptr<CWebPFrameDecoder> frames_;
};

}  // namespace

std::unique_ptr<CAnimationReader> OpenWebPAnimation(std::vector<uint8_t> data, const CDecodeContext& context) {
    return std::make_unique<CWebPAnimationReader>(std::move(data), context);
}
