#include "jxl_reader.h"

#include "imagelib/decode_context.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <jxl/encode.h>
#include <jxl/resizable_parallel_runner.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// libjxl works on at most two threads: the machine's other cores belong to the viewer's
// other workers.
constexpr uint64_t kMaxThreads = 2;

// Turns count RGBA pixels into BGRA and returns the AND of their alpha bytes. As 32-bit
// words, red and blue swapping places, in a loop the compiler turns into vector code.
uint8_t RgbaToBgra(uint8_t* out, const uint8_t* in, size_t count) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t all = ~0u;
        for (size_t i = 0; i < count; ++i) {
            uint32_t word;
            std::memcpy(&word, in + i * 4, 4);
            all &= word;
            word = (word & 0xFF00FF00u) | ((word >> 16) & 0xFFu) | ((word & 0xFFu) << 16);
            std::memcpy(out + i * 4, &word, 4);
        }
        return static_cast<uint8_t>(all >> 24);
    } else {
        uint8_t all = 255;
        for (size_t i = 0; i < count; ++i, in += 4, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = in[3];
            all &= in[3];
        }
        return all;
    }
}

// libjxl's row callback; it may run on several threads at once, each on rows of its own.
void WriteRun(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
    const auto* output = static_cast<const CJxlReader::Output*>(opaque);
    const uint8_t alpha = RgbaToBgra(output->lines[y] + x * 4, static_cast<const uint8_t*>(pixels), count);
    if (alpha != 255) output->opaque->fetch_and(alpha, std::memory_order_relaxed);
}

bool IsOk(JxlDecoderStatus status) { return status == JXL_DEC_SUCCESS; }

}  // namespace

// libjxl's resizable thread pool, behind a gate that starts no more parallel work once the
// decode running on the calling thread is cancelled: libjxl then fails the decode.
struct CJxlReader::Runner {
    void* pool = JxlResizableParallelRunnerCreate(nullptr);
    ~Runner() {
        if (pool != nullptr) JxlResizableParallelRunnerDestroy(pool);
    }

    static JxlParallelRetCode Run(void* opaque, void* jxlOpaque, JxlParallelRunInit init,
                                  JxlParallelRunFunction function, uint32_t start, uint32_t end) {
        const CDecodeContext* context = ActiveDecodeContext();
        if (context != nullptr && context->IsCancelled()) return JXL_PARALLEL_RET_RUNNER_ERROR;
        return JxlResizableParallelRunner(static_cast<Runner*>(opaque)->pool, jxlOpaque, init, function, start, end);
    }
};

CJxlReader::CJxlReader(std::span<const uint8_t> data, int events)
    : decoder_(JxlDecoderCreate(nullptr)), runner_(std::make_unique<Runner>()),
      opaque_(std::make_unique<std::atomic<unsigned>>(255)) {
    if (!decoder_ || runner_->pool == nullptr)
        RaiseError(ERR_OUT_OF_MEMORY, "Out of memory creating the JPEG XL decoder.");
    if (!IsOk(JxlDecoderSubscribeEvents(decoder_.get(), events | JXL_DEC_BASIC_INFO)) ||
        !IsOk(JxlDecoderSetParallelRunner(decoder_.get(), Runner::Run, runner_.get())) ||
        !IsOk(JxlDecoderSetUnpremultiplyAlpha(decoder_.get(), JXL_TRUE)) ||
        !IsOk(JxlDecoderSetInput(decoder_.get(), data.data(), data.size())))
        RaiseError(ERR_FEATURE_UNAVAILABLE, "JPEG XL decoder: libjxl refused its settings.");
    JxlDecoderCloseInput(decoder_.get());
}

CJxlReader::~CJxlReader() = default;

JxlDecoderStatus CJxlReader::Next() {
    CheckDecodeCancelled();
    const JxlDecoderStatus status = JxlDecoderProcessInput(decoder_.get());
    switch (status) {
        case JXL_DEC_ERROR:
            // The runner's gate fails libjxl's work when the decode was cancelled.
            CheckDecodeCancelled();
            RaiseError(ERR_BAD_DATA, "JPEG XL decoder: libjxl found the data damaged or unsupported.");
        case JXL_DEC_NEED_MORE_INPUT:
            RaiseError(ERR_END_OF_DATA, "JPEG XL decoder: the data ends before the picture does.");
        case JXL_DEC_BASIC_INFO: {
            if (!IsOk(JxlDecoderGetBasicInfo(decoder_.get(), &info_)))
                RaiseError(ERR_BAD_DATA, "JPEG XL decoder: libjxl could not read the header.");
            const bool turned = info_.orientation >= JXL_ORIENT_TRANSPOSE;
            const uint32_t width = turned ? info_.ysize : info_.xsize;
            const uint32_t height = turned ? info_.xsize : info_.ysize;
            if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
                RaiseError(ERR_BAD_DATA, "JPEG XL decoder: the picture has no pixels or too many.");
            width_ = static_cast<int>(width);
            height_ = static_cast<int>(height);
            const uint64_t suggested = JxlResizableParallelRunnerSuggestThreads(info_.xsize, info_.ysize);
            JxlResizableParallelRunnerSetThreads(runner_->pool, static_cast<size_t>(std::min(kMaxThreads, suggested)));
            break;
        }
        default:
            break;
    }
    return status;
}

void CJxlReader::CheckStorage() const {
    CheckBitmapStorage(width_, height_, 32, PaddedLineBytes(width_, 32));
}

std::vector<uint8_t> CJxlReader::PixelProfile() {
    // Pictures in libjxl's own colour space can come out in any; sRGB is what an untagged
    // picture means, and 8-bit samples in sRGB lose the least.
    if (!info_.uses_original_profile) {
        JxlColorEncoding srgb;
        JxlColorEncodingSetToSRGB(&srgb, info_.num_color_channels == 1 ? JXL_TRUE : JXL_FALSE);
        JxlDecoderSetPreferredColorProfile(decoder_.get(), &srgb);
    }
    size_t size = 0;
    if (!IsOk(JxlDecoderGetICCProfileSize(decoder_.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size)) || size == 0) {
        Trace(2, "JPEG XL decoder: libjxl describes the pixels by no ICC profile; taken as sRGB.\n");
        return {};
    }
    std::vector<uint8_t> profile(size);
    if (!IsOk(JxlDecoderGetColorAsICCProfile(decoder_.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, profile.data(), size)))
        return {};
    return profile;
}

JxlFrameHeader CJxlReader::FrameHeader() const {
    JxlFrameHeader header{};
    if (!IsOk(JxlDecoderGetFrameHeader(decoder_.get(), &header)))
        RaiseError(ERR_BAD_DATA, "JPEG XL decoder: libjxl could not read a frame header.");
    return header;
}

void CJxlReader::WriteInto(CImageBitmap& bitmap) {
    bitmap.Create(width_, height_, 32, StoresAlpha());
    // Samples of more than 8 bits and floats come rounded to the nearest 8-bit level.
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const size_t rowBytes = static_cast<size_t>(width_) * 4;
    size_t bytes = 0;
    if (!IsOk(JxlDecoderImageOutBufferSize(decoder_.get(), &format, &bytes)) || bytes != rowBytes * static_cast<size_t>(height_))
        RaiseError(ERR_BAD_DATA, "JPEG XL decoder: libjxl's frame does not fit the picture.");
    opaque_->store(255, std::memory_order_relaxed);
    const bool oneBlock = bitmap.Line(height_ - 1) == bitmap.Line(0) + rowBytes * static_cast<size_t>(height_ - 1) &&
                          (height_ == 1 || bitmap.Line(1) == bitmap.Line(0) + rowBytes);
    block_ = oneBlock ? &bitmap : nullptr;
    output_ = Output{bitmap.Lines(), opaque_.get()};
    const JxlDecoderStatus status = oneBlock ? JxlDecoderSetImageOutBuffer(decoder_.get(), &format, bitmap.Line(0), bytes)
                                             : JxlDecoderSetImageOutCallback(decoder_.get(), &format, WriteRun, &output_);
    if (!IsOk(status)) RaiseError(ERR_BAD_DATA, "JPEG XL decoder: libjxl refused the output rows.");
}

bool CJxlReader::FinishFrame() {
    if (block_ != nullptr) {
        uint8_t* pixels = block_->Line(0);
        uint8_t alpha = RgbaToBgra(pixels, pixels, static_cast<size_t>(width_) * static_cast<size_t>(height_));
        opaque_->store(alpha, std::memory_order_relaxed);
        block_ = nullptr;
    }
    return StoresAlpha() && opaque_->load(std::memory_order_relaxed) != 255;
}

JxlFrameList ListJxlFrames(std::span<const uint8_t> data) {
    // Without JXL_DEC_FULL_IMAGE libjxl reads the frame headers and skips the pixels.
    CJxlReader reader(data, JXL_DEC_FRAME);
    JxlFrameList list;
    for (;;) {
        const JxlDecoderStatus status = reader.Next();
        if (status == JXL_DEC_SUCCESS) break;
        if (status == JXL_DEC_BASIC_INFO) {
            list.info = reader.BasicInfo();
            list.width = reader.Width();
            list.height = reader.Height();
        }
        if (status == JXL_DEC_FRAME) {
            const JxlFrameHeader header = reader.FrameHeader();
            list.durations.push_back(header.duration);
            if (header.is_last) break;
        }
    }
    if (list.durations.empty()) RaiseError(ERR_BAD_DATA, "JPEG XL decoder: the file holds no frame.");
    return list;
}
