#pragma once

#include <jxl/decode.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CImageBitmap;

// One libjxl decoder over a whole JPEG XL file in memory, shared by the still decoder and
// the animation reader. Frames come composited (libjxl's default coalescing), turned upright
// by the file's orientation and with straight alpha. Work is spread over at most two threads
// through a runner that refuses to start more work once the active decode is cancelled, so
// a cancel stops libjxl within one of its parallel stages.
class CJxlReader {
public:
    // events: the JxlDecoderStatus events to stop at (JXL_DEC_BASIC_INFO is always added).
    CJxlReader(std::span<const uint8_t> data, int events);
    ~CJxlReader();
    CJxlReader(const CJxlReader&) = delete;
    CJxlReader& operator=(const CJxlReader&) = delete;

    // Runs libjxl to its next event and returns it; JXL_DEC_SUCCESS once the file is done.
    // Raises code 12 when the decode is cancelled, code 11 when the data ends early and code
    // 2 for data libjxl rejects. At JXL_DEC_BASIC_INFO the picture's size has been checked
    // against the storage limit.
    JxlDecoderStatus Next();

    const JxlBasicInfo& BasicInfo() const { return info_; }
    JxlDecoder* Handle() const { return decoder_.get(); }
    // The picture as delivered: the stored size with the orientation applied.
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool StoresAlpha() const { return info_.alpha_bits != 0; }

    // At JXL_DEC_BASIC_INFO, before a decode allocates anything for its pixels: raises code
    // 10 when a 32-bit picture of the delivered size exceeds the storage limit.
    void CheckStorage() const;
    // At JXL_DEC_COLOR_ENCODING: asks for sRGB pixels where libjxl may choose (pictures coded
    // in its internal colour space) and returns the ICC profile of the pixels it will deliver.
    std::vector<uint8_t> PixelProfile();
    // At JXL_DEC_FRAME: the frame's header.
    JxlFrameHeader FrameHeader() const;
    // At JXL_DEC_NEED_IMAGE_OUT_BUFFER: makes bitmap a 32-bit picture of the delivered size
    // and has libjxl write the frame's pixels into its rows.
    void WriteInto(CImageBitmap& bitmap);
    // At JXL_DEC_FULL_IMAGE: puts the frame's pixels in BGRA order and returns whether some
    // pixel is not opaque.
    bool FinishFrame();

    // Where the row callback writes.
    struct Output {
        uint8_t* const* lines = nullptr;
        std::atomic<unsigned>* opaque = nullptr;
    };

private:
    struct Runner;
    struct DecoderDestroy {
        void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
    };

    std::unique_ptr<JxlDecoder, DecoderDestroy> decoder_;
    std::unique_ptr<Runner> runner_;
    JxlBasicInfo info_{};
    int width_ = 0;
    int height_ = 0;
    Output output_;
    // The frame went to one block of the bitmap's rows in libjxl's RGBA order: libjxl
    // fills a plain buffer much faster than it hands rows to a callback.
    CImageBitmap* block_ = nullptr;
    std::unique_ptr<std::atomic<unsigned>> opaque_;
};

// The displayed frames of a JPEG XL file (a still picture has one): each one's duration in
// the animation's ticks, read from the frame headers without decoding pixels.
struct JxlFrameList {
    std::vector<uint32_t> durations;
    JxlBasicInfo info{};
    int width = 0;  // as delivered, the orientation applied
    int height = 0;
};
JxlFrameList ListJxlFrames(std::span<const uint8_t> data);
