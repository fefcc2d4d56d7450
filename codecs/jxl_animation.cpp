#include "jxl_animation.h"

#include "jxl_reader.h"

#include "imagelib/decode_steps.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// A delay of 0 would show the frame for no time at all; players take 100 ms instead.
constexpr int kDefaultDelay = 100;

int DelayInMilliseconds(uint32_t ticks, const JxlAnimationHeader& animation) {
    if (ticks == 0 || animation.tps_numerator == 0) return kDefaultDelay;
    const double ms = 1000.0 * ticks * animation.tps_denominator / animation.tps_numerator;
    return static_cast<int>(std::clamp(std::lround(ms), 1L, long{INT32_MAX}));
}

class CJXLAnimationReader : public CAnimationReader {
public:
    CJXLAnimationReader(std::vector<uint8_t> data, const CDecodeContext& context)
        : CAnimationReader(context), data_(std::move(data)) {
        const JxlFrameList frames = ListJxlFrames(data_);
        const JxlBasicInfo& info = frames.info;
        delays_.reserve(frames.durations.size());
        for (uint32_t ticks : frames.durations) delays_.push_back(DelayInMilliseconds(ticks, info.animation));
        // The canvas as libjxl delivers it, turned upright already.
        CheckBitmapStorage(frames.width, frames.height, 32, PaddedLineBytes(frames.width, 32));
        SetLayout(frames.width, frames.height, static_cast<int>(delays_.size()),
                  info.have_animation ? static_cast<int>(std::min<uint32_t>(info.animation.num_loops, INT32_MAX)) : 0);
    }

protected:
    int ComposeFrame(int index, CImageBitmap& bitmap) override {
        try {
            return Compose(index, bitmap);
        } catch (...) {
            // libjxl may hold the rows of the caller's bitmap: the next frame starts afresh.
            reader_.reset();
            throw;
        }
    }

    void RestartFrames() override { reader_.reset(); }

private:
    int Compose(int index, CImageBitmap& bitmap) {
        if (!reader_) {
            reader_ = std::make_unique<CJxlReader>(data_, JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
            if (index > 0) JxlDecoderSkipFrames(reader_->Handle(), static_cast<size_t>(index));
        }
        std::optional<CBitmapLock> lock;
        for (;;) {
            switch (reader_->Next()) {
                case JXL_DEC_COLOR_ENCODING:
                    profile_ = reader_->PixelProfile();
                    break;
                case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                    reader_->WriteInto(bitmap);
                    lock.emplace(bitmap, false, true);
                    break;
                case JXL_DEC_FULL_IMAGE:
                    bitmap.SetHasAlpha(reader_->FinishFrame());
                    bitmap.Metadata().iccProfile = profile_;
                    bitmap.Metadata().orientation = 1;
                    return delays_[static_cast<size_t>(index)];
                case JXL_DEC_SUCCESS:
                    RaiseError(ERR_BAD_DATA, "JPEG XL decoder: the animation ends before its last frame.");
                default:
                    break;
            }
        }
    }

    std::vector<uint8_t> data_;
    std::vector<int> delays_;
    std::vector<uint8_t> profile_;
    // The decoder of the frames read so far; it is made again for a rewind.
    std::unique_ptr<CJxlReader> reader_;
};

}  // namespace

std::unique_ptr<CAnimationReader> OpenJXLAnimation(std::vector<uint8_t> data, const CDecodeContext& context) {
    std::unique_ptr<CAnimationReader> reader;
    RunDecode(&context, [&] { reader = std::make_unique<CJXLAnimationReader>(std::move(data), context); });
    return reader;
}
