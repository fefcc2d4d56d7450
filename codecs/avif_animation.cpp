#include "avif_animation.h"

#include "avif_reader.h"

#include "imagelib/decode_steps.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr int kDefaultDelayMs = 100;

class CAvifAnimationReader : public CAnimationReader {
public:
    CAvifAnimationReader(std::vector<uint8_t> data, const CDecodeContext& context)
        : CAnimationReader(context), data_(std::move(data)) {
        RunDecode(&Context(), [&] { reader_.emplace(data_); });
        SetLayout(reader_->Width(), reader_->Height(), reader_->FrameCount(), 0);
    }

protected:
    int ComposeFrame(int index, CImageBitmap& bitmap) override {
        const double seconds = reader_->DecodeFrame(index, bitmap);
        const long milliseconds = std::lround(seconds * 1000.0);
        return milliseconds > 0 ? static_cast<int>(std::min(milliseconds, long{1} << 30)) : kDefaultDelayMs;
    }

    void RestartFrames() override { reader_->Restart(); }

private:
    std::vector<uint8_t> data_;  // libavif reads the frames from here as they are decoded
    std::optional<CAvifReader> reader_;
};

}  // namespace

std::unique_ptr<CAnimationReader> OpenAvifAnimation(std::vector<uint8_t> data, const CDecodeContext& context) {
    return std::make_unique<CAvifAnimationReader>(std::move(data), context);
}
