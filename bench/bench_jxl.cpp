// Decode of a 12-megapixel JPEG XL into the library's 32-bit bitmap beside libjxl's own
// decode of the same file to 8-bit RGBA in memory, both on two threads, taking turns round
// after round so that a busy machine slows both alike.
//   bench_jxl FILE ROUNDS   prints: our median ms, libjxl's median ms
//   bench_jxl --make FILE [lossless]   writes the picture
#include "bench_timing.h"

#include "codecs/jxl_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "support/jxl_files.h"
#include "support/test_files.h"

#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Smooth shapes with grain, as a photograph has.
JxlPicture Photograph() {
    JxlPicture picture{kWidth, kHeight, 3, 8, {{}}};
    std::vector<uint16_t>& samples = picture.frames[0];
    samples.reserve(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(7);
    std::normal_distribution<double> grain(0, 4);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const double v = 128 + 90 * std::sin(x / (150.0 + 40 * c)) * std::cos(y / (110.0 + 30 * c)) + grain(random);
                samples.push_back(static_cast<uint16_t>(std::clamp(v, 0.0, 255.0)));
            }
    return picture;
}

// libjxl alone: the whole file to a new RGBA buffer (as a decode makes its picture anew), on
// two threads.
std::unique_ptr<uint8_t[]> LibjxlDecode(const std::vector<uint8_t>& data) {
    std::unique_ptr<uint8_t[]> rgba;
    JxlDecoder* decoder = JxlDecoderCreate(nullptr);
    void* runner = JxlResizableParallelRunnerCreate(nullptr);
    JxlDecoderSetParallelRunner(decoder, JxlResizableParallelRunner, runner);
    JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(decoder, data.data(), data.size());
    JxlDecoderCloseInput(decoder);
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder);
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info;
            JxlDecoderGetBasicInfo(decoder, &info);
            JxlResizableParallelRunnerSetThreads(
                runner, std::min<uint64_t>(2, JxlResizableParallelRunnerSuggestThreads(info.xsize, info.ysize)));
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            size_t size = 0;
            JxlDecoderImageOutBufferSize(decoder, &format, &size);
            rgba.reset(new uint8_t[size]);
            JxlDecoderSetImageOutBuffer(decoder, &format, rgba.get(), size);
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break;
        } else if (status != JXL_DEC_COLOR_ENCODING) {
            throw std::runtime_error("libjxl failed");
        }
    }
    JxlDecoderDestroy(decoder);
    JxlResizableParallelRunnerDestroy(runner);
    return rgba;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--make") == 0) {
        JxlWriting writing;
        writing.lossless = argc >= 4 && std::strcmp(argv[3], "lossless") == 0;
        writing.effort = writing.lossless ? 1 : 3;
        WriteBytes(argv[2], EncodeJxl(Photograph(), writing));
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_jxl FILE ROUNDS | --make FILE [lossless]\n");
        return 2;
    }
    const std::vector<uint8_t> data = ReadBytes(argv[1]);
    const int rounds = std::atoi(argv[2]);
    std::vector<double> ours, theirs;
    for (int round = 0; round < rounds; ++round) {
        CMemBitmap bitmap;
        ours.push_back(Milliseconds([&] {
            CJXLDecoder decoder;
            decoder.DecodeMemory(data.data(), data.size(), bitmap);
        }));
        theirs.push_back(Milliseconds([&] { LibjxlDecode(data); }));
    }
    std::printf("%.1f %.1f\n", Median(ours), Median(theirs));
    return 0;
}
