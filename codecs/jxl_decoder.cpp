#include "jxl_decoder.h"

#include "jxl_reader.h"

#include "imagelib/byte_source.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <optional>
#include <span>

namespace {

std::span<const uint8_t> WholeInput(CByteSource& source) {
    const size_t size = source.Available();
    return {source.RemainingData(), size};
}

// Frames of an animation, counted from their headers; a file damaged after the first frame
// counts the frames before the damage.
int CountFrames(std::span<const uint8_t> data) {
    try {
        return static_cast<int>(ListJxlFrames(data).durations.size());
    } catch (const CTextException& e) {
        if (e.Code() == ERR_CANCELLED || e.Code() == ERR_OUT_OF_MEMORY) throw;
        Trace(1, "JPEG XL decoder: the frames after the first could not be counted.\n");
        return 1;
    }
}

}  // namespace

void CJXLDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    const std::span<const uint8_t> data = WholeInput(source);
    CJxlReader reader(data, JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    std::vector<uint8_t> profile;
    std::optional<CBitmapLock> lock;
    for (;;) {
        switch (reader.Next()) {
            case JXL_DEC_BASIC_INFO:
                reader.CheckStorage();
                break;
            case JXL_DEC_COLOR_ENCODING:
                profile = reader.PixelProfile();
                break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                reader.WriteInto(bitmap);
                lock.emplace(bitmap, false, true);
                break;
            case JXL_DEC_FULL_IMAGE: {
                depth = 32;
                bitmap.SetHasAlpha(reader.FinishFrame());
                ImageMetadata& metadata = bitmap.Metadata();
                metadata.iccProfile = std::move(profile);
                metadata.orientation = 1;
                if (reader.BasicInfo().have_animation) metadata.frameCount = CountFrames(data);
                source.Skip(source.Available());
                return;
            }
            case JXL_DEC_SUCCESS:
                RaiseError(ERR_BAD_DATA, "JPEG XL decoder: the file holds no frame.");
            default:
                break;
        }
    }
}

void CJXLDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    CJxlReader reader(WholeInput(source), JXL_DEC_COLOR_ENCODING);
    for (JxlDecoderStatus status = reader.Next(); status != JXL_DEC_COLOR_ENCODING; status = reader.Next())
        if (status == JXL_DEC_SUCCESS) RaiseError(ERR_BAD_DATA, "JPEG XL decoder: the file describes no colours.");
    const JxlBasicInfo& basic = reader.BasicInfo();
    info.width = reader.Width();
    info.height = reader.Height();
    info.bitsPerPixel = static_cast<int>(basic.bits_per_sample * (basic.num_color_channels + (basic.alpha_bits != 0)));
    info.hasAlpha = basic.alpha_bits != 0;
    info.frameCount = basic.have_animation ? CountFrames(WholeInput(source)) : 1;
    info.orientation = 1;
    info.hasColourProfile = !reader.PixelProfile().empty();
}
