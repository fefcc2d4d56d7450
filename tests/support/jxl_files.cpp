#include "jxl_files.h"

#include <jxl/encode.h>
#include <jxl/resizable_parallel_runner.h>

#include <stdexcept>

namespace {

void Check(JxlEncoderStatus status, const char* what) {
    if (status != JXL_ENC_SUCCESS) throw std::runtime_error(std::string("libjxl refused ") + what);
}

}  // namespace

std::vector<uint8_t> EncodeJxl(const JxlPicture& picture, const JxlWriting& writing) {
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    void* runner = JxlResizableParallelRunnerCreate(nullptr);
    JxlResizableParallelRunnerSetThreads(runner, static_cast<size_t>(writing.threads));
    std::vector<uint8_t> out;
    try {
        Check(JxlEncoderSetParallelRunner(encoder, JxlResizableParallelRunner, runner), "the runner");
        Check(JxlEncoderUseContainer(encoder, writing.container ? JXL_TRUE : JXL_FALSE), "the container");
        const bool alpha = picture.channels == 4;
        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = static_cast<uint32_t>(picture.width);
        info.ysize = static_cast<uint32_t>(picture.height);
        info.bits_per_sample = static_cast<uint32_t>(picture.bits);
        info.num_color_channels = 3;
        info.num_extra_channels = alpha ? 1 : 0;
        info.alpha_bits = alpha ? static_cast<uint32_t>(picture.bits) : 0;
        info.uses_original_profile = writing.lossless ? JXL_TRUE : JXL_FALSE;
        info.orientation = static_cast<JxlOrientation>(writing.orientation);
        if (writing.ticksPerSecond != 0) {
            info.have_animation = JXL_TRUE;
            info.animation.tps_numerator = writing.ticksPerSecond;
            info.animation.tps_denominator = 1;
            info.animation.num_loops = writing.loops;
        }
        Check(JxlEncoderSetBasicInfo(encoder, &info), "the basic info");
        JxlColorEncoding colours;
        if (writing.linear)
            JxlColorEncodingSetToLinearSRGB(&colours, JXL_FALSE);
        else
            JxlColorEncodingSetToSRGB(&colours, JXL_FALSE);
        Check(JxlEncoderSetColorEncoding(encoder, &colours), "the colours");
        JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
        Check(JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, writing.effort), "the effort");
        if (writing.lossless)
            Check(JxlEncoderSetFrameLossless(settings, JXL_TRUE), "lossless");
        else
            Check(JxlEncoderSetFrameDistance(settings, writing.distance), "the distance");
        const JxlPixelFormat format = {static_cast<uint32_t>(picture.channels),
                                       picture.bits == 8 ? JXL_TYPE_UINT8 : JXL_TYPE_UINT16, JXL_NATIVE_ENDIAN, 0};
        for (size_t i = 0; i < picture.frames.size(); ++i) {
            if (writing.ticksPerSecond != 0) {
                JxlFrameHeader header;
                JxlEncoderInitFrameHeader(&header);
                header.duration = i < writing.durations.size() ? writing.durations[i] : 0;
                Check(JxlEncoderSetFrameHeader(settings, &header), "the frame header");
            }
            const std::vector<uint16_t>& samples = picture.frames[i];
            if (picture.bits == 8) {
                const std::vector<uint8_t> bytes(samples.begin(), samples.end());
                Check(JxlEncoderAddImageFrame(settings, &format, bytes.data(), bytes.size()), "a frame");
            } else {
                Check(JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size() * 2), "a frame");
            }
        }
        JxlEncoderCloseInput(encoder);
        out.resize(1 << 16);
        uint8_t* next = out.data();
        size_t left = out.size();
        for (;;) {
            const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &left);
            if (status == JXL_ENC_SUCCESS) break;
            Check(status == JXL_ENC_NEED_MORE_OUTPUT ? JXL_ENC_SUCCESS : status, "the output");
            const size_t used = static_cast<size_t>(next - out.data());
            out.resize(out.size() * 2);
            next = out.data() + used;
            left = out.size() - used;
        }
        out.resize(static_cast<size_t>(next - out.data()));
    } catch (...) {
        JxlEncoderDestroy(encoder);
        JxlResizableParallelRunnerDestroy(runner);
        throw;
    }
    JxlEncoderDestroy(encoder);
    JxlResizableParallelRunnerDestroy(runner);
    return out;
}
